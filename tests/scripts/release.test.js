'use strict';
// The release command and the update-server stand-in serving what it writes.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startUpdateServer } = require('../support/ota.js');
const { signedMessage } = require('../../scripts/release.js');

const REPO = path.resolve(__dirname, '..', '..');
const RELEASE = path.join(REPO, 'scripts', 'release.js');
const KEY = path.join(REPO, 'tests', 'keys', 'ota-test-key.private.pem');
const PUBLIC = fs.readFileSync(path.join(REPO, 'tests', 'keys', 'ota-test-key.public.pem'));
const OTHER_PUBLIC = fs.readFileSync(path.join(REPO, 'tests', 'keys', 'ota-other-test-key.public.pem'));

// A small but well-formed PE image: "MZ", e_lfanew at 60, the PE signature there.
function fakeProgram(dir) {
  const bytes = Buffer.alloc(512);
  bytes.write('MZ', 0, 'latin1');
  bytes.writeUInt32LE(128, 60);
  bytes.write('PE\0\0', 128, 'latin1');
  bytes.write('build 1.0.5', 300, 'latin1');
  const file = path.join(dir, 'built.exe');
  fs.writeFileSync(file, bytes);
  return file;
}

const release = (args) => spawnSync(process.execPath, [RELEASE, ...args], { encoding: 'utf8' });
const tmp = () => fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-release-'));

test('writes the program and a manifest whose signature verifies with the public key', () => {
  const dir = tmp();
  const program = fakeProgram(dir);
  const out = path.join(dir, 'out');
  const url = 'https://updates.example.com/ota/OVRA-Zirer.exe';
  const r = release(['--program', program, '--version', '1.0.5', '--url', url, '--key', KEY,
    '--out', out, '--notes', '修复\n第二行', '--force']);
  assert.equal(r.status, 0, r.stderr);
  assert.deepEqual(fs.readdirSync(out).sort(), ['OVRA-Zirer.exe', 'version.json']);
  assert.deepEqual(fs.readFileSync(path.join(out, 'OVRA-Zirer.exe')), fs.readFileSync(program));

  const m = JSON.parse(fs.readFileSync(path.join(out, 'version.json'), 'utf8'));
  const digest = crypto.createHash('sha256').update(fs.readFileSync(program)).digest('hex');
  assert.deepEqual(Object.keys(m), ['version', 'url', 'sha256', 'signature', 'notes', 'force']);
  assert.equal(m.sha256, digest);
  assert.equal(m.notes, '修复\n第二行');
  assert.equal(m.force, true);
  const sig = Buffer.from(m.signature, 'base64');
  assert.equal(sig.length, 64);
  const message = Buffer.from(`OVRA-Zirer update manifest v1\n1.0.5\n${url}\n${digest}\n`);
  const verify = (key, bytes) => crypto.verify('sha256', bytes, { key, dsaEncoding: 'ieee-p1363' }, sig);
  assert.ok(verify(PUBLIC, message));
  assert.ok(!verify(OTHER_PUBLIC, message));
  assert.ok(!verify(PUBLIC, Buffer.from(message.toString().replace('1.0.5', '1.0.6'))));
  fs.rmSync(dir, { recursive: true, force: true });
});

test('refuses what would make a broken or unverifiable release, and writes nothing', () => {
  const dir = tmp();
  const program = fakeProgram(dir);
  const text = path.join(dir, 'notes.txt');
  fs.writeFileSync(text, 'not a program');
  const rsa = path.join(dir, 'rsa.pem');
  fs.writeFileSync(rsa, crypto.generateKeyPairSync('rsa', { modulusLength: 1024 }).privateKey
    .export({ type: 'pkcs8', format: 'pem' }));
  const url = 'http://u.example/ota/OVRA-Zirer.exe';
  const base = { program, version: '1.0.5', url, key: KEY };
  const cases = [
    [{ program: text }, /not a Windows executable/],
    [{ version: '1.0' }, /dotted decimal/],
    [{ version: '1.0.5\n' }, /dotted decimal/],
    [{ url: 'ftp://u.example/x.exe' }, /http or https/],
    [{ url: 'http://u.example/ota/' }, /file name/],
    [{ url: 'not a url' }, /absolute URL/],
    [{ key: rsa }, /P-256/],
    [{ key: path.join(REPO, 'tests', 'keys', 'ota-test-key.public.pem') }, /./],
    [{ url: undefined }, /missing --url/],
  ];
  for (const [change, message] of cases) {
    const out = path.join(dir, 'out');
    const opts = { ...base, ...change, out };
    const args = Object.entries(opts).filter(([, v]) => v !== undefined).flatMap(([k, v]) => [`--${k}`, v]);
    const r = release(args);
    assert.equal(r.status, 1, JSON.stringify(change));
    assert.match(r.stderr, message, JSON.stringify(change));
    assert.match(r.stderr, /usage: node scripts\/release\.js/);
    assert.ok(!fs.existsSync(path.join(out, 'version.json')), JSON.stringify(change));
  }
  assert.throws(() => signedMessage('1.0.5', 'http://a\nb', 'ab'), /line break/);
  fs.rmSync(dir, { recursive: true, force: true });
});

test('the update server serves a release folder as it stands', async () => {
  const dir = tmp();
  const out = path.join(dir, 'out');
  const r = release(['--program', fakeProgram(dir), '--version', '1.0.5', '--url',
    'http://127.0.0.1:8791/ota/OVRA-Zirer.exe', '--key', KEY, '--out', out]);
  assert.equal(r.status, 0, r.stderr);
  const server = await startUpdateServer(dir, ['--release', out]);
  try {
    const manifest = Buffer.from(await (await fetch(`${server.base}/ota/version.json`)).arrayBuffer());
    assert.deepEqual(manifest, fs.readFileSync(path.join(out, 'version.json')));
    const program = Buffer.from(await (await fetch(`${server.base}/ota/OVRA-Zirer.exe`)).arrayBuffer());
    assert.deepEqual(program, fs.readFileSync(path.join(out, 'OVRA-Zirer.exe')));
    // Faults still apply to a release folder.
    assert.equal((await fetch(`${server.base}/ota/version.json?fault=404`)).status, 404);
  } finally {
    await server.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
