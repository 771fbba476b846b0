// The microphone: its capture, the waveform and the orb's listening look.

const mic = {
  on: false,
  stream: null,
  pending: false,
  audioCtx: null,
  analyser: null,
  waveRaf: 0,
};

function ensureAudio() {
  if (!mic.audioCtx) {
    const Ctx = window.AudioContext || window.webkitAudioContext;
    mic.audioCtx = new Ctx();
  }
  if (mic.audioCtx.state === 'suspended') mic.audioCtx.resume().catch(() => {});
  return mic.audioCtx;
}

function stopTracks(stream) {
  if (stream) stream.getTracks().forEach((t) => t.stop());
}

async function toggleMic() {
  if (mic.pending) return;
  const btn = $('btnMic');
  if (mic.on) {
    stopTracks(mic.stream);
    const rec = asr.recognition;
    mic.on = false;
    if (rec) {
      try {
        rec.stop();
      } catch {
        // never started, or stopped already
      }
    }
    clearTimeout(asr.timer);
    asr.timer = 0;
    asr.failures = 0;
    stopUtterances();
    cancelAnimationFrame(mic.waveRaf);
    mic.waveRaf = 0;
    mic.stream = null;
    btn.classList.remove('active');
    btn.textContent = '🎤 开启语音';
    setPill('voicePill', 'warn', '语音关闭');
    setOrb('', '待命中');
    return;
  }
  mic.pending = true;
  let stream = null;
  try {
    // Echo cancellation stays on. Gain control would move the level that
    // utterances are told from the room by, and the transcription wants the
    // voice as it is rather than noise-suppressed.
    stream = await navigator.mediaDevices.getUserMedia({
      audio: { echoCancellation: true, autoGainControl: false, noiseSuppression: false },
    });
    mic.stream = stream;
    const ctx = ensureAudio();
    const analyser = ctx.createAnalyser();
    analyser.fftSize = 1024;
    const source = ctx.createMediaStreamSource(stream);
    source.connect(analyser);
    mic.analyser = analyser;
    startUtterances(ctx, source);
    mic.on = true;
    btn.classList.add('active');
    btn.textContent = '🎤 关闭语音';
    setPill('voicePill', 'ok', '全双工就绪');
    setOrb('listening', '全双工聆听中');
    logEvent('麦克风通道已开启（全双工）');
    startWave();
    startSpeechRecognition();
  } catch (err) {
    stopTracks(stream);
    stopUtterances();
    mic.stream = null;
    mic.analyser = null;
    mic.on = false;
    setPill('voicePill', 'bad', '语音不可用');
    toast('无法开启麦克风：' + messageOf(err, String(err)), 'bad');
  } finally {
    mic.pending = false;
  }
}

function startWave() {
  const canvas = $('waveCanvas');
  const g = canvas.getContext('2d');
  const samples = new Uint8Array(1024);
  const line = (step, amp, colour) => {
    const w = canvas.width;
    const h = canvas.height;
    g.beginPath();
    for (let i = 0; i < samples.length; i += step) {
      const v = (samples[i] - 128) / 128;
      const x = (i / samples.length) * w;
      const y = h / 2 + v * h * amp;
      if (i === 0) g.moveTo(x, y);
      else g.lineTo(x, y);
    }
    g.lineWidth = 2;
    g.strokeStyle = colour;
    g.stroke();
  };
  const frame = () => {
    mic.waveRaf = requestAnimationFrame(frame);
    g.clearRect(0, 0, canvas.width, canvas.height);
    if (!mic.analyser) return;
    mic.analyser.getByteTimeDomainData(samples);
    let energy = 0;
    for (let i = 0; i < samples.length; i++) {
      const v = (samples[i] - 128) / 128;
      energy += v * v;
    }
    line(1, 0.42, 'rgba(34,211,238,0.9)');
    line(2, 0.55, 'rgba(124,92,255,0.45)');
    const rms = Math.sqrt(energy / samples.length);
    if (!chat.busy && !speaker.busy && mic.on) {
      if (rms > 0.035) setOrb('listening', '听到声音');
      else setOrb('', '全双工聆听中');
    }
  };
  cancelAnimationFrame(mic.waveRaf);
  mic.waveRaf = requestAnimationFrame(frame);
}
