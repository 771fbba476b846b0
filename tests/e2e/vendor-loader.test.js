'use strict';
// The program as built with the vendor's loader library embedded instead of our own
// (scripts/test.sh builds it next to the main build when the vendor's file is there):
// it writes that library out, passes the smoke test and starts on the desktop.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startWineSession, BUILD_DIR } = require('../support/wine.js');
const standin = require('../support/browser-runtime.js');
const { VENDOR_LOADER } = require('../support/loader-cases.js');

const VENDOR_BUILD = path.resolve(process.env.OVRA_VENDOR_BUILD_DIR || `${BUILD_DIR}-vendor`);
const VENDOR_EXE = path.join(VENDOR_BUILD, 'OVRA-Zirer.exe');
const skip = !fs.existsSync(VENDOR_LOADER) ? `the vendor's loader is not at ${VENDOR_LOADER}`
  : !fs.existsSync(VENDOR_EXE) ? `no program built with the vendor's loader at ${VENDOR_EXE}`
    : false;

let session;
before(async () => { if (!skip) session = await startWineSession(); });
after(async () => { if (session) await session.stop(); });

const install = (name) => standin.installApp(session, name, VENDOR_EXE);

test('the smoke test passes on the vendor\'s loader', { skip }, async () => {
  const exe = install('smoke');
  const r = await session.run(exe, ['--smoke'], { env: standin.runtimeEnv(session, {}), timeoutMs: 60000 });
  assert.deepEqual(r.stdout.split('\n').filter(Boolean), ['SMOKE ui extracted OK', 'SMOKE loader OK',
    'SMOKE env OK', 'SMOKE controller OK', 'SMOKE nav success=1', 'SMOKE PASS: WebView2 + UI loaded']);
  assert.equal(r.code, 0);
  assert.ok(fs.readFileSync(path.join(path.dirname(exe), 'WebView2Loader.dll'))
    .equals(fs.readFileSync(VENDOR_LOADER)), 'the library written out is the vendor\'s');
});

test('the desktop host starts on the vendor\'s loader and closes with 0', { skip }, async () => {
  const port = await standin.freePort();
  const run = session.spawn(install('desktop'), [], { env: standin.runtimeEnv(session, { port }) });
  const { browser, page } = await standin.connectToPage(port, '/ui/index.html');
  let result;
  try {
    await standin.hostReady(page);
  } finally {
    result = await standin.closeHost(session, { browser, run }, { altF4: true });
  }
  assert.equal(result && result.code, 0);
});
