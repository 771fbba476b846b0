'use strict';
// The release configuration refuses to configure without the vendor's key, with a test
// key or with loopback endpoints, and configures with a real key and real addresses.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const REPO = path.resolve(__dirname, '..', '..');
let dir;
let vendorKey;
before(() => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-release-config-'));
  vendorKey = path.join(dir, 'vendor.public.pem');
  fs.writeFileSync(vendorKey, crypto.generateKeyPairSync('ec', { namedCurve: 'prime256v1' })
    .publicKey.export({ type: 'spki', format: 'pem' }));
});
after(() => fs.rmSync(dir, { recursive: true, force: true }));

let n = 0;
function configure(...defs) {
  const build = path.join(dir, `build-${n++}`);
  const r = spawnSync('cmake', ['-S', REPO, '-B', build, `-DCMAKE_TOOLCHAIN_FILE=${REPO}/cmake/mingw-w64.cmake`,
    '-DOVRA_BUILD_TESTS=OFF', ...defs.map((d) => `-D${d}`)], { encoding: 'utf8' });
  // CMake wraps its messages; compare them as one line.
  return { code: r.status, text: (r.stdout + r.stderr).replace(/\s+/g, ' ') };
}

function endpoints(api, ota) {
  const file = path.join(dir, `endpoints-${n}.json`);
  fs.writeFileSync(file, JSON.stringify({ apiBase: api, otaManifestUrl: ota }));
  return file;
}

test('a release needs a key, and not a test key', () => {
  let r = configure('OVRA_RELEASE=ON');
  assert.notEqual(r.code, 0);
  assert.match(r.text, /A release build needs the vendor's update signing key/);
  r = configure('OVRA_RELEASE=ON', `OVRA_OTA_PUBLIC_KEY=${REPO}/tests/keys/ota-other-test-key.public.pem`);
  assert.notEqual(r.code, 0);
  assert.match(r.text, /A release build cannot trust a test key/);
});

test('a release refuses loopback endpoints', () => {
  // The repository's own endpoints are the local stand-ins.
  let r = configure('OVRA_RELEASE=ON', `OVRA_OTA_PUBLIC_KEY=${vendorKey}`);
  assert.notEqual(r.code, 0);
  assert.match(r.text, /cannot use the loopback address http:\/\/127\.0\.0\.1:8790\/ai\/v1/);
  for (const ota of ['http://localhost:80/ota/version.json', 'http://[::1]/ota/version.json',
    'http://127.1.2.3/ota/version.json', 'http://user@LOCALHOST./ota/version.json']) {
    r = configure('OVRA_RELEASE=ON', `OVRA_OTA_PUBLIC_KEY=${vendorKey}`,
      `OVRA_ENDPOINTS_FILE=${endpoints('https://ai.example.com/v1', ota)}`);
    assert.notEqual(r.code, 0, ota);
    assert.match(r.text, /cannot use the loopback address .*otaManifestUrl/, ota);
  }
});

test('a release with the vendor key and real endpoints configures; a bad key file never does', () => {
  const real = endpoints('https://ai.example.com/v1', 'http://updates.example.com/ota/version.json');
  let r = configure('OVRA_RELEASE=ON', `OVRA_OTA_PUBLIC_KEY=${vendorKey}`, `OVRA_ENDPOINTS_FILE=${real}`);
  assert.equal(r.code, 0, r.text);
  assert.match(r.text, /Update manifests must be signed with the key in/);

  const rsa = path.join(dir, 'rsa.public.pem');
  fs.writeFileSync(rsa, crypto.generateKeyPairSync('rsa', { modulusLength: 1024 }).publicKey
    .export({ type: 'spki', format: 'pem' }));
  r = configure(`OVRA_OTA_PUBLIC_KEY=${rsa}`);
  assert.notEqual(r.code, 0);
  assert.match(r.text, /is not an uncompressed ECDSA P-256 public key/);
  r = configure(`OVRA_OTA_PUBLIC_KEY=${path.join(dir, 'missing.pem')}`);
  assert.notEqual(r.code, 0);
  assert.match(r.text, /no such file/);
});

test('the page is embedded as its parts say, with only the API base put in', () => {
  const ui = path.join(dir, 'ui');
  fs.mkdirSync(path.join(ui, 'js'), { recursive: true });
  fs.writeFileSync(path.join(ui, 'page-files.txt'), '# order\nb.css\njs/a.js\njs/c.js\n');
  fs.writeFileSync(path.join(ui, 'index.html'), '<p>__OVRA_API_BASE__ @x@</p>\n');
  fs.writeFileSync(path.join(ui, 'b.css'), 'p { color: red; }\n');
  // What configure-style copying would have changed: variables, @names@, generator
  // expressions, backslashes and semicolons.
  fs.writeFileSync(path.join(ui, 'js', 'a.js'), "const s = `${api}` + '@x@ $<y> \\\\ ;';\n");
  fs.writeFileSync(path.join(ui, 'js', 'c.js'), "fetch('__OVRA_API_BASE__/models');\n");
  const page = path.join(dir, `build-${n}`, 'page');
  const r = configure(`OVRA_UI_DIR=${ui}`);
  assert.equal(r.code, 0, r.text);
  const read = (name) => fs.readFileSync(path.join(page, name), 'utf8');
  assert.equal(read('app.js'), "const s = `${api}` + '@x@ $<y> \\\\ ;';\nfetch('http://127.0.0.1:8790/ai/v1/models');\n");
  assert.equal(read('app.css'), 'p { color: red; }\n');
  assert.equal(read('index.html'), '<p>http://127.0.0.1:8790/ai/v1 @x@</p>\n');
});
