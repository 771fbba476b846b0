'use strict';
// The desktop host on the runtime stand-in, under Wine: the page in the window, the
// bridge script, requests only from the page, hostReady after every navigation, the
// error boxes, and no Chromium left behind.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startWineSession, waitFor, sleep } = require('../support/wine.js');
const standin = require('../support/browser-runtime.js');

let session;
before(async () => { session = await startWineSession(); });
after(async () => { if (session) await session.stop(); });

const startHost = (extraEnv) => standin.startHost(session, extraEnv);

async function closeHost(host) {
  await host.browser.close().catch(() => {});
  // Alt+F4 on the main window: the system menu's close, so WM_CLOSE as from the frame.
  const win = session.windows('^OVRA-Zirer$')[0];
  if (win) session.xdotool('key', '--window', win.id, 'alt+F4');
  const result = await Promise.race([host.run.exited, sleep(15000).then(() => null)]);
  if (!result) host.run.child.kill('SIGKILL');
  return result;
}

test('the page fills the window, has the bridge first and hears hostReady after every load', async () => {
  const host = await startHost();
  const { page } = host;
  try {
    // hostReady reaches the real page: its version label switches to the host's version.
    await waitFor(() => page.evaluate(() =>
      document.getElementById('versionLabel').textContent === 'v1.0.4'), { what: 'hostReady' });
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
    await sleep(3000);
    assert.equal(await infos(), 3);
    await page.evaluate(() => window.chrome.webview.postMessage({ cmd: 'getHostInfo' }));
    await waitFor(async () => (await infos()) === 4, { what: 'hostInfo after the frame' });

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
    const result = await closeHost(host);
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
  const result = await Promise.race([run.exited, sleep(20000).then(() => null)]);
  if (!result) run.child.kill('SIGKILL');
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
  await waitFor(() => host.page.evaluate(() =>
    document.getElementById('versionLabel').textContent === 'v1.0.4'), { what: 'hostReady' });
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
    second = await standin.connectToPage(host.port, '/ui/index.html');
    await waitFor(() => second.page.evaluate(() =>
      document.getElementById('versionLabel').textContent === 'v1.0.4').catch(() => false),
    { what: 'hostReady after the restart', timeoutMs: 30000 });
    t.diagnostic(`restart at once: page back after ${((Date.now() - startedAt) / 1000).toFixed(1)} s`);
    assert.deepEqual(standin.dialogTexts(session), []);
  } finally {
    const end = await closeHost({ browser: second ? second.browser : { close: async () => {} }, run: again });
    assert.equal(end && end.code, 0);
  }
});

test('a page that keeps crashing is not reloaded for ever: the window says so', async () => {
  const host = await startHost();
  let { browser, page } = host;
  // Three crashes within a minute are reloaded; the fourth is not.
  for (let crash = 1; crash <= 4; crash++) {
    await page.waitForFunction(() => document.querySelectorAll('#events > *').length > 0);
    const cdp = await page.context().newCDPSession(page);
    cdp.send('Page.crash').catch(() => {});
    if (crash === 4) break;
    await sleep(1000);
    await browser.close().catch(() => {});
    ({ browser, page } = await waitFor(async () => {
      let c = null;
      try {
        c = await standin.connectToPage(host.port, '/ui/index.html', 5000);
        await c.page.waitForFunction(() => document.querySelectorAll('#events > *').length > 0,
          null, { timeout: 10000 });
        return c;
      } catch {
        // A connection to the page that has not come back yet is not left open.
        if (c) await c.browser.close().catch(() => {});
        return null;
      }
    }, { what: `page after crash ${crash}`, timeoutMs: 60000 }));
  }
  await browser.close().catch(() => {});
  // The view is given up: its browser ends, the window stays with its notice and no box.
  await waitFor(() => standin.chromiumProcessesUnder(session.dir).length === 0,
    { what: 'the browser to be let go', timeoutMs: 20000 });
  const win = await session.findWindow('OVRA-Zirer', { exact: true });
  assert.ok(win);
  assert.deepEqual(standin.dialogTexts(session), []);
  // The notice is wider than the start-up text: light pixels well left of the centre.
  const image = session.grab();
  const cx = win.x + Math.trunc(win.width / 2);
  const cy = win.y + Math.trunc(win.height / 2);
  let light = 0;
  for (let y = cy - 30; y <= cy + 30; y++) {
    for (let x = cx - 400; x <= cx - 200; x++) {
      const [r, g, b] = image.pixel(x, y);
      if (r > 150 && g > 150 && b > 150) light++;
    }
  }
  assert.ok(light > 50, `only ${light} light pixels of the notice`);
  const result = await closeHost({ browser, run: host.run });
  assert.equal(result && result.code, 0);
});
