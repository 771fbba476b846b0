'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { setupForFile, say, waitIdle, emit } = require('../support/page.js');

const env = setupForFile(test, {});
let page;

const posts = (p) => p.evaluate(() => window.__posts.map((m) => m.cmd));
const pillText = (p) => p.textContent('#otaText');
const dialogOpen = (p) => p.isVisible('#otaModal');

test('the event hub isolates listeners and the page posts its requests', async () => {
  page = await env.open();
  assert.deepEqual(await posts(page), ['ready', 'getHostInfo']);
  const errors = [];
  page.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
  const calls = await page.evaluate(() => {
    const seen = [];
    window.__ovra.on('x', () => {
      throw new Error('boom');
    });
    window.__ovra.on('x', (p) => seen.push('second ' + p.n));
    window.__ovra.on('*', (ev, p) => seen.push('any ' + ev + ' ' + p.n));
    window.__ovra.emit('x', { n: 1 });
    window.__ovra.emit('nobody-listens', { n: 2 });
    window.__ovra.on('constructor', (p) => seen.push('constructor ' + p.n));
    window.__ovra.emit('constructor', { n: 3 });
    window.__ovra.emit('toString', { n: 4 });
    return seen;
  });
  assert.deepEqual(calls, ['second 1', 'any x 1', 'any nobody-listens 2', 'constructor 3', 'any constructor 3', 'any toString 4']);
  assert.ok(errors.some((e) => e.includes('boom')));

  for (const id of ['#btnMin', '#btnMax', '#btnClose', '#otaPill']) await page.click(id);
  assert.deepEqual((await posts(page)).slice(2), ['minimize', 'maximize', 'close', 'checkOta']);
  await page.context().close();
});

test('outside the host requests go to the plain web-view channel as JSON text, or nowhere', async () => {
  const webview = () => {
    window.__sent = [];
    window.chrome = window.chrome || {};
    window.chrome.webview = { postMessage: (m) => window.__sent.push(m) };
  };
  page = await env.open({ host: false, init: webview });
  assert.deepEqual(await page.evaluate(() => window.__sent), ['{"cmd":"ready"}', '{"cmd":"getHostInfo"}']);
  await page.evaluate(() => window.__ovra.post('plain text'));
  assert.equal(await page.evaluate(() => window.__sent[2]), 'plain text');
  // Without the host an available update is never offered.
  await emit(page, 'otaStatus', { available: true, version: '2.0.0', force: true, notes: 'n' });
  assert.equal(await pillText(page), '系统最新');
  assert.equal(await dialogOpen(page), false);
  await page.context().close();

  page = await env.open({ host: false });
  await page.click('#btnMin');
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('host information: version label, API base, event log', async () => {
  page = await env.open();
  const info = { version: '1.0.4', apiBase: '', product: 'OVRA-Zirer', exe: 'C:\\a\\b.exe' };
  await emit(page, 'hostInfo', info);
  await emit(page, 'hostInfo', info);
  assert.equal(await page.textContent('#versionLabel'), 'v1.0.4');
  assert.equal((await page.textContent('#events')).match(/Host 已连接/g).length, 2);
  await emit(page, 'hostReady', { version: '1.0.9' });
  await emit(page, 'hostInfo', null);
  assert.equal(await page.textContent('#versionLabel'), 'v1.0.9');

  // An empty apiBase kept the built-in one; a given one is used from now on.
  await say(page, '一');
  await waitIdle(page);
  assert.equal(env.ai.log.chats.length, 1);
  await emit(page, 'hostInfo', { version: '', apiBase: 'http://127.0.0.1:9/ai/v1' });
  await say(page, '二');
  await waitIdle(page);
  assert.equal(env.ai.log.chats.length, 1);
  assert.match(await page.textContent('#stream .msg.assistant:last-child'), /^⚠ 出错了：/);
  await page.context().close();
});

test('update pill and dialog decisions', async (t) => {
  const fresh = async (dismissed) => {
    page = await env.open();
    if (dismissed) await page.evaluate((v) => localStorage.setItem('otaDismissed', v), dismissed);
    else await page.evaluate(() => localStorage.clear());
    return page;
  };
  const pillClass = () => page.getAttribute('#otaPill', 'class');

  await t.test('available, not forced: pill only, pointer kept; a click shows the notes', async () => {
    await fresh();
    await emit(page, 'otaStatus', { available: true, version: '1.0.5', notes: '修复若干问题', force: false });
    assert.equal(await pillText(page), '可升级 1.0.5');
    assert.equal(await pillClass(), 'pill ota warn');
    assert.equal(await dialogOpen(page), false);
    await page.click('#otaPill');
    assert.equal(await dialogOpen(page), true);
    assert.equal(await page.textContent('#otaNotes'), '修复若干问题');
    assert.deepEqual((await posts(page)).filter((c) => c === 'checkOta'), []);
    // Put off: remembered, and the same version is not offered again.
    await page.click('#btnOtaLater');
    assert.equal(await dialogOpen(page), false);
    assert.equal(await page.evaluate(() => localStorage.getItem('otaDismissed')), '1.0.5');
    await emit(page, 'otaStatus', { available: true, version: '1.0.5', force: false });
    assert.equal(await pillText(page), '系统最新');
    assert.equal(await pillClass(), 'pill ota ok');
    await page.context().close();
  });

  await t.test('check answer without notes: the click names the version', async () => {
    await fresh();
    await emit(page, 'otaStatus', { available: true, version: '1.1.0' });
    await page.click('#otaPill');
    assert.equal(await page.textContent('#otaNotes'), '可升级到 1.1.0');
    await page.context().close();
  });

  await t.test('forced: dialog opens even for a dismissed version', async () => {
    await fresh('1.0.5');
    await emit(page, 'otaStatus', { available: true, version: '1.0.5', notes: '', force: true });
    assert.equal(await pillText(page), '请升级 1.0.5');
    assert.equal(await dialogOpen(page), true);
    assert.equal(await page.textContent('#otaNotes'), '可升级到 1.0.5');
    await page.click('#btnOtaGo');
    assert.equal((await posts(page)).at(-1), 'applyOta');
    assert.equal(await dialogOpen(page), true);
    await page.context().close();
  });

  await t.test('offers and errors without their texts never read "undefined"', async () => {
    await fresh();
    await emit(page, 'otaStatus', { available: true });
    assert.equal(await pillText(page), '可升级 新版本');
    await page.click('#otaPill');
    assert.equal(await page.textContent('#otaNotes'), '可升级到 新版本');
    await emit(page, 'otaStatus', { available: true, force: true, version: '' });
    assert.equal(await pillText(page), '请升级 新版本');
    await emit(page, 'ota', { stage: 'error' });
    assert.match(await page.textContent('#toasts .toast.bad'), /^升级失败: 未知错误$/);
    // The event list keeps it after the toast has gone.
    assert.match(await page.textContent('#events .event'), / · 升级失败: 未知错误$/);
    assert.doesNotMatch(await page.textContent('body'), /undefined/);
    await page.context().close();
  });

  await t.test('not available: up to date, a click asks for a check', async () => {
    await fresh();
    await emit(page, 'otaStatus', { available: false, version: '1.0.4' });
    assert.equal(await pillText(page), '系统最新');
    await page.click('#otaPill');
    assert.equal((await posts(page)).at(-1), 'checkOta');
    assert.equal(await dialogOpen(page), false);
    await page.context().close();
  });

  await t.test('update progress and failure', async () => {
    await fresh();
    await emit(page, 'ota', { stage: 'download' });
    assert.equal(await dialogOpen(page), true);
    assert.equal(await page.textContent('#otaNotes'), '正在下载升级包 0%');
    await emit(page, 'ota', { stage: 'download', pct: 55 });
    assert.equal(await page.evaluate(() => document.getElementById('otaProgress').style.width), '55%');
    // A click on the pill during the download keeps the progress text.
    await emit(page, 'otaStatus', { available: true, version: '1.0.5', notes: 'n', force: false });
    await page.click('#otaPill', { force: true });
    assert.equal(await page.textContent('#otaNotes'), '正在下载升级包 55%');
    await emit(page, 'ota', { stage: 'verify' });
    assert.equal(await page.textContent('#otaNotes'), '校验完整性…');
    await emit(page, 'ota', { stage: 'error', message: 'sha256 mismatch' });
    assert.equal(await page.textContent('#otaNotes'), '校验完整性…');
    assert.match(await page.textContent('#toasts .toast.bad'), /升级失败: sha256 mismatch/);
    await emit(page, 'ota', { stage: 'apply' });
    assert.equal(await page.textContent('#otaNotes'), '正在应用升级并重启…');
    await emit(page, 'ota', { stage: 'noop' });
    await emit(page, 'ota', null);
    assert.equal(await page.textContent('#otaNotes'), '正在应用升级并重启…');
    await page.context().close();
  });
});

test('layout: hidden boxes, narrow window, selectable bubbles, wrapping long words', async () => {
  env.control({ answer: 'x'.repeat(400) + '。' });
  page = await env.open();
  assert.equal(await page.isVisible('#otaModal'), false);
  assert.equal(await page.isVisible('#thinking'), false);
  await page.evaluate(() => (document.getElementById('otaModal').hidden = false));
  assert.equal(await page.isVisible('#otaModal'), true);
  await page.evaluate(() => (document.getElementById('otaModal').hidden = true));
  assert.equal(await page.isVisible('#otaModal'), false);

  await say(page, '长单词');
  await waitIdle(page);
  const box = await page.evaluate(() => {
    const sel = (el) => getComputedStyle(el).userSelect;
    const bubble = document.querySelector('#stream .msg.assistant:last-child .bubble');
    return {
      bubble: sel(bubble),
      body: sel(document.body),
      pill: sel(document.getElementById('apiPill')),
      fits: bubble.getBoundingClientRect().right <= document.getElementById('stream').getBoundingClientRect().right,
    };
  });
  assert.deepEqual(box, { bubble: 'text', body: 'none', pill: 'none', fits: true });

  await page.setViewportSize({ width: 1000, height: 700 });
  const shown = async (sel) => page.isVisible(sel);
  assert.deepEqual(
    [await shown('.presence'), await shown('.tools'), await shown('.chat'), await shown('.titlebar')],
    [false, false, true, true],
  );
  await page.context().close();
});
