// Transcription by the AI service: an utterance posted as a WAV file, and
// what came back handled in order.

// The request's constants and time limit.
const TRANSCRIBE_MODEL = 'whisper-1';
const TRANSCRIBE_LANGUAGE = 'zh';
const TRANSCRIBE_TIMEOUT_MS = 15000;
const WAV_RATE = 16000;

const transcription = {
  requests: new Set(), // abort controllers of transcription requests
  done: Promise.resolve(), // results are handled in order
};

// Down to the service's rate: each output sample is the mean of the input
// samples it stands for, which keeps what is above its band out.
function resample(samples, from, to) {
  const ratio = from / to;
  const out = new Int16Array(Math.floor(samples.length / ratio));
  for (let i = 0; i < out.length; i++) {
    const start = Math.floor(i * ratio);
    const end = Math.max(start + 1, Math.min(samples.length, Math.floor((i + 1) * ratio)));
    let sum = 0;
    for (let j = start; j < end; j++) sum += samples[j];
    const x = Math.max(-1, Math.min(1, sum / (end - start)));
    out[i] = x < 0 ? x * 0x8000 : x * 0x7fff;
  }
  return out;
}

function wavFile(pcm, rate) {
  const view = new DataView(new ArrayBuffer(44 + pcm.length * 2));
  const ascii = (at, text) => {
    for (let i = 0; i < text.length; i++) view.setUint8(at + i, text.charCodeAt(i));
  };
  ascii(0, 'RIFF');
  view.setUint32(4, 36 + pcm.length * 2, true);
  ascii(8, 'WAVE');
  ascii(12, 'fmt ');
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true); // PCM
  view.setUint16(22, 1, true); // mono
  view.setUint32(24, rate, true);
  view.setUint32(28, rate * 2, true);
  view.setUint16(32, 2, true);
  view.setUint16(34, 16, true);
  ascii(36, 'data');
  view.setUint32(40, pcm.length * 2, true);
  for (let i = 0; i < pcm.length; i++) view.setInt16(44 + i * 2, pcm[i], true);
  return view.buffer;
}

// Posts one utterance; settles with { text }, { error }, { missing } (the
// service has no transcription) or { dropped } (the microphone went off).
async function transcribe(wav) {
  const ctrl = new AbortController();
  let timedOut = false;
  const timer = setTimeout(() => {
    timedOut = true;
    ctrl.abort();
  }, TRANSCRIBE_TIMEOUT_MS);
  transcription.requests.add(ctrl);
  const form = new FormData();
  form.append('file', new Blob([wav], { type: 'audio/wav' }), 'speech.wav');
  form.append('model', TRANSCRIBE_MODEL);
  form.append('language', TRANSCRIBE_LANGUAGE);
  form.append('response_format', 'json');
  try {
    const res = await fetch(service.apiBase + '/audio/transcriptions', { method: 'POST', body: form, signal: ctrl.signal });
    if (res.status === 404) return { missing: true };
    if (!res.ok) return { error: await httpFailure(res) };
    const data = parseJson((await res.text()).replace(/^\uFEFF/, '')).value;
    if (data && data.error) return { error: serviceFailure(data, res.status) };
    if (!data || typeof data.text !== 'string') return { error: '识别结果无法读取' };
    return { text: data.text.trim() };
  } catch (err) {
    if (timedOut) return { error: '超过 ' + TRANSCRIBE_TIMEOUT_MS / 1000 + ' 秒未返回' };
    if (ctrl.signal.aborted) return { dropped: true };
    return { error: messageOf(err, '网络错误') };
  } finally {
    clearTimeout(timer);
    transcription.requests.delete(ctrl);
  }
}

function transcribed(result, bargedIn) {
  if (result.dropped || asr.route !== 'service') return;
  if (!detection.vad || detection.vad.phase !== 'speech') showHeard('');
  if (result.missing) {
    // Nothing to retry: the service has no speech recognition.
    setAsrRoute('off');
    setPill('voicePill', 'bad', '语音识别不可用：AI 服务无语音识别');
    toast('语音输入不可用：AI 服务不提供语音识别，仍可直接打字', 'bad');
    logEvent('语音识别不可用：AI 服务无 /audio/transcriptions');
    return;
  }
  if (result.error != null) {
    asr.failures++;
    toast('语音识别失败：' + result.error, 'bad');
    logEvent('语音识别失败: ' + result.error);
    if (asr.failures >= ASR_FAILS_SHOWN) setPill('voicePill', 'bad', '语音识别不可用：' + result.error);
    return;
  }
  asrWorks();
  if (result.text) heardFinal(result.text, bargedIn);
  else logEvent('未识别到文字');
}
