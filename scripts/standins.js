#!/usr/bin/env node
'use strict';
// Starts the local stand-in services on the addresses built into the program: the AI
// service and the update server, which offers the next release (the same program, one
// version up) so an update can be tried from the page. Runs until it is stopped. The
// offer is a release folder written by the release command with the test key, which the
// test and demo build trusts.
//   node scripts/standins.js <build dir>
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { writeRelease } = require('./release.js');

const root = path.resolve(__dirname, '..');
const build = path.resolve(process.argv[2] || path.join(root, 'build'));
const endpoints = JSON.parse(fs.readFileSync(path.join(root, 'desktop', 'endpoints.json'), 'utf8'));
const aiPort = new URL(endpoints.apiBase).port;
const otaPort = new URL(endpoints.otaManifestUrl).port;

const offer = fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-offer-'));
writeRelease({
  program: path.join(build, 'OVRA-Zirer-next.exe'), version: '1.0.5',
  url: new URL('OVRA-Zirer.exe', endpoints.otaManifestUrl).href,
  key: path.join(root, 'tests', 'keys', 'ota-test-key.private.pem'),
  out: offer, notes: '界面与语音的改进',
});

const children = [
  spawn(process.execPath, [path.join(root, 'standins', 'ai-service', 'server.js'), '--port', aiPort],
    { stdio: ['ignore', 'inherit', 'inherit'] }),
  spawn(process.execPath, [path.join(root, 'standins', 'update-server', 'server.js'),
    '--port', otaPort, '--release', offer],
  { stdio: ['ignore', 'inherit', 'inherit'] }),
];
console.log(`standins: AI service on ${endpoints.apiBase}, updates on ${endpoints.otaManifestUrl}`);

function stop() {
  for (const c of children) c.kill('SIGTERM');
  fs.rmSync(offer, { recursive: true, force: true });
  process.exit(0);
}
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
for (const c of children) c.on('exit', (code) => { if (code) { console.error('standins: a service stopped'); stop(); } });
