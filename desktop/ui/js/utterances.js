// Utterance detection: the microphone's samples are cut into utterances for
// the service's transcription, and a voice over the cockpit's own stops it.

// Utterances: level above the noise floor (times a ratio, at least a
// minimum) this long starts one, quiet this long ends it; kept before its
// start and after its last sound; shorter ones are dropped, longer ones
// cut. The microphone arrives in blocks large enough to survive a busy
// page and is judged in frames small enough to place starts and ends
// closely. Sound this long over the cockpit's own voice stops it.
const VAD = Object.freeze({
  onsetMs: 150,
  endMs: 700,
  preRollMs: 300,
  tailMs: 150,
  minMs: 300,
  maxMs: 30000,
  floorRatio: 3,
  minLevel: 0.01,
  block: 4096,
  frame: 512,
  bargeInMs: 600,
});

const detection = {
  capture: null, // the microphone's level and sample tap
  vad: null, // the detector's state (see hearBlock)
};

// Taps the microphone for utterance detection. The node's output is
// silent; it is connected only because the browser runs it that way.
function startUtterances(ctx, source) {
  const tap = ctx.createScriptProcessor(VAD.block, 1, 1);
  tap.onaudioprocess = (e) => {
    if (detection.capture !== capture) return;
    const block = new Float32Array(e.inputBuffer.getChannelData(0));
    for (let at = 0; at < block.length; at += VAD.frame) {
      hearBlock(block.subarray(at, at + VAD.frame), ctx.sampleRate);
    }
  };
  source.connect(tap);
  tap.connect(ctx.destination);
  const capture = { source, tap };
  detection.capture = capture;
  detection.vad = { floor: 0, phase: 'quiet', recent: [], recentMs: 0, onsetMs: 0, shownAt: 0 };
}

// Microphone off: no more audio is heard or sent, requests underway end.
function stopUtterances() {
  const capture = detection.capture;
  detection.capture = null;
  detection.vad = null;
  if (capture) {
    try {
      capture.source.disconnect();
      capture.tap.disconnect();
    } catch {
      // disconnected already
    }
  }
  transcription.requests.forEach((ctrl) => ctrl.abort());
  transcription.requests.clear();
  setAsrRoute('');
  showHeard('');
}

function levelOf(block) {
  let energy = 0;
  for (let i = 0; i < block.length; i++) energy += block[i] * block[i];
  return Math.sqrt(energy / block.length);
}

// One block of microphone samples through the detector. Times are audio
// time, so a busy page does not change where utterances start and end.
function hearBlock(block, rate) {
  const v = detection.vad;
  const ms = (block.length / rate) * 1000;
  const level = levelOf(block);
  if (!v.floor) v.floor = level || VAD.minLevel;
  const loud = level > Math.max(v.floor * VAD.floorRatio, VAD.minLevel);
  // A room that stays louder lifts the floor even while it counts as
  // sound, so lasting noise ends its utterance instead of running on.
  if (loud) v.floor += (level - v.floor) * 0.0003;
  if (v.phase === 'speech') return hearSpeech(v, block, ms, loud, rate);

  v.recent.push(block);
  v.recentMs += ms;
  if (loud) {
    v.onsetMs += ms;
    if (v.onsetMs >= VAD.onsetMs) utteranceStarts(v, rate);
    return;
  }
  v.onsetMs = 0;
  // The floor follows quiet rooms down at once and noisy ones up slowly.
  v.floor += (level - v.floor) * (level < v.floor ? 0.3 : 0.02);
  trimRecent(v, ms, rate);
}

function trimRecent(v, ms, rate) {
  const keep = VAD.preRollMs + VAD.onsetMs + ms;
  while (v.recentMs - (v.recent[0].length / rate) * 1000 >= keep) {
    v.recentMs -= (v.recent.shift().length / rate) * 1000;
  }
}

function utteranceStarts(v, rate) {
  // What came before the sound's start, up to the pre-roll, is kept.
  const before = v.recentMs - v.onsetMs;
  const dropMs = Math.max(0, before - VAD.preRollMs);
  const dropSamples = Math.round((dropMs / 1000) * rate);
  const all = concatBlocks(v.recent);
  v.utterance = {
    samples: [all.subarray(dropSamples)],
    ms: v.recentMs - dropMs,
    soundFrom: before - dropMs,
    soundTo: v.recentMs - dropMs,
    quietMs: 0,
    loudMs: v.onsetMs,
    bargedIn: false,
  };
  v.phase = 'speech';
  v.recent = [];
  v.recentMs = 0;
  v.onsetMs = 0;
  showListening(v);
}

function hearSpeech(v, block, ms, loud, rate) {
  const u = v.utterance;
  u.samples.push(block);
  u.ms += ms;
  if (loud) {
    u.soundTo = u.ms;
    u.quietMs = 0;
    u.loudMs += ms;
  } else {
    u.quietMs += ms;
  }
  // Sound for that long, not clicks spread over that long, is a voice.
  if (!u.bargedIn && u.loudMs >= VAD.bargeInMs && autoSend.on && speaker.busy) {
    u.bargedIn = true;
    logEvent('检测到插话，已停止播报');
    stopAll();
  }
  const ended = u.quietMs >= VAD.endMs;
  if (ended || u.ms >= VAD.maxMs) {
    v.phase = 'quiet';
    v.utterance = null;
    utteranceEnds(u, rate, !ended);
  } else {
    showListening(v);
  }
}

function showListening(v) {
  const u = v.utterance;
  if (asr.route !== 'service' || u.ms - v.shownAt < 100) return;
  v.shownAt = u.ms;
  showHeard('🎙 正在听… ' + (u.ms / 1000).toFixed(1) + ' s');
}

function utteranceEnds(u, rate, cut) {
  if (asr.route === 'service') showHeard('');
  if (!cut && u.soundTo - u.soundFrom < VAD.minMs) return;
  if (asr.route !== 'service') return;
  const keepMs = cut ? u.ms : Math.min(u.ms, u.soundTo + VAD.tailMs);
  const samples = concatBlocks(u.samples).subarray(0, Math.round((keepMs / 1000) * rate));
  const wav = wavFile(resample(samples, rate, WAV_RATE), WAV_RATE);
  showHeard('🎙 正在识别…');
  const result = transcribe(wav);
  transcription.done = transcription.done.then(() => result).then((r) => transcribed(r, u.bargedIn));
}

function concatBlocks(blocks) {
  const out = new Float32Array(blocks.reduce((n, b) => n + b.length, 0));
  let at = 0;
  for (const b of blocks) {
    out.set(b, at);
    at += b.length;
  }
  return out;
}
