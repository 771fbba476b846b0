'use strict';
// The main window and the browser control together, as a user meets them on the runtime
// stand-in: typing reaches the page without a click (at start, after a restore, after a
// second start), the view's first paint is the page's dark colour, and moves, minimising
// and a change of monitor scale reach the control. The stand-in records what the host
// told the controller; keys reach its page only through the keyboard focus. The view keeps
// our page whatever is dropped on it or opened from it, and the page keeps working the
// window when the program starts from a path the browser spells differently.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startWineSession, waitFor, exitWithin, EXE } = require('../support/wine.js');
const { probe, windowState } = require('../support/shell.js');
const standin = require('../support/browser-runtime.js');

const PAGE_BACKGROUND = [0x07, 0x0b, 0x14];

let session;
before(async () => { session = await startWineSession(); });
after(async () => { if (session) await session.stop(); });

// The host on the stand-in, with its record file and the page reached over DevTools.
async function startHost(extraEnv = {}) {
  const recordFile = path.join(session.dir, `record-${Date.now()}.txt`);
  const host = await standin.startHost(session,
    { OVRA_STANDIN_RECORD: session.winPath(recordFile), ...extraEnv });
  return { ...host, record: () => standin.recordLines(recordFile) };
}

const closeHost = (host) => standin.closeHost(session, host);

// The host's own window on the display (the page is drawn by headless Chromium).
function hostWindow() {
  const found = session.windows('^OVRA-Zirer$').filter((w) => w.width > 700);
  assert.equal(found.length, 1, 'one main window');
  return found[0];
}

// Types as a user does: keys go to whatever has the keyboard focus in the host.
async function typeAndRead(host, text) {
  await host.page.evaluate(() => { document.getElementById('input').value = ''; });
  session.xdotool('type', '--window', hostWindow().id, '--delay', '40', text);
  return waitFor(async () => {
    const value = await host.page.evaluate(() => document.getElementById('input').value);
    return value === text ? value : null;
  }, { timeoutMs: 8000, what: `"${text}" in the chat box` }).catch(() =>
    host.page.evaluate(() => document.getElementById('input').value));
}

const state = (check, what) => windowState(session, check, what);

test('typing reaches the chat box at start, after a restore and after a second start', async () => {
  const host = await startHost();
  try {
    assert.equal(await typeAndRead(host, 'hello'), 'hello');
    assert.equal((await probe(session, 'info')).focus, 'OvraStandinView');
    assert.ok(host.record().includes('focus 0'), 'focus was moved programmatically');

    // Minimised, the view is hidden (it stops rendering); restored, it is shown again and
    // has the keyboard again.
    await probe(session, 'minimize');
    await state((w) => w.iconic === 1, 'minimised window');
    await waitFor(() => host.record().at(-1) === 'visible 0' || null, { what: 'view hidden' });
    await probe(session, 'restore');
    await state((w) => w.iconic === 0, 'restored window');
    await waitFor(() => host.record().includes('visible 1') || null, { what: 'view shown' });
    assert.equal(await typeAndRead(host, 'after restore'), 'after restore');

    // The hand-over: a second start brings the minimised window back, ready for typing.
    await probe(session, 'minimize');
    await state((w) => w.iconic === 1, 'minimised again');
    const second = await session.run(host.exe, [], { env: host.env, timeoutMs: 60000 });
    assert.equal(second.code, 0);
    await state((w) => w.iconic === 0 && w.foreground === 1, 'window back in front');
    assert.equal(await typeAndRead(host, 'second start'), 'second start');

    // Enter in the chat box still belongs to the page, not to the host's window.
    assert.equal(await host.page.evaluate(() => document.activeElement.id), 'input');
  } finally {
    const result = await closeHost(host);
    assert.equal(result && result.code, 0);
  }
});

test('the view paints the page colour first and hears of moves and scale changes', async () => {
  const host = await startHost();
  try {
    assert.ok(host.record().includes('background FF070B14'), host.record().join(' | '));
    // The stand-in paints the default background where the page is not drawn: the first
    // colour the view shows. White here would be the flash between two dark screens.
    const win = hostWindow();
    const shot = session.grab();
    for (const [x, y] of [[win.x + win.width / 2, win.y + win.height / 2],
      [win.x + 40, win.y + win.height - 40]]) {
      const pixel = shot.pixel(Math.trunc(x), Math.trunc(y));
      assert.deepEqual(pixel, PAGE_BACKGROUND, `pixel ${x},${y}`);
    }

    // A move is told to the control, with the client area's new place on the screen.
    const before = host.record().filter((l) => l.startsWith('moved')).length;
    await probe(session, 'move', '60', '50');
    const moved = await waitFor(() => {
      const lines = host.record().filter((l) => l.startsWith('moved'));
      return lines.length > before ? lines.at(-1) : null;
    }, { what: 'position change' });
    const [, x, y] = moved.split(' ').map(Number);
    assert.ok(x >= 60 && x < 80 && y >= 50 && y < 100, moved);

    // A new monitor scale: the window takes the rectangle Windows suggests and the view
    // follows its client area.
    await probe(session, 'dpi', '144', '100', '80', '1300', '900');
    const scaled = await state((w) => w.rect[0] === 100, 'window at the suggested rectangle');
    assert.deepEqual(scaled.rect, [100, 80, 1300, 900]);
    const bounds = await waitFor(() => host.record().filter((l) => l.startsWith('bounds'))
      .find((l) => l === `bounds 0 0 ${scaled.client[0]} ${scaled.client[1]}`) || null,
    { what: 'bounds of the new client area' });
    assert.ok(bounds);
    assert.deepEqual(await host.page.evaluate(() => [innerWidth, innerHeight]), scaled.client);
  } finally {
    const result = await closeHost(host);
    assert.equal(result && result.code, 0);
    assert.equal(host.record().at(-1), 'close');
  }
});

test('a visible browser shows the page alone over the client area and follows the window', async () => {
  const host = await startHost({ OVRA_STANDIN_VISIBLE: '1' });
  // The page's window must lie exactly on the host's client area, with no browser
  // chrome around the page.
  const matches = (what) => waitFor(async () => {
    const info = await probe(session, 'info');
    const got = await host.page.evaluate(() =>
      [screenX, screenY, outerWidth, outerHeight, innerWidth, innerHeight]);
    const want = [...info.origin, ...info.client, ...info.client];
    return JSON.stringify(got) === JSON.stringify(want) ? got : null;
  }, { what, timeoutMs: 10000 });
  try {
    await matches('page window over the client area');
    session.screenshot(path.join(session.dir, 'visible.png'));
    await probe(session, 'move', '40', '30');
    await matches('page window after a move');
    await probe(session, 'move', '200', '120', '1100', '760');
    await matches('page window after a resize');
  } finally {
    const result = await closeHost(host);
    assert.equal(result && result.code, 0);
  }
});

// Makes the user's browser, as Wine's shell starts it for a web link, a script that
// writes down what it was given.
function recordOpenedLinks() {
  const log = path.join(session.dir, 'opened-links.txt');
  const script = path.join(session.dir, 'user-browser.sh');
  fs.writeFileSync(script, `#!/bin/sh\necho "$@" >> '${log}'\n`, { mode: 0o755 });
  const r = require('node:child_process').spawnSync('wine', ['reg', 'add',
    'HKCU\\Software\\Wine\\WineBrowser', '/v', 'Browsers', '/d', script, '/f'],
  { env: session.env, stdio: 'ignore', timeout: 60000 });
  assert.equal(r.status, 0);
  return () => (fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '');
}

test('the cockpit stays put under drops, navigations and new windows; camera and microphone yes, location no', async (t) => {
  const opened = recordOpenedLinks();
  const host = await startHost();
  const { page } = host;
  try {
    assert.ok(host.record().includes('drop 0'), 'external drop turned off');
    await page.evaluate(() => { window.__sameDocument = true; });
    const cdp = await page.context().newCDPSession(page);
    const data = { items: [{ mimeType: 'text/uri-list', data: 'https://example.com/dropped' }],
      dragOperationsMask: 1 | 2 | 16 };
    for (const type of ['dragEnter', 'dragOver', 'drop']) {
      await cdp.send('Input.dispatchDragEvent', { type, x: 400, y: 300, data });
    }
    // One at a time: a second address set at once could replace the first before the
    // host is asked about it.
    for (const url of ['https://example.com/away', 'file:///C:/windows/win.ini']) {
      await page.evaluate((to) => { location.href = to; }, url);
      await waitFor(() => host.record().find((l) => l.startsWith(`navigation ${url} `)) || null,
        { what: `the host's answer to ${url}` });
      assert.ok(host.record().includes(`navigation ${url} cancelled`), url);
    }
    await page.evaluate(() => {
      window.open('https://example.com/popup');
      const link = Object.assign(document.createElement('a'),
        { href: 'https://example.com/blank', target: '_blank' });
      document.body.appendChild(link);
      link.click();
      link.remove();
      window.open('file:///C:/windows/notepad.exe');
      // Last, so that whatever the host handed on before it has arrived once it has.
      window.open('https://example.com/last');
    });

    // The camera and microphone buttons work without anybody answering a prompt.
    await page.locator('#btnCam').click();
    await page.locator('#btnMic').click();
    await waitFor(async () => (await page.locator('#btnCam').innerText()).includes('关闭视频') &&
      (await page.locator('#btnMic').innerText()).includes('关闭语音') || null,
    { what: 'camera and microphone on', timeoutMs: 20000 });
    const located = await page.evaluate(() => new Promise((resolve) => {
      navigator.geolocation.getCurrentPosition(() => resolve('granted'),
        (e) => resolve(e.code === e.PERMISSION_DENIED ? 'denied' : `error ${e.code}`));
    }));
    assert.equal(located, 'denied');
    // Nothing was kept in the profile: the next request asks the host again and is
    // granted again.
    const kept = path.join(standin.dataFolder(session), 'standin-permissions');
    assert.equal(fs.existsSync(kept) && fs.readFileSync(kept, 'utf8'), false, 'answers kept in the profile');
    assert.equal(await page.evaluate(() => navigator.mediaDevices.getUserMedia({ audio: true })
      .then((s) => { s.getTracks().forEach((t) => t.stop()); return 'ok'; }, (e) => e.name)), 'ok');

    // Web links went to the user's browser, nothing else did.
    await waitFor(() => opened().includes('example.com/last') || null,
      { what: 'web links in the user browser', timeoutMs: 20000 });
    // The same document, not even reloaded, and no popup of the control's own.
    assert.equal(await page.evaluate(() => window.__sameDocument), true);
    assert.match(page.url(), /\/ui\/index\.html$/);
    const { targetInfos } = await cdp.send('Target.getTargets');
    assert.deepEqual(targetInfos.filter((t) => t.type === 'page' && t.openerId), []);
    assert.deepEqual(opened().trim().split('\n').sort(),
      ['https://example.com/blank', 'https://example.com/last', 'https://example.com/popup']);
    // The buttons took the page's focus: back to the chat box, as a user would.
    await page.locator('#input').click();
    assert.equal(await typeAndRead(host, 'still here'), 'still here');

    // about:blank goes through whatever the host answers, as in the real control: the
    // page comes back by itself, with its welcome, the host's version and the bridge.
    const shown = [];
    page.on('framenavigated', (f) => { if (f === page.mainFrame()) shown.push(f.url()); });
    const leftAt = Date.now();
    await page.evaluate(() => { location.href = 'about:blank'; }).catch(() => {});
    await waitFor(() => page.evaluate(() => !window.__sameDocument &&
      document.getElementById('versionLabel').textContent === 'v1.0.4' &&
      document.body.innerText.includes('你好，我是 OVRA-Zirer')).catch(() => false),
    { what: 'the cockpit back after about:blank', timeoutMs: 20000 });
    t.diagnostic(`about:blank: page back with hostReady after ${Date.now() - leftAt} ms`);
    assert.ok(shown.includes('about:blank'), `shown: ${shown.join(' ')}`);
    assert.match(page.url(), /\/ui\/index\.html$/);
    assert.equal(await page.evaluate(() => new Promise((resolve) => {
      const emit = window.__ovra.emit;
      window.__ovra.emit = function (name, payload) {
        if (name === 'hostInfo') resolve(payload.version);
        return emit.apply(this, arguments);
      };
      window.__host.post({ cmd: 'getHostInfo' });
      setTimeout(() => resolve('no answer'), 5000);
    })), '1.0.4');
  } finally {
    const result = await closeHost(host);
    assert.equal(result && result.code, 0);
  }
});

// Starts the program as `exe` (a Windows path) and works the window with the page's own
// buttons: they only do anything when the host takes the page's requests as its own.
async function windowButtonsWork(exe) {
  const port = await standin.freePort();
  const env = standin.runtimeEnv(session, { port });
  const run = session.spawn(exe, [], { env });
  let browser;
  try {
    const found = await standin.connectToPage(port, '/ui/index.html');
    browser = found.browser;
    const { page } = found;
    await standin.hostReady(page);
    await page.locator('#btnMax').click();
    await state((w) => w.zoomed === 1, 'maximised by the page');
    await page.locator('#btnMax').click();
    await state((w) => w.zoomed === 0, 'restored by the page');
    await page.locator('#btnClose').click();
    const result = await exitWithin(run, 15000);
    assert.equal(result && result.code, 0, 'closed by the page');
  } finally {
    if (browser) await browser.close().catch(() => {});
    run.child.kill('SIGKILL');
  }
}

test('started from a lower-case path or from a share, the page still works the window', async () => {
  const dir = path.join(session.cDrive, 'apps', 'ovra');
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(EXE, path.join(dir, 'OVRA-Zirer.exe'));
  await windowButtonsWork('c:\\apps\\ovra\\ovra-zirer.exe');

  // \\server\share\... reaches the folder Wine maps for it under dosdevices\unc.
  const unc = path.join(session.prefix, 'dosdevices', 'unc', 'ovrasrv');
  fs.mkdirSync(unc, { recursive: true });
  fs.symlinkSync(path.join(session.cDrive, 'apps'), path.join(unc, 'tools'));
  await windowButtonsWork('\\\\ovrasrv\\tools\\ovra\\OVRA-Zirer.exe');
});
