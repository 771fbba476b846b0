'use strict';
// What end-to-end tests need to run the host on this runtime stand-in: the environment
// that selects it, the DevTools port of its Chromium, the host's message boxes, and a
// check that no Chromium of a test is left behind.

const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { waitFor, sleep, BUILD_DIR, EXE } = require('./wine.js');

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

// A private copy of the program: it writes its page files next to itself.
function installApp(session, name = 'app') {
  const dir = path.join(session.dir, name);
  fs.mkdirSync(dir, { recursive: true });
  const exe = path.join(dir, 'OVRA-Zirer.exe');
  fs.copyFileSync(EXE, exe);
  return exe;
}

// Environment for a run on the stand-in; `port` fixes Chromium's DevTools port.
function runtimeEnv(session, { port, fault, noRuntime } = {}) {
  const env = {};
  if (!noRuntime) env.WEBVIEW2_BROWSER_EXECUTABLE_FOLDER = session.winPath(RUNTIME_DIR);
  if (port) env.OVRA_STANDIN_CDP_PORT = String(port);
  if (fault) env.OVRA_STANDIN_FAULT = fault;
  return env;
}

// The texts of the message boxes titled "OVRA-Zirer" now on screen (line breaks as "|").
function dialogTexts(session) {
  const r = require('node:child_process').spawnSync('wine', [DIALOG_TEXT, 'OVRA-Zirer'], {
    env: session.env, encoding: 'utf8', timeout: 20000,
  });
  return r.status === 0 ? r.stdout.split(/\r?\n/).filter(Boolean) : [];
}

async function waitForDialog(session, timeoutMs = 30000) {
  const texts = await waitFor(() => {
    const found = dialogTexts(session);
    return found.length ? found : null;
  }, { timeoutMs, intervalMs: 300, what: 'message box' });
  return texts[0];
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
  const page = await waitFor(() => {
    for (const context of browser.contexts()) {
      for (const p of context.pages()) if (p.url().includes(urlPart)) return p;
    }
    return null;
  }, { timeoutMs, intervalMs: 100, what: `page ${urlPart}` });
  return { browser, page };
}

// Starts a private copy of the desktop host on the stand-in, with a fixed DevTools port,
// and connects to its page.
async function startHost(session, extraEnv = {}) {
  const port = await freePort();
  const exe = installApp(session, `app-${port}`);
  const env = { ...runtimeEnv(session, { port }), ...extraEnv };
  const run = session.spawn(exe, [], { env });
  const { browser, page } = await connectToPage(port, '/ui/index.html');
  return { port, exe, env, run, browser, page };
}

module.exports = {
  RUNTIME_DIR, freePort, installApp, runtimeEnv, dialogTexts, waitForDialog, dismissDialog,
  chromiumProcessesUnder, connectToPage, startHost,
};
