#!/usr/bin/env node
'use strict';
// Writes a release folder for the update server: the program and its manifest
// version.json, signed with the vendor's private key. Upload the folder's two files to
// the server's /ota/ path as they are.
//
//   node scripts/release.js --program FILE --version V --url URL --key PRIVATE.pem
//                           --out DIR [--notes TEXT] [--force]
//
// The manifest holds version, url, sha256 (of the program), signature, notes, force.
// The signature is ECDSA P-256 with SHA-256 over signedMessage(version, url, sha256),
// as 64 bytes r then s in base64; the program checks it with the public key it was
// built with. Notes and force are not signed.
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

const FIRST_LINE = 'OVRA-Zirer update manifest v1\n';

// The signed bytes: a fixed first line, then each value on a line of its own.
function signedMessage(version, url, sha256) {
  for (const v of [version, url, sha256]) {
    if (/[\r\n]/.test(v)) throw new Error(`a signed value holds a line break: ${JSON.stringify(v)}`);
  }
  return Buffer.from(`${FIRST_LINE}${version}\n${url}\n${sha256}\n`, 'utf8');
}

function signatureOf(version, url, sha256, privateKey) {
  return crypto.sign('sha256', signedMessage(version, url, sha256),
    { key: privateKey, dsaEncoding: 'ieee-p1363' }).toString('base64');
}

function readPrivateKey(pem) {
  const key = crypto.createPrivateKey(pem);
  if (key.asymmetricKeyType !== 'ec' || key.asymmetricKeyDetails.namedCurve !== 'prime256v1') {
    throw new Error('the signing key must be an ECDSA P-256 private key');
  }
  return key;
}

// The manifest with its signature member, in the order the server sends it.
function signManifest({ version, url, sha256, notes = '', force = false }, privateKey) {
  return { version, url, sha256, signature: signatureOf(version, url, sha256, privateKey), notes, force };
}

// A Windows executable: "MZ", then the PE signature where the header points.
function isWindowsExecutable(bytes) {
  if (bytes.length < 64 || bytes.toString('latin1', 0, 2) !== 'MZ') return false;
  const pe = bytes.readUInt32LE(60);
  return pe + 4 <= bytes.length && bytes.toString('latin1', pe, pe + 4) === 'PE\0\0';
}

function checkValues({ version, url }) {
  if (!/^\d+(\.\d+){2,}$/.test(version)) throw new Error(`version must be dotted decimal (like 1.0.5): ${version}`);
  let parsed;
  try { parsed = new URL(url); } catch { throw new Error(`url is not an absolute URL: ${url}`); }
  if (!['http:', 'https:'].includes(parsed.protocol)) throw new Error(`url must be http or https: ${url}`);
  // Control characters would not come back the same through the program's reader.
  if (Array.from(url).some((c) => c < ' ' || c === '\x7f')) throw new Error('url holds control characters');
  const name = decodeURIComponent(parsed.pathname.split('/').pop());
  if (!name || name !== path.basename(name)) throw new Error(`url must end in the program's file name: ${url}`);
  return name;
}

// Copies the program into `out` under the url's file name and writes version.json
// last, so a folder with a manifest always has its program. Returns the manifest.
function writeRelease({ program, version, url, key, out, notes = '', force = false }) {
  const name = checkValues({ version, url });
  const privateKey = readPrivateKey(fs.readFileSync(key));
  const bytes = fs.readFileSync(program);
  if (!isWindowsExecutable(bytes)) throw new Error(`${program} is not a Windows executable`);
  const sha256 = crypto.createHash('sha256').update(bytes).digest('hex');
  const manifest = signManifest({ version, url, sha256, notes, force }, privateKey);

  fs.mkdirSync(out, { recursive: true });
  fs.writeFileSync(path.join(out, name), bytes);
  const tmp = path.join(out, 'version.json.tmp');
  fs.writeFileSync(tmp, `${JSON.stringify(manifest, null, 2)}\n`);
  fs.renameSync(tmp, path.join(out, 'version.json'));
  return manifest;
}

function parseArgs(argv) {
  const opts = {};
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--force') opts.force = true;
    else if (['--program', '--version', '--url', '--key', '--out', '--notes'].includes(a) && i + 1 < argv.length) {
      opts[a.slice(2)] = argv[++i];
    } else throw new Error(`unknown argument ${a}`);
  }
  const missing = ['program', 'version', 'url', 'key', 'out'].filter((k) => !opts[k]);
  if (missing.length) throw new Error(`missing --${missing.join(', --')}`);
  return opts;
}

function main() {
  let opts;
  try {
    opts = parseArgs(process.argv.slice(2));
    const m = writeRelease(opts);
    const pub = crypto.createPublicKey(readPrivateKey(fs.readFileSync(opts.key)))
      .export({ type: 'spki', format: 'der' });
    console.log(`release: ${path.join(opts.out, 'version.json')} offers ${m.version} at ${m.url}`);
    console.log(`release: sha256 ${m.sha256}`);
    console.log(`release: signed for the public key with SHA-256 ${crypto.createHash('sha256').update(pub).digest('hex')}`);
  } catch (e) {
    console.error(`release: ${e.message}`);
    console.error('usage: node scripts/release.js --program FILE --version V --url URL --key PRIVATE.pem --out DIR [--notes TEXT] [--force]');
    process.exit(1);
  }
}

if (require.main === module) main();
module.exports = { FIRST_LINE, signedMessage, signatureOf, signManifest, readPrivateKey, writeRelease, isWindowsExecutable };
