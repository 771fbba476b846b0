'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { setupForFile, say, lastAssistant, waitIdle, speechDone, until } = require('../support/page.js');

const env = setupForFile(test);

// Records when each speech request starts and what it asks for (requests
// run side by side, so the service may see them in another order), and
// which audio URLs the page creates and revokes.
function recordSpeech() {
  const rec = (window.__speech = { starts: [], inputs: [], urls: [], revoked: [] });
  const fetch0 = window.fetch;
  window.fetch = function (url, opts) {
    if (String(url).endsWith('/audio/speech')) {
      rec.starts.push(performance.now());
      rec.inputs.push(JSON.parse(opts.body).input);
    }
    return fetch0.apply(this, arguments);
  };
  const create = URL.createObjectURL;
  URL.createObjectURL = (blob) => {
    const url = create(blob);
    if (blob.type === 'audio/mpeg') rec.urls.push(url);
    return url;
  };
  const revoke = URL.revokeObjectURL.bind(URL);
  URL.revokeObjectURL = (url) => {
    rec.revoked.push(url);
    revoke(url);
  };
}

// A browser voice whose end event never comes.
function silentVoice() {
  Object.defineProperty(window, 'speechSynthesis', {
    configurable: true,
    value: { cancel() {}, speak: (u) => window.__probe.spoken.push({ text: u.text }) },
  });
}

test('the next sentences are fetched while one plays, and still play in order', async () => {
  env.control({ answer: '第一句。第二句。第三句。第四句。', speechDelayMs: 300, speechMs: 600, tokenDelayMs: 5 });
  const page = await env.open({ init: recordSpeech });
  await say(page, '读四句');
  await page.waitForFunction(() => window.__probe.ends.length === 4, null, { timeout: 20000 });
  const { starts, inputs } = await page.evaluate(() => window.__speech);
  const { plays, ends, spoken } = await page.evaluate(() => window.__probe);
  assert.deepEqual(inputs, ['第一句。', '第二句。', '第三句。', '第四句。']);
  // Look-ahead waits until the first sentence sounds, so as not to delay it.
  // (The page hears of playback a moment before the probe does.)
  assert.ok(starts[1] >= plays[0] - 50, 'the next sentence was fetched before the first one sounded');
  assert.ok(starts[2] < ends[0], 'two sentences ahead are fetched while the first plays');
  for (let i = 1; i < 4; i++) {
    assert.ok(starts[i] < ends[i - 1], 'sentence ' + i + ' was fetched only after the one before ended');
    assert.ok(plays[i] >= ends[i - 1], 'two sentences played at once');
  }
  assert.deepEqual(spoken, []);
  await page.context().close();
});

test('sentence ends keep their marks and closers; speech gets the words only', async () => {
  const answer =
    '收到：「帮我规划一下今天的工作，先说重点。」。真的吗？！好!!!\n他说："走吧！"然后走了。\n' +
    '- **第一步**：`确认`需求。\n## 🎉🎉\n1. 🎉 完成了 ✅';
  env.control({ answer, speechMs: 60, tokenDelayMs: 20 });
  const page = await env.open({ init: recordSpeech });
  await say(page, '规划');
  await waitIdle(page);
  await speechDone(page);
  const spans = await lastAssistant(page).evaluate((b) => [...b.querySelectorAll('.sentence')].map((s) => s.dataset.text));
  assert.deepEqual(spans, [
    '收到：「帮我规划一下今天的工作，先说重点。」。',
    '真的吗？！',
    '好!!!',
    '他说："走吧！"',
    '然后走了。',
    '第一步：确认需求。',
    '🎉🎉',
    '🎉 完成了 ✅',
  ]);
  assert.equal(await lastAssistant(page).textContent(), spans.join(''));
  // The long first sentence may be spoken in two pieces, split after its first clause.
  const inputs = await page.evaluate(() => window.__speech.inputs);
  assert.deepEqual(
    inputs.join('|').replace('工作，|先说', '工作，先说').split('|'),
    ['收到：「帮我规划一下今天的工作，先说重点。」。', '真的吗？！', '好!!!', '他说："走吧！"', '然后走了。', '第一步：确认需求。', '完成了'],
  );
  await page.context().close();
});

test('nothing holds the speech queue for ever', async (t) => {
  // A stalled body plays what arrived and the browser's voice says the rest.
  const said = { hang: ['甲句。', '乙句。'], stall: ['句。', '句。'] };
  for (const fault of ['hang', 'stall']) {
    await t.test('speech request that ' + (fault === 'hang' ? 'never answers' : 'stalls mid-body'), async () => {
      env.control({ answer: '甲句。乙句。', speechFault: fault });
      const page = await env.open({ clock: true });
      await say(page, '说');
      await waitIdle(page);
      await until(() => env.ai.log.speech.length === 1, 'one speech request');
      // Half a body arrives at once; on a busy machine it may take a while to be read.
      const halfIn = (n) => fault !== 'stall' ||
        page.waitForFunction((k) => window.__probe.fed >= k, n);
      await halfIn(1);
      await page.clock.runFor(7000);
      assert.deepEqual(await page.evaluate(() => window.__probe.spoken), []);
      // What arrived of a stalled body plays first, under the page's own time limits.
      const spokenUpTo = async (n) => {
        for (let i = 0; i < 15 && (await page.evaluate(() => window.__probe.spoken.length)) < n; i++) {
          await page.clock.runFor(1000);
        }
        await page.waitForFunction((k) => window.__probe.spoken.length === k, n);
      };
      await page.clock.runFor(1500);
      await spokenUpTo(1);
      // The next sentence is fetched once the first one sounds.
      await until(() => env.ai.log.speech.length === 2, 'two speech requests');
      await halfIn(2);
      await page.clock.runFor(8500);
      await spokenUpTo(2);
      await speechDone(page);
      assert.deepEqual(
        (await page.evaluate(() => window.__probe.spoken)).map((s) => s.text),
        said[fault],
      );
      await until(() => env.ai.log.speech.every((s) => s.aborted), 'every speech request aborted');
      await page.context().close();
    });
  }

  await t.test('browser voice whose end never comes', async () => {
    env.control({ answer: '一句话。二句话。', speechFault: 'status' });
    const page = await env.open({ clock: true, init: silentVoice });
    await say(page, '说');
    await waitIdle(page);
    await page.waitForFunction(() => window.__probe.spoken.length === 1);
    await page.clock.runFor(4000);
    assert.equal(await page.evaluate(() => window.__probe.spoken.length), 1);
    await page.clock.runFor(1000);
    assert.equal(await page.evaluate(() => window.__probe.spoken.length), 2);
    await page.clock.runFor(5000);
    await speechDone(page);
    assert.equal(await page.getAttribute('#voiceOrb', 'class'), 'orb');
    await page.context().close();
  });
});

test('stopping: speech and the streaming answer end, what arrived stays, the queued message goes', async (t) => {
  const answer = '第一句话。第二句话。第三句话。第四句话。第五句话。第六句话。';
  for (const how of ['Escape', 'orb']) {
    await t.test(how, async () => {
      env.control({ answer, tokenDelayMs: 300, speechMs: 8000 });
      const page = await env.open({ init: recordSpeech });
      await say(page, '长回答');
      await page.waitForFunction(() => window.__probe.plays.length === 1);
      await say(page, '下一个');
      env.ai.control({ answer: '好的。', speechMs: 100 });
      if (how === 'Escape') await page.keyboard.press('Escape');
      else await page.click('#voiceOrb');

      await until(() => env.ai.log.chats.length === 2, 'two chats');
      await waitIdle(page);
      await speechDone(page, 5000);
      assert.equal(env.ai.log.chats[0].aborted, true);
      const first = page.locator('#stream .msg.assistant .bubble').nth(1);
      const shown = await first.evaluate((b) => ({
        sentences: [...b.querySelectorAll('.sentence')].map((s) => s.dataset.text).join(''),
        cursor: !!b.querySelector('.cursor'),
        mark: b.lastElementChild.className + ':' + b.lastElementChild.textContent,
      }));
      assert.ok(shown.sentences && answer.startsWith(shown.sentences) && shown.sentences !== answer, shown.sentences);
      assert.deepEqual([shown.cursor, shown.mark], [false, 'meta:⏹ 已停止']);
      assert.match(await page.textContent('#events'), /回答已停止/);

      // The queued message went out with the stopped answer in its history.
      const msgs = env.ai.log.chats[1].body.messages.slice(1);
      assert.deepEqual(
        msgs.map((m) => m.role + ':' + (m.role === 'assistant' ? answer.startsWith(m.content) : m.content)),
        ['user:长回答', 'assistant:true', 'user:下一个'],
      );
      assert.equal(await lastAssistant(page).locator('.sentence').getAttribute('data-text'), '好的。');
      // Nothing more of the stopped answer was played; its audio is gone.
      const probe = await page.evaluate(() => window.__probe);
      assert.equal(probe.plays.length, 2);
      assert.equal(env.ai.log.speech.at(-1).input, '好的。');
      const rec = await page.evaluate(() => window.__speech);
      assert.deepEqual(rec.urls.filter((u) => !rec.revoked.includes(u)), []);
      await page.context().close();
    });
  }

  await t.test('clear', async () => {
    env.control({ answer, tokenDelayMs: 100, speechMs: 8000 });
    const page = await env.open({ init: recordSpeech });
    await say(page, '长回答');
    await page.waitForFunction(() => window.__probe.plays.length === 1);
    await page.click('#btnClear');
    await speechDone(page, 4000);
    const requested = env.ai.log.speech.length;
    assert.ok(requested <= 3, 'speech requested for ' + requested + ' sentences');
    await waitIdle(page);
    await page.waitForTimeout(300);
    assert.equal(env.ai.log.speech.length, requested, 'the cleared answer kept queueing speech');
    assert.equal(await page.evaluate(() => window.__probe.plays.length), 1);
    const rec = await page.evaluate(() => window.__speech);
    assert.deepEqual(rec.urls.filter((u) => !rec.revoked.includes(u)), []);
    await page.context().close();
  });
});

test('speech plays while its audio still arrives; whole bodies where it cannot stream', async (t) => {
  // Twelve characters at 200 ms: the body takes 2.4 s to arrive.
  const answer = '这句话的声音要慢慢地传过来。';
  for (const [name, patch] of [
    ['audio/mpeg', {}],
    ['audio/mpeg after a byte-order mark', { speechFault: 'bom' }],
    ['audio/wav', { speechType: 'audio/wav' }],
  ]) {
    await t.test(name, async () => {
      env.control({ answer, speechMs: 3000, speechPaceMsPerChar: 200, ...patch });
      const page = await env.open({ init: recordSpeech });
      await say(page, '慢');
      await page.waitForFunction(() => window.__probe.plays.length === 1, null, { timeout: 20000 });
      await speechDone(page);
      // Against the moment the service had sent the whole body, on the same clock.
      const playedAt = await page.evaluate(() => performance.timeOrigin + window.__probe.plays[0]);
      const lead = env.ai.log.speech[0].doneAt - playedAt;
      if (patch.speechType) assert.ok(lead <= 50, `whole body played ${-lead} ms after it arrived`);
      else assert.ok(lead > 0, `streamed audio played ${-lead} ms after the whole body arrived`);
      assert.deepEqual(await page.evaluate(() => window.__probe.spoken), []);
      await page.context().close();
    });
  }

  // (That what arrived plays and only the rest is said is checked with the stalled body above.)
  await t.test('a body that breaks off: the browser says the rest, the queue goes on', async () => {
    env.control({ answer: '第一句话说到一半就断了。第二句也一样断。', speechFault: 'break', speechMs: 600 });
    const page = await env.open();
    await say(page, '断');
    await page.waitForFunction(() => window.__probe.spoken.length === 2, null, { timeout: 20000 });
    await speechDone(page);
    const spoken = (await page.evaluate(() => window.__probe.spoken)).map((s) => s.text);
    const sentences = ['第一句话说到一半就断了。', '第二句也一样断。'];
    spoken.forEach((rest, i) => assert.ok(rest && sentences[i].endsWith(rest), rest));
    await page.context().close();
  });
});

test('a long first sentence: its first clause is spoken before the sentence ends', async () => {
  const answer = '今天的天气非常适合出门散步，记得带上一把伞以防下雨。好的。';
  env.control({ answer, tokenDelayMs: 120, speechMs: 200 });
  const page = await env.open({ init: recordSpeech });
  await say(page, '天气');
  await waitIdle(page);
  await speechDone(page);
  assert.deepEqual(await page.evaluate(() => window.__speech.inputs), [
    '今天的天气非常适合出门散步，',
    '记得带上一把伞以防下雨。',
    '好的。',
  ]);
  // Asked for before the sentence was complete; the bubble is as ever.
  assert.ok(env.ai.log.speech[0].at < env.ai.log.chats[0].doneAt - 300);
  assert.deepEqual(
    await lastAssistant(page).evaluate((b) => [...b.querySelectorAll('.sentence')].map((x) => x.dataset.text)),
    ['今天的天气非常适合出门散步，记得带上一把伞以防下雨。', '好的。'],
  );
  await page.context().close();
});

// Which unit of the answer carries the speaking mark, in order.
function recordMarks() {
  const marks = (window.__marks = []);
  document.addEventListener('DOMContentLoaded', () => {
    new MutationObserver(() => {
      const s = document.querySelector('#stream .sentence.speaking');
      if (s && s.dataset.text !== marks[marks.length - 1]) marks.push(s.dataset.text);
    }).observe(document.getElementById('stream'), { attributes: true, attributeFilter: ['class'], subtree: true });
  });
}

test('a structured answer: the words are spoken, not the syntax, and the unit spoken is marked', async () => {
  const answer = [
    '## 安装 🎉',
    '先看**重点**，详见[文档](https://example.com/docs)或 https://example.org/x?y=1 。',
    '',
    '- 第一项',
    '- 第二项：`npm ci`',
    '',
    '```sh',
    'npm ci',
    '```',
    '',
    '| 名称 | 版本 |',
    '| --- | --- |',
    '| 助手 | 1.0 |',
    '| 语音 |  |',
  ].join('\n');
  env.control({ answer, speechMs: 60, tokenDelayMs: 10 });
  const page = await env.open({ init: recordMarks });
  await say(page, '怎么装');
  await waitIdle(page);
  await speechDone(page);
  assert.deepEqual(env.ai.log.speech.map((s) => s.input), [
    '安装',
    '先看重点，详见文档或 链接 。',
    '第一项',
    '第二项：npm ci',
    '代码见屏幕',
    '名称 助手，版本 1.0。',
    '名称 语音。',
  ]);
  assert.deepEqual(await page.evaluate(() => window.__marks), [
    '安装 🎉',
    '先看重点，详见文档或 https://example.org/x?y=1 。',
    '第一项',
    '第二项：npm ci',
    'npm ci\n',
    '助手 | 1.0',
    '语音 | ',
  ]);
  // Screen readers hear the same words as they finish.
  assert.match(await page.textContent('#answerNews'), /代码见屏幕.*名称 助手，版本 1\.0。.*名称 语音。/);
  await page.context().close();
});
