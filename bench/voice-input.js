'use strict';
// Voice input through the AI service's transcription, with real sound: the
// fake microphone plays Mandarin phrases spoken by espeak-ng. Prints, per
// phrase, end of phrase -> the chat request carrying its transcript and ->
// first audio of the answer, and the transcription and chat requests started
// and taken back; then the requests made by 60 s of noise alone.
//   node bench/voice-input.js
const fs = require('fs');
const os = require('os');
const path = require('path');
const { setup, launch, openPage } = require('../tests/support/page.js');
const { recording } = require('../tests/support/voice-audio.js');

const LATENCIES = { transcriptionDelayMs: 150, firstTokenDelayMs: 200, tokenDelayMs: 8, speechDelayMs: 100 };
// The last one has a pause of 450 ms inside: one message, not two.
const PHRASES = [
  '今天天气怎么样，适合出门吗',
  '明天早上八点提醒我开会',
  '帮我写一封感谢信',
  '附近有什么好吃的餐厅',
  '把音乐声音调小一点',
  '给妈妈打个电话',
  ['我想订一张机票', 450, '去上海'],
];
const text = (p) => [].concat(p).filter((x) => typeof x === 'string').join('');

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

const sorted = (v) => [...v].sort((a, b) => a - b);
const median = (v) => sorted(v)[Math.floor(v.length / 2)];
const worst = (v) => sorted(v).at(-1);
const figure = (v) => `median ${Math.round(median(v))} ms, worst ${Math.round(worst(v))} ms`;
const load = () => os.loadavg().map((x) => x.toFixed(2)).join(' ');

// What the service saw between two phrases' starts: requests started, and
// those the page took back before their answer.
function requestsIn(entries, from, to) {
  const inside = entries.filter((e) => e.at >= from && e.at < to);
  return { started: inside.length, aborted: inside.filter((e) => e.aborted).length, entries: inside };
}

async function main() {
  const env = await setup();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-bench-voice-'));
  try {
    console.log('load average before: %s', load());
    const parts = [2500];
    for (const p of PHRASES) parts.push(p, 5000);
    const answer = '好的，收到。';
    const transcripts = PHRASES.map(text);
    const { mic, seen, log } = await run(env, dir, parts, { ...LATENCIES, answer, transcripts }, 4000);
    console.log('stand-in latencies: transcription +%d ms, first token +%d ms, %d ms per token, speech +%d ms (plus espeak-ng and lame)',
      LATENCIES.transcriptionDelayMs, LATENCIES.firstTokenDelayMs, LATENCIES.tokenDelayMs, LATENCIES.speechDelayMs);
    const toChat = [];
    const toAudio = [];
    const counts = { transcriptions: 0, transcriptionsAborted: 0, chats: 0, chatsAborted: 0, early: 0 };
    mic.phrases.forEach((p, i) => {
      const start = seen.captureAt + p.startMs;
      const end = seen.captureAt + p.endMs;
      const next = i + 1 < mic.phrases.length ? seen.captureAt + mic.phrases[i + 1].startMs : Infinity;
      const t = requestsIn(log.transcriptions, start, next);
      const c = requestsIn(log.chats, start, next);
      const asked = c.entries.find((e) => !e.aborted && e.body.messages.at(-1).content === p.text);
      const play = seen.plays.find((x) => x > end);
      const spoken = asked && log.speech.find((x) => x.at > asked.at);
      const early = seen.plays.filter((x) => x > start && x <= end).length;
      const req = asked ? asked.at - end : NaN;
      const audio = play ? play - end : NaN;
      toChat.push(req);
      toAudio.push(audio);
      counts.transcriptions += t.started;
      counts.transcriptionsAborted += t.aborted;
      counts.chats += c.started;
      counts.chatsAborted += c.aborted;
      counts.early += early;
      console.log('phrase %d (%s s): end -> chat request %s ms, -> speech request %s ms, -> first answer audio %s ms; transcriptions %d (aborted %d), chats %d (aborted %d)%s',
        i + 1, (p.ms / 1000).toFixed(2), Math.round(req), spoken ? Math.round(spoken.at - end) : '-', Math.round(audio), t.started, t.aborted, c.started, c.aborted,
        early ? '; ANSWER AUDIO BEFORE THE END: ' + early : '');
    });
    const n = mic.phrases.length;
    console.log('end -> chat request carrying the transcript: %s (goal: median <= 600)', figure(toChat));
    console.log('end -> first audio of the answer: %s (goal: median <= 1000)', figure(toAudio));
    console.log('per utterance: %s transcriptions started, %s aborted; %s chat requests started, %s aborted (goal: <= 2 transcriptions)',
      (counts.transcriptions / n).toFixed(2), (counts.transcriptionsAborted / n).toFixed(2), (counts.chats / n).toFixed(2), (counts.chatsAborted / n).toFixed(2));
    const sent = log.chats.filter((c) => !c.aborted).map((c) => c.body.messages.at(-1).content);
    console.log('messages sent: %d for %d phrases%s; answer audio before a phrase ended: %d',
      sent.length, n, sent.join('|') === transcripts.join('|') ? ', as spoken' : ': ' + sent.join(' | '), counts.early);

    const noise = await run(env, dir, [60000], {}, 1000);
    console.log('60 s of noise alone: %d transcription requests, %d chat requests (goal 0)', noise.log.transcriptions.length, noise.log.chats.length);
    console.log('load average after: %s', load());
  } finally {
    await env.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
