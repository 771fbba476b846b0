'use strict';
// What end-to-end tests need to run the host on this runtime stand-in: the environment
// that selects it, the DevTools port of its Chromium, the host's message boxes, and a
// check that no Chromium of a test is left behind.

const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { probe } = require('./shell.js');
const { waitFor, sleep, exitWithin, BUILD_DIR, EXE, REPO } = require('./wine.js');

const RUNTIME_DIR = path.join(BUILD_DIR, 'standin-runtime');
const DIALOG_TEXT = path.join(BUILD_DIR, 'tools', 'dialog-text.exe');

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// A private copy of the program (`from`): it writes its page files next to itself.
function installApp(session, name = 'app', from = EXE) {
  const dir = path.join(session.dir, name);
  fs.mkdirSync(dir, { recursive: true });
  const exe = path.join(dir, 'OVRA-Zirer.exe');
  fs.copyFileSync(from, exe);
  return exe;
}

// The host's browser data folder in the session's prefix, where the stand-in keeps its
// profile.
function dataFolder(session) {
  const user = fs.readdirSync(path.join(session.cDrive, 'users')).find((u) => u !== 'Public');
  return path.join(session.cDrive, 'users', user, 'AppData', 'Local', 'OVRA-Zirer', 'WebView2');
}

// The lines the stand-in wrote to its record file so far (none before it exists).
function recordLines(file) {
  return (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '').split(/\r?\n/).filter(Boolean);
}

// Environment for a run on the stand-in; `port` fixes Chromium's DevTools port.
function runtimeEnv(session, { port, fault, noRuntime } = {}) {
  const env = {};
  if (!noRuntime) env.WEBVIEW2_BROWSER_EXECUTABLE_FOLDER = session.winPath(RUNTIME_DIR);
  if (port) env.OVRA_STANDIN_CDP_PORT = String(port);
  if (fault) env.OVRA_STANDIN_FAULT = fault;
  return env;
}

// The texts of the message boxes titled "OVRA-Zirer" now on screen (line breaks as "|"),
// [] when there is none. A look that fails throws: it never passes for "no box".
function dialogTexts(session) {
  const r = spawnSync('wine', [DIALOG_TEXT, 'OVRA-Zirer'], {
    env: session.env, encoding: 'utf8', timeout: 20000,
  });
  if (r.status === 0) return r.stdout.split(/\r?\n/).filter(Boolean);
  if (r.status === 1) return [];
  throw new Error(`could not look for message boxes: ${r.error ? r.error.message
    : `dialog-text ended with ${r.status === null ? r.signal : r.status}`} ${r.stderr || ''}`.trim());
}

async function waitForDialog(session, timeoutMs = 30000) {
  const texts = await waitFor(() => {
    const found = dialogTexts(session);
    return found.length ? found : null;
  }, { timeoutMs, intervalMs: 300, what: 'message box' });
  return texts[0];
}

// Looks for message boxes for `forMs`; any that shows up fails, with the screen kept.
async function expectNoDialog(session, forMs = 3000) {
  const end = Date.now() + forMs;
  do {
    const texts = dialogTexts(session);
    if (texts.length) {
      const shot = session.screenshot(path.join(REPO, 'out', 'test-failures', `box-${Date.now()}.png`));
      throw new Error(`unexpected message box: ${texts.join(' / ')}; screen in ${shot}`);
    }
    await sleep(300);
  } while (Date.now() < end);
}

// Presses Return on the message box: it is the small window titled like the main one.
async function dismissDialog(session) {
  const boxes = session.windows('^OVRA-Zirer$').filter((w) => w.width < 700 && w.height < 400);
  const target = boxes.length ? boxes[boxes.length - 1] : null;
  if (target) {
    session.xdotool('windowactivate', '--sync', target.id);
    session.xdotool('windowfocus', '--sync', target.id);
  }
  session.xdotool('key', 'Return');
  await sleep(200);
}

// Linux processes of Chromium whose profile is inside `root`.
function chromiumProcessesUnder(root) {
  const found = [];
  for (const pid of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(pid)) continue;
    let cmd;
    try { cmd = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8'); } catch { continue; }
    if (cmd.includes('chromium') && cmd.includes(`--user-data-dir=${root}`)) found.push(Number(pid));
  }
  return found;
}

// Connects Playwright to the stand-in's Chromium and returns the page showing `urlPart`.
async function connectToPage(port, urlPart, timeoutMs = 60000) {
  const { chromium } = require('playwright-core');
  const browser = await waitFor(async () => {
    try { return await chromium.connectOverCDP(`http://127.0.0.1:${port}`); } catch { return null; }
  }, { timeoutMs, intervalMs: 250, what: 'DevTools endpoint' });
  const pages = () => browser.contexts().flatMap((context) => context.pages());
  const page = await waitFor(() => pages().find((p) => p.url().includes(urlPart)) || null,
    { timeoutMs, intervalMs: 100, what: `page ${urlPart}` }).catch((err) => {
    throw new Error(`${err.message}; the browser shows ${pages().map((p) => p.url()).join(', ') || 'no page'}`);
  });
  return { browser, page };
}

// The page of `port` once `ready` holds in it, or null; one short attempt, so a crashed or
// hung page (which never answers) costs a few seconds. A connection that found no page
// is closed.
async function tryPage(port, ready, arg, attemptMs = 5000) {
  let found = null;
  try {
    found = await connectToPage(port, '/ui/index.html', attemptMs);
    await found.page.waitForFunction(ready, arg, { timeout: attemptMs });
    return found;
  } catch {
    if (found) await found.browser.close().catch(() => {});
    return null;
  }
}

// The page's script is running and its log has its first lines.
const pageUp = () => !!window.__ovra && document.querySelectorAll('#events > *').length > 0;

// Connects again until the page is back: a browser that lingers after a close, or one
// that is restarting, answers on the same DevTools port until it has gone.
function reconnectPage(port, { ready = pageUp, arg, what = 'the page', timeoutMs = 120000 } = {}) {
  return waitFor(() => tryPage(port, ready, arg), { timeoutMs, intervalMs: 250, what });
}

// Waits for hostReady: the page's version label switches to the host's version.
function hostReady(page, timeoutMs = 30000) {
  return waitFor(() => page.evaluate(() =>
    document.getElementById('versionLabel').textContent === 'v1.0.4').catch(() => false),
  { what: 'hostReady', timeoutMs });
}

// Starts a private copy of the desktop host on the stand-in, with a fixed DevTools port,
// and connects to its page once hostReady has arrived.
async function startHost(session, extraEnv = {}) {
  const port = await freePort();
  const exe = installApp(session, `app-${port}`);
  const env = { ...runtimeEnv(session, { port }), ...extraEnv };
  const run = session.spawn(exe, [], { env });
  try {
    // A creation the host tries again starts a second browser on the same port.
    const { browser, page } = await reconnectPage(port, { timeoutMs: 60000 });
    await hostReady(page);
    return { port, exe, env, run, browser, page };
  } catch (err) {
    // A host left running would answer the next start as the one instance.
    await exitWithin(run, 0);
    throw err;
  }
}

// Closes the host's main window, as its frame's close does or (`altF4`) through the
// system menu's key, and resolves with the exit ({code, ...}), or null when it did not
// end within 15 s (it is killed then).
async function closeHost(session, host, { altF4 = false } = {}) {
  if (host.browser) await host.browser.close().catch(() => {});
  const main = altF4 && session.windows('^OVRA-Zirer$').find((w) => w.width > 700);
  if (main) session.xdotool('key', '--window', main.id, 'alt+F4');
  else await probe(session, 'close');
  return exitWithin(host.run, 15000);
}

module.exports = {
  RUNTIME_DIR, recordLines, freePort, installApp, dataFolder, runtimeEnv, dialogTexts, waitForDialog, expectNoDialog,
  dismissDialog, chromiumProcessesUnder, connectToPage, tryPage, reconnectPage, pageUp, hostReady,
  startHost, closeHost,
};
