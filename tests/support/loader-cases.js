'use strict';
// Runs a loader library through the probe in one situation of a machine: registered
// runtimes, group policies, environment variables and runtime folders, as an installer
// or an administrator would leave them.
//
// A case is
//   { name, runtimes: { id: { path, client } }, registry: [[key, name, data]],
//     env: { NAME: value }, target, folder, udf }
// `path` is a Windows path (C:\ is the prefix's drive); `client` names the test client
// build copied in as the runtime's client library. In registry keys, data, env values
// and `folder`, "<id>" stands for that runtime's path. Registry data is a string, or
// { dword: n } for a number. `udf` null asks for creation without a user data folder.

const fs = require('node:fs');
const path = require('node:path');
const { BUILD_DIR, REPO } = require('./wine.js');

const FIXTURES = path.join(BUILD_DIR, 'tests', 'unit');
const PROBE = path.join(FIXTURES, 'loader_probe.exe');
const OUR_LOADER = path.join(BUILD_DIR, 'WebView2Loader.dll');
const VENDOR_LOADER = path.resolve(REPO, '..', 'shared', 'vendor', 'WebView2Loader.dll');

const CLIENT_STATE = 'Software\\Microsoft\\EdgeUpdate\\ClientState';
const CLIENT_STATE_32 = 'Software\\WOW6432Node\\Microsoft\\EdgeUpdate\\ClientState';
const POLICIES = 'Software\\Policies\\Microsoft\\Edge\\WebView2';
const CHANNELS = {
  stable: '{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}',
  beta: '{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}',
  dev: '{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}',
  canary: '{65C35B14-6C1D-4122-AC46-7148CC9D6497}',
  internal: '{BE59E8FD-089A-411B-A3B0-051D9E417818}',
};
// Every tree a case may write, cleared before each case. A fresh prefix has no 32-bit
// branch in HKEY_CURRENT_USER, and once there is one, 32-bit readers see only it; so it
// goes as a whole.
const TREES = [
  ...['HKEY_LOCAL_MACHINE', 'HKEY_CURRENT_USER'].flatMap((hive) => [
    `${hive}\\Software\\Microsoft\\EdgeUpdate`,
    `${hive}\\Software\\Policies\\Microsoft\\Edge`,
  ]),
  'HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Microsoft\\EdgeUpdate',
  'HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Policies\\Microsoft\\Edge',
  'HKEY_CURRENT_USER\\Software\\WOW6432Node',
];

function substitute(text, runtimes) {
  return String(text).replace(/<(\w+)>/g, (whole, id) => (runtimes[id] ? runtimes[id].path : whole));
}

// C:\a\b -> <prefix>/drive_c/a/b
function unixPathOf(session, winPath) {
  const m = /^([A-Za-z]):\\(.*)$/.exec(winPath);
  if (!m || m[1].toUpperCase() !== 'C') throw new Error(`not a C: path: ${winPath}`);
  return path.join(session.cDrive, ...m[2].split('\\').filter(Boolean));
}

function regString(text) {
  return `"${text.replace(/\\/g, '\\\\').replace(/"/g, '\\"')}"`;
}

// One .reg file that removes what earlier cases left and writes this case's values.
function registryFile(c) {
  const lines = ['Windows Registry Editor Version 5.00', ''];
  for (const tree of TREES) lines.push(`[-${tree}]`, '');
  const byKey = new Map();
  for (const [key, name, data] of c.registry || []) {
    const k = substitute(key, c.runtimes || {});
    if (!byKey.has(k)) byKey.set(k, []);
    const value = typeof data === 'object' ? `dword:${data.dword.toString(16).padStart(8, '0')}`
      : regString(substitute(data, c.runtimes || {}));
    byKey.get(k).push(`${name === '@' ? '@' : regString(name)}=${value}`);
  }
  for (const [key, values] of byKey) lines.push(`[${key}]`, ...values, '');
  // regedit reads UTF-16 with a byte order mark.
  return Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(lines.join('\r\n') + '\r\n', 'utf16le')]);
}

function layOutRuntimes(session, c) {
  for (const runtime of Object.values(c.runtimes || {})) {
    const dir = path.join(unixPathOf(session, runtime.path), 'EBWebView', 'x64');
    fs.mkdirSync(dir, { recursive: true });
    fs.copyFileSync(path.join(FIXTURES, `${runtime.client || 'fake_client'}.dll`),
      path.join(dir, 'EmbeddedBrowserWebView.dll'));
  }
}

function removeRuntimes(session, c) {
  for (const runtime of Object.values(c.runtimes || {})) {
    fs.rmSync(unixPathOf(session, runtime.path), { recursive: true, force: true });
  }
}

async function applyRegistry(session, c, scratch) {
  const file = path.join(scratch, 'case.reg');
  fs.writeFileSync(file, registryFile(c));
  const r = await session.run('regedit', ['/S', session.winPath(file)], { timeoutMs: 30000 });
  if (r.code !== 0) throw new Error(`regedit failed with ${r.code}: ${r.stderr}`);
}

// The probe's lines for each of `loaders` in case `c`, run side by side. The machine
// is set up before and cleaned after, so cases do not see each other.
async function runCase(session, c, loaders) {
  const scratch = fs.mkdtempSync(path.join(session.dir, 'case-'));
  try {
    layOutRuntimes(session, c);
    await applyRegistry(session, c, scratch);
    const env = {};
    for (const [name, value] of Object.entries(c.env || {})) env[name] = substitute(value, c.runtimes || {});
    return await Promise.all(loaders.map(async (loader) => {
      const args = [session.winPath(loader)];
      if (c.target !== undefined) args.push('--target', c.target);
      if (c.folder !== undefined) args.push('--folder', substitute(c.folder, c.runtimes || {}));
      if (c.udf !== undefined) args.push('--udf', c.udf === null ? '-' : c.udf);
      const r = await session.run(PROBE, args, { env, timeoutMs: 30000 });
      if (r.code !== 0) {
        throw new Error(`loader probe ended with ${r.code} (${r.signal}): ${r.stdout}${r.stderr}`);
      }
      return r.stdout.split(/\r?\n/).filter(Boolean);
    }));
  } finally {
    removeRuntimes(session, c);
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

module.exports = {
  PROBE, OUR_LOADER, VENDOR_LOADER, CHANNELS, CLIENT_STATE, CLIENT_STATE_32, POLICIES, runCase,
};
