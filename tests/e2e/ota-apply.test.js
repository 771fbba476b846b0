'use strict';
// --apply-ota of the real exe under Wine: download through the update server stand-in,
// digest check by the verifier stand-in, and the swap done by Wine's own cmd. Then the
// trial of what was swapped in: updates that do not come up are rolled back.

const { test, before, after, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { startOtaSession, startUpdateServer, waitFor, TEST_KEY } = require('../support/ota.js');
const { probe } = require('../support/shell.js');
const { chromiumProcessesUnder } = require('../support/browser-runtime.js');
const { writeRelease } = require('../../scripts/release.js');

let ctx;
before(async () => { ctx = await startOtaSession(); });
after(async () => { if (ctx) await ctx.stop(); });
beforeEach(async () => { await ctx.reinstall(); });

const verifierCalls = () =>
  (fs.existsSync(ctx.verifierLog) ? fs.readFileSync(ctx.verifierLog, 'utf8').split('\n').filter(Boolean) : []);

async function expectReplaced(timeoutMs = 20000) {
  await waitFor(() => ctx.digestOf(ctx.exe) === ctx.offeredDigest, { timeoutMs, what: 'exe replaced' });
  await waitFor(() => ctx.runFiles().length === 0 && ctx.stagedFiles().length === 0,
    { timeoutMs: 10000, what: 'the run\'s files removed' });
  assert.equal(ctx.digestOf(`${ctx.exe}.bak`), ctx.installedDigest);
}

// The installed program as it was, and nothing of the run left anywhere.
function expectUntouched() {
  assert.equal(ctx.digestOf(ctx.exe), ctx.installedDigest);
  assert.equal(fs.existsSync(`${ctx.exe}.bak`), false);
  assert.deepEqual(ctx.runFiles(), []);
  assert.deepEqual(ctx.stagedFiles(), []);
}

// Log lines of the updating process, without those of the download answering --version.
const ownLog = (mark) => ctx.logSince(mark).filter((l) => !/^headless mode=--version exe=.*\\Temp\\/i.test(l));

test('an available update is downloaded, verified and swapped in by the script', async () => {
  const calls = verifierCalls().length;
  const mark = ctx.logMark();
  const r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 0, r.stdout);
  assert.equal(r.lines[0], 'upgrading 1.0.4 -> 1.0.5');
  assert.equal(r.lines.at(-1), 'update script launched, app will be replaced');
  // The last block already reaches 100, then the final report repeats it.
  const progress = r.lines.slice(1, -1);
  assert.ok(progress.every((l) => /^download (0|20|40|60|80|100)%$/.test(l)), progress.join('|'));
  assert.deepEqual(progress.slice(-2), ['download 100%', 'download 100%']);
  const log = ownLog(mark);
  assert.deepEqual(log.slice(3), ['download http://127.0.0.1:8791/ota/OVRA-Zirer.exe',
    'verify sha256', 'update script launched']);
  // The download was asked for its version before it went anywhere near the exe.
  assert.ok(ctx.logSince(mark).some((l) => /^headless mode=--version exe=.*\\Temp\\OVRA-Zirer\.[0-9A-F-]+\.new\.exe$/i.test(l)));
  // The verifier ran from the system folder with the manifest's digest.
  const call = verifierCalls().slice(calls);
  assert.equal(call.length, 1);
  assert.match(call[0], /^exit=0 "C:\\windows\\system32\\WindowsPowerShell\\v1\.0\\powershell\.exe" -NoProfile -Command "if \(\(Get-FileHash -Algorithm SHA256 -LiteralPath '/i);
  assert.ok(call[0].includes(ctx.offeredDigest));
  await expectReplaced();
});

test('a digest in upper case matches; a download without a length still completes', async () => {
  await ctx.server.control({ sha256: ctx.offeredDigest.toUpperCase(), fileFault: 'nolength' });
  const r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 0, r.stdout);
  assert.deepEqual(r.lines.slice(1, -1), ['download 100%']);
  await expectReplaced();
});

test('a digest mismatch gives 3 and leaves the exe alone', async () => {
  await ctx.server.control({ manifestFault: 'wrongdigest' });
  const mark = ctx.logMark();
  const r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 3, r.stdout);
  assert.equal(r.lines.at(-1), 'sha256 mismatch');
  assert.deepEqual(ownLog(mark).slice(-2), ['verify sha256', 'sha256 mismatch']);
  expectUntouched();
});

test('a signed digest that is not 64 hex digits is refused before anything is fetched', async () => {
  const calls = verifierCalls().length;
  for (const sha256 of ["abc') { exit 0 }; ('", ctx.offeredDigest.slice(1), `${ctx.offeredDigest}0`, 'omit']) {
    await ctx.server.control({ sha256, clearRequests: true });
    const r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 7, sha256);
    assert.deepEqual(r.lines, ['update refused: signed manifest has no valid sha256 digest, nothing was downloaded']);
    const asked = (await ctx.server.requests()).filter((q) => q.url.includes('/ota/'));
    assert.ok(asked.length === 1 && asked[0].url.endsWith('/version.json'), sha256);
    expectUntouched();
  }
  assert.equal(verifierCalls().length, calls);
});

test('a page instead of the program fails the digest check', async () => {
  await ctx.server.control({ fileFault: 'html200' });
  const r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 3, r.stdout);
  expectUntouched();
});

test('a release folder written by the release command is installed', async () => {
  const out = path.join(ctx.root, 'release');
  writeRelease({ program: ctx.offered, version: '1.0.5', url: 'http://127.0.0.1:8791/ota/OVRA-Zirer.exe',
    key: TEST_KEY, out, notes: '发布' });
  const release = await startUpdateServer(ctx.root, ['--release', out]);
  try {
    const env = { http_proxy: `http://127.0.0.1:${release.port}` };
    const check = await ctx.run(['--check-ota'], { env });
    assert.equal(check.code, 10, check.stdout);
    assert.equal(check.lines[4], `sha256=${ctx.offeredDigest}`);
    const r = await ctx.run(['--apply-ota'], { env });
    assert.equal(r.code, 0, r.stdout);
    await expectReplaced();
  } finally {
    await release.stop();
  }
});

test('without a working PowerShell the digest is checked in-process', async () => {
  const saved = `${ctx.powershell}.away`;
  fs.renameSync(ctx.powershell, saved);
  try {
    await ctx.server.control({ manifestFault: 'wrongdigest' });
    let r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 3, r.stdout);
    expectUntouched();
    await ctx.server.control({ manifestFault: 'none' });
    r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 0, r.stdout);
    await expectReplaced();
  } finally {
    fs.renameSync(saved, ctx.powershell);
  }
});

test('a second update while one is running is refused and changes nothing', async () => {
  await ctx.server.control({ fileFault: 'trickle', trickleBytes: 65536, trickleDelayMs: 250 });
  const first = ctx.spawn(['--apply-ota']);
  let out = '';
  first.child.stdout.on('data', (d) => { out += d; });
  // Its first progress line comes after it logged its download, which must not count.
  await waitFor(() => /download \d+%/.test(out), { timeoutMs: 30000, what: 'first update' });
  const mark = ctx.logMark();
  const second = await ctx.run(['--apply-ota']);
  assert.equal(second.code, 4, second.stdout);
  assert.equal(second.lines.at(-1), 'another update is in progress, nothing was changed');
  assert.ok(!ctx.logSince(mark).some((l) => l.startsWith('download')));
  const done = await first.exited;
  assert.equal(done.code, 0, done.stdout);
  await expectReplaced();
});

test('the swap waits while the old exe is still running', async () => {
  // Hold the installed exe open first: a check whose manifest trickles in slowly.
  await ctx.server.control({ manifestFault: 'trickle', trickleBytes: 8, trickleDelayMs: 700,
    clearRequests: true });
  const busy = ctx.spawn(['--check-ota']);
  let running = true;
  busy.exited.then(() => { running = false; });
  await waitFor(async () => (await ctx.server.requests()).some((q) => /version\.json/.test(q.url)),
    { timeoutMs: 30000, what: 'the busy check to ask for the manifest' });
  await ctx.server.control({ manifestFault: 'none', clearRequests: true });
  const r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 0, r.stdout);
  // The script's first copy comes about two seconds after launch; the exe is still busy.
  await new Promise((resolve) => setTimeout(resolve, 3000));
  assert.ok(running, 'the running exe should outlast the first copy attempt');
  assert.equal(ctx.digestOf(ctx.exe), ctx.installedDigest);
  const result = await busy.exited;
  assert.equal(result.code, 10, result.stdout);
  await expectReplaced();
});

test('a body cut off on the way is a failed download that never shows 100%', async () => {
  for (const fileFault of ['chunkcut', 'cutnolength', 'resetmid', 'short']) {
    await ctx.server.control({ fileFault });
    const mark = ctx.logMark();
    const r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 2, `${fileFault}: ${r.stdout}`);
    assert.equal(r.lines.at(-1), 'download failed', fileFault);
    assert.ok(!r.lines.includes('download 100%'), `${fileFault}: ${r.lines.join('|')}`);
    assert.deepEqual(ownLog(mark).slice(-1), ['download failed'], fileFault);
    expectUntouched();
  }
});

test('a stalled download fails after the stall time', async () => {
  await ctx.server.control({ fileFault: 'stall' });
  const started = Date.now();
  const r = await ctx.run(['--apply-ota'], { timeoutMs: 120000 });
  const took = Date.now() - started;
  assert.equal(r.code, 2, r.stdout);
  assert.ok(took >= 29000 && took < 75000, `took ${took} ms`);
  expectUntouched();
});

test('a download over the size cap or that is no program is refused', async () => {
  for (const [fileFault, code] of [['oversize', 2], ['notpe', 3]]) {
    await ctx.server.control({ fileFault });
    const r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, code, `${fileFault}: ${r.stdout}`);
    expectUntouched();
  }
});

test('a download that reports another version than offered changes nothing', async () => {
  // The installed build sold as the next one, and the next one sold as a later one.
  for (const [change, reported, offered] of [[{ file: 'OVRA-Zirer-1.0.4.exe' }, '1.0.4', '1.0.5'],
    [{ version: '1.0.6' }, '1.0.5', '1.0.6']]) {
    await ctx.server.control(change);
    const mark = ctx.logMark();
    const r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 5, r.stdout);
    const line = `update failed: the downloaded program reports version "${reported}", not ${offered}`;
    assert.equal(r.lines.at(-1), `${line}, nothing was changed`);
    assert.equal(ownLog(mark).at(-1), line);
    expectUntouched();
    await ctx.server.control({ file: 'OVRA-Zirer.exe', version: '1.0.5' });
  }
});

test('a program folder that cannot be written is found before the download', async () => {
  await ctx.server.control({ clearRequests: true });
  execFileSync('chattr', ['+i', ctx.appDir]);
  let r;
  try {
    r = await ctx.run(['--apply-ota']);
  } finally {
    execFileSync('chattr', ['-i', ctx.appDir]);
  }
  assert.equal(r.code, 6, r.stdout);
  assert.match(r.lines.at(-1), /^update failed: cannot write to the program folder C:\\Apps\\.*, nothing was changed$/);
  const asked = (await ctx.server.requests()).map((q) => q.url).filter((u) => u.includes('/ota/'));
  assert.ok(asked.every((u) => u.endsWith('/version.json')), asked.join(' '));
  expectUntouched();
});

test('a command processor that will not run the script is a failed update', async () => {
  const cmd = path.join(ctx.session.cDrive, 'windows', 'system32', 'cmd.exe');
  fs.renameSync(cmd, `${cmd}.away`);
  fs.copyFileSync(ctx.fixture('blocked_cmd.exe'), cmd);
  let r;
  try {
    // Wine prefers its own cmd to the file in the system folder unless told otherwise.
    r = await ctx.run(['--apply-ota'], { env: { WINEDLLOVERRIDES: 'mscoree,mshtml=;cmd.exe=n' } });
  } finally {
    fs.rmSync(cmd);
    fs.renameSync(`${cmd}.away`, cmd);
  }
  assert.equal(r.code, 6, r.stdout);
  assert.equal(r.lines.at(-1), 'update failed: the update script could not be started, nothing was changed');
  assert.ok(!r.lines.includes('update script launched, app will be replaced'));
  expectUntouched();
});

test('a program held by another process for a minute is replaced once it is free', async () => {
  const locker = ctx.session.spawn(ctx.fixture('file_locker.exe'), [ctx.exeWin, '60000', 'read']);
  let out = '';
  locker.child.stdout.on('data', (d) => { out += d; });
  await waitFor(() => out.includes('locked'), { timeoutMs: 30000, what: 'the file to be held' });
  const r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 0, r.stdout);
  await new Promise((resolve) => setTimeout(resolve, 15000));
  assert.equal(ctx.digestOf(ctx.exe), ctx.installedDigest, 'replaced while held');
  assert.equal(ctx.stagedFiles().length, 1);
  await locker.exited;
  await expectReplaced(60000);
});

const rolledBack = (mark, why) => ctx.logSince(mark).includes(`update rolled back: 1.0.5 ${why}`);
const marker = (suffix) => {
  try { return fs.readFileSync(`${ctx.exe}${suffix}`, 'utf8').trim(); } catch { return null; }
};

// The old program is back, whole, without a backup, and its start took the undone note.
async function expectRolledBack(mark, why) {
  await waitFor(() => rolledBack(mark, why), { timeoutMs: 120000, what: 'the roll-back' }).catch((e) => {
    throw new Error(`${e.message}; log: ${ctx.logSince(mark).join(' | ')}; trial: ${marker('.trial')}`);
  });
  assert.equal(ctx.digestOf(ctx.exe), ctx.installedDigest);
  assert.equal(fs.existsSync(`${ctx.exe}.bak`), false);
  assert.equal(marker('.trial'), null);
  await waitFor(() => marker('.undone') === null, { timeoutMs: 30000, what: 'the old program to start' });
}

async function closeWindow() {
  await probe(ctx.session, 'close');
  await waitFor(() => !ctx.session.windows('^OVRA-Zirer$').length, { timeoutMs: 30000, what: 'the window to close' });
  await waitFor(() => chromiumProcessesUnder(ctx.session.dir).length === 0,
    { timeoutMs: 20000, what: 'Chromium to end with the program' });
}

test('a page-started update to a release that cannot open its window is rolled back and the page says so', async () => {
  await ctx.server.control({ file: 'OVRA-Zirer-broken.exe' });
  const mark = ctx.logMark();
  const app = await ctx.startDesktop();
  let { browser, page } = await ctx.openPage(app.port);
  await page.evaluate(() => window.__ovra.post({ cmd: 'applyOta' }));
  const exit = await Promise.race([app.run.exited, new Promise((r) => setTimeout(r, 120000))]);
  assert.ok(exit && exit.code === 0, 'the window closed for the update');
  await browser.close().catch(() => {});
  await expectRolledBack(mark, 'ended before it came up');

  // The old program, started by the roll-back on the same runtime, tells the user once
  // and does not offer the same version again.
  ({ browser, page } = await ctx.openPage(app.port));
  try {
    await page.locator('#events', { hasText: '升级失败: update to 1.0.5 failed and was undone' })
      .waitFor({ timeout: 60000 });
    const status = await page.evaluate(() => new Promise((resolve) => {
      window.__ovra.on('otaStatus', resolve);
      window.__ovra.post({ cmd: 'checkOta' });
    }));
    assert.deepEqual(status, { available: false, version: '1.0.5' });
    assert.equal(await page.locator('#versionLabel').innerText(), 'v1.0.4');
  } finally {
    await browser.close().catch(() => {});
    await closeWindow();
  }
});

test('a new program killed during its first desktop start after --apply-ota is rolled back', async () => {
  const r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 0, r.stdout);
  await waitFor(() => ctx.digestOf(ctx.exe) === ctx.offeredDigest && ctx.scripts().length === 0,
    { timeoutMs: 60000, what: 'the swap' });
  assert.equal(marker('.trial'), 'unwatched');
  const mark = ctx.logMark();
  // Its page never reports loaded, so it stays on trial until it is killed.
  const app = await ctx.startDesktop({ OVRA_STANDIN_FAULT: 'nav-hang' });
  await waitFor(() => ctx.logSince(mark).includes('update trial: 1.0.5 started'),
    { timeoutMs: 60000, what: 'the trial and its watcher' });
  assert.equal(marker('.trial'), 'running');
  app.run.child.kill('SIGKILL');
  await app.run.exited;
  await expectRolledBack(mark, 'ended before it came up');
  await closeWindow();
});
