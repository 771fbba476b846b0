'use strict';
// Render cost of a streamed 1024-token answer in the cockpit page (plain
// sentences, and Markdown with lists, code and tables), and the
// silence between two spoken sentences when speech takes 300 ms to arrive,
// with speech fetched ahead and, for comparison, one sentence at a time.
// Then speech against a service modelled on a real one, streamed from the
// first bytes and, for comparison, from whole bodies.
//   node bench/page-render.js
const { setup, say, waitIdle } = require('../tests/support/page.js');

const TOKENS = 1024;
const EDGE = 100; // deltas counted as "start" and as "end" of the answer

// Times the page's work on each chunk of the answer stream: from the moment a
// read hands over its bytes until the page asks for the next chunk, plus the
// layout that the chunk made necessary (forced here, so it is counted with
// the chunk instead of with the next frame).
function timeChunks() {
  const chunks = (window.__chunks = []);
  const read = ReadableStreamDefaultReader.prototype.read;
  let open = null;
  ReadableStreamDefaultReader.prototype.read = function () {
    // The answer's stream is the first read; speech audio streams too.
    if (!window.__answerReader) window.__answerReader = this;
    if (this !== window.__answerReader) return read.call(this);
    if (open) {
      void document.getElementById('stream').scrollHeight;
      open.ms = performance.now() - open.t;
      chunks.push(open);
      open = null;
    }
    return read.call(this).then((r) => {
      if (!r.done) {
        const text = new TextDecoder().decode(r.value);
        open = { t: performance.now(), deltas: (text.match(/"delta"/g) || []).length };
      }
      return r;
    });
  };
}

// The rendering as first designed: rebuild the whole bubble on every delta.
function fullRerenderBaseline(tokens) {
  const stream = document.getElementById('stream');
  const row = document.createElement('div');
  row.className = 'msg assistant';
  const bubble = document.createElement('div');
  bubble.className = 'bubble';
  row.appendChild(bubble);
  stream.appendChild(row);
  const times = [];
  let text = '';
  for (const t of tokens) {
    const t0 = performance.now();
    text += t;
    window.__fullRender(bubble, text);
    stream.scrollTop = stream.scrollHeight;
    times.push(performance.now() - t0);
  }
  row.remove();
  return times;
}

function stats(values) {
  const v = [...values].sort((a, b) => a - b);
  const at = (q) => v[Math.min(v.length - 1, Math.floor(q * v.length))];
  return `median ${at(0.5).toFixed(3)} ms, p95 ${at(0.95).toFixed(3)} ms`;
}

// Spreads each chunk's time evenly over the deltas it carried.
function perDelta(chunks) {
  const out = [];
  for (const c of chunks) for (let i = 0; i < c.deltas; i++) out.push(c.ms / c.deltas);
  return out;
}

// `markdown`: the answer is Markdown (headings, lists, code, tables) rather
// than plain sentences.
async function renderBench(env, markdown) {
  env.control({ tokens: TOKENS, markdownCorpus: markdown, tokenDelayMs: 6, speechMs: 100 });
  const page = await env.open({ init: timeChunks, synthesis: true });
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Performance.enable');
  const metric = async () => {
    const { metrics } = await cdp.send('Performance.getMetrics');
    return Object.fromEntries(metrics.map((m) => [m.name, m.value]));
  };
  const before = await metric();
  const t0 = Date.now();
  await say(page, '请写一段很长的回答');
  await waitIdle(page);
  const wall = Date.now() - t0;
  const after = await metric();
  const chunks = await page.evaluate(() => window.__chunks);
  const deltas = perDelta(chunks);
  const ms = (k) => ((after[k] - before[k]) * 1000).toFixed(0);
  console.log(`streamed ${markdown ? 'Markdown' : 'plain'} answer: ${deltas.length} deltas in ${chunks.length} chunks, ${wall} ms wall`);
  console.log(`  per delta, first ${EDGE}: ${stats(deltas.slice(0, EDGE))}`);
  console.log(`  per delta, last ${EDGE}:  ${stats(deltas.slice(-EDGE))}`);
  const total = chunks.reduce((s, c) => s + c.ms, 0);
  console.log(`  stream handling total: ${total.toFixed(1)} ms`);
  console.log(
    `  main thread during the answer: task ${ms('TaskDuration')} ms ` +
      `(script ${ms('ScriptDuration')}, layout ${ms('LayoutDuration')}, style ${ms('RecalcStyleDuration')})`,
  );

  if (markdown) return page.context().close();
  const baseline = await page.evaluate(fullRerenderBaseline, corpusTokens());
  console.log('full re-render of the same answer (for comparison):');
  console.log(`  per delta, first ${EDGE}: ${stats(baseline.slice(0, EDGE))}`);
  console.log(`  per delta, last ${EDGE}:  ${stats(baseline.slice(-EDGE))}`);
  console.log(`  total: ${baseline.reduce((s, x) => s + x, 0).toFixed(1)} ms`);
  await page.context().close();
}

function corpusTokens() {
  return require('../standins/ai-service/answers').corpusTokens(TOKENS);
}

// When the page asks for each sentence's speech: the first request goes out
// as soon as the first sentence is complete.
function recordSpeechRequests() {
  const starts = (window.__speechStarts = []);
  const fetch0 = window.fetch;
  window.fetch = function (url) {
    if (String(url).endsWith('/audio/speech')) starts.push(performance.now());
    if (String(url).endsWith('/chat/completions')) window.__chatStart = performance.now();
    return fetch0.apply(this, arguments);
  };
}

// Silence between spoken sentences, and from the first complete sentence to
// the start of its audio, with speech fetched `ahead` sentences in advance
// (0: each sentence fetched only when its turn comes).
async function speechGapBench(env, ahead) {
  env.control({ answer: '第一句话。第二句话。第三句话。第四句话。第五句话。', speechDelayMs: 300, speechMs: 400, tokenDelayMs: 5 });
  const page = await env.open({ init: recordSpeechRequests });
  await page.evaluate((n) => (window.__ovra.speechAhead = n), ahead);
  await say(page, '读五句');
  await waitIdle(page);
  await page.waitForFunction(() => window.__probe.ends.length === 5, null, { timeout: 20000 });
  const { plays, ends } = await page.evaluate(() => window.__probe);
  const starts = await page.evaluate(() => window.__speechStarts);
  const gaps = plays.slice(1).map((p, i) => p - ends[i]);
  const road = ahead ? `fetched ${ahead} ahead` : 'one at a time';
  console.log(
    `  ${road.padEnd(16)} gaps ${gaps.map((g) => g.toFixed(0)).join(', ')} ms (max ${Math.max(...gaps).toFixed(0)}), ` +
      `first sentence to its audio ${(plays[0] - starts[0]).toFixed(0)} ms`,
  );
  await page.context().close();
}

// A service like the real ones: the first token after 500 ms, then 30
// characters a second (tokens of two characters on average every 67 ms);
// speech whose first bytes come after 200 ms, the body spread over 100 ms a
// character, 250 ms of audio a character.
const REAL_SERVICE = {
  firstTokenDelayMs: 500,
  tokenDelayMs: 67,
  speechDelayMs: 200,
  speechPaceMsPerChar: 100,
  speechMsPerChar: 250,
};
const REAL_ANSWER = '我来帮你看看，这个问题可以分三步来解决。先确认需求。再给出方案。最后检查结果。';

async function speechRoadBench(env, early) {
  env.control({ answer: REAL_ANSWER, ...REAL_SERVICE });
  const page = await env.open({ init: recordSpeechRequests });
  await page.evaluate((on) => (window.__ovra.earlySpeech = on), early);
  await say(page, '怎么办');
  await waitIdle(page);
  // Four sentences; the new road speaks the first one's first clause apart.
  const pieces = early ? 5 : 4;
  await page.waitForFunction(
    (n) => {
      const p = window.__probe;
      return p.plays.length + p.spoken.length >= n && p.ends.length === p.plays.length && document.getElementById('mTts').textContent === 'idle';
    },
    pieces,
    { timeout: 60000 },
  );
  const { plays, ends, spoken } = await page.evaluate(() => window.__probe);
  const chatStart = await page.evaluate(() => window.__chatStart);
  const ttft = parseInt(await page.textContent('#mTTFT'), 10);
  const gaps = plays.slice(1).map((p, i) => p - ends[i]);
  const road = early ? 'streamed (new)' : 'whole bodies';
  console.log(
    `  ${road.padEnd(16)} request -> first audio ${(plays[0] - chatStart).toFixed(0)} ms (first token ${ttft} ms), ` +
      `first token -> first audio ${(plays[0] - chatStart - ttft).toFixed(0)} ms, ` +
      `gaps ${gaps.map((g) => g.toFixed(0)).join(', ')} ms (max ${Math.max(...gaps).toFixed(0)})` +
      (spoken.length ? `, ${spoken.length} said by the browser's voice` : ''),
  );
  await page.context().close();
}

async function main() {
  const env = await setup();
  try {
    console.log('load: ' + require('child_process').execFileSync('uptime').toString().trim());
    await renderBench(env, false);
    await renderBench(env, true);
    console.log('speech, 5 sentences of 400 ms audio, endpoint answers in 300 ms:');
    await speechGapBench(env, 2);
    await speechGapBench(env, 0);
    console.log('speech against a service like a real one (first token 500 ms, 30 chars/s, speech first bytes 200 ms, body 100 ms/char):');
    await speechRoadBench(env, false);
    await speechRoadBench(env, true);
  } finally {
    await env.close();
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
