'use strict';
// Two figures of the host-to-page bridge under Wine with the browser runtime stand-in:
//  1. latency from EmitToPage on a background thread to the listener running in the page,
//     over 1000 events (median and 95th percentile);
//  2. the longest gap between animation frames in the page while a 200 MB update
//     downloads with one progress event per percent.
//   node bench/bridge.js      (OVRA_BUILD_DIR selects the build, default build/)
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { startWineSession, BUILD_DIR, EXE } = require('../tests/support/wine.js');
const { startUpdateServer } = require('../tests/support/ota.js');
const { runtimeEnv, freePort, connectToPage } = require('../tests/support/browser-runtime.js');

const quantile = (xs, q) => {
  const s = [...xs].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.floor(q * s.length))];
};

async function emitLatency(session) {
  const dir = path.join(session.cDrive, 'bench');
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(path.join(BUILD_DIR, 'bench', 'emit_bench.exe'), path.join(dir, 'emit_bench.exe'));
  const port = await freePort();
  const proc = session.spawn('C:\\bench\\emit_bench.exe', [], { env: runtimeEnv(session, { port }) });
  const { browser, page } = await connectToPage(port, 'ui/index.html');
  try {
    await page.waitForFunction(() => window.__ovra, null, { timeout: 30000 });
    await page.evaluate(() => {
      window.__lat = [];
      window.__ovra.on('bench', (p) => window.__lat.push(performance.timeOrigin + performance.now() - p.t));
    });
    fs.writeFileSync(path.join(dir, 'go'), '');
    await page.waitForFunction(() => window.__lat.length >= 1000, null, { timeout: 120000, polling: 200 });
    return await page.evaluate(() => window.__lat);
  } finally {
    await browser.close().catch(() => {});
    proc.child.kill('SIGKILL');
  }
}

async function frameGaps(session) {
  const root = fs.mkdtempSync(path.join(session.dir, 'offer-'));
  // A 200 MB "executable" whose digest will not match, so the update stops after the
  // download and nothing is swapped.
  const fd = fs.openSync(path.join(root, 'OVRA-Zirer.exe'), 'w');
  const block = crypto.randomBytes(1 << 20);
  block[0] = 0x4d; block[1] = 0x5a;
  for (let i = 0; i < 200; i++) fs.writeSync(fd, block);
  fs.closeSync(fd);
  const server = await startUpdateServer(root);
  await server.control({ sha256: 'f'.repeat(64) });
  // Wine's PowerShell is a stub that accepts every digest: use the verifier stand-in.
  const psDir = path.join(session.cDrive, 'windows', 'system32', 'WindowsPowerShell', 'v1.0');
  fs.mkdirSync(psDir, { recursive: true });
  fs.copyFileSync(path.join(BUILD_DIR, 'standins', 'powershell.exe'), path.join(psDir, 'powershell.exe'));
  const appDir = path.join(session.cDrive, 'app');
  fs.mkdirSync(appDir, { recursive: true });
  fs.copyFileSync(EXE, path.join(appDir, 'OVRA-Zirer.exe'));
  const port = await freePort();
  const proc = session.spawn('C:\\app\\OVRA-Zirer.exe', [], {
    env: { ...runtimeEnv(session, { port }), http_proxy: `http://127.0.0.1:${server.port}`, no_proxy: '' },
  });
  const { browser, page } = await connectToPage(port, 'ui/index.html');
  try {
    await page.waitForFunction(() => window.__ovra, null, { timeout: 30000 });
    await page.evaluate(() => {
      window.__frames = [];
      window.__stages = [];
      const tick = (t) => { window.__frames.push(t); requestAnimationFrame(tick); };
      requestAnimationFrame(tick);
      window.__ovra.on('ota', (p) => window.__stages.push({ p, t: performance.now() }));
    });
    // Two quiet seconds first: the same measure without any events, for comparison.
    await new Promise((r) => setTimeout(r, 2000));
    await page.evaluate(() => {
      window.__quietEnd = performance.now();
      window.__ovra.post({ cmd: 'applyOta' });
    });
    await page.waitForFunction(() => window.__stages.some((s) => s.p.stage === 'error'), null,
      { timeout: 600000, polling: 500 });
    return await page.evaluate(() => {
      const longestGap = (frames) => {
        let longest = 0;
        for (let i = 1; i < frames.length; i++) longest = Math.max(longest, frames[i] - frames[i - 1]);
        return longest;
      };
      const quiet = window.__frames.filter((t) => t <= window.__quietEnd);
      const first = window.__stages.find((s) => s.p.stage === 'download').t;
      const last = window.__stages.find((s) => s.p.stage === 'verify').t;
      const frames = window.__frames.filter((t) => t >= first && t <= last);
      const longest = longestGap(frames);
      const events = window.__stages.filter((s) => s.p.stage === 'download').length;
      return { longest, frames: frames.length, quietLongest: longestGap(quiet), quietFrames: quiet.length, seconds: (last - first) / 1000, events,
        error: window.__stages.at(-1).p.message };
    });
  } finally {
    await browser.close().catch(() => {});
    proc.child.kill('SIGKILL');
    await server.stop();
  }
}

async function main() {
  const session = await startWineSession();
  try {
    const lat = await emitLatency(session);
    console.log(`EmitToPage -> page listener, ${lat.length} events from a background thread: ` +
      `median ${quantile(lat, 0.5).toFixed(2)} ms, p95 ${quantile(lat, 0.95).toFixed(2)} ms, ` +
      `max ${Math.max(...lat).toFixed(2)} ms`);
    const g = await frameGaps(session);
    console.log(`200 MB update download: ${g.seconds.toFixed(1)} s, ${g.events} progress events, ` +
      `${g.frames} frames, longest frame gap ${g.longest.toFixed(1)} ms (ended with "${g.error}"); ` +
      `the same page before the update: ${g.quietFrames} frames, longest gap ${g.quietLongest.toFixed(1)} ms`);
  } finally {
    await session.stop();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
