'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { setupForFile, say, waitIdle } = require('../support/page.js');

const env = setupForFile(test);

const SYSTEM =
  '你是 OVRA-Zirer，一个实时、友好、高效、专业的中文 AI 助手。回答简洁有力，能立刻帮用户解决问题。';

test('a message sent while an answer streams waits its turn and shows it is queued', async () => {
  env.control({ answer: '慢慢回答。一句一句来。最后', holdChat: true });
  const page = await env.open();
  await say(page, '第一个问题');
  await say(page, '第二个问题');
  await say(page, '第三个问题');
  const metas = () => page.$$eval('#stream .msg.user .meta', (m) => m.map((e) => e.textContent));
  assert.deepEqual(await metas(), ['文字输入', '排队中 · 文字输入', '排队中 · 文字输入']);
  assert.match(await page.textContent('#toasts'), /正在生成回答，可继续打字排队下一条/);
  assert.equal(await page.inputValue('#input'), '');
  assert.equal(env.ai.log.chats.length, 1);
  env.ai.control({ holdChat: false });

  await page.waitForFunction(() => document.querySelectorAll('#stream .msg.assistant').length === 4);
  await waitIdle(page);
  assert.deepEqual(await metas(), ['文字输入', '文字输入', '文字输入']);
  const chats = env.ai.log.chats;
  assert.equal(chats.length, 3);
  for (let i = 1; i < chats.length; i++) {
    assert.ok(chats[i].at >= chats[i - 1].doneAt, 'request ' + i + ' overlapped the previous answer');
  }
  // Each request carries the answers before it, in conversation order.
  const roles = chats[2].body.messages.map((m) => m.role + ':' + m.content.slice(0, 5));
  assert.deepEqual(roles, [
    'system:' + SYSTEM.slice(0, 5),
    'user:第一个问题',
    'assistant:慢慢回答。',
    'user:第二个问题',
    'assistant:慢慢回答。',
    'user:第三个问题',
  ]);
  // Welcome, then each question directly followed by its own answer.
  const order = await page.$$eval('#stream .msg', (m) => m.map((e) => e.classList[1]));
  assert.deepEqual(order, ['assistant', 'user', 'assistant', 'user', 'assistant', 'user', 'assistant']);
  await page.context().close();
});

test('the chat request: member order, system message first, last 12 history entries', async () => {
  env.control({ answer: '好。', tokenDelayMs: 0 });
  const page = await env.open();
  for (let i = 1; i <= 7; i++) {
    await say(page, '问题' + i);
    await waitIdle(page);
  }
  const body = env.ai.log.chats[6].body;
  assert.equal(env.ai.log.chats.length, 7);
  assert.deepEqual(body.messages.map((m) => m.content).slice(-3), ['问题6', '好。', '问题7']);
  assert.deepEqual(Object.keys(body), ['model', 'messages', 'temperature', 'max_tokens', 'stream']);
  assert.equal(body.model, 'Zirer-Chat-Lite');
  assert.deepEqual([body.temperature, body.max_tokens, body.stream], [0.7, 1024, true]);
  assert.equal(body.messages.length, 13);
  assert.deepEqual(body.messages[0], { role: 'system', content: SYSTEM });
  assert.deepEqual(body.messages[1], { role: 'assistant', content: '好。' });
  assert.deepEqual(body.messages[12], { role: 'user', content: '问题7' });
  assert.match(await page.textContent('#mLatency'), /^\d+ms$/);
  await page.context().close();
});

test('the composer: Enter sends, blank input sends nothing, Shift+Enter breaks the line', async () => {
  env.control({});
  const page = await env.open();
  await say(page, '   \n  ');
  await page.press('#input', 'Enter');
  await page.fill('#input', '第一行');
  await page.press('#input', 'Shift+Enter');
  await page.keyboard.type('第二行');
  assert.equal(await page.inputValue('#input'), '第一行\n第二行');
  assert.equal(env.ai.log.chats.length, 0);
  await page.click('#btnSend');
  await waitIdle(page);
  assert.equal(env.ai.log.chats[0].body.messages[1].content, '第一行\n第二行');
  await page.click('#btnClear');
  assert.deepEqual(await page.$$eval('#stream > *', (e) => e.map((x) => x.textContent)), ['今天 · 本地算力中心']);
  await page.context().close();
});

test('the model list: refresh keeps a hand-picked model while it is listed', async () => {
  env.control({});
  const page = await env.open({ clock: true });
  assert.equal(await page.inputValue('#modelSelect'), 'Zirer-Chat-Lite');
  await page.selectOption('#modelSelect', 'Velmo-35B-A3B');
  assert.match(await page.textContent('#events'), /切换模型 → Velmo-35B-A3B/);

  await page.clock.runFor(60000);
  await page.waitForFunction(() => /×5.*×5/s.test(document.getElementById('events').textContent));
  assert.equal(await page.inputValue('#modelSelect'), 'Velmo-35B-A3B');

  // Once the service stops listing it, the first listed model takes over.
  env.ai.control({ models: [{ id: 'Other-Model', meta: { type: 'text' } }] });
  await page.clock.runFor(60000);
  await page.waitForFunction(() => document.getElementById('modelSelect').value === 'Other-Model');
  env.ai.control({ models: null });
  await page.clock.runFor(60000);
  await page.waitForFunction(() => document.getElementById('modelSelect').options.length === 3);
  assert.equal(await page.inputValue('#modelSelect'), 'Zirer-Chat-Lite');
  await page.context().close();
});

test('the model list: types decide the selector, the matrix shows every model', async (t) => {
  const matrix = (page) =>
    page.$$eval('#modelMatrix .model-item', (items) =>
      items.map((i) => i.className.replace('model-item', '').trim() + '|' + i.textContent),
    );
  const options = (page) => page.$$eval('#modelSelect option', (o) => o.map((x) => x.value));

  await t.test('models without meta count as text', async () => {
    env.control({ modelsFault: 'no-meta' });
    const page = await env.open();
    assert.equal((await options(page)).length, 5);
    assert.deepEqual(await matrix(page), [
      '|Zirer-Chat-Littext',
      'bad|Velmo-Flash-Next-ADtext · 权重缺失',
      'bad|Velmo-35B-A3Btext · 权重缺失',
      'ok|edge-ttstext · 可用',
      'ok|zimage-turbotext · 可用',
    ].map((s) => s.replace('Littext', 'Litetext')));
    assert.equal(await page.textContent('#apiPill span:last-child'), 'AI 在线');
    await page.context().close();
  });

  await t.test('no text model: all are offered', async () => {
    env.control({ modelsFault: 'non-text' });
    const page = await env.open();
    assert.deepEqual(await options(page), ['Zirer-Chat-Lite', 'Velmo-Flash-Next-AD', 'Velmo-35B-A3B', 'edge-tts', 'zimage-turbo']);
    await page.context().close();
  });

  // An error status or a body without its list is a failure, with the
  // service's reason in the event log.
  const failures = [
    ['down', /HTTP 503/],
    ['not-json', /JSON/],
    ['unauthorized', /Invalid API key/],
    ['not-found', /Not Found/],
    ['no-data', /data/],
  ];
  for (const [fault, reason] of failures) {
    await t.test('service ' + fault, async () => {
      env.control({ modelsFault: fault });
      const page = await env.open();
      assert.deepEqual(await matrix(page), ['bad|无可用模型offline']);
      assert.equal(await page.textContent('#apiPill span:last-child'), 'AI 离线');
      assert.match(await page.textContent('#toasts'), /无法连接 AI 服务/);
      assert.match(await page.textContent('#events'), new RegExp('模型列表获取失败: .*' + reason.source));
      assert.equal(await page.inputValue('#modelSelect'), '');
      await page.context().close();
    });
  }

  await t.test('an empty list is no failure', async () => {
    env.control({ models: [] });
    const page = await env.open();
    assert.deepEqual(await matrix(page), ['bad|无可用模型offline']);
    assert.equal(await page.textContent('#apiPill span:last-child'), 'AI 在线');
    assert.match(await page.textContent('#events'), /模型列表已同步 ×0/);
    await page.context().close();
  });
});
