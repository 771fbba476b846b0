'use strict';
// Voice input through the AI service's transcription, with real sound: the
// fake microphone plays Mandarin phrases spoken by espeak-ng. Prints, per
// phrase, end of phrase -> start of the transcription request and -> first
// audio of the answer, then the requests made by 60 s of noise alone.
//   node bench/voice-input.js
const fs = require('fs');
const os = require('os');
const path = require('path');
const { setup, launch, openPage } = require('../tests/support/page.js');
const { recording } = require('../tests/support/voice-audio.js');

const LATENCIES = { transcriptionDelayMs: 150, firstTokenDelayMs: 200, tokenDelayMs: 8, speechDelayMs: 100 };
const PHRASES = ['今天天气怎么样，适合出门吗', '明天早上八点提醒我开会', '帮我写一封感谢信'];

// When the page's microphone stream started: the fake microphone plays its
// file from there.
function markCapture() {
  const md = navigator.mediaDevices;
  const gum = md.getUserMedia.bind(md);
  md.getUserMedia = async (c) => {
    const s = await gum(c);
    window.__captureAt = performance.timeOrigin + performance.now();
    return s;
  };
}

async function run(env, dir, parts, patch, holdMs) {
  const mic = recording(path.join(dir, 'mic-' + parts.length + '.wav'), parts);
  const browser = await launch(['--use-file-for-fake-audio-capture=' + mic.file + '%noloop']);
  try {
    env.control({ speechMs: null, ...patch });
    const page = await openPage(browser, env.ui.url, { recognition: false, init: markCapture });
    await page.click('#btnVad');
    await page.click('#btnMic');
    await new Promise((r) => setTimeout(r, mic.ms + holdMs));
    const seen = await page.evaluate(() => ({
      captureAt: window.__captureAt,
      plays: window.__probe.plays.map((t) => performance.timeOrigin + t),
    }));
    return { mic, seen, log: JSON.parse(JSON.stringify(env.ai.log)) };
  } finally {
    await browser.close();
  }
}

const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

async function main() {
  const env = await setup();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-bench-voice-'));
  try {
    const parts = [2500];
    for (const p of PHRASES) parts.push(p, 6000);
    const answer = '好的，收到。';
    const { mic, seen, log } = await run(env, dir, parts, { ...LATENCIES, answer, transcripts: PHRASES }, 4000);
    console.log('stand-in latencies: transcription +%d ms, first token +%d ms, %d ms per token, speech +%d ms (plus espeak-ng and lame)',
      LATENCIES.transcriptionDelayMs, LATENCIES.firstTokenDelayMs, LATENCIES.tokenDelayMs, LATENCIES.speechDelayMs);
    const toRequest = [];
    const toAudio = [];
    mic.phrases.forEach((p, i) => {
      const end = seen.captureAt + p.endMs;
      const t = log.transcriptions[i];
      const play = seen.plays.find((x) => x > end);
      const req = t ? t.at - end : NaN;
      const audio = play ? play - end : NaN;
      toRequest.push(req);
      toAudio.push(audio);
      console.log('phrase %d (%s s): audio sent %s s; end -> request %s ms; end -> first answer audio %s ms',
        i + 1, (p.ms / 1000).toFixed(2), t ? t.seconds.toFixed(2) : '-', Math.round(req), Math.round(audio));
    });
    console.log('median: end -> request %d ms (goal <= 800), end -> first answer audio %d ms', Math.round(median(toRequest)), Math.round(median(toAudio)));
    console.log('requests: %d for %d phrases; messages sent: %d', log.transcriptions.length, PHRASES.length, log.chats.length);

    const noise = await run(env, dir, [60000], {}, 1000);
    console.log('60 s of noise alone: %d transcription requests (goal 0)', noise.log.transcriptions.length);
  } finally {
    await env.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
