// Utterance detection: the microphone's samples are cut into utterances for
// the service's transcription, and a voice over the cockpit's own stops it.

// Utterances: level above the noise floor (times a ratio, at least a
// minimum) this long starts one, quiet this long ends it; kept before its
// start and after its last sound; shorter ones are dropped, longer ones
// cut. A shorter quiet sends the utterance ahead for transcription, taken
// back if the user goes on, so that its text is in when the end is sure.
// The microphone's track arrives in frames of a few milliseconds; where the
// browser cannot read the track, a script processor delivers blocks large
// enough to survive a busy page, judged in frames small enough to place
// starts and ends closely. Sound this long over the cockpit's own voice
// stops it.
const VAD = Object.freeze({
  onsetMs: 150,
  guessMs: 250,
  endMs: 700,
  preRollMs: 300,
  tailMs: 150,
  minMs: 300,
  maxMs: 30000,
  floorRatio: 3,
  minLevel: 0.01,
  backlog: 200, // track frames (about 10 ms each) held while the page is busy
  block: 4096,
  frame: 512,
  bargeInMs: 600,
});

const detection = {
  capture: null, // the microphone's sample reader or tap
  vad: null, // the detector's state (see hearBlock)
};

function startUtterances(ctx, source, stream) {
  const capture = { source, tap: null, reader: null };
  detection.capture = capture;
  detection.vad = { floor: 0, phase: 'quiet', recent: [], recentMs: 0, onsetMs: 0, shownAt: 0 };
  const track = stream.getAudioTracks()[0];
  if (!readTrack(capture, track)) tapSource(capture, ctx, source);
}

// The track's own frames wait in a queue (up to the backlog) while the
// page is busy, where a script processor would drop its blocks.
function readTrack(capture, track) {
  if (typeof window.MediaStreamTrackProcessor !== 'function' || !track) return false;
  try {
    capture.reader = new window.MediaStreamTrackProcessor({ track, maxBufferSize: VAD.backlog }).readable.getReader();
  } catch {
    return false;
  }
  const read = async () => {
    for (;;) {
      const { value, done } = await capture.reader.read();
      if (done) return;
      try {
        if (detection.capture !== capture) return;
        const block = new Float32Array(value.numberOfFrames);
        value.copyTo(block, { planeIndex: 0, format: 'f32-planar' });
        hearBlock(block, value.sampleRate);
      } finally {
        value.close();
      }
    }
  };
  read().catch((err) => {
    if (detection.capture === capture) logEvent('麦克风读取中断: ' + messageOf(err, String(err)));
  });
  return true;
}

// The node's output is silent; it is connected only because the browser
// runs it that way.
function tapSource(capture, ctx, source) {
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
  capture.tap = tap;
}

// Microphone off: no more audio is heard or sent, requests underway end.
function stopUtterances() {
  const capture = detection.capture;
  const v = detection.vad;
  detection.capture = null;
  detection.vad = null;
  if (v && v.utterance) dropGuess(v.utterance);
  if (capture && capture.reader) capture.reader.cancel().catch(() => {});
  if (capture) {
    try {
      capture.source.disconnect();
      if (capture.tap) capture.tap.disconnect();
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
    // The user goes on: what was sent ahead is not what was said.
    dropGuess(u);
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
    return;
  }
  if (!u.guess && u.quietMs >= VAD.guessMs) guessUtterance(u, rate);
  showListening(v);
}

function showListening(v) {
  const u = v.utterance;
  if (asr.route !== 'service' || u.ms - v.shownAt < 100) return;
  v.shownAt = u.ms;
  showHeard('🎙 正在听… ' + (u.ms / 1000).toFixed(1) + ' s');
}

// The utterance as sent: up to its tail after the last sound, or all of it
// when it was cut.
function utteranceWav(u, rate, cut) {
  const keepMs = cut ? u.ms : Math.min(u.ms, u.soundTo + VAD.tailMs);
  const samples = concatBlocks(u.samples).subarray(0, Math.round((keepMs / 1000) * rate));
  return wavFile(resample(samples, rate, WAV_RATE), WAV_RATE);
}

// A pause that may be the end: the utterance so far goes for transcription,
// and its text may be asked ahead, all unseen until the end is sure. The
// audio is what the end would send, since nothing was heard since.
function guessUtterance(u, rate) {
  if (asr.route !== 'service' || u.soundTo - u.soundFrom < VAD.minMs) return;
  const guess = { ctrl: new AbortController(), ahead: null };
  guess.result = transcribe(utteranceWav(u, rate, false), guess.ctrl).then((r) => {
    if (u.guess === guess && r.text) guess.ahead = mayAskAhead(r.text);
    return r;
  });
  u.guess = guess;
}

function dropGuess(u) {
  const guess = u.guess;
  if (!guess) return;
  u.guess = null;
  guess.ctrl.abort();
  if (guess.ahead) dropAhead(guess.ahead);
}

function utteranceEnds(u, rate, cut) {
  if (asr.route === 'service') showHeard('');
  const guess = u.guess;
  if ((!cut && u.soundTo - u.soundFrom < VAD.minMs) || asr.route !== 'service') {
    dropGuess(u);
    return;
  }
  showHeard('🎙 正在识别…');
  const result = guess ? guess.result : transcribe(utteranceWav(u, rate, cut));
  transcription.done = transcription.done
    .then(() => result)
    .then((r) => transcribed(r, u.bargedIn, guess && guess.ahead));
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
