'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { setupForFile, say, lastAssistant, waitIdle } = require('../support/page.js');
const { MARKDOWN_DEMO } = require('../../standins/ai-service/answers');

const env = setupForFile(test);

const sentencesOf = (page) =>
  lastAssistant(page).evaluate((b) =>
    [...b.querySelectorAll('.sentence, .cursor, .meta')].map((c) => c.classList[0] + ':' + (c.dataset.text || '')),
  );

test('streamed answers survive awkward framing of the event stream', async (t) => {
  const answer = '第一句。第二句！第三句没有标点';
  const expected = ['sentence:第一句。', 'sentence:第二句！', 'sentence:第三句没有标点', 'cursor:'];
  for (const fault of ['', 'split-bytes', 'malformed', 'no-final-lf']) {
    await t.test(fault || 'clean stream', async () => {
      env.control({ answer, chatFault: fault, tokenDelayMs: 3 });
      const page = await env.open();
      await say(page, '你好');
      await waitIdle(page);
      assert.deepEqual(await sentencesOf(page), expected);
      assert.equal(await page.textContent('#mStream'), 'ON');
      assert.match(await page.textContent('#mTTFT'), /^\d+ms$/);
      assert.deepEqual(page.errors, []);
      // The answer went into the history that the next request carries.
      await say(page, '再说一次');
      await waitIdle(page);
      const msgs = env.ai.log.chats[1].body.messages;
      assert.deepEqual(msgs[2], { role: 'assistant', content: answer });
      await page.context().close();
    });
  }
});

// What the answer's bubble showed after each chunk, with the answer so far.
function recordRenders() {
  const renders = (window.__renders = []);
  const decoder = new TextDecoder();
  let raw = '';
  const answerOf = () =>
    raw
      .slice(0, raw.lastIndexOf('\n') + 1)
      .split('\n')
      .filter((l) => l.startsWith('data: {'))
      .map((l) => JSON.parse(l.slice(6)).choices[0].delta.content)
      .join('');
  const read = ReadableStreamDefaultReader.prototype.read;
  ReadableStreamDefaultReader.prototype.read = function () {
    // The answer's stream is the first read; speech audio streams too.
    if (!window.__answerReader) window.__answerReader = this;
    if (this !== window.__answerReader) return read.call(this);
    const bubbles = document.querySelectorAll('#stream .msg.assistant .bubble');
    if (answerOf()) renders.push({ text: answerOf(), html: bubbles[bubbles.length - 1].innerHTML });
    return read.call(this).then((r) => {
      if (!r.done) raw += decoder.decode(r.value, { stream: true });
      return r;
    });
  };
}

// The speech highlight is not part of the rendering.
const unmarked = (html) => html.replace(/ speaking"/g, '"');

test('incremental rendering gives the same DOM as rendering the answer so far at once', async () => {
  const answer = '开头。\n\n  第二句！  第三句？?最后。。还有 空格 \n尾巴<b>x</b>\n\n' + MARKDOWN_DEMO;
  env.control({ answer, tokenDelayMs: 20, speechMs: 20 });
  const page = await env.open({ init: recordRenders });
  await say(page, '测试');
  await waitIdle(page);
  const renders = await page.evaluate(() => window.__renders);
  assert.ok(renders.length > 20, 'renders: ' + renders.length);
  // Each answer so far, whole in one reply, rendered in a new bubble.
  env.ai.control({ chatFault: 'json' });
  const mismatches = [];
  for (let i = 0; i < renders.length; i += i < 40 ? 3 : 7) {
    env.ai.control({ answer: renders[i].text });
    await say(page, '再来');
    await waitIdle(page);
    const whole = await lastAssistant(page).innerHTML();
    if (unmarked(whole) !== unmarked(renders[i].html)) mismatches.push({ text: renders[i].text, whole, streamed: renders[i].html });
  }
  assert.deepEqual(mismatches.slice(0, 1), []);
  await page.context().close();
});

test('failed answers say why, in the bubble, pill, toast and log', async (t) => {
  const cases = [
    ['status-body', '模型未加载'],
    ['status-empty', 'HTTP 500'],
    ['status-error-bare', 'HTTP 503'],
    ['error-member', '配额已用完'],
    ['error-member-stream', '流中断：后端过载'],
    ['not-json', 'not valid JSON'],
    // The shapes other servers give their message in.
    ['error-string', '上游服务不可用'],
    ['message-top', "This model's maximum context length is 4096 tokens"],
    ['detail-string', '模型正在加载，请稍候'],
    ['detail-list', 'field required; unknown model'],
  ];
  for (const [fault, reason] of cases) {
    await t.test(fault, async () => {
      env.control({ chatFault: fault, status: fault === 'status-error-bare' ? 503 : 500 });
      const page = await env.open();
      await say(page, '问题一');
      await waitIdle(page);
      const text = await lastAssistant(page).textContent();
      assert.ok(text.startsWith('⚠ 出错了：'), text);
      assert.ok(text.includes(reason), text);
      assert.ok(!text.includes('HTTP') || reason.startsWith('HTTP'), text);
      assert.ok(text.endsWith('\n\n可能是 127.0.0.1 文本模型未安装或网络抖动。你仍可以继续打字，我会重试。'), text);
      assert.equal(await page.textContent('#apiPill span:last-child'), 'AI 异常');
      assert.match(await page.textContent('#toasts'), new RegExp('模型调用失败：.*' + reason));
      assert.match(await page.textContent('#events'), new RegExp('错误: .*' + reason));
      // The question stays in the history without an answer.
      env.ai.control({ chatFault: '' });
      await say(page, '问题二');
      await waitIdle(page);
      const roles = env.ai.log.chats[1].body.messages.map((m) => m.role + ':' + m.content);
      assert.deepEqual(roles.slice(1), ['user:问题一', 'user:问题二']);
      await page.context().close();
    });
  }
});

test('whole JSON answers: content, raw body when no content field', async () => {
  env.control({ answer: '整段回答。第二句', chatFault: 'json' });
  const page = await env.open();
  await say(page, '一次给全');
  await waitIdle(page);
  assert.deepEqual(await sentencesOf(page), ['sentence:整段回答。', 'sentence:第二句', 'cursor:']);
  assert.equal(await page.textContent('#mStream'), 'JSON');

  env.ai.control({ chatFault: 'json-bare' });
  await say(page, '没有 choices');
  await waitIdle(page);
  assert.equal(await lastAssistant(page).locator('.sentence').first().getAttribute('data-text'), '{"id":"x","result":"整段回答。');
  await page.context().close();
});

test('text from the service and the host is shown as text, never as markup', async () => {
  const markup = '<img src=x onerror="window.__pwned=1"><script>window.__pwned=2</script>';
  env.control({
    answer: markup + '答案。',
    models: [{ id: markup, meta: { type: 'text' } }, { id: 'edge-tts' }],
  });
  const page = await env.open();
  await say(page, markup);
  await waitIdle(page);
  await page.evaluate((m) => {
    window.__ovra.emit('otaStatus', { available: true, version: m, notes: m, force: true });
    window.__ovra.emit('ota', { stage: 'error', message: m });
    window.__ovra.emit('hostInfo', { version: m, apiBase: '' });
  }, markup);
  await page.waitForTimeout(100);
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  assert.equal(await page.locator('#stream img, #stream b, #stream script, #otaModal b, #toasts img, #modelMatrix img, #modelSelect img').count(), 0);
  assert.ok((await lastAssistant(page).textContent()).startsWith(markup));
  assert.equal(await page.textContent('#otaNotes'), markup);
  assert.equal(await page.textContent('#versionLabel'), 'v' + markup);
  assert.ok((await page.textContent('#modelMatrix')).includes(markup));
  assert.equal(await page.inputValue('#modelSelect'), markup);
  await page.context().close();
});

// Every text the thinking box shows, in order.
function recordThinking() {
  window.__thinking = [];
  document.addEventListener('DOMContentLoaded', () => {
    const box = document.getElementById('thinkText');
    const note = () => window.__thinking.push(box.textContent);
    new MutationObserver(note).observe(box, { childList: true, characterData: true, subtree: true });
  });
}

test('hidden reasoning is never shown, spoken or sent back; the thinking box counts its seconds', async (t) => {
  const answer = '你好。我在这里，提到 <think> 的话照样显示。';
  for (const shape of ['think', 'think-empty', 'reasoning_content', 'reasoning']) {
    await t.test(shape, async () => {
      env.control({ answer, reasoningShape: shape, tokenDelayMs: 80, speechMs: 60 });
      const page = await env.open({ init: recordThinking });
      await say(page, '你好');
      await waitIdle(page);
      assert.deepEqual(await sentencesOf(page), ['sentence:你好。', 'sentence:我在这里，提到 <think> 的话照样显示。', 'cursor:']);
      if (shape !== 'think-empty') {
        const seen = await page.evaluate(() => window.__thinking);
        assert.ok(seen.some((x) => /^模型思考中 · \d+ s$/.test(x)), seen.join(' | '));
        // The time to the first token counts from the answer, not its reasoning.
        assert.ok(parseInt(await page.textContent('#mTTFT'), 10) >= 1000, await page.textContent('#mTTFT'));
      }
      await say(page, '再说');
      await waitIdle(page);
      assert.deepEqual(env.ai.log.chats[1].body.messages[2], { role: 'assistant', content: answer });
      const spoken = env.ai.log.speech.map((s) => s.input).join('|');
      assert.ok(!/打招呼|^<think>|<\/think>/.test(spoken), spoken);
      await page.context().close();
    });
  }

  await t.test('the seconds of reasoning count up', async () => {
    env.control({ answer, reasoningShape: 'reasoning_content', stallAfter: 4, keepAliveMs: 100 });
    const page = await env.open({ clock: true });
    await say(page, '你好');
    await page.waitForFunction(() => /^模型思考中/.test(document.getElementById('thinkText').textContent));
    await page.clock.runFor(3000);
    assert.match(await page.textContent('#thinkText'), /^模型思考中 · [234] s$/);
    assert.equal(await lastAssistant(page).evaluate((b) => b.firstElementChild.className), 'cursor');
    await page.keyboard.press('Escape');
    await waitIdle(page);
    await page.context().close();
  });
});

test('a stalled answer is named after 15 s and ends after 90 s keeping what arrived', async (t) => {
  const stalled = () => /停滞.*Esc/.test(document.getElementById('thinkText').textContent);
  await t.test('silent stream', async () => {
    env.control({ answer: '已经到达的一句。后面的没有来。', stallAfter: 6, tokenDelayMs: 0 });
    const page = await env.open({ clock: true });
    await say(page, '卡住');
    await page.waitForFunction(() => document.querySelector('#stream .msg.assistant:last-child').textContent === '已经到达的一句。后面的');
    await page.clock.runFor(10000);
    assert.equal(await page.evaluate(stalled), false);
    await page.clock.runFor(6000);
    assert.equal(await page.evaluate(stalled), true);
    assert.equal(await page.isDisabled('#btnSend'), true);
    await page.clock.runFor(74000);
    await waitIdle(page);
    assert.deepEqual(await sentencesOf(page), ['sentence:已经到达的一句。', 'sentence:后面的', 'meta:']);
    assert.equal(await lastAssistant(page).locator('.meta').textContent(), '⚠ 出错了：回答超时');
    // (The pill is back to its model-list state: the list refreshed meanwhile.)
    assert.match(await page.textContent('#events'), /错误: 回答超时/);
    assert.equal(env.ai.log.chats[0].aborted, true);
    env.ai.control({ stallAfter: -1 });
    await say(page, '继续');
    await waitIdle(page);
    assert.deepEqual(env.ai.log.chats[1].body.messages[2], { role: 'assistant', content: '已经到达的一句。后面的' });
    await page.context().close();
  });

  await t.test('keep-alive comments are no stall', async () => {
    env.control({ answer: '已经到达的一句。后面的没有来。', stallAfter: 6, tokenDelayMs: 0, keepAliveMs: 100 });
    const page = await env.open({ clock: true });
    await say(page, '卡住');
    await page.waitForFunction(() => document.querySelector('#stream .msg.assistant:last-child').textContent === '已经到达的一句。后面的');
    for (let s = 0; s < 20; s++) {
      await page.clock.runFor(1000);
      await new Promise((r) => setTimeout(r, 250));
    }
    assert.equal(await page.evaluate(stalled), false);
    assert.equal(await page.isDisabled('#btnSend'), true);
    await page.keyboard.press('Escape');
    await waitIdle(page);
    await page.context().close();
  });
});

test('a cut answer says why under it; the note is not spoken nor sent back, the Markdown is', async (t) => {
  const answer = '## 步骤\n\n1. **下载**\n2. 运行 `setup`\n\n这是说到一半';
  const cases = [
    ['length', '', '（回答已达长度上限）'],
    ['content_filter', 'json', '（回答被服务过滤）'],
  ];
  for (const [finishReason, chatFault, note] of cases) {
    await t.test(finishReason, async () => {
      env.control({ answer, finishReason, chatFault, reasoningShape: chatFault ? '' : 'think', speechMs: 30 });
      const page = await env.open();
      await say(page, '怎么做');
      await waitIdle(page);
      const marks = await lastAssistant(page).evaluate((b) => [...b.querySelectorAll('.meta')].map((m) => m.textContent));
      assert.deepEqual(marks, [note]);
      assert.equal(await lastAssistant(page).evaluate((b) => b.lastElementChild.textContent), note);
      env.ai.control({ finishReason: '', chatFault: '', reasoningShape: '', answer: '好。' });
      await say(page, '继续');
      await waitIdle(page);
      assert.deepEqual(env.ai.log.chats[1].body.messages[2], { role: 'assistant', content: answer });
      await page.waitForFunction(() => document.getElementById('mTts').textContent === 'idle');
      const spoken = env.ai.log.speech.map((s) => s.input).join('|');
      assert.ok(spoken.includes('这是说到一半') && !spoken.includes('回答'), spoken);
      await page.context().close();
    });
  }
});
