'use strict';
// Speech to text as OpenAI-compatible services take it: a multipart form with
// the audio in `file` (a 16 kHz mono 16-bit PCM WAV here) and `model`,
// `language` and `response_format` beside it; the answer is JSON with `text`.

const RATE = 16000;
const MAX_SECONDS = 31; // the page cuts utterances at 30 s

// The parts of a multipart/form-data body: name, filename, type and bytes.
function parseMultipart(body, contentType) {
  const m = /boundary=(?:"([^"]+)"|([^;\s]+))/i.exec(contentType || '');
  if (!m) throw new Error('not multipart/form-data');
  const delimiter = Buffer.from('--' + (m[1] || m[2]));
  const parts = [];
  let at = body.indexOf(delimiter);
  if (at < 0) throw new Error('no multipart boundary in the body');
  for (;;) {
    at += delimiter.length;
    if (body.subarray(at, at + 2).toString() === '--') return parts;
    const headEnd = body.indexOf('\r\n\r\n', at);
    if (headEnd < 0) throw new Error('multipart part without headers');
    const next = body.indexOf(Buffer.concat([Buffer.from('\r\n'), delimiter]), headEnd);
    if (next < 0) throw new Error('multipart body cut off');
    const head = body.subarray(at, headEnd).toString('utf8');
    const disposition = /content-disposition:[^\r\n]*/i.exec(head);
    const field = (key) => {
      const f = disposition && new RegExp(';\\s*' + key + '="([^"]*)"', 'i').exec(disposition[0]);
      return f ? f[1] : null;
    };
    const type = /content-type:\s*([^\r\n]*)/i.exec(head);
    parts.push({
      name: field('name'),
      filename: field('filename'),
      type: type ? type[1].trim() : '',
      data: body.subarray(headEnd + 4, next),
    });
    at = next + 2;
  }
}

// The duration of a WAV the page may send, or an error naming what is wrong.
function wavDuration(bytes) {
  return wavAudio(bytes).seconds;
}

// The samples of such a WAV and their duration.
function wavAudio(bytes) {
  if (bytes.length < 44 || bytes.toString('ascii', 0, 4) !== 'RIFF' || bytes.toString('ascii', 8, 12) !== 'WAVE') {
    throw new Error('file is not a WAV');
  }
  let fmt = null;
  let at = 12;
  while (at + 8 <= bytes.length) {
    const id = bytes.toString('ascii', at, at + 4);
    const size = bytes.readUInt32LE(at + 4);
    const body = at + 8;
    if (id === 'fmt ' && size >= 16) {
      fmt = {
        format: bytes.readUInt16LE(body),
        channels: bytes.readUInt16LE(body + 2),
        rate: bytes.readUInt32LE(body + 4),
        bits: bytes.readUInt16LE(body + 14),
      };
    } else if (id === 'data') {
      if (!fmt) throw new Error('WAV data before its format');
      if (fmt.format !== 1 || fmt.channels !== 1 || fmt.bits !== 16) {
        throw new Error(`WAV must be 16-bit mono PCM, got format ${fmt.format}, ${fmt.channels} ch, ${fmt.bits} bit`);
      }
      if (fmt.rate !== RATE) throw new Error(`WAV must be ${RATE} Hz, got ${fmt.rate}`);
      if (size !== bytes.length - body || size % 2) throw new Error(`WAV data length ${size} does not match the file`);
      const seconds = size / 2 / RATE;
      if (!size) throw new Error('WAV holds no audio');
      if (seconds > MAX_SECONDS) throw new Error(`WAV too long: ${seconds.toFixed(1)} s`);
      return { seconds, samples: bytes.subarray(body, body + size) };
    }
    at = body + size + (size & 1);
  }
  throw new Error('WAV without data');
}

// Seconds of 16-bit samples in 20 ms frames loud enough to be speech: the noise of a
// quiet room stays well below it. Only audio with some of that is transcribed; a real
// service hears nothing in the rest.
function speechSeconds(samples) {
  const frame = RATE / 50;
  let loud = 0;
  for (let start = 0; start + frame * 2 <= samples.length; start += frame * 2) {
    let sum = 0;
    for (let i = 0; i < frame; i++) sum += (samples.readInt16LE(start + i * 2) / 32768) ** 2;
    if (Math.sqrt(sum / frame) > 0.03) loud++;
  }
  return loud / 50;
}

// The last audio transcribed under each configuration, with its text.
const lastHeard = new WeakMap();

// The same audio as last time, or more of it (an utterance sent ahead and then whole).
function extendsLast(last, samples) {
  if (!last || samples.length < last.samples.length) return false;
  // The shorter one's last sample may stand for less audio.
  const n = Math.max(0, last.samples.length - 2);
  return samples.subarray(0, n).equals(last.samples.subarray(0, n));
}

// Handles one request; `config` holds the queued transcripts and the fault.
async function transcribe(res, raw, contentType, config, log, reply) {
  const entry = { at: Date.now(), doneAt: 0, aborted: false, seconds: 0, model: null, language: null, format: null, filename: null, error: '' };
  log.transcriptions.push(entry);
  res.on('finish', () => (entry.doneAt = Date.now()));
  // The client went away before the answer.
  res.on('close', () => (entry.aborted = !res.writableFinished));
  if (config.transcriptionDelayMs > 0) await new Promise((r) => setTimeout(r, config.transcriptionDelayMs));
  const fault = config.transcriptionFault;
  if (fault === 'not-found') return reply.json(res, 404, { error: { message: 'not found: /audio/transcriptions' } });
  let audio;
  try {
    const parts = parseMultipart(raw, contentType);
    const value = (name) => {
      const p = parts.find((x) => x.name === name);
      return p ? p.data.toString('utf8') : null;
    };
    const file = parts.find((p) => p.name === 'file');
    if (!file) throw new Error('no file in the form');
    Object.assign(entry, {
      model: value('model'),
      language: value('language'),
      format: value('response_format'),
      filename: file.filename,
    });
    audio = wavAudio(file.data);
    entry.seconds = audio.seconds;
    if (!entry.model) throw new Error('no model in the form');
  } catch (err) {
    entry.error = err.message;
    return reply.json(res, 400, { error: { message: err.message } });
  }
  process.stdout.write(`transcription: ${entry.seconds.toFixed(2)} s of audio\n`);
  if (fault === 'status') return reply.json(res, config.status, { error: { message: '识别服务繁忙' } });
  if (fault === 'malformed') return reply.text(res, 200, 'application/json', '{"text": ');
  const last = lastHeard.get(config);
  // Tells the utterances whose start was sent before from those that follow.
  entry.again = extendsLast(last, audio.samples);
  entry.speechSeconds = speechSeconds(audio.samples);
  let text = '';
  if (entry.again && last.text) {
    text = last.text;
  } else if (entry.speechSeconds >= 0.3) {
    const queued = Array.isArray(config.transcripts) ? config.transcripts.shift() : undefined;
    text = queued != null ? String(queued) : `（演示转写）收到 ${entry.seconds.toFixed(1)} 秒语音`;
  }
  lastHeard.set(config, { samples: audio.samples, text });
  entry.text = text;
  reply.json(res, 200, { text });
}

module.exports = { transcribe, parseMultipart, wavDuration, speechSeconds };
