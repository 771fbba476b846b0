'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { setupForFile, say, lastAssistant, waitIdle } = require('../support/page.js');

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

// Links and the copy button as the page uses them: posts to the host and the
// clipboard are recorded.
function recordClipboard() {
  Object.defineProperty(navigator, 'clipboard', {
    configurable: true,
    value: { writeText: async (text) => (window.__copied = text) },
  });
}

test('answers show their structure; nothing in them runs, loads or leaves the page', async () => {
  const code = 'def greet(name):\n\tif name:\n        print("hi", name)  # ' + 'x'.repeat(300) + '\n\n    return  <b>&amp;\n';
  const answer = [
    '## 标题',
    '有**粗体**、*斜体*、~~删除~~和 `行内码`。',
    '',
    '1. 第一项',
    '2. 第二项',
    '   - 嵌套一',
    '   - 嵌套二',
    '',
    '> 引用的话。',
    '',
    '---',
    '',
    '```python',
    code + '```',
    '',
    '| 名称 | 版本 |',
    '| :-- | --: |',
    '| 助手 | 1.0.5 |',
    '',
    '详见[文档](https://example.com/docs?a=1)、[坏链接](javascript:window.__pwned=3)、[数据](data:text/html,<b>x</b>)、[文件](file:///C:/Windows/win.ini)、[邮件](mailto:a@example.com)和 https://example.org/bare 。',
    '![图](http://127.0.0.1:1/pixel.png)<img src=x onerror="window.__pwned=1"><script>window.__pwned=2</script><iframe src="x.html"></iframe><b>粗</b>',
  ].join('\n');
  env.control({ answer, tokenDelayMs: 0 });
  const page = await env.open({ init: recordClipboard });
  const loads = [];
  page.on('request', (r) => loads.push(r.url()));
  await say(page, '要 **星号** 原样');
  await waitIdle(page);
  const bubble = lastAssistant(page);

  // User messages stay as typed.
  assert.equal(await page.locator('#stream .msg.user .bubble').last().evaluate((b) => b.firstChild.textContent), '要 **星号** 原样');
  const shape = await bubble.evaluate((b) => {
    const tags = (sel) => [...b.querySelectorAll(sel)].map((e) => e.textContent);
    const pre = b.querySelector('pre');
    const style = getComputedStyle(pre);
    return {
      heading: tags('.md-h2'),
      marks: ['strong', 'em', 's', ':not(pre) > code'].map((s) => tags(s)[0]),
      items: tags('ol > li > .sentence, ol ul > li'),
      quote: tags('blockquote'),
      rules: b.querySelectorAll('hr').length,
      cells: tags('th, td'),
      align: [...b.querySelectorAll('td')].map((td) => td.className),
      code: pre.textContent,
      codeLook: [style.whiteSpace, style.overflowX, /mono/i.test(style.fontFamily), pre.scrollWidth > pre.clientWidth],
      links: [...b.querySelectorAll('a')].map((a) => a.textContent + '→' + a.getAttribute('href')),
      elements: b.querySelectorAll('img, script, iframe, b, object, embed, style').length,
    };
  });
  assert.deepEqual(shape, {
    heading: ['标题'],
    marks: ['粗体', '斜体', '删除', '行内码'],
    items: ['第一项', '第二项', '嵌套一', '嵌套二'],
    quote: ['引用的话。'],
    rules: 1,
    cells: ['名称', '版本', '助手', '1.0.5'],
    align: ['align-left', 'align-right'],
    code,
    codeLook: ['pre', 'auto', true, true],
    links: ['文档→https://example.com/docs?a=1', 'https://example.org/bare→https://example.org/bare'],
    elements: 0,
  });
  const text = await bubble.textContent();
  // Links that may not leave the page are text, what they point to shown.
  for (const shown of ['[坏链接](javascript:window.__pwned=3)', '[数据](data:text/html,<b>x</b>)', '[文件](file:///C:/Windows/win.ini)', '邮件 (mailto:a@example.com)', '图', '<img src=x onerror="window.__pwned=1">', '<script>', '<iframe src=']) {
    assert.ok(text.includes(shown), shown + ' in ' + text);
  }

  // A web link goes to the user's browser, the view stays; the others do nothing.
  const url = page.url();
  await bubble.locator('a', { hasText: '文档' }).click();
  await bubble.locator('a', { hasText: 'bare' }).click({ button: 'middle' });
  await bubble.locator('a', { hasText: '文档' }).click({ modifiers: ['Shift'] });
  await bubble.getByText('坏链接').click();
  await bubble.getByText('邮件').click();
  await page.waitForTimeout(200);
  const opened = await page.evaluate(() => window.__posts.filter((p) => p.cmd === 'openExternal').map((p) => p.url));
  assert.deepEqual(opened, ['https://example.com/docs?a=1', 'https://example.org/bare', 'https://example.com/docs?a=1']);
  assert.equal(page.url(), url);
  assert.equal(page.context().pages().length, 1);
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  // The parser stays inside the page's script.
  assert.deepEqual(await page.evaluate(() => ['markdownit', 'module', 'exports'].filter((k) => k in window)), []);
  assert.deepEqual(loads.filter((u) => /pixel|example/.test(u)), []);

  // The copy button: named, reached by the keyboard, says when it is done.
  const copy = bubble.locator('.code-copy');
  assert.equal(await copy.getAttribute('aria-label'), '复制代码（python）');
  await bubble.locator('.md-h2').click();
  await page.keyboard.press('Tab');
  for (let i = 0; i < 12 && !(await copy.evaluate((b) => b === document.activeElement)); i++) await page.keyboard.press('Tab');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => window.__copied);
  assert.equal(await page.evaluate(() => window.__copied), code);
  assert.match(await page.textContent('#toasts'), /代码已复制/);
  assert.equal(await copy.textContent(), '已复制');
  await page.context().close();
});
