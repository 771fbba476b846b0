'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { setupForFile, say, waitIdle, launch, openPage, speechDone, until } = require('../support/page.js');
const { recording, speak, utterancesSent, answeredChats } = require('../support/voice-audio.js');

const env = setupForFile(test);

// Records which sentence carries the speaking highlight and the orb's look
// each time either changes.
function watchSpeaking() {
  window.__highlights = [];
  new MutationObserver(() => {
    const s = document.querySelector('.sentence.speaking');
    const orb = document.getElementById('voiceOrb').className;
    const entry = (s ? s.dataset.text : '-') + '|' + orb;
    if (window.__highlights[window.__highlights.length - 1] !== entry) window.__highlights.push(entry);
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ['class'] });
}

test('sentences are spoken in order while the answer streams, one at a time, highlighted', async () => {
  env.control({ answer: '甲句来了。乙句也到！丙句没有标点', tokenDelayMs: 120, speechMs: 150 });
  const page = await env.open({ init: watchSpeaking });
  await say(page, '说三句');
  await waitIdle(page);
  await speechDone(page);

  const speech = env.ai.log.speech;
  assert.deepEqual(speech.map((s) => s.input), ['甲句来了。', '乙句也到！', '丙句没有标点']);
  assert.deepEqual([speech[0].model, speech[0].voice], ['edge-tts', 'alloy']);
  assert.ok(speech[0].at < env.ai.log.chats[0].doneAt, 'speech began before the answer was complete');

  const probe = await page.evaluate(() => window.__probe);
  assert.equal(probe.plays.length, 3);
  assert.equal(probe.ends.length, 3);
  for (let i = 1; i < 3; i++) assert.ok(probe.plays[i] >= probe.ends[i - 1], 'two sentences played at once');
  assert.deepEqual(probe.spoken, []);

  const seen = await page.evaluate(() => window.__highlights);
  const spoken = seen.filter((h) => !h.startsWith('-')).map((h) => h.split('|')[0]);
  assert.deepEqual([...new Set(spoken)], ['甲句来了。', '乙句也到！', '丙句没有标点']);
  assert.ok(seen.filter((h) => !h.startsWith('-')).every((h) => h.endsWith('|orb speaking')));
  assert.equal(await page.getAttribute('#voiceOrb', 'class'), 'orb');
  assert.equal(await page.textContent('#orbState'), '待命中');
  await page.context().close();
});

test('speech audio: byte-order mark removed, broken answers fall back to synthesis', async (t) => {
  const cases = [
    // fault, bytes handed to the audio element (or null), spoken by synthesis
    ['bom', 'fffb54', false],
    ['three-bytes', 'efbbbf', true],
    ['status', null, true],
    ['garbage', '746869', true],
  ];
  for (const [fault, head, fallback] of cases) {
    await t.test(fault, async () => {
      // The whole-body road, whose bytes the audio element gets as one blob; streamed
      // bodies are covered with the speech tests.
      env.control({ answer: '只有一句。', speechFault: fault, speechMs: 100, speechType: 'audio/wav' });
      const page = await env.open();
      await say(page, '读一下');
      await waitIdle(page);
      await speechDone(page);
      const probe = await page.evaluate(async () => {
        const p = window.__probe;
        const blob = p.blobs[0];
        const bytes = blob ? new Uint8Array(await blob.arrayBuffer()) : null;
        return {
          head: bytes && [...bytes.slice(0, 3)].map((b) => b.toString(16).padStart(2, '0')).join(''),
          ends: p.ends.length,
          spoken: p.spoken,
        };
      });
      assert.equal(probe.head, head);
      if (fallback) {
        assert.deepEqual(probe.spoken, [{ text: '只有一句。', lang: 'zh-CN', rate: 1.05 }]);
      } else {
        assert.deepEqual(probe.spoken, []);
        assert.equal(probe.ends, 1, 'the audio played to its end');
      }
      await page.context().close();
    });
  }
});

test('speech recognition: interim text, final text, and the VAD switch', async () => {
  // The answer's speech lasts long enough to be talked over on a busy machine.
  env.control({ answer: '听到了。', firstTokenDelayMs: 600, speechMs: 3000 });
  const page = await env.open();
  await page.click('#btnMic');
  await page.waitForFunction(() => window.__probe.asr.length === 1 && window.__probe.asr[0].started === 1);
  assert.equal(await page.textContent('#voicePill span:last-child'), '全双工就绪');
  const asr = (results) => page.evaluate((r) => window.__probe.asr[0].say(r), results);

  await asr([['今天', false], ['天气', false]]);
  assert.equal(await page.textContent('#partialAsr'), '🎙 今天天气');

  // VAD off: a final result only reaches the event log, cut to 28 characters.
  const long = '这是一句很长很长的语音识别结果，用来检查事件流里只显示前二十八个字符的规则';
  await asr([[long, true]]);
  assert.equal(await page.textContent('#partialAsr'), '');
  assert.match(await page.textContent('#events .event'), new RegExp('ASR final: ' + long.slice(0, 28) + '$'));

  // VAD on: sent as voice input; while the answer runs or speech plays, not.
  await page.click('#btnVad');
  assert.equal(await page.getAttribute('#btnVad', 'class'), 'chip active');
  await asr([['请帮我查一下', true]]);
  await page.waitForFunction(() => document.getElementById('btnSend').disabled);
  await asr([['回答时说的话', true]]);
  await page.waitForFunction(() => document.getElementById('mTts').textContent !== 'idle');
  await waitIdle(page);
  await asr([['播报时说的话', true]]);
  await speechDone(page);
  assert.deepEqual(env.ai.log.chats.map((c) => c.body.messages.at(-1).content), ['请帮我查一下']);
  assert.equal(await page.textContent('#stream .msg.user .meta'), '语音输入');
  // Back to the wave's listening looks (the fake microphone beeps).
  assert.match(await page.textContent('#orbState'), /^(全双工聆听中|听到声音)$/);
  assert.notEqual(await page.getAttribute('#voiceOrb', 'class'), 'orb speaking');
  assert.equal(env.ai.log.chats.length, 1);

  // The recogniser restarts whenever it ends while the microphone is on.
  await page.evaluate(() => window.__probe.asr[0].onend());
  assert.equal(await page.evaluate(() => window.__probe.asr[0].started), 2);
  await page.evaluate(() => window.__probe.asr[0].onerror({ error: 'not-allowed' }));
  assert.equal(await page.textContent('#voicePill span:last-child'), '麦克风被拒绝');
  assert.match(await page.textContent('#toasts'), /浏览器拒绝了语音识别权限/);

  await page.click('#btnMic');
  assert.equal(await page.evaluate(() => window.__probe.asr[0].stopped), true);
  await page.evaluate(() => window.__probe.asr[0].onend());
  assert.equal(await page.evaluate(() => window.__probe.asr[0].started), 2);
  assert.equal(await page.textContent('#voicePill span:last-child'), '语音关闭');
  await page.context().close();
});

test('camera: preview on and off, the frame-rate label keeps counting', async () => {
  env.control({});
  const page = await env.open();
  await page.click('#btnCam');
  await page.waitForFunction(() => document.getElementById('localVideo').srcObject);
  assert.equal(await page.textContent('#videoPill span:last-child'), '视频就绪');
  assert.equal(await page.textContent('#btnCam'), '📷 关闭视频');
  await page.waitForFunction(() => /^\d+ fps$/.test(document.getElementById('fpsLabel').textContent));
  await page.click('#btnCam');
  assert.equal(await page.evaluate(() => document.getElementById('localVideo').srcObject), null);
  assert.equal(await page.textContent('#videoPill span:last-child'), '视频关闭');
  const mark = await page.evaluate(() => {
    const label = document.getElementById('fpsLabel');
    label.textContent = 'x';
    return label.textContent;
  });
  await page.waitForFunction((m) => document.getElementById('fpsLabel').textContent !== m, mark);
  await page.context().close();
});

const micOn = async (page) => {
  await page.click('#btnMic');
  await page.waitForFunction(() => window.__probe.asr.length === 1 && window.__probe.asr[0].started === 1);
};
const voicePill = (page) => page.textContent('#voicePill span:last-child');

test('with auto-send on, the cockpit hearing its own voice does not answer itself', async () => {
  env.control({ answer: '我是你的助手，很高兴见到你。', speechMs: 150 });
  const page = await env.open({ clock: true });
  await micOn(page);
  await page.click('#btnVad');
  const asr = (text) => page.evaluate((t) => window.__probe.asr[0].say([[t, true]]), text);
  const answered = async (n) => {
    await page.waitForFunction((k) => document.querySelectorAll('#stream .msg.assistant').length === k, n + 1);
    await waitIdle(page);
    await speechDone(page);
  };
  await say(page, '你是谁');
  await answered(1);

  await asr('我是你的助手很高兴见到你');
  assert.match(await page.textContent('#events .event'), /已丢弃（刚播报的内容）: 我是你的助手很高兴见到你$/);
  await asr('帮我订一张明天的票');
  await answered(2);
  assert.deepEqual(env.ai.log.chats.map((c) => c.body.messages.at(-1).content), ['你是谁', '帮我订一张明天的票']);

  // Seconds later the same words are the user's own.
  await page.clock.runFor(6000);
  await asr('我是你的助手很高兴见到你');
  await answered(3);
  assert.equal(env.ai.log.chats.length, 3);
  await page.context().close();
});

test('recognition that keeps failing backs off, says so, and recovers by itself', async () => {
  env.control({});
  const page = await env.open({ clock: true });
  await micOn(page);
  // Time moves only when the test says so.
  await page.clock.pauseAt(Date.now() + 5000);
  const started = () => page.evaluate(() => window.__probe.asr[0].started);
  const end = (error) =>
    page.evaluate((e) => {
      const r = window.__probe.asr[0];
      if (e) r.onerror({ error: e });
      r.onend();
    }, error);
  let count = 1;
  const failAndWait = async (error, ms) => {
    await end(error);
    await page.clock.runFor(ms - 60);
    assert.equal(await started(), count, 'restarted before ' + ms + ' ms');
    await page.clock.runFor(120);
    assert.equal(await started(), ++count, 'not restarted after ' + ms + ' ms');
  };

  const pauses = [500, 1000, 2000, 4000, 8000, 10000, 10000];
  for (let i = 0; i < pauses.length; i++) {
    await failAndWait('bad-grammar', pauses[i]);
    assert.equal(await voicePill(page), i < 2 ? '全双工就绪' : '语音识别不可用：bad-grammar');
  }
  // Working again: a result clears the failure, and the pauses start over.
  await page.evaluate(() => window.__probe.asr[0].say([['你好', false]]));
  assert.equal(await voicePill(page), '全双工就绪');
  await failAndWait('bad-grammar', 500);
  // Silence is part of listening: it restarts at once, and counts as working.
  await end('no-speech');
  assert.equal(await started(), ++count);

  // A refusal keeps its own texts however often it comes.
  for (const ms of [500, 1000, 2000]) await failAndWait('not-allowed', ms);
  assert.equal(await voicePill(page), '麦克风被拒绝');
  assert.match(await page.textContent('#composerHint'), /^浏览器语音识别在听/);
  assert.match(await page.textContent('#toasts'), /浏览器拒绝了语音识别权限/);

  // Switching the microphone off cancels a pending restart.
  await end('bad-grammar');
  await page.click('#btnMic');
  await page.clock.runFor(20000);
  assert.equal(await started(), count);
  await page.context().close();
});

// Camera and microphone requests that take a while to be granted, with a
// count of the tracks still live; optionally the audio set-up fails.
function slowCapture(opts) {
  const md = navigator.mediaDevices;
  const gum = md.getUserMedia.bind(md);
  const streams = (window.__streams = []);
  window.__asking = 0;
  md.getUserMedia = async (c) => {
    window.__asking++;
    try {
      await new Promise((r) => setTimeout(r, 300));
      const s = await gum(c);
      streams.push(s);
      return s;
    } finally {
      window.__asking--;
    }
  };
  window.__live = () =>
    streams
      .flatMap((s) => s.getTracks())
      .filter((t) => t.readyState === 'live')
      .map((t) => t.kind)
      .join(',');
  if (opts && opts.failAudio) {
    AudioContext.prototype.createMediaStreamSource = () => {
      throw new Error('audio graph refused');
    };
  }
}

test('capture is never left running', async (t) => {
  const settled = (page) => page.waitForFunction(() => window.__asking === 0);
  const live = (page) => page.evaluate(() => window.__live());
  const opened = (page) => page.evaluate(() => window.__streams.length);

  await t.test('double click on the camera, then off', async () => {
    env.control({});
    const page = await env.open({ init: slowCapture });
    await page.dblclick('#btnCam');
    await page.waitForFunction(() => document.getElementById('btnCam').textContent === '📷 关闭视频');
    await settled(page);
    assert.deepEqual([await opened(page), await live(page)], [1, 'video']);
    await page.click('#btnCam');
    assert.equal(await live(page), '');
    assert.equal(await page.textContent('#btnCam'), '📷 开启视频');
    await page.context().close();
  });

  await t.test('triple click on the microphone, then off', async () => {
    env.control({});
    const page = await env.open({ init: slowCapture });
    await page.click('#btnMic', { clickCount: 3 });
    await page.waitForFunction(() => document.getElementById('btnMic').textContent === '🎤 关闭语音');
    await settled(page);
    assert.deepEqual([await opened(page), await live(page)], [1, 'audio']);
    assert.equal(await page.evaluate(() => window.__probe.asr.length), 1);
    await page.click('#btnMic');
    assert.equal(await live(page), '');
    await page.context().close();
  });

  await t.test('audio set-up fails after the microphone was granted', async () => {
    env.control({});
    const page = await env.open({ init: slowCapture, initArg: { failAudio: true } });
    await page.click('#btnMic');
    await page.waitForFunction(() => /语音不可用/.test(document.getElementById('voicePill').textContent));
    await settled(page);
    assert.deepEqual([await opened(page), await live(page)], [1, '']);
    assert.match(await page.textContent('#toasts'), /无法开启麦克风：audio graph refused/);
    assert.equal(await page.textContent('#btnMic'), '🎤 全双工语音');
    // A second try fails the same way and leaves nothing behind either.
    await page.click('#btnMic');
    await page.waitForFunction(() => window.__streams.length === 2);
    await settled(page);
    assert.equal(await live(page), '');
    await page.context().close();
  });
});

test('browser recognition that cannot work here hands over to the service until the microphone is off', async () => {
  env.control({});
  const page = await env.open();
  await micOn(page);
  assert.match(await page.textContent('#composerHint'), /^浏览器语音识别在听/);
  await page.evaluate(() => {
    const r = window.__probe.asr[0];
    r.onerror({ error: 'network' });
    r.onend();
  });
  assert.match(await page.textContent('#composerHint'), /^AI 服务语音识别在听/);
  assert.match(await page.textContent('#events .event'), /浏览器语音识别不可用（network），改用 AI 服务转写$/);
  assert.equal(await page.evaluate(() => window.__probe.asr[0].started), 1, 'the failed recogniser was restarted');
  await page.click('#btnMic');
  assert.equal(await page.textContent('#composerHint'), '语音识别中的话会实时出现在这里');
  // Switched on again, the browser's recognition gets its chance again.
  await page.click('#btnMic');
  await page.waitForFunction(() => window.__probe.asr.length === 2 && window.__probe.asr[1].started === 1);
  assert.match(await page.textContent('#composerHint'), /^浏览器语音识别在听/);
  await page.context().close();
});

// Chromium with its fake microphone playing `parts` (pauses in ms, phrases
// spoken by espeak-ng) once from when the page opens the microphone, or over
// and over; and the browser's own recognition, which cannot work here.
async function microphone(t, parts, { loop = false, init, initArg } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-mic-'));
  const mic = recording(path.join(dir, 'mic.wav'), parts);
  const browser = await launch(['--use-file-for-fake-audio-capture=' + mic.file + (loop ? '' : '%noloop')]);
  t.after(async () => {
    await browser.close();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  const page = await openPage(browser, env.ui.url, { recognition: false, init, initArg });
  return { mic, page };
}

const transcriptions = () => env.ai.log.transcriptions;

// The room the cockpit talks in: what the page plays comes back into its microphone
// `delayMs` later, as from a far wall, so the echo follows the page's own voice whenever
// that comes.
function echoingRoom(delayMs) {
  let room = null;
  const roomNow = () => {
    if (!room) {
      const ctx = new AudioContext();
      const delay = ctx.createDelay(10);
      delay.delayTime.value = delayMs / 1000;
      room = { ctx, delay };
    }
    room.ctx.resume();
    return room;
  };
  const md = navigator.mediaDevices;
  const gum = md.getUserMedia.bind(md);
  md.getUserMedia = async (constraints) => {
    const stream = await gum(constraints);
    if (!constraints || !constraints.audio) return stream;
    const { ctx, delay } = roomNow();
    const heard = ctx.createMediaStreamDestination();
    ctx.createMediaStreamSource(stream).connect(heard);
    delay.connect(heard);
    return heard.stream;
  };
  const play = HTMLMediaElement.prototype.play;
  HTMLMediaElement.prototype.play = function () {
    const { ctx, delay } = roomNow();
    if (!this.__inRoom) {
      this.__inRoom = true;
      const voice = ctx.createMediaElementSource(this);
      voice.connect(ctx.destination);
      voice.connect(delay);
    }
    return play.apply(this, arguments);
  };
}

test('spoken phrases become messages; pauses, noise and the cockpit’s own voice do not', async (t) => {
  const answer = '好的，我记下了。';
  const said = ['今天天气怎么样，适合出门吗', '明天早上八点提醒我开会'];
  env.control({ speechMs: null, answer, transcripts: [said[0], answer, said[1], answer] });
  // Each answer comes back through the microphone just after it was spoken.
  const { mic, page } = await microphone(t, [2500, said[0], 9000, said[1], 9000], {
    init: echoingRoom, initArg: 2300,
  });
  await page.evaluate(() => {
    window.__listening = [];
    const box = document.getElementById('partialAsr');
    new MutationObserver(() => window.__listening.push(box.textContent)).observe(box, { childList: true, subtree: true, characterData: true });
  });
  await page.click('#btnVad');
  await page.click('#btnMic');
  await page.waitForFunction(() => /^AI 服务语音识别在听/.test(document.getElementById('composerHint').textContent));

  await until(() => utterancesSent(env.ai.log).length >= 4, 'four transcriptions', mic.ms + 20000);
  await waitIdle(page);
  await new Promise((r) => setTimeout(r, 2500));
  const got = utterancesSent(env.ai.log);
  assert.equal(got.length, 4, 'silence or noise was sent: ' + got.map((x) => x.seconds.toFixed(2)).join(', '));
  // Each upload is one phrase, the cockpit's own voice included, and was heard as speech.
  const echo = speak(answer).length / 48;
  const spoken = [mic.phrases[0].ms, echo, mic.phrases[1].ms, echo];
  got.forEach((x, i) => {
    assert.ok(Math.abs(x.seconds - spoken[i] / 1000) < 0.75, `utterance ${i + 1}: ${x.seconds.toFixed(2)} s of audio for a ${(spoken[i] / 1000).toFixed(2)} s phrase`);
  });
  assert.deepEqual(got.map((x) => x.text), [said[0], answer, said[1], answer]);
  assert.deepEqual(
    got.map((x) => [x.model, x.language, x.format, x.filename, x.error]),
    Array(4).fill(['whisper-1', 'zh', 'json', 'speech.wav', ''])
  );
  assert.deepEqual(answeredChats(env.ai.log).map((c) => c.body.messages.at(-1).content), said);
  assert.equal(await page.locator('#stream .msg.user .meta', { hasText: '语音输入' }).count(), 2);
  assert.equal(
    await page.locator('#events .event', { hasText: '已丢弃（刚播报的内容）: ' + answer }).count(), 2,
    'the own voice was not recognised as such: ' + (await page.textContent('#events'))
  );
  const listening = await page.evaluate(() => window.__listening);
  assert.ok(listening.some((x) => /^🎙 正在听… [1-9]\.\d s$/.test(x)), 'no listening text: ' + listening.slice(0, 5));
  await page.click('#btnMic');
});

// Each transcription request the page makes, and whether it was taken back;
// and when the first message of the user appeared.
function watchTranscriptions() {
  const asked = (window.__transcriptions = []);
  const fetch0 = window.fetch;
  window.fetch = function (url, init) {
    if (String(url).endsWith('/audio/transcriptions')) asked.push(init.signal);
    return fetch0.apply(this, arguments);
  };
  window.__taken = () => asked.map((s) => s.aborted);
  document.addEventListener('DOMContentLoaded', () => {
    new MutationObserver(() => {
      if (!window.__firstMessageAt && document.querySelector('#stream .msg.user')) window.__firstMessageAt = performance.now();
    }).observe(document.getElementById('stream'), { childList: true, subtree: true });
  });
  const md = navigator.mediaDevices;
  const gum = md.getUserMedia.bind(md);
  md.getUserMedia = async (c) => {
    const s = await gum(c);
    window.__captureAt = performance.now();
    return s;
  };
}

test('a pause inside a phrase: sent ahead, taken back when speech goes on, one message at the end', async (t) => {
  const whole = '我想订一张机票去上海';
  // The transcription answers slowly, so the speech after the pause comes
  // while the utterance sent ahead is still being transcribed.
  env.control({ speechMs: null, answer: '好的。', transcripts: [whole], transcriptionDelayMs: 1500 });
  const { mic, page } = await microphone(t, [2000, ['我想订一张机票', 450, '去上海'], 4000], { init: watchTranscriptions });
  await page.click('#btnVad');
  const over = Date.now() + mic.ms + 1000;
  await page.click('#btnMic');
  await page.waitForFunction(() => document.querySelectorAll('#stream .msg.assistant').length === 1, null, { timeout: mic.ms + 20000 });
  await waitIdle(page);
  // Nothing more comes of the rest of the recording.
  await new Promise((r) => setTimeout(r, Math.max(0, over - Date.now())));

  const taken = await page.evaluate(() => window.__taken());
  assert.equal(taken[0], true, 'the utterance sent ahead at the pause was not taken back: ' + taken);
  assert.equal(taken.at(-1), false);
  const answered = transcriptions().filter((x) => !x.aborted);
  assert.equal(answered.length, 1, 'transcribed: ' + transcriptions().map((x) => x.seconds.toFixed(2) + (x.aborted ? ' (aborted)' : '')));
  const ratio = answered[0].seconds / (mic.phrases[0].ms / 1000);
  assert.ok(ratio > 0.8 && ratio < 1.2, `${answered[0].seconds.toFixed(2)} s of audio for a ${(mic.phrases[0].ms / 1000).toFixed(2)} s phrase`);

  assert.deepEqual(env.ai.log.chats.map((c) => c.body.messages.at(-1).content), [whole]);
  const messages = await page.locator('#stream .msg.user .bubble').allTextContents();
  assert.equal(messages.length, 1);
  assert.ok(messages[0].startsWith(whole), messages[0]);
  assert.equal(await page.locator('#events .event', { hasText: 'ASR final:' }).count(), 1);
  await page.waitForFunction(() => window.__probe.plays.length > 0, null, { timeout: 20000 });
  const { at, captureAt, plays } = await page.evaluate(() => ({ at: window.__firstMessageAt, captureAt: window.__captureAt, plays: window.__probe.plays }));
  const end = captureAt + mic.phrases[0].endMs;
  assert.ok(at > end, 'the message appeared before the phrase was over');
  assert.ok(plays.every((p) => p > end), 'the answer was heard before the phrase was over');
});

test('failing transcription: reasons shown, three in a row said, recovery; no endpoint ends it once', async (t) => {
  env.control({ transcriptionFault: 'status', status: 503 });
  const { page } = await microphone(t, [1200, '你好小助手', 1500], { loop: true });
  await page.click('#btnMic');
  await until(() => transcriptions().length >= 1, 'a transcription', 20000);
  await page.waitForFunction(() => /语音识别失败：识别服务繁忙/.test(document.getElementById('toasts').textContent));
  assert.equal(await voicePill(page), '全双工就绪');
  await page.waitForFunction(() => /语音识别不可用：识别服务繁忙/.test(document.getElementById('voicePill').textContent), null, { timeout: 20000 });

  env.ai.control({ transcriptionFault: 'malformed' });
  const before = transcriptions().length;
  await page.waitForFunction(() => /语音识别失败：识别结果无法读取/.test(document.getElementById('toasts').textContent), null, { timeout: 20000 });
  // An error member in an answer of status 200 is a failure in the service's words.
  env.ai.control({ transcriptionFault: 'status', status: 200 });
  await page.waitForFunction(() => document.querySelector('#events .event').textContent.endsWith('语音识别失败: 识别服务繁忙'), null, { timeout: 20000 });
  env.ai.control({ transcriptionFault: '' });
  await page.waitForFunction(() => /ASR final: （演示转写）收到 \d\.\d 秒语音/.test(document.getElementById('events').textContent), null, { timeout: 20000 });
  assert.equal(await voicePill(page), '全双工就绪');
  assert.ok(transcriptions().length > before);

  env.ai.control({ transcriptionFault: 'not-found' });
  await page.waitForFunction(() => document.getElementById('composerHint').textContent === '语音输入不可用，可直接打字', null, { timeout: 20000 });
  const sent = transcriptions().length;
  await new Promise((r) => setTimeout(r, 5000));
  assert.equal(transcriptions().length, sent, 'utterances were still sent after the 404');
  assert.equal(await page.locator('#events .event', { hasText: '语音识别不可用：AI 服务无' }).count(), 1);
  assert.equal(await voicePill(page), '语音识别不可用：AI 服务无语音识别');
  // Typing still works.
  env.ai.control({ transcriptionFault: '', answer: '在。' });
  await say(page, '还在吗');
  await waitIdle(page);
  assert.equal(await page.locator('#stream .msg.assistant').last().innerText(), '在。');
});
