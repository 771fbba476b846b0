'use strict';
// Start-up figures of the desktop host on the runtime stand-in, under Wine:
//   window     process start -> main window visible
//   paint      process start -> the view's first paint of the page (its first-paint entry)
//   hostReady  process start -> the page has handled hostReady (its version label changed)
//   floor      the same page loaded in the same Chromium without the host
//              (navigation start -> load event end, from the page's own timing)
//   peak WS    the host process's peak resident set (VmHWM), just before it closes
// Usage: node bench/startup.js [runs=5]   (OVRA_BUILD_DIR selects the build)

const fs = require('node:fs');
const { startWineSession, waitFor, sleep } = require('../tests/support/wine.js');
const standin = require('../tests/support/browser-runtime.js');

const runs = Number(process.argv[2] || 5);
const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

function peakKiB(pid) {
  try {
    const m = /VmHWM:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
    return m ? Number(m[1]) : NaN;
  } catch { return NaN; }
}

async function once(session, exe) {
  const port = await standin.freePort();
  const t0 = Date.now();
  const run = session.spawn(exe, [], { env: standin.runtimeEnv(session, { port }) });
  let ended = null;
  run.exited.then((r) => { ended = r; });
  const win = await waitFor(() => session.windows('^OVRA-Zirer$')[0] || null,
    { intervalMs: 20, timeoutMs: 30000, what: 'window' }).catch((e) => {
    throw new Error(`${e.message}; the host ${ended ? `ended with ${ended.code}` : 'still runs'}`);
  });
  const tWindow = Date.now() - t0;
  const { browser, page } = await standin.connectToPage(port, '/ui/index.html');
  // The page's clock and ours are the same wall clock: its time origin places the paint.
  const painted = await waitFor(() => page.evaluate(() => {
    const entry = performance.getEntriesByName('first-paint')[0] ||
      performance.getEntriesByName('first-contentful-paint')[0];
    return entry ? performance.timeOrigin + entry.startTime : null;
  }).catch(() => null), { intervalMs: 10, what: 'first paint' });
  const tPaint = Math.round(painted - t0);
  await waitFor(() => page.evaluate(() =>
    document.getElementById('versionLabel').textContent === 'v1.0.4').catch(() => false),
  { intervalMs: 10, what: 'hostReady' });
  const tReady = Date.now() - t0;

  // The floor: the same file in a fresh tab of the same browser, no host involved.
  const bare = await browser.contexts()[0].newPage();
  await bare.goto(page.url(), { waitUntil: 'load' });
  const floor = await bare.evaluate(() =>
    performance.getEntriesByType('navigation')[0].loadEventEnd);
  await bare.close();

  const peak = peakKiB(run.child.pid);
  await browser.close();
  session.xdotool('key', '--window', win.id, 'alt+F4');
  const result = await Promise.race([run.exited, sleep(20000).then(() => null)]);
  if (!result) {
    console.error('the host did not exit within 20 s');
    run.child.kill('SIGKILL');
  }
  await waitFor(() => standin.chromiumProcessesUnder(session.dir).length === 0,
    { timeoutMs: 15000, what: 'Chromium to end' });
  return { tWindow, tPaint, tReady, floor, peak };
}

(async () => {
  const session = await startWineSession();
  try {
    const exe = standin.installApp(session);
    await once(session, exe); // warm-up: first start creates the browser profile
    const results = [];
    for (let i = 0; i < runs; i++) {
      const r = await once(session, exe);
      results.push(r);
      console.log(`run ${i + 1}: window ${r.tWindow} ms, paint ${r.tPaint} ms, ` +
        `hostReady ${r.tReady} ms, ` +
        `floor ${r.floor.toFixed(0)} ms, peak ${(r.peak / 1024).toFixed(1)} MiB`);
    }
    console.log(`median of ${runs}: window ${median(results.map((r) => r.tWindow))} ms, ` +
      `first paint ${median(results.map((r) => r.tPaint))} ms, ` +
      `hostReady ${median(results.map((r) => r.tReady))} ms, ` +
      `floor ${median(results.map((r) => r.floor)).toFixed(0)} ms, ` +
      `peak working set ${(median(results.map((r) => r.peak)) / 1024).toFixed(1)} MiB`);
  } finally {
    await session.stop();
  }
})().catch((e) => { console.error(e); process.exit(1); });
