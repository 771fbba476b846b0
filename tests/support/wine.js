'use strict';
// Runs Windows executables under Wine on a private Xvfb display, in a fresh prefix per
// session. A pristine prefix is made once (wineboot is slow) and copied for each session.
// The Node tests use startWineSession; the shell scripts bring up the same kind of
// session through this file's command line (`start` / `stop`, see the end).

const { spawn, spawnSync, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const os = require('node:os');

const REPO = path.resolve(__dirname, '..', '..');
const BUILD_DIR = path.resolve(process.env.OVRA_BUILD_DIR || path.join(REPO, 'build'));
const EXE = path.join(BUILD_DIR, 'OVRA-Zirer.exe');
const WINE_ENV = { WINEDEBUG: '-all', WINEDLLOVERRIDES: 'mscoree,mshtml=' };
const CONVERT = fs.existsSync('/usr/bin/convert') ? '/usr/bin/convert' : 'convert';

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function waitFor(check, { timeoutMs = 15000, intervalMs = 100, what = 'condition' } = {}) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await sleep(intervalMs);
  }
}

// A display that does not come up within five seconds is given up for the next number;
// when none comes up at all, this throws rather than going on without a display.
// `detached` leaves Xvfb running after this process ends (for the shell scripts).
async function startXvfb(dir, { detached = false } = {}) {
  for (let n = 200 + (process.pid % 300); n < 900; n++) {
    if (fs.existsSync(`/tmp/.X11-unix/X${n}`) || fs.existsSync(`/tmp/.X${n}-lock`)) continue;
    const log = fs.openSync(path.join(dir, `xvfb-${n}.log`), 'w');
    const proc = spawn('Xvfb', [`:${n}`, '-screen', '0', '1920x1080x24', '-nolisten', 'tcp'], {
      stdio: ['ignore', log, log], detached,
    });
    if (detached) proc.unref();
    fs.closeSync(log);
    let exited = false;
    proc.on('exit', () => { exited = true; });
    try {
      await waitFor(() => exited || fs.existsSync(`/tmp/.X11-unix/X${n}`), {
        timeoutMs: 5000, what: 'Xvfb',
      });
    } catch { /* fall through: try the next number */ }
    if (!exited && fs.existsSync(`/tmp/.X11-unix/X${n}`)) return { proc, display: `:${n}` };
    if (!exited) proc.kill('SIGKILL');
  }
  throw new Error('no free X display for Xvfb');
}

function stopXvfb(xvfb) {
  if (xvfb && xvfb.proc.exitCode === null) xvfb.proc.kill('SIGTERM');
}

// The pristine prefix: given by the test script, or made once under /tmp.
async function templatePrefix() {
  if (process.env.OVRA_WINE_TEMPLATE && fs.existsSync(process.env.OVRA_WINE_TEMPLATE)) {
    return process.env.OVRA_WINE_TEMPLATE;
  }
  const template = path.join(os.tmpdir(), `ovra-wine-template-${process.getuid()}`);
  const lock = `${template}.lock`;
  if (fs.existsSync(path.join(template, 'system.reg'))) return template;
  // mkdir is atomic: one process builds, the others wait for it.
  let mine = false;
  try { fs.mkdirSync(lock); mine = true; } catch { /* someone else builds it */ }
  if (!mine) {
    await waitFor(() => !fs.existsSync(lock), { timeoutMs: 180000, what: 'template prefix' });
    if (fs.existsSync(path.join(template, 'system.reg'))) return template;
    throw new Error('template prefix was not built');
  }
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-wineboot-'));
  let xvfb;
  try {
    xvfb = await startXvfb(work);
    const prefix = path.join(work, 'prefix');
    const env = { ...process.env, ...WINE_ENV, WINEPREFIX: prefix, DISPLAY: xvfb.display };
    spawnSync('wineboot', ['-i'], { env, stdio: 'ignore', timeout: 180000 });
    spawnSync('wineserver', ['-w'], { env, stdio: 'ignore', timeout: 60000 });
    spawnSync('wineserver', ['-k'], { env, stdio: 'ignore' });
    fs.rmSync(template, { recursive: true, force: true });
    execFileSync('cp', ['-a', prefix, template]);
    return template;
  } finally {
    stopXvfb(xvfb);
    fs.rmSync(work, { recursive: true, force: true });
    fs.rmSync(lock, { recursive: true, force: true });
  }
}

// "Z:\..." path of a Unix path (Wine maps / to Z:).
function winPath(unixPath) {
  return 'Z:' + path.resolve(unixPath).replace(/\//g, '\\');
}

// Reads a whole PPM (P6) image into {width, height, rgb}.
function parsePpm(buf) {
  let pos = 0;
  const fields = [];
  while (fields.length < 4) {
    while (/\s/.test(String.fromCharCode(buf[pos]))) pos++;
    if (buf[pos] === 0x23) { while (buf[pos] !== 0x0a) pos++; continue; }
    let start = pos;
    while (!/\s/.test(String.fromCharCode(buf[pos]))) pos++;
    fields.push(buf.toString('latin1', start, pos));
  }
  pos++;
  const [magic, w, h] = fields;
  if (magic !== 'P6') throw new Error('not a P6 image');
  return { width: Number(w), height: Number(h), rgb: buf.subarray(pos) };
}

// Linux processes started for the session, found by the session folder in their command
// line: the browser stand-in's guard and Chromium, which end only after Wine has gone.
function sessionProcesses(dir) {
  const pids = [];
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name) || Number(name) === process.pid) continue;
    let cmdline;
    try { cmdline = fs.readFileSync(`/proc/${name}/cmdline`, 'latin1'); } catch { continue; }
    if (cmdline.includes(`${dir}/`)) pids.push(Number(name));
  }
  return pids;
}

// Ends the session's Wine and whatever it started, before its folder is removed: Chromium
// still writing its profile made the removal fail, so the guards get time to take their
// browsers down, and what lingers past that is killed.
async function closeSession(dir, env) {
  spawnSync('wineserver', ['-k'], { env, stdio: 'ignore', timeout: 20000 });
  // The server writes the registry out as it goes.
  spawnSync('wineserver', ['-w'], { env, stdio: 'ignore', timeout: 20000 });
  await waitFor(() => sessionProcesses(dir).length === 0,
    { timeoutMs: 10000, what: 'the session\'s processes to end' }).catch(() => {});
  for (const pid of sessionProcesses(dir)) {
    try { process.kill(-pid, 'SIGKILL'); } catch { /* not a group leader */ }
    try { process.kill(pid, 'SIGKILL'); } catch { /* already gone */ }
  }
}

function removeSessionFolder(dir) {
  fs.rmSync(dir, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
}

// A session folder with a display and a fresh prefix copied from the template.
async function openSession(tag, { detached = false } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), tag));
  try {
    const template = await templatePrefix();
    const xvfb = await startXvfb(dir, { detached });
    const prefix = path.join(dir, 'prefix');
    execFileSync('cp', ['-a', template, prefix]);
    return { dir, xvfb, prefix };
  } catch (e) {
    fs.rmSync(dir, { recursive: true, force: true });
    throw e;
  }
}

async function startWineSession(options = {}) {
  const { dir, xvfb, prefix } = await openSession('ovra-e2e-');
  const env = { ...process.env, ...WINE_ENV, WINEPREFIX: prefix, DISPLAY: xvfb.display,
    ...(options.env || {}) };
  const children = new Set();

  // Starts a Windows program; `exited` resolves with its exit code and output.
  function spawnExe(exe, args = [], opts = {}) {
    const child = spawn('wine', [exe, ...args], {
      cwd: opts.cwd || dir,
      env: { ...env, ...(opts.env || {}) },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    children.add(child);
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (d) => { stdout += d.toString('utf8'); });
    child.stderr.on('data', (d) => { stderr += d.toString('utf8'); });
    // Linux programs a Windows program starts inherit its pipes and may hold them open
    // long after it exits, so the exit itself is what counts, with a short grace for output.
    const exited = new Promise((resolve) => {
      child.on('exit', (code, signal) => {
        children.delete(child);
        let done = false;
        const finish = () => { if (!done) { done = true; resolve({ code, signal, stdout, stderr }); } };
        child.on('close', finish);
        setTimeout(finish, 500);
      });
    });
    return { child, exited };
  }

  async function run(exe, args = [], opts = {}) {
    const timeoutMs = opts.timeoutMs || 60000;
    const { child, exited } = spawnExe(exe, args, opts);
    let timer;
    const timeout = new Promise((_, reject) => {
      timer = setTimeout(() => {
        child.kill('SIGKILL');
        reject(new Error(`${path.basename(exe)} ${args.join(' ')} did not exit in ${timeoutMs} ms`));
      }, timeoutMs);
    });
    try {
      return await Promise.race([exited, timeout]);
    } finally {
      clearTimeout(timer);
    }
  }

  function x11(tool, args, opts = {}) {
    const r = spawnSync(tool, args, { env, encoding: opts.encoding || 'utf8',
      maxBuffer: 64 << 20, timeout: 20000 });
    return r;
  }

  // Visible top-level X windows whose title matches, with their geometry.
  function windows(title = '.') {
    const ids = x11('xdotool', ['search', '--onlyvisible', '--name', title]).stdout
      .split('\n').filter(Boolean);
    return ids.map((id) => {
      const info = {};
      for (const line of x11('xdotool', ['getwindowgeometry', '--shell', id]).stdout.split('\n')) {
        const m = /^(\w+)=(.*)$/.exec(line);
        if (m) info[m[1]] = Number(m[2]);
      }
      const name = x11('xdotool', ['getwindowname', id]).stdout.replace(/\n$/, '');
      return { id, name, x: info.X, y: info.Y, width: info.WIDTH, height: info.HEIGHT };
    });
  }

  function findWindow(title, opts = {}) {
    return waitFor(() => windows(title).find((w) => w.name === title || !opts.exact) || null,
      { timeoutMs: opts.timeoutMs || 20000, what: `window "${title}"` });
  }

  // The whole display as {width, height, rgb}; pixel(x, y) gives [r, g, b].
  function grab() {
    const xwd = x11('xwd', ['-root', '-silent', '-display', xvfb.display], { encoding: 'buffer' });
    const ppm = spawnSync(CONVERT, ['xwd:-', 'ppm:-'], { input: xwd.stdout, maxBuffer: 64 << 20 });
    const image = parsePpm(ppm.stdout);
    image.pixel = (x, y) => {
      const i = (y * image.width + x) * 3;
      return [image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]];
    };
    return image;
  }

  function screenshot(pngPath) {
    fs.mkdirSync(path.dirname(pngPath), { recursive: true });
    const xwd = x11('xwd', ['-root', '-silent', '-display', xvfb.display], { encoding: 'buffer' });
    spawnSync(CONVERT, ['xwd:-', `png:${pngPath}`], { input: xwd.stdout, maxBuffer: 64 << 20 });
    return pngPath;
  }

  async function stop() {
    for (const child of children) child.kill('SIGKILL');
    await closeSession(dir, env);
    stopXvfb(xvfb);
    if (!process.env.OVRA_KEEP_E2E) removeSessionFolder(dir);
  }

  return {
    dir, prefix, env, display: xvfb.display,
    cDrive: path.join(prefix, 'drive_c'),
    winPath, spawn: spawnExe, run, windows, findWindow, grab, screenshot, stop,
    xdotool: (...args) => x11('xdotool', args),
  };
}

module.exports = { startWineSession, templatePrefix, winPath, waitFor, sleep, REPO, BUILD_DIR, EXE };

// For the shell scripts (scripts/wine-session.sh):
//   node wine.js start        prints the session as shell assignments, or fails with a
//                             message and exit code 1
//   node wine.js stop DIR PID ends the session's Wine and Xvfb and removes its folder
async function main([command, ...args]) {
  if (command === 'start') {
    const { dir, xvfb, prefix } = await openSession('ovra-wine.', { detached: true });
    const quote = (v) => `'${String(v).replace(/'/g, `'\\''`)}'`;
    process.stdout.write(`WINE_SESSION_DIR=${quote(dir)}\nWINE_SESSION_XVFB=${xvfb.proc.pid}\n` +
      `DISPLAY=${quote(xvfb.display)}\nWINEPREFIX=${quote(prefix)}\n`);
  } else if (command === 'stop') {
    const [dir, pid] = args;
    if (dir && fs.existsSync(path.join(dir, 'prefix'))) {
      await closeSession(dir, { ...process.env, WINEPREFIX: path.join(dir, 'prefix') });
    }
    if (Number(pid) > 0) {
      try { process.kill(Number(pid), 'SIGTERM'); } catch { /* already gone */ }
      await waitFor(() => { try { process.kill(Number(pid), 0); return false; } catch { return true; } },
        { timeoutMs: 5000, what: 'Xvfb to end' }).catch(() => {});
    }
    if (dir) removeSessionFolder(dir);
  } else {
    throw new Error('usage: wine.js start | stop DIR PID');
  }
}

if (require.main === module) {
  main(process.argv.slice(2)).catch((e) => {
    process.stderr.write(`wine session: ${e.message}\n`);
    process.exit(1);
  });
}
