'use strict';
// The desktop host on the runtime stand-in, under Wine: the page in the window, the
// bridge script, requests only from the page, hostReady after every navigation, the
// error boxes, and no Chromium left behind.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startWineSession, waitFor, sleep, exitWithin } = require('../support/wine.js');
const { probe, readableText } = require('../support/shell.js');
const standin = require('../support/browser-runtime.js');

let session;
before(async () => { session = await startWineSession(); });
after(async () => { if (session) await session.stop(); });

const startHost = (extraEnv) => standin.startHost(session, extraEnv);
const closeHost = (host, how) => standin.closeHost(session, host, how);

test('the page fills the window, has the bridge first and hears hostReady after every load', async () => {
  const host = await startHost();
  const { page } = host;
  try {
    // hostReady has reached the real page (startHost waits for it).
    assert.equal(await page.evaluate(() => typeof window.__host.post), 'function');
    // Loaded from its folder, the page's own script and style sheet pass its security
    // policy, which refuses a script written into the document.
    assert.deepEqual(await page.evaluate(() => {
      const s = document.createElement('script');
      s.textContent = 'window.inlineRan = true';
      document.body.appendChild(s);
      return [getComputedStyle(document.body).overflow, window.inlineRan === true];
    }), ['hidden', false]);

    // Strings and objects posted by the page both reach the host's dispatcher: each
    // request for host information is answered.
    await page.evaluate(() => {
      const emit = window.__ovra.emit;
      window.hostInfos = 0;
      window.__ovra.emit = (name, payload) => {
        if (name === 'hostInfo') window.hostInfos++;
        return emit.call(window.__ovra, name, payload);
      };
      window.chrome.webview.postMessage('{"cmd":"getHostInfo"}');
      window.chrome.webview.postMessage({ cmd: 'getHostInfo' });
      window.__host.post({ cmd: 'getHostInfo' });
    });
    const infos = () => page.evaluate(() => window.hostInfos);
    await waitFor(async () => (await infos()) >= 3, { what: 'hostInfo answers' });

    // A frame is another document: what it posts goes unanswered, while the page's own
    // request after it still is.
    const frameSource = await page.evaluate(() => new Promise((resolve) => {
      const frame = document.createElement('iframe');
      frame.srcdoc = '<p>frame</p>';
      frame.onload = () => {
        const post = frame.contentWindow.chrome && frame.contentWindow.chrome.webview;
        if (post) post.postMessage({ cmd: 'getHostInfo' });
        resolve(post ? frame.contentWindow.location.href : 'no channel in the frame');
      };
      document.body.appendChild(frame);
    }));
    assert.equal(frameSource, 'about:srcdoc');
    // Requests are answered in order: an answer to the frame would come before this one.
    await page.evaluate(() => window.chrome.webview.postMessage({ cmd: 'getHostInfo' }));
    await waitFor(async () => (await infos()) >= 4, { what: 'hostInfo after the frame' });
    await sleep(500);
    assert.equal(await infos(), 4);

    // A new runtime version installed meanwhile is told to the page.
    fs.writeFileSync(path.join(standin.dataFolder(session), 'standin-new-version'), '');
    await page.locator('#events > *', { hasText: '浏览器运行时已更新' }).waitFor({ timeout: 15000 });

    // The view covers the client area: near the X window's size, and it follows resizes.
    const win = await session.findWindow('OVRA-Zirer', { exact: true });
    const size = () => page.evaluate(() => [innerWidth, innerHeight]);
    let [w, h] = await size();
    assert.ok(w <= win.width && w >= win.width - 24, `width ${w} in window ${win.width}`);
    assert.ok(h <= win.height && h >= win.height - 64, `height ${h} in window ${win.height}`);
    session.xdotool('windowsize', '--sync', win.id, String(win.width - 200), String(win.height - 100));
    await waitFor(async () => (await size())[0] === w - 200, { what: 'resize', timeoutMs: 10000 });
    [w, h] = await size();

    // Another document never replaces the page: the navigation is refused and the
    // page stays as it was.
    const probe = path.join(session.dir, 'probe page.html');
    fs.writeFileSync(probe, '<!doctype html><p>probe</p>');
    await page.evaluate(() => { window.notReloaded = true; });
    await assert.rejects(page.goto('file://' + probe.replace(/ /g, '%20')));
    assert.equal(await page.evaluate(() => window.notReloaded), true);

    // F5 on the main window reloads, and the new document shows the order of things:
    // the bridge exists before the page's first script, and hostReady follows the load.
    await page.addInitScript(() => {
      const seen = { events: [] };
      window.seen = seen;
      let hub;
      // The page sets its hub up as its script starts.
      Object.defineProperty(window, '__ovra', { configurable: true, get: () => hub, set(value) {
        seen.hostAtStart = typeof window.__host;
        hub = value;
        const emit = value.emit;
        value.emit = function (name, payload) {
          seen.events.push([name, payload]);
          return emit.apply(this, arguments);
        };
      } });
    });
    session.xdotool('windowfocus', '--sync', win.id);
    session.xdotool('key', '--window', win.id, 'F5');
    const reloaded = await waitFor(() => page.evaluate(() => !window.notReloaded && window.seen &&
      window.seen.events.some((e) => e[0] === 'hostReady') ? window.seen : null).catch(() => null),
    { what: 'hostReady after F5', timeoutMs: 20000 });
    assert.equal(reloaded.hostAtStart, 'object');
    assert.deepEqual(reloaded.events.find((e) => e[0] === 'hostReady'),
      ['hostReady', { version: '1.0.4' }]);
  } finally {
    // Alt+F4: the system menu's close, so WM_CLOSE as from the frame.
    const result = await closeHost(host, { altF4: true });
    assert.equal(result && result.code, 0);
  }
});

test('no Chromium outlives the host, even when the host is killed', async () => {
  const host = await startHost();
  await host.browser.close();
  assert.ok(standin.chromiumProcessesUnder(session.dir).length > 0);
  host.run.child.kill('SIGKILL');
  await waitFor(() => standin.chromiumProcessesUnder(session.dir).length === 0,
    { what: 'Chromium to end', timeoutMs: 15000 });
});

async function expectBoxThenExit1(env, texts) {
  const exe = standin.installApp(session, `app-box-${Date.now()}`);
  const run = session.spawn(exe, [], { env });
  for (const text of texts) {
    assert.equal(await standin.waitForDialog(session), text);
    await standin.dismissDialog(session);
    await waitFor(() => !standin.dialogTexts(session).includes(text) || null,
      { what: 'box to close', timeoutMs: 10000 });
  }
  const result = await exitWithin(run, 20000);
  assert.equal(result && result.code, 1);
}

test('failed creation shows its box and ends with exit code 1', async () => {
  await expectBoxThenExit1(standin.runtimeEnv(session, { fault: 'env' }),
    ['WebView2 环境创建失败。']);
  await expectBoxThenExit1(standin.runtimeEnv(session, { fault: 'controller' }),
    ['WebView2 控制器创建失败。']);
  // So does a controller request that is refused at once: the handler never runs.
  await expectBoxThenExit1(standin.runtimeEnv(session, { fault: 'controller-request' }),
    ['WebView2 控制器创建失败。']);
  // A controller without a view fails the same way instead of keeping the start-up screen.
  await expectBoxThenExit1(standin.runtimeEnv(session, { fault: 'no-view' }),
    ['WebView2 控制器创建失败。']);
  // No runtime at all: the runtime box, then creation cannot start.
  await expectBoxThenExit1(standin.runtimeEnv(session, { noRuntime: true }),
    ['未检测到 Microsoft Edge WebView2 Runtime。|请到官网安装运行时后重新打开 OVRA-Zirer。']);
  assert.equal(standin.chromiumProcessesUnder(session.dir).length, 0);
});

test('a restart right after close waits out the browser still holding the data folder', async (t) => {
  // Longer than the host's wait at exit plus a quick start: the second run must keep trying.
  const linger = { OVRA_STANDIN_LINGER_MS: '12000' };
  const host = await startHost(linger);
  const closedAt = Date.now();
  const result = await closeHost(host);
  assert.equal(result && result.code, 0);
  t.diagnostic(`first run ended ${((Date.now() - closedAt) / 1000).toFixed(1)} s after close`);
  const old = standin.chromiumProcessesUnder(session.dir);
  assert.ok(old.length > 0, 'its browser still runs');

  const startedAt = Date.now();
  const again = session.spawn(host.exe, [], { env: host.env });
  let second;
  try {
    // The old browser still answers on the same DevTools port until it has gone.
    await waitFor(() => !old.some((pid) => fs.existsSync(`/proc/${pid}`)),
      { what: 'the old browser to end', timeoutMs: 30000 });
    second = await standin.reconnectPage(host.port, { what: 'hostReady after the restart',
      ready: () => document.getElementById('versionLabel').textContent === 'v1.0.4' });
    t.diagnostic(`restart at once: page back after ${((Date.now() - startedAt) / 1000).toFixed(1)} s`);
    await standin.expectNoDialog(session);
  } finally {
    const end = await closeHost({ browser: second && second.browser, run: again });
    assert.equal(end && end.code, 0);
  }
});

// The window has given up on its view: it stays with its one-line notice (much wider
// than the start-up text) and no box, and still closes with 0.
async function noticeShownThenClosed(host) {
  const info = await probe(session, 'info');
  assert.ok(info, 'the main window is still there');
  await readableText(session, info, 400, 'the notice');
  await standin.expectNoDialog(session);
  const result = await closeHost({ run: host.run });
  assert.equal(result && result.code, 0);
}

test('a page that keeps crashing is not reloaded for ever: the window says so', async (t) => {
  const host = await startHost();
  let { browser, page } = host;
  // Three crashes a minute are reloaded, the next is not. The page is crashed again each
  // time it is back, until the host lets its browser go: on a slow machine a reload can
  // take long enough for an early crash to leave the minute, and then it takes one more.
  let crashes = 0;
  const started = Date.now();
  for (;;) {
    await page.evaluate(() => { window.beforeCrash = true; });
    const cdp = await page.context().newCDPSession(page);
    const crashed = page.waitForEvent('crash', { timeout: 20000 });
    cdp.send('Page.crash').catch(() => {});
    await crashed;
    crashes++;
    await browser.close().catch(() => {});
    const back = await waitFor(async () => {
      if (!standin.chromiumProcessesUnder(session.dir).length) return 'let go';
      return standin.tryPage(host.port, () => !window.beforeCrash && !!window.__ovra &&
        document.querySelectorAll('#events > *').length > 0);
    }, { what: `the page or its end after crash ${crashes}`, timeoutMs: 90000, intervalMs: 250 });
    if (back === 'let go') break;
    ({ browser, page } = back);
    assert.ok(crashes < 10, `still reloaded after ${crashes} crashes`);
  }
  t.diagnostic(`let go after ${crashes} crashes in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  assert.ok(crashes >= 3, `given up after ${crashes} crashes`);
  await noticeShownThenClosed(host);
});

test('a browser that keeps dying is created again three times, then the window says so and still closes', async (t) => {
  const host = await startHost();
  let { browser } = host;
  await standin.hostReady(host.page);
  for (let death = 1; death <= 4; death++) {
    const cdp = await browser.newBrowserCDPSession();
    const at = Date.now();
    cdp.send('Browser.crash').catch(() => {});
    await browser.close().catch(() => {});
    if (death === 4) break;
    ({ browser } = await standin.reconnectPage(host.port, {
      ready: () => document.getElementById('versionLabel').textContent === 'v1.0.4',
      what: `page after browser death ${death}`, timeoutMs: 60000,
    }));
    t.diagnostic(`browser death ${death}: page back after ${((Date.now() - at) / 1000).toFixed(1)} s`);
  }
  // Given up: no browser comes back.
  await waitFor(() => standin.chromiumProcessesUnder(session.dir).length === 0,
    { what: 'the browser to end', timeoutMs: 20000 });
  await sleep(8000);
  assert.deepEqual(standin.chromiumProcessesUnder(session.dir), []);
  await noticeShownThenClosed(host);
});
