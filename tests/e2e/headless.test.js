'use strict';
// --version and --check-ota of the real exe under Wine, against the update server
// stand-in reached as the HTTP proxy.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startOtaSession, TEST_KEY, OTHER_KEY } = require('../support/ota.js');
const { signatureOf, readPrivateKey } = require('../../scripts/release.js');
const fs = require('node:fs');

let ctx;
before(async () => { ctx = await startOtaSession(); });
after(async () => { if (ctx) await ctx.stop(); });

test('--version prints the built-in version twice and logs the run', async () => {
  const mark = ctx.logMark();
  const r = await ctx.run(['--version']);
  assert.equal(r.code, 0);
  assert.deepEqual(r.lines, ['1.0.4', '1.0.4']);
  assert.deepEqual(ctx.logSince(mark), [`headless mode=--version exe=${ctx.exeWin}`]);
});

test('--check-ota with a newer build: six lines (a line break in the notes shown escaped), exit 10, two check lines in the log', async () => {
  await ctx.server.control({ notes: '修复了更新\n第二行', force: true });
  const mark = ctx.logMark();
  const r = await ctx.run(['--check-ota']);
  assert.equal(r.code, 10);
  const url = 'http://127.0.0.1:8791/ota/OVRA-Zirer.exe';
  assert.deepEqual(r.lines, ['local=1.0.4', 'remote=1.0.5', 'available=true', `url=${url}`,
    `sha256=${ctx.offeredDigest}`, 'notes=修复了更新\\n第二行']);
  const log = ctx.logSince(mark);
  assert.equal(log[0], `headless mode=--check-ota exe=${ctx.exeWin}`);
  assert.match(log[1], /^CheckOta http=200 ok=1 bytes=\d+$/);
  assert.equal(log[2], `CheckOta local=1.0.4 remote=1.0.5 cmp=-1 available=1 url=${url} sha256=${ctx.offeredDigest}`);
  // The built-in manifest URL went out through the proxy setting, as an absolute URL.
  const seen = (await ctx.server.requests()).filter((q) => q.url.endsWith('/ota/version.json'));
  assert.equal(seen.at(-1).url, 'http://127.0.0.1:8791/ota/version.json');
  assert.equal(seen.at(-1).agent, 'OVRA-Zirer/1.0');
  await ctx.server.control({ notes: 'bug fixes', force: false });
});

test('--check-ota with the same or an older version: available=false, exit 0', async () => {
  for (const version of ['1.0.4', '1.0.4.7', '1.0.3']) {
    await ctx.server.control({ version });
    const r = await ctx.run(['--check-ota']);
    assert.equal(r.code, 0, version);
    assert.equal(r.lines[1], `remote=${version}`);
    assert.equal(r.lines[2], 'available=false');
  }
  await ctx.server.control({ version: '1.0.5' });
});

test('--check-ota when the manifest cannot be had: empty values, exit 0, cause in the log', async () => {
  const cases = [
    ['404', /^CheckOta http=404 ok=0 bytes=\d+$/],
    ['500', /^CheckOta http=500 ok=0 bytes=6$/],
    ['empty', /^CheckOta http=200 ok=1 bytes=0$/],
    ['short', /^CheckOta http=200 ok=0 bytes=\d+$/],
    ['reset', /^CheckOta http=0 ok=0 bytes=0$/],
    // Cut, oversized and endless manifests are read no further than the cap.
    ['resetmid', /^CheckOta http=200 ok=0 bytes=\d+$/],
    ['oversize', /^CheckOta http=200 ok=0 bytes=0$/],
    ['endless', /^CheckOta http=200 ok=0 bytes=(\d+)$/],
  ];
  for (const [fault, first] of cases) {
    await ctx.server.control({ manifestFault: fault });
    const mark = ctx.logMark();
    const r = await ctx.run(['--check-ota']);
    assert.equal(r.code, 0, fault);
    assert.deepEqual(r.lines, ['local=1.0.4', 'remote=', 'available=false', 'url=', 'sha256=', 'notes='], fault);
    const log = ctx.logSince(mark);
    assert.match(log[1], first, fault);
    assert.ok(Number(/bytes=(\d+)/.exec(log[1])[1]) <= 1 << 20, log[1]);
    assert.equal(log[2], 'CheckOta failed or empty body', fault);
  }
  // Nothing listening at all.
  await ctx.server.control({ manifestFault: 'none' });
  const mark = ctx.logMark();
  const r = await ctx.run(['--check-ota'], { env: { http_proxy: 'http://127.0.0.1:9' } });
  assert.equal(r.code, 0);
  assert.deepEqual(ctx.logSince(mark).slice(1), ['CheckOta http=0 ok=0 bytes=0', 'CheckOta failed or empty body']);
});

test('--check-ota reads manifests with a byte-order mark or without a length', async () => {
  for (const fault of ['bom', 'nolength', 'trickle']) {
    await ctx.server.control({ manifestFault: fault });
    const r = await ctx.run(['--check-ota']);
    assert.equal(r.code, 10, fault);
    assert.equal(r.lines[1], 'remote=1.0.5', fault);
  }
  await ctx.server.control({ manifestFault: 'none' });
});

test('unsigned, wrongly signed and re-signed manifests are refused: own code, clear line, no download', async () => {
  const url = 'http://127.0.0.1:8791/ota/OVRA-Zirer.exe';
  const testKey = readPrivateKey(fs.readFileSync(TEST_KEY));
  const cases = [
    [{ signature: 'omit' }, 'manifest is not signed'],
    // The vendor's signature, but of another offer.
    [{ signature: signatureOf('1.0.5', 'http://elsewhere.example/OVRA-Zirer.exe', ctx.offeredDigest, testKey) },
      'manifest signature does not verify'],
    [{ signKey: OTHER_KEY }, 'manifest signature does not verify'],
    [{ signature: 'c2lnbmVk' }, 'manifest signature is malformed'],
    [{ sha256: 'omit' }, 'signed manifest has no valid sha256 digest'],
    [{ manifestFault: 'html200' }, 'manifest is not signed'],
  ];
  for (const [change, reason] of cases) {
    await ctx.server.control({ ...change, clearRequests: true });
    const mark = ctx.logMark();
    let r = await ctx.run(['--check-ota']);
    assert.equal(r.code, 7, reason);
    assert.deepEqual(r.lines, ['local=1.0.4', 'remote=', 'available=false', 'url=', 'sha256=', 'notes=',
      `update refused: ${reason}`]);
    assert.deepEqual(ctx.logSince(mark).slice(2), [`CheckOta refused: ${reason}`]);

    r = await ctx.run(['--apply-ota']);
    assert.equal(r.code, 7, reason);
    assert.deepEqual(r.lines, [`update refused: ${reason}, nothing was downloaded`]);
    const asked = (await ctx.server.requests()).map((q) => q.url).filter((u) => u.includes('/ota/'));
    assert.ok(asked.length === 2 && asked.every((u) => u.endsWith('/ota/version.json')), asked.join(' '));
    await ctx.server.control({ signature: null, signKey: TEST_KEY, sha256: null, manifestFault: 'none' });
  }
  // The genuine offer still goes through, with the url the signature covers.
  const r = await ctx.run(['--check-ota']);
  assert.equal(r.code, 10);
  assert.equal(r.lines[3], `url=${url}`);
});
