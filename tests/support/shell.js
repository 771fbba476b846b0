'use strict';
// Starts the desktop program in its own folder on the Wine drive and looks at its main
// window from outside. The program is given a stand-in browser runtime whose factory
// accepts the request and never answers, so the window stays on its start-up screen.

const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { waitFor, sleep, exitWithin, BUILD_DIR, EXE } = require('./wine.js');

const FIXTURES = path.join(BUILD_DIR, 'tests', 'unit');
const PROBE = path.join(FIXTURES, 'winprobe.exe');

// Lays out C:\runtime as a browser runtime whose client library logs its calls.
function installFakeRuntime(session) {
  const x64 = path.join(session.cDrive, 'runtime', 'EBWebView', 'x64');
  fs.mkdirSync(x64, { recursive: true });
  fs.copyFileSync(path.join(FIXTURES, 'fake_client.dll'),
    path.join(x64, 'EmbeddedBrowserWebView.dll'));
  return {
    env: {
      WEBVIEW2_BROWSER_EXECUTABLE_FOLDER: 'C:\\runtime',
      OVRA_FAKE_CLIENT_LOG: 'C:\\runtime\\calls.txt',
    },
    calls: () => {
      const log = path.join(session.cDrive, 'runtime', 'calls.txt');
      return fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '';
    },
  };
}

// Copies the program into C:\<folder> unless it is there already; returns both paths.
function placeExe(session, folder) {
  const dir = path.join(session.cDrive, folder);
  fs.mkdirSync(dir, { recursive: true });
  const exe = path.join(dir, 'OVRA-Zirer.exe');
  if (!fs.existsSync(exe)) fs.copyFileSync(EXE, exe);
  return { dir, exe: `C:\\${folder.replace(/\//g, '\\')}\\OVRA-Zirer.exe` };
}

// The main window as the program's own platform sees it, or null when there is none.
async function probe(session, ...args) {
  const r = await session.run(PROBE, args, { timeoutMs: 30000 });
  if (r.code === 2) return null;
  if (r.code !== 0) throw new Error(`winprobe ${args.join(' ')} exited ${r.code}`);
  return args[0] === 'info' ? JSON.parse(r.stdout) : true;
}

// The client area on the screen, from the main window's info.
const clientRect = (info) =>
  ({ x: info.origin[0], y: info.origin[1], width: info.client[0], height: info.client[1] });

// The program's own text on its client area (start-up screen, notice), once it is drawn
// wider than `minWidth` and not as boxes: its light box.
function readableText(session, info, minWidth, what) {
  const client = clientRect(info);
  return session.waitForScreen((image) => {
    const text = image.lightBox(client);
    return text.width > minWidth && image.missingGlyphs(client) < 2 ? text : null;
  }, { what, describe: (image) => `text ${JSON.stringify(image.lightBox(client))}, ` +
    `${image.missingGlyphs(client)} glyphs drawn as boxes` });
}

// Waits until the main window's info satisfies `check`, and returns it.
function windowState(session, check, what) {
  return waitFor(async () => {
    const w = await probe(session, 'info');
    return w && check(w) ? w : null;
  }, { what });
}

// Starts the desktop host and waits until its main window is up and painted.
async function startDesktop(session, runtime, exe, args = []) {
  const app = session.spawn(exe, args, { env: runtime.env });
  let ended = null;
  app.exited.then((r) => { ended = r; });
  await waitFor(async () => ended || (await probe(session, 'info')),
    { timeoutMs: 30000, intervalMs: 500, what: 'the main window' });
  if (ended) throw new Error(`program ended early with ${ended.code}: ${ended.stdout}`);
  await sleep(1000);
  return app;
}

// Closes the window as the frame's close button would; resolves with the exit code.
async function closeDesktop(session, app) {
  await probe(session, 'close');
  const result = await exitWithin(app, 20000);
  return result ? result.code : 'still running';
}

// After a failed test: close what is left, and end the session's programs if that fails,
// so the next test does not meet a running first instance.
async function endLeftovers(session) {
  if (!(await probe(session, 'info'))) return;
  await probe(session, 'close');
  await sleep(3000);
  if (await probe(session, 'info')) {
    spawnSync('wineserver', ['-k'], { env: session.env, stdio: 'ignore', timeout: 20000 });
  }
}

// Visible X windows titled like the program: its main window and any message box.
function titledWindows(session) {
  return session.windows('^OVRA-Zirer$').filter((w) => w.name === 'OVRA-Zirer');
}

module.exports = { installFakeRuntime, placeExe, probe, windowState, readableText, clientRect, startDesktop, closeDesktop,
  endLeftovers, titledWindows, FIXTURES };
