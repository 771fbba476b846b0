'use strict';
// --smoke on the runtime stand-in: the stage lines and the exit code of each outcome.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { startWineSession, waitFor } = require('../support/wine.js');
const standin = require('../support/browser-runtime.js');

let session;
before(async () => { session = await startWineSession(); });
after(async () => { if (session) await session.stop(); });

async function smoke(name, options, prepare) {
  const exe = standin.installApp(session, name);
  if (prepare) prepare(path.dirname(exe));
  const result = await session.run(exe, ['--smoke'], {
    env: standin.runtimeEnv(session, options), timeoutMs: 60000,
  });
  // Wine itself ending by a signal is no exit code of ours: say what it printed.
  assert.ok(result.code !== null,
    `--smoke ended by ${result.signal}; its last output:\n${result.stderr.slice(-2000)}`);
  return { code: result.code, lines: result.stdout.split('\n').filter(Boolean) };
}

// The guard ends Chromium within a few seconds of the program's exit.
function noBrowserLeft() {
  return waitFor(() => standin.chromiumProcessesUnder(session.dir).length === 0,
    { what: 'Chromium to end', timeoutMs: 10000 });
}

const START = ['SMOKE ui extracted OK', 'SMOKE loader OK'];

test('passes with a working runtime and leaves no browser behind', async () => {
  const r = await smoke('pass', {});
  assert.deepEqual(r.lines, [...START, 'SMOKE env OK', 'SMOKE controller OK',
    'SMOKE nav success=1', 'SMOKE PASS: WebView2 + UI loaded']);
  assert.equal(r.code, 0);
  await noBrowserLeft();
});

test('creation failures end with their line and code', async () => {
  let r = await smoke('no-runtime', { noRuntime: true });
  assert.deepEqual(r.lines, [...START, 'SMOKE FAIL: CreateEnv hr=0x80070002']);
  assert.equal(r.code, 4);

  r = await smoke('create-env', { fault: 'create-env' });
  assert.deepEqual(r.lines, [...START, 'SMOKE FAIL: CreateEnv hr=0x80070002']);
  assert.equal(r.code, 4);

  r = await smoke('env', { fault: 'env' });
  assert.deepEqual(r.lines, [...START, 'SMOKE FAIL: env hr=0x80004005',
    'SMOKE FAIL: navigation not success']);
  assert.equal(r.code, 6);

  r = await smoke('controller', { fault: 'controller' });
  assert.deepEqual(r.lines, [...START, 'SMOKE env OK', 'SMOKE FAIL: controller hr=0x80004005',
    'SMOKE FAIL: navigation not success']);
  assert.equal(r.code, 6);

  r = await smoke('no-view', { fault: 'no-view' });
  assert.deepEqual(r.lines, [...START, 'SMOKE env OK', 'SMOKE FAIL: controller hr=0x8007139F',
    'SMOKE FAIL: navigation not success']);
  assert.equal(r.code, 6);
  await noBrowserLeft();
});

test('a navigation that never completes times out with code 5', async () => {
  const started = Date.now();
  const r = await smoke('hang', { fault: 'nav-hang' });
  assert.deepEqual(r.lines, [...START, 'SMOKE env OK', 'SMOKE controller OK',
    'SMOKE FAIL: navigation timeout']);
  assert.equal(r.code, 5);
  assert.ok(Date.now() - started >= 15000);
});

test('a read-only folder without a page gives code 2 and one line', async () => {
  let dir;
  try {
    const r = await smoke('readonly', {}, (d) => { dir = d; execFileSync('chattr', ['+i', d]); });
    assert.deepEqual(r.lines, ['SMOKE FAIL: ui\\index.html missing after extract']);
    assert.equal(r.code, 2);
    assert.ok(!fs.existsSync(path.join(dir, 'ui')));
  } finally {
    if (dir) execFileSync('chattr', ['-i', dir]);
  }
});
