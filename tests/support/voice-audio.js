'use strict';
// A microphone recording made at test time: Mandarin phrases spoken by
// espeak-ng, with silence between them and a little noise throughout, as a
// 48 kHz mono WAV for Chromium's file-fed fake microphone.
const fs = require('fs');
const { execFileSync } = require('child_process');

const RATE = 48000;

function readWav(bytes) {
  let at = 12;
  let rate = 0;
  while (at + 8 <= bytes.length) {
    const id = bytes.toString('ascii', at, at + 4);
    const size = bytes.readUInt32LE(at + 4);
    if (id === 'fmt ') rate = bytes.readUInt32LE(at + 12);
    // espeak-ng writing to a pipe leaves the data size open.
    if (id === 'data') {
      const data = bytes.subarray(at + 8, Math.min(bytes.length, at + 8 + size));
      const samples = new Float32Array(data.length >> 1);
      for (let i = 0; i < samples.length; i++) samples[i] = data.readInt16LE(i * 2) / 32768;
      return { rate, samples };
    }
    at += 8 + size;
  }
  throw new Error('no audio in the WAV');
}

// The phrase as spoken, without the silence espeak-ng puts around it.
function speak(text) {
  const wav = readWav(execFileSync('espeak-ng', ['-v', 'cmn', '--stdout', text]));
  const { rate, samples } = wav;
  const win = Math.round(rate / 100);
  let peak = 0;
  for (const s of samples) peak = Math.max(peak, Math.abs(s));
  const loud = (i) => {
    let e = 0;
    for (let j = i; j < i + win && j < samples.length; j++) e = Math.max(e, Math.abs(samples[j]));
    return e > peak * 0.02;
  };
  let from = 0;
  while (from < samples.length && !loud(from)) from += win;
  let to = samples.length - win;
  while (to > from && !loud(to)) to -= win;
  return resample(samples.subarray(from, to + win), rate);
}

function resample(samples, from) {
  const out = new Float32Array(Math.floor((samples.length * RATE) / from));
  for (let i = 0; i < out.length; i++) {
    const p = (i * from) / RATE;
    const j = Math.floor(p);
    const b = j + 1 < samples.length ? samples[j + 1] : samples[j];
    out[i] = samples[j] + (b - samples[j]) * (p - j);
  }
  return out;
}

function silence(ms) {
  return new Float32Array(Math.round((ms * RATE) / 1000));
}

// Words with pauses inside one phrase: [words, ms, words, ...].
function spokenWithPauses(parts) {
  const pieces = parts.map((p) => (typeof p === 'number' ? silence(p) : speak(p)));
  const out = new Float32Array(pieces.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of pieces) {
    out.set(p, at);
    at += p.length;
  }
  return out;
}

// parts: numbers are pauses in ms, strings are phrases, arrays phrases with
// pauses inside. Writes `file` and returns each phrase (text without the
// pauses) with where it starts and ends in the recording.
function recording(file, parts, { noise = 0.01 } = {}) {
  const phrase = (p) => (Array.isArray(p) ? spokenWithPauses(p) : speak(p));
  const pieces = parts.map((p) => (typeof p === 'number' ? silence(p) : phrase(p)));
  const total = pieces.reduce((n, p) => n + p.length, 0);
  const pcm = Buffer.alloc(44 + total * 2);
  const phrases = [];
  let at = 0;
  let seed = 12345;
  const random = () => ((seed = (seed * 1103515245 + 12345) & 0x7fffffff) / 0x7fffffff) * 2 - 1;
  pieces.forEach((piece, k) => {
    if (typeof parts[k] !== 'number') {
      const text = [].concat(parts[k]).filter((x) => typeof x === 'string').join('');
      phrases.push({ text, startMs: (at / RATE) * 1000, ms: (piece.length / RATE) * 1000 });
    }
    for (let i = 0; i < piece.length; i++, at++) {
      const x = Math.max(-1, Math.min(1, piece[i] * 0.8 + random() * noise * 1.7));
      pcm.writeInt16LE(Math.round(x * 32767), 44 + at * 2);
    }
  });
  pcm.write('RIFF', 0, 'ascii');
  pcm.writeUInt32LE(36 + total * 2, 4);
  pcm.write('WAVEfmt ', 8, 'ascii');
  pcm.writeUInt32LE(16, 16);
  pcm.writeUInt16LE(1, 20);
  pcm.writeUInt16LE(1, 22);
  pcm.writeUInt32LE(RATE, 24);
  pcm.writeUInt32LE(RATE * 2, 28);
  pcm.writeUInt16LE(2, 32);
  pcm.writeUInt16LE(16, 34);
  pcm.write('data', 36, 'ascii');
  pcm.writeUInt32LE(total * 2, 40);
  fs.writeFileSync(file, pcm);
  for (const p of phrases) p.endMs = p.startMs + p.ms;
  return { file, phrases, ms: (total / RATE) * 1000 };
}

// What the AI service stand-in's log says the page made of the voice: each
// utterance as last sent (a pause may have sent its start before), and the
// chats it answered (answers asked ahead and taken back are not the
// conversation).
const utterancesSent = (log) => log.transcriptions.filter((x, i, all) => !(all[i + 1] && all[i + 1].again));
const answeredChats = (log) => log.chats.filter((c) => !c.aborted);

module.exports = { recording, speak, utterancesSent, answeredChats };
