'use strict';
// Shared set-up for the update tests: the update server stand-in as the Wine session's
// HTTP proxy, the digest verifier installed as the prefix's PowerShell, and the exe in
// a folder whose name holds a space, &, %, an apostrophe and Chinese characters. The
// build under test trusts the test signing key, and the stand-in signs with it.

const { spawn } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { startWineSession, waitFor, BUILD_DIR, EXE, REPO } = require('./wine.js');
const { freePort, runtimeEnv, reconnectPage } = require('./browser-runtime.js');

// The next release: the same program built one version up.
const NEXT = path.join(BUILD_DIR, 'OVRA-Zirer-next.exe');
// The next release as one that answers --version but cannot open its window.
const BROKEN = path.join(BUILD_DIR, 'OVRA-Zirer-broken.exe');
const FIXTURES = path.join(BUILD_DIR, 'tests', 'unit');
// An update's own files: in the temporary folder, and the staged program beside the exe.
const RUN_FILE = /^OVRA-Zirer\.[0-9A-Fa-f-]+\.(new\.exe|update\.cmd(\.started)?)$/;
const STAGED_FILE = /^OVRA-Zirer\.exe\.[0-9A-Fa-f-]+\.new$/;

const SERVER = path.join(REPO, 'standins', 'update-server', 'server.js');
const VERIFIER = path.join(BUILD_DIR, 'standins', 'powershell.exe');
const FOLDER = "Apps\\it's a b&c 100% 更新测试";
const KEYS = path.join(REPO, 'tests', 'keys');
const TEST_KEY = path.join(KEYS, 'ota-test-key.private.pem');
const OTHER_KEY = path.join(KEYS, 'ota-other-test-key.private.pem');

// The update tests expect a build that takes only manifests signed with the test key.
function requireTestKeyBuild() {
  const cache = fs.readFileSync(path.join(BUILD_DIR, 'CMakeCache.txt'), 'utf8');
  const key = /^OVRA_OTA_PUBLIC_KEY:FILEPATH=(.*)$/m.exec(cache);
  const want = fs.readFileSync(path.join(KEYS, 'ota-test-key.public.pem'), 'utf8');
  if (!key || !key[1] || !fs.existsSync(key[1]) || fs.readFileSync(key[1], 'utf8') !== want) {
    throw new Error(`${BUILD_DIR} is not built with the test signing key; build it with scripts/build.sh`);
  }
}

const digestOf = (file) => crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');

async function startUpdateServer(root, args = []) {
  const proc = spawn(process.execPath, [SERVER, '--port', '0', '--root', root, ...args],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const port = await new Promise((resolve, reject) => {
    let out = '';
    proc.stdout.on('data', (d) => {
      out += d;
      const m = /listening (\d+)/.exec(out);
      if (m) resolve(Number(m[1]));
    });
    proc.on('exit', () => reject(new Error('update server stand-in exited')));
  });
  const base = `http://127.0.0.1:${port}`;
  async function control(change) {
    const res = await fetch(`${base}/control`, { method: 'POST', body: JSON.stringify(change) });
    if (!res.ok) throw new Error(await res.text());
    return res.json();
  }
  return {
    port, base, control,
    requests: async () => (await (await fetch(`${base}/control`)).json()).requests,
    stop: () => new Promise((resolve) => {
      if (proc.exitCode !== null || proc.signalCode !== null) return resolve();
      proc.on('exit', resolve);
      proc.kill('SIGTERM');
    }),
  };
}

async function startOtaSession() {
  requireTestKeyBuild();
  const session = await startWineSession();
  const root = fs.mkdtempSync(path.join(session.dir, 'server-'));
  // The offered build reports 1.0.5; the installed one is on offer too, under another
  // name, for a server that mislabels it.
  const offered = path.join(root, 'OVRA-Zirer.exe');
  fs.copyFileSync(NEXT, offered);
  fs.copyFileSync(EXE, path.join(root, 'OVRA-Zirer-1.0.4.exe'));
  fs.copyFileSync(BROKEN, path.join(root, 'OVRA-Zirer-broken.exe'));
  const server = await startUpdateServer(root);

  const appDir = path.join(session.cDrive, ...FOLDER.split('\\'));
  fs.mkdirSync(appDir, { recursive: true });
  const exe = path.join(appDir, 'OVRA-Zirer.exe');
  const exeWin = `C:\\${FOLDER}\\OVRA-Zirer.exe`;
  const psDir = path.join(session.cDrive, 'windows', 'system32', 'WindowsPowerShell', 'v1.0');
  fs.mkdirSync(psDir, { recursive: true });
  fs.copyFileSync(VERIFIER, path.join(psDir, 'powershell.exe'));

  const user = fs.readdirSync(path.join(session.cDrive, 'users')).find((u) => u !== 'Public');
  const temp = path.join(session.cDrive, 'users', user, 'Temp');
  const logFile = path.join(session.cDrive, 'users', user, 'AppData', 'Local', 'OVRA-Zirer', 'ota.log');
  const proxyEnv = { http_proxy: `http://127.0.0.1:${server.port}`, no_proxy: '' };

  const ctx = {
    session, server, root, offered, exe, exeWin, appDir, temp, logFile,
    verifierLog: path.join(psDir, 'verifier-calls.log'),
    powershell: path.join(psDir, 'powershell.exe'),
    installedDigest: digestOf(EXE),
    offeredDigest: digestOf(offered),
    digestOf,
    // What update runs have left: their files in the temporary folder and beside the exe.
    runFiles: () => (fs.existsSync(temp) ? fs.readdirSync(temp).filter((f) => RUN_FILE.test(f)) : []),
    stagedFiles: () => fs.readdirSync(appDir).filter((f) => STAGED_FILE.test(f)),
    scripts: () => ctx.runFiles().filter((f) => f.endsWith('.update.cmd')),
    fixture: (name) => path.join(FIXTURES, name),
    // Runs the installed exe with the stand-in as its proxy; lines without CR.
    async run(args, opts = {}) {
      const r = await session.run(exeWin, args,
        { env: { ...proxyEnv, ...(opts.env || {}) }, timeoutMs: opts.timeoutMs || 60000 });
      return { ...r, lines: r.stdout.split(/\r?\n/).filter((l) => l !== '') };
    },
    spawn(args) {
      return session.spawn(exeWin, args, { env: proxyEnv });
    },
    // Starts the installed program on the Chromium-backed runtime stand-in. Whatever it
    // starts (the swap script, the program after it) inherits the same DevTools port.
    async startDesktop(extraEnv = {}) {
      const port = await freePort();
      const env = { ...proxyEnv, ...runtimeEnv(session, { port }), ...extraEnv };
      return { port, run: session.spawn(exeWin, [], { env }) };
    },
    // The page of the program started with `port`, once its script has set up the hub.
    openPage: (port) => reconnectPage(port, { ready: () => !!window.__ovra }),
    // Log lines written since `mark` (a byte offset from logMark()).
    logMark: () => (fs.existsSync(logFile) ? fs.statSync(logFile).size : 0),
    logSince(mark) {
      if (!fs.existsSync(logFile)) return [];
      return fs.readFileSync(logFile).subarray(mark).toString('utf8').split('\r\n').slice(0, -1);
    },
    // Puts the original build back and waits until no swap script is left running.
    async reinstall() {
      await waitFor(() => ctx.scripts().length === 0, { timeoutMs: 150000, what: 'swap script to end' });
      fs.copyFileSync(EXE, exe);
      for (const suffix of ['.bak', '.trial', '.undone', '.lock']) fs.rmSync(`${exe}${suffix}`, { force: true });
      for (const f of ctx.runFiles()) fs.rmSync(path.join(temp, f), { force: true });
      for (const f of ctx.stagedFiles()) fs.rmSync(path.join(appDir, f), { force: true });
      await server.control({ manifestFault: 'none', fileFault: 'none', sha256: null,
        version: '1.0.5', notes: 'bug fixes', force: false, url: null, signature: null,
        signKey: TEST_KEY, file: 'OVRA-Zirer.exe' });
    },
    async stop() {
      await server.stop();
      await session.stop();
    },
  };
  fs.copyFileSync(EXE, exe);
  return ctx;
}

module.exports = { startOtaSession, startUpdateServer, digestOf, waitFor, TEST_KEY, OTHER_KEY, NEXT, BROKEN };
