'use strict';
// --apply-ota of the real exe under Wine: download through the update server stand-in,
// digest check by the verifier stand-in, and the swap done by Wine's own cmd.

const { test, before, after, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { startOtaSession, waitFor } = require('../support/ota.js');

let ctx;
before(async () => { ctx = await startOtaSession(); });
after(async () => { if (ctx) await ctx.stop(); });
beforeEach(async () => { await ctx.reinstall(); });

const verifierCalls = () =>
  (fs.existsSync(ctx.verifierLog) ? fs.readFileSync(ctx.verifierLog, 'utf8').split('\n').filter(Boolean) : []);

async function expectReplaced() {
  await waitFor(() => ctx.digestOf(ctx.exe) === ctx.offeredDigest, { timeoutMs: 20000, what: 'exe replaced' });
  await waitFor(() => !fs.existsSync(ctx.script) && !fs.existsSync(ctx.download),
    { timeoutMs: 10000, what: 'download and script removed' });
  assert.equal(ctx.digestOf(`${ctx.exe}.bak`), ctx.installedDigest);
}

function expectUntouched() {
  assert.equal(ctx.digestOf(ctx.exe), ctx.installedDigest);
  assert.equal(fs.existsSync(`${ctx.exe}.bak`), false);
  assert.equal(fs.existsSync(ctx.script), false);
}

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
  const log = ctx.logSince(mark);
  assert.deepEqual(log.slice(3), ['download http://127.0.0.1:8791/ota/OVRA-Zirer.exe',
    'verify sha256', 'update script launched']);
  // The verifier ran from the system folder with the manifest's digest.
  const call = verifierCalls().slice(calls);
  assert.equal(call.length, 1);
  assert.match(call[0], /^exit=0 "C:\\windows\\system32\\WindowsPowerShell\\v1\.0\\powershell\.exe" -NoProfile -Command "if \(\(Get-FileHash/i);
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
  assert.deepEqual(ctx.logSince(mark).slice(-2), ['verify sha256', 'sha256 mismatch']);
  expectUntouched();
});

test('a digest that is not 64 hex digits is a mismatch and starts no verifier', async () => {
  const calls = verifierCalls().length;
  for (const sha256 of ["abc') { exit 0 }; ('", ctx.offeredDigest.slice(1), `${ctx.offeredDigest}0`]) {
    await ctx.server.control({ sha256 });
    const r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 3, sha256);
    expectUntouched();
  }
  assert.equal(verifierCalls().length, calls);
});

test('download failures give 2 and leave the exe alone', async () => {
  for (const fault of ['404', '500', 'empty', 'short', 'reset']) {
    await ctx.server.control({ fileFault: fault });
    const mark = ctx.logMark();
    const r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 2, `${fault}: ${r.stdout}`);
    assert.equal(r.lines.at(-1), 'download failed', fault);
    assert.equal(ctx.logSince(mark).at(-1), 'download failed', fault);
    expectUntouched();
  }
});

test('without a digest a file that is not an executable is refused', async () => {
  await ctx.server.control({ sha256: 'omit', fileFault: 'html200' });
  let r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 2, r.stdout);
  expectUntouched();
  // With a digest, the same page is caught by the check.
  await ctx.server.control({ sha256: null });
  r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 3, r.stdout);
  expectUntouched();
  // And a real executable without a digest goes through.
  await ctx.server.control({ sha256: 'omit', fileFault: 'none' });
  r = await ctx.run(['--apply-ota']);
  assert.equal(r.code, 0, r.stdout);
  await expectReplaced();
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
  await waitFor(() => out.includes('upgrading'), { timeoutMs: 30000, what: 'first update' });
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
