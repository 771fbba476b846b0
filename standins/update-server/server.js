#!/usr/bin/env node
// Update server stand-in: serves /ota/version.json, generated from the file on offer,
// and that file under /ota/<name>. It also answers absolute-form requests, so it can be
// the HTTP proxy of a client whose manifest URL names another host.
//
//   node server.js --port 0 --root DIR [--file NAME] [--version V] [--notes TEXT] [--force]
//                  [--sign-key PRIVATE.pem|none]
//   node server.js --port 0 --release DIR
//
// Generated manifests are signed as the release command signs them, by default with the
// test key (POST /control {"signature": "omit"} leaves the member out, any other text
// is sent as the signature; {"signKey": PATH} signs with another key). With --release
// it serves a folder written by scripts/release.js as it stands: its version.json and
// the program beside it.
// Prints "listening <port>". Misbehaviour is chosen per request with ?fault=NAME or for
// every later request with POST /control {"manifestFault": NAME, "fileFault": NAME, ...}.
// GET /control returns the settings and the requests seen so far.
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const path = require('path');
const { signatureOf, readPrivateKey } = require('../../scripts/release.js');

const TEST_KEY = path.join(__dirname, '..', '..', 'tests', 'keys', 'ota-test-key.private.pem');

// Body faults (manifest or file): chunkcut (chunked, no last chunk), cutnolength (no
// length, closed half-way), resetmid (reset half-way), stall (half, then silence until
// the client leaves), oversize (over 1 MiB as a manifest; a file announced at 600 MiB),
// endless (a chunked body that never ends), notpe (a file that is no program).
const FAULTS = ['none', 'reset', '404', '500', 'empty', 'html200', 'nolength', 'short', 'long',
  'trickle', 'bom', 'wrongdigest', 'chunkcut', 'cutnolength', 'resetmid', 'stall', 'oversize',
  'endless', 'notpe'];

function parseArgs(argv) {
  const opts = { port: 0, root: process.cwd(), file: 'OVRA-Zirer.exe', version: '1.0.5',
    notes: 'bug fixes', force: false, 'sign-key': TEST_KEY, release: null };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--force') opts.force = true;
    else if (a.startsWith('--') && i + 1 < argv.length) opts[a.slice(2)] = argv[++i];
    else throw new Error(`unknown argument ${a}`);
  }
  opts.port = Number(opts.port);
  if (opts.release) opts.root = opts.release;
  return opts;
}

function createState(opts) {
  return {
    root: path.resolve(opts.root),
    file: opts.file,
    version: opts.version,
    notes: opts.notes,
    force: opts.force,
    sha256: null,          // null: the digest of the file; '' or 'omit': no member
    url: null,             // null: /ota/<file> on the host the client asked for
    manifestFault: 'none',
    fileFault: 'none',
    trickleBytes: 1024,
    trickleDelayMs: 50,
    requests: [],
    ...signingState(opts),
  };
}

// --- signed manifests and release folders ----------------------------------------

function signingState(opts) {
  return {
    release: opts.release ? path.resolve(opts.release) : null,
    signKey: opts['sign-key'] === 'none' ? null : opts['sign-key'],
    signature: null,       // null: sign with signKey; 'omit': no member; else sent as is
  };
}

// Puts the signature member after the signed values, where the release command has it.
function signManifest(state, m) {
  if (state.signature === 'omit' || (state.signature === null && !state.signKey)) return m;
  const signature = state.signature !== null ? state.signature
    : signatureOf(m.version, m.url, m.sha256 || '', readPrivateKey(fs.readFileSync(state.signKey)));
  const { notes, force, ...values } = m;
  return { ...values, signature, notes, force };
}

function releaseManifest(state) {
  return fs.readFileSync(path.join(state.release, 'version.json'));
}

// ----------------------------------------------------------------------------------

const digestCache = new Map();
function fileDigest(file) {
  const st = fs.statSync(file);
  const key = `${file}:${st.size}:${st.mtimeMs}`;
  if (!digestCache.has(key)) {
    digestCache.set(key, crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex'));
  }
  return digestCache.get(key);
}

function manifestBody(state, host, fault) {
  const text = state.release ? releaseManifest(state) : generatedManifest(state, host, fault);
  if (fault === 'oversize') {
    // Still a good manifest, only padded past any sensible size.
    return Buffer.concat([text.subarray(0, text.length - 1),
      Buffer.from(`,"padding":"${'x'.repeat(2 << 20)}"}`)]);
  }
  return fault === 'bom' ? Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), text]) : text;
}

function generatedManifest(state, host, fault) {
  const file = path.join(state.root, state.file);
  const m = { version: state.version };
  m.url = state.url !== null ? state.url : `http://${host}/ota/${encodeURIComponent(state.file)}`;
  if (state.sha256 === null) m.sha256 = fs.existsSync(file) ? fileDigest(file) : '';
  else if (state.sha256 !== 'omit') m.sha256 = state.sha256;
  if (fault === 'wrongdigest') m.sha256 = crypto.createHash('sha256').update('other').digest('hex');
  m.notes = state.notes;
  m.force = state.force;
  return Buffer.from(JSON.stringify(signManifest(state, m), null, 2), 'utf8');
}

// Raw responses, so lengths and connection handling can be wrong on purpose.
function writeRaw(socket, status, headers, body) {
  const reason = { 200: 'OK', 404: 'Not Found', 500: 'Internal Server Error' }[status];
  let head = `HTTP/1.1 ${status} ${reason}\r\n`;
  for (const [k, v] of Object.entries(headers)) head += `${k}: ${v}\r\n`;
  socket.write(head + 'Connection: close\r\n\r\n');
  if (body) socket.write(body);
}

function trickle(socket, body, state) {
  let at = 0;
  const step = () => {
    if (socket.destroyed) return;
    if (at >= body.length) { socket.end(); return; }
    socket.write(body.subarray(at, at + state.trickleBytes));
    at += state.trickleBytes;
    setTimeout(step, state.trickleDelayMs);
  };
  step();
}

// Half the body goes out, then `end` runs once it has left.
function sendHalf(socket, headers, body, end) {
  writeRaw(socket, 200, headers);
  socket.write(body.subarray(0, Math.floor(body.length / 2)), () => setTimeout(end, 200));
}

function endless(socket) {
  writeRaw(socket, 200, { 'Content-Type': 'application/json', 'Transfer-Encoding': 'chunked' });
  const chunk = Buffer.from(`10000\r\n${' '.repeat(0x10000)}\r\n`);
  const step = () => { if (!socket.destroyed && socket.write(chunk)) setImmediate(step); };
  socket.on('drain', step);
  step();
}

function sendBody(req, res, state, body, type, fault) {
  const socket = req.socket;
  socket.on('error', () => {});
  const html = Buffer.from('<!DOCTYPE html><html><body><h1>Not Found</h1></body></html>\n');
  switch (fault) {
    case 'reset':
      socket.destroy();
      return;
    case '404':
      writeRaw(socket, 404, { 'Content-Type': 'text/html', 'Content-Length': html.length }, html);
      socket.end();
      return;
    case '500':
      writeRaw(socket, 500, { 'Content-Type': 'text/plain', 'Content-Length': 6 }, 'oops\r\n');
      socket.end();
      return;
    case 'empty':
      writeRaw(socket, 200, { 'Content-Type': type, 'Content-Length': 0 });
      socket.end();
      return;
    case 'html200':
      writeRaw(socket, 200, { 'Content-Type': 'text/html', 'Content-Length': html.length }, html);
      socket.end();
      return;
    case 'nolength':
      writeRaw(socket, 200, { 'Content-Type': type }, body);
      socket.end();
      return;
    case 'short':
      writeRaw(socket, 200, { 'Content-Type': type, 'Content-Length': body.length },
        body.subarray(0, Math.floor(body.length / 2)));
      // Let the bytes leave before the connection is dropped mid-body.
      socket.end(() => socket.destroy());
      setTimeout(() => socket.destroy(), 200);
      return;
    case 'long':
      writeRaw(socket, 200, { 'Content-Type': type, 'Content-Length': body.length },
        Buffer.concat([body, Buffer.alloc(4096, 0x41)]));
      socket.end();
      return;
    case 'trickle':
      writeRaw(socket, 200, { 'Content-Type': type, 'Content-Length': body.length });
      trickle(socket, body, state);
      return;
    case 'chunkcut':
      writeRaw(socket, 200, { 'Content-Type': type, 'Transfer-Encoding': 'chunked' });
      socket.write(`${(body.length >> 1).toString(16)}\r\n`);
      socket.write(body.subarray(0, body.length >> 1));
      socket.write('\r\n', () => setTimeout(() => socket.destroy(), 200));
      return;
    case 'cutnolength':
      sendHalf(socket, { 'Content-Type': type }, body, () => socket.destroy());
      return;
    case 'resetmid':
      sendHalf(socket, { 'Content-Type': type, 'Content-Length': body.length }, body,
        () => socket.resetAndDestroy());
      return;
    case 'stall':
      sendHalf(socket, { 'Content-Type': type, 'Content-Length': body.length }, body, () => {});
      return;
    case 'oversize':
      if (type === 'application/json') break;
      writeRaw(socket, 200, { 'Content-Type': type, 'Content-Length': 600 << 20 }, body);
      socket.end();
      return;
    case 'endless':
      endless(socket);
      return;
    case 'notpe':
      body = Buffer.alloc(body.length, 'not a program\n');
      break;
    default:
      break;
  }
  res.writeHead(200, { 'Content-Type': type, 'Content-Length': body.length });
  res.end(body);
}

function sendFile(req, res, state, file, fault) {
  if (!fs.existsSync(file) || !fs.statSync(file).isFile()) {
    sendBody(req, res, state, null, 'text/html', '404');
    return;
  }
  if (fault !== 'none') {
    sendBody(req, res, state, fs.readFileSync(file), 'application/octet-stream', fault);
    return;
  }
  // Streamed, so large files cost the stand-in no memory.
  res.writeHead(200, { 'Content-Type': 'application/octet-stream',
    'Content-Length': fs.statSync(file).size });
  fs.createReadStream(file).pipe(res);
}

function handleControl(req, res, state) {
  if (req.method === 'GET') {
    res.writeHead(200, { 'Content-Type': 'application/json' });
    res.end(JSON.stringify(state));
    return;
  }
  let text = '';
  req.on('data', (c) => { text += c; });
  req.on('end', () => {
    let change;
    try { change = JSON.parse(text || '{}'); } catch { change = null; }
    const bad = !change || [change.manifestFault, change.fileFault]
      .some((f) => f !== undefined && !FAULTS.includes(f));
    if (bad) {
      res.writeHead(400, { 'Content-Type': 'text/plain' });
      res.end(`bad control request; faults: ${FAULTS.join(' ')}\n`);
      return;
    }
    for (const [k, v] of Object.entries(change)) if (!['requests', 'root', 'release'].includes(k)) state[k] = v;
    if (change.clearRequests) state.requests = [];
    res.writeHead(200, { 'Content-Type': 'application/json' });
    res.end(JSON.stringify(state));
  });
}

function createServer(state) {
  return http.createServer((req, res) => {
    // Absolute-form when we are the proxy, origin-form when asked directly.
    const host = req.headers.host || '127.0.0.1';
    const target = new URL(req.url, `http://${host}`);
    const query = target.searchParams.get('fault');
    state.requests.push({ method: req.method, url: req.url, host, agent: req.headers['user-agent'] || '', at: Date.now() });

    if (target.pathname === '/control') return handleControl(req, res, state);
    if (target.pathname === '/ota/version.json') {
      const fault = query || state.manifestFault;
      const body = ['404', '500', 'reset'].includes(fault) ? null : manifestBody(state, host, fault);
      return sendBody(req, res, state, body, 'application/json', fault);
    }
    if (target.pathname.startsWith('/ota/')) {
      const name = decodeURIComponent(target.pathname.slice('/ota/'.length));
      const file = path.join(state.root, path.basename(name));
      return sendFile(req, res, state, file, query || state.fileFault);
    }
    sendBody(req, res, state, null, 'text/html', '404');
  });
}

function main() {
  const opts = parseArgs(process.argv.slice(2));
  const state = createState(opts);
  const server = createServer(state);
  server.listen(opts.port, '127.0.0.1', () => {
    process.stdout.write(`listening ${server.address().port}\n`);
  });
  const stop = () => server.close(() => process.exit(0));
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
}

if (require.main === module) main();
module.exports = { createServer, createState, FAULTS };
