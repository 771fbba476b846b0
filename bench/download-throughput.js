'use strict';
// Throughput of the updater's DownloadToFile under Wine against the update server
// stand-in on loopback, as a ratio to curl fetching the same file in the same run, and
// the downloading process's peak working set for a 200 MB and a 2 MB file.
//   node bench/download-throughput.js      (OVRA_BUILD_DIR selects the build, default build/)
const { spawnSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { startWineSession, BUILD_DIR } = require('../tests/support/wine.js');
const { startUpdateServer } = require('../tests/support/ota.js');

const BIG = 200 * 1024 * 1024;
const SMALL = 2 * 1024 * 1024;
const ROUNDS = 3;
const BENCH_EXE = path.join(BUILD_DIR, 'bench', 'download_bench.exe');

function writeRandom(file, size) {
  const fd = fs.openSync(file, 'w');
  const block = crypto.randomBytes(1 << 20);
  for (let left = size; left > 0; left -= block.length) fs.writeSync(fd, block, 0, Math.min(left, block.length));
  fs.closeSync(fd);
}

const mb = (bytes) => bytes / (1024 * 1024);
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

function curl(url, out) {
  const r = spawnSync('curl', ['-s', '-o', out, '-w', '%{time_total} %{size_download}', url], { encoding: 'utf8' });
  const [seconds, bytes] = r.stdout.trim().split(' ').map(Number);
  return { seconds, bytes };
}

async function main() {
  const session = await startWineSession();
  let server;
  try {
    const root = fs.mkdtempSync(path.join(session.dir, 'files-'));
    writeRandom(path.join(root, 'big.bin'), BIG);
    writeRandom(path.join(root, 'small.bin'), SMALL);
    server = await startUpdateServer(root);
    const out = path.join(session.cDrive, 'bench');
    fs.mkdirSync(out);
    const exe = path.join(out, 'download_bench.exe');
    fs.copyFileSync(BENCH_EXE, exe);

    async function host(name) {
      const r = await session.run(exe, [`${server.base}/ota/${name}`, 'C:\\bench\\' + name], { timeoutMs: 300000 });
      if (r.code !== 0) throw new Error(`download_bench failed: ${r.stdout} ${r.stderr}`);
      return JSON.parse(r.stdout.trim().split('\n').pop());
    }

    await host('small.bin'); // warm up Wine and the page cache
    const small = await host('small.bin');
    const hostRuns = [];
    const curlRuns = [];
    for (let i = 0; i < ROUNDS; i++) {
      curlRuns.push(curl(`${server.base}/ota/big.bin`, path.join(out, 'curl.bin')));
      hostRuns.push(await host('big.bin'));
    }
    for (const r of [...hostRuns, ...curlRuns]) if (r.bytes !== BIG) throw new Error('short download');
    const hostMBs = median(hostRuns.map((r) => mb(BIG) / r.seconds));
    const curlMBs = median(curlRuns.map((r) => mb(BIG) / r.seconds));
    const peakBig = Math.max(...hostRuns.map((r) => r.peakWorkingSet));
    const report = {
      fileMB: mb(BIG),
      rounds: ROUNDS,
      downloadToFileMBs: +hostMBs.toFixed(1),
      curlMBs: +curlMBs.toFixed(1),
      ratioToCurl: +(hostMBs / curlMBs).toFixed(2),
      progressCalls: hostRuns[0].progressCalls,
      peakWorkingSetMB_200MB: +mb(peakBig).toFixed(1),
      peakWorkingSetMB_2MB: +mb(small.peakWorkingSet).toFixed(1),
      peakGrowthMB: +mb(peakBig - small.peakWorkingSet).toFixed(1),
    };
    console.log(JSON.stringify(report, null, 2));
  } finally {
    if (server) await server.stop();
    await session.stop();
  }
}

main().catch((e) => { console.error(e); process.exitCode = 1; });
