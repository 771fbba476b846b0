'use strict';
// What a user is left with after each kind of update fault: the real exe under Wine runs
// --apply-ota against the update server stand-in (or a hostile machine), then, once any
// swap script has ended, the installed program is run with --version. Prints one row per
// fault: whether the installed program still runs (and which version), the exit code
// and the last console line the user saw. The trial rows then start the new program on
// the desktop (Chromium-backed runtime stand-in) and add the OTA log's verdict and what
// the page of the program running afterwards showed.
//   node bench/ota-faults.js [pattern]   (OVRA_BUILD_DIR selects the build, default build/;
//                                        a pattern runs only the rows whose names match it)
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { startOtaSession, waitFor, OTHER_KEY } = require('../tests/support/ota.js');
const { probe } = require('../tests/support/shell.js');

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
let ctx;

// Holds the installed exe (or another file) open, others may read it, for `ms`.
async function holdExe(ms, file = ctx.exeWin) {
  const locker = ctx.session.spawn(ctx.fixture('file_locker.exe'), [file, String(ms), 'read']);
  let out = '';
  locker.child.stdout.on('data', (d) => { out += d; });
  await waitFor(() => out.includes('locked'), { timeoutMs: 30000, what: 'the exe to be held' });
  return locker;
}

// Linux processes of the Wine session that run the swap script with this name.
function scriptProcesses(name) {
  const ps = spawnSync('ps', ['-eo', 'pid=,args='], { encoding: 'utf8' }).stdout.split('\n');
  return ps.map((l) => l.trim()).filter((l) => /cmd(\.exe)?\b/i.test(l) && l.includes(name))
    .map((l) => Number(l.split(/\s+/)[0]));
}

// After a console update: waits for the swap, then starts the new program on the desktop.
async function startTrial(apply, env) {
  const r = await apply();
  await waitFor(() => ctx.scripts().length === 0, { timeoutMs: 180000, what: 'the swap' });
  const mark = ctx.logMark();
  return { r, mark, app: await ctx.startDesktop(env) };
}

// The trial's verdict in the OTA log and what the page of the program running then shows;
// closes that program.
async function trialOutcome({ r, mark, app }) {
  const verdict = await waitFor(() => ctx.logSince(mark).find((l) =>
    /^update (not )?rolled back|^update trial: \S+ passed/.test(l)),
  { timeoutMs: 240000, what: 'the trial to end' });
  let shown = 'no page';
  try {
    const { browser, page } = await ctx.openPage(app.port);
    const event = page.locator('#events > *', { hasText: '升级失败' });
    await event.first().waitFor({ timeout: 30000 }).catch(() => {});
    shown = (await event.count()) ? (await event.first().innerText()).replace(/^.* · /, '') :
      `page v${(await page.locator('#versionLabel').innerText()).replace(/^v/, '')}, no notice`;
    await browser.close().catch(() => {});
  } catch { /* the page never came */ }
  await probe(ctx.session, 'close').catch(() => {});
  await waitFor(() => !ctx.session.windows('^OVRA-Zirer$').length, { timeoutMs: 30000, what: 'close' })
    .catch(() => {});
  return { code: r.code, line: `${verdict} | page: ${shown}` };
}

const FAULTS = [
  ['no fault (control)', {}],
  ['cut chunked body', { fileFault: 'chunkcut' }],
  ['cut length-less body', { fileFault: 'cutnolength' }],
  ['reset mid-body', { fileFault: 'resetmid' }],
  ['stall (no byte for 30 s)', { fileFault: 'stall' }],
  ['oversize manifest (2 MiB)', { manifestFault: 'oversize' }],
  ['endless manifest', { manifestFault: 'endless' }],
  ['non-PE file', { fileFault: 'notpe' }],
  ['wrong version inside', { file: 'OVRA-Zirer-1.0.4.exe' }],
  ['wrong signature', { signKey: OTHER_KEY }],
  ['missing signature', { signature: 'omit' }],
  ['digest mismatch', { manifestFault: 'wrongdigest' }],
  ['locked program for 60 s', {}, async (apply) => {
    const locker = await holdExe(60000);
    const r = await apply();
    await locker.exited;
    return r;
  }],
  ['unwritable folder', {}, async (apply) => {
    execFileSync('chattr', ['+i', ctx.appDir]);
    try { return await apply(); } finally { execFileSync('chattr', ['-i', ctx.appDir]); }
  }],
  ['script start failure (cmd blocked)', {}, async (apply) => {
    const cmd = path.join(ctx.session.cDrive, 'windows', 'system32', 'cmd.exe');
    fs.renameSync(cmd, `${cmd}.away`);
    fs.copyFileSync(ctx.fixture('blocked_cmd.exe'), cmd);
    // Wine prefers its own cmd to the file in the system folder unless told otherwise.
    try { return await apply({ WINEDLLOVERRIDES: 'mscoree,mshtml=;cmd.exe=n' }); } finally {
      fs.rmSync(cmd);
      fs.renameSync(`${cmd}.away`, cmd);
    }
  }],
  ['two updates at once', { fileFault: 'trickle', trickleBytes: 65536, trickleDelayMs: 150 }, async () => {
    const first = ctx.spawn(['--apply-ota']);
    let out = '';
    first.child.stdout.on('data', (d) => { out += d; });
    await waitFor(() => out.includes('upgrading'), { timeoutMs: 30000, what: 'the first update' });
    const second = await ctx.run(['--apply-ota']);
    const done = await first.exited;
    const last = (s) => s.split(/\r?\n/).filter(Boolean).at(-1);
    return { code: `${done.code}+${second.code}`, line: `${last(done.stdout)} | ${last(second.stdout)}` };
  }],
  ['script killed between backup and rename', {}, async (apply) => {
    const locker = await holdExe(45000);
    const r = await apply();
    await waitFor(() => fs.existsSync(`${ctx.exe}.bak`), { timeoutMs: 30000, what: 'the backup' });
    await sleep(1000);
    const script = ctx.scripts()[0];
    const pids = script ? scriptProcesses(script) : [];
    for (const pid of pids) process.kill(pid, 'SIGKILL');
    r.line += ` [killed ${pids.length} script process(es)]`;
    await locker.exited;
    return r;
  }],
  ['broken-at-start release (trial)', { file: 'OVRA-Zirer-broken.exe' }, async (apply) =>
    trialOutcome(await startTrial(apply))],
  ['killed during the trial', {}, async (apply) => {
    const trial = await startTrial(apply);
    await waitFor(() => fs.existsSync(`${ctx.exe}.trial`) &&
      fs.readFileSync(`${ctx.exe}.trial`, 'utf8').startsWith('running'), { timeoutMs: 60000, intervalMs: 50,
      what: 'the trial' });
    trial.app.run.child.kill('SIGKILL');
    return trialOutcome(trial);
  }],
  ['held backup during roll-back (20 s)', { file: 'OVRA-Zirer-broken.exe' }, async (apply) => {
    const r = await apply();
    await waitFor(() => ctx.scripts().length === 0, { timeoutMs: 180000, what: 'the swap' });
    const locker = await holdExe(20000, `${ctx.exeWin}.bak`);
    const mark = ctx.logMark();
    const outcome = await trialOutcome({ r, mark, app: await ctx.startDesktop() });
    await locker.exited;
    return outcome;
  }],
];

async function runFault([name, change, scenario]) {
  await ctx.reinstall();
  await ctx.server.control(change);
  const apply = async (env = {}) => {
    const r = await ctx.run(['--apply-ota'], { timeoutMs: 180000, env });
    return { code: r.code, line: r.lines.at(-1) || '' };
  };
  const started = Date.now();
  const seen = await (scenario ? scenario(apply) : apply());
  const seconds = (Date.now() - started) / 1000;
  // Swap scripts that still run are given their two minutes; killed ones leave a file.
  await waitFor(() => ctx.scripts().every((s) => scriptProcesses(s).length === 0),
    { timeoutMs: 180000, what: 'swap scripts to end' }).catch(() => {});
  await sleep(500);
  const after = await ctx.run(['--version']);
  const version = after.code === 0 ? after.lines[0] : '';
  return { name, runnable: version === '1.0.4' || version === '1.0.5', version, ...seen, seconds };
}

async function main() {
  ctx = await startOtaSession();
  const rows = [];
  try {
    const only = process.argv[2] ? new RegExp(process.argv[2]) : null;
    for (const fault of FAULTS.filter(([name]) => !only || only.test(name))) {
      const row = await runFault(fault);
      rows.push(row);
      process.stderr.write(`${row.name}: ${row.runnable ? 'runnable' : 'BROKEN'} ${row.version}\n`);
    }
  } finally {
    await ctx.stop();
  }
  const pad = (s, n) => String(s).padEnd(n);
  console.log(`${pad('fault', 40)} ${pad('installed after', 16)} ${pad('exit', 5)} ${pad('s', 6)} user saw`);
  for (const r of rows) {
    console.log(`${pad(r.name, 40)} ${pad(r.runnable ? `runs ${r.version}` : 'BROKEN', 16)} ` +
      `${pad(r.code, 5)} ${pad(r.seconds.toFixed(1), 6)} ${r.line}`);
  }
  console.log(`\n${rows.filter((r) => r.runnable).length} of ${rows.length} rows left a runnable program`);
}

main().catch((e) => { console.error(e); process.exit(1); });
