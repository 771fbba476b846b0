'use strict';
// Our loader library against the vendor's, situation by situation: registered installs
// of each release channel, the release-channel settings and policies, configured
// folders, user data folders and failed creations. Both must report the same version
// text and result codes and call the runtime's client library with the same arguments.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { startWineSession } = require('../support/wine.js');
const L = require('../support/loader-cases.js');

const C = L.CHANNELS;
const HKLM = 'HKEY_LOCAL_MACHINE\\';
const HKCU = 'HKEY_CURRENT_USER\\';
const APP = 'C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application\\';
const EXE = 'loader_probe.exe';

const installed = (version, client) => ({ path: APP + version, client });
// The registration of runtime `id` for a channel; by default where installers put it,
// in the 32-bit view of the machine's registry.
const register = (channel, id, root = HKLM + L.CLIENT_STATE_32) =>
  [`${root}\\${C[channel]}`, 'EBWebView', `<${id}>`];
const policy = (hive, name, valueName, data) => [`${hive}${L.POLICIES}\\${name}`, valueName, data];

// One install per channel, the versions telling them apart.
const FIVE = {
  s: installed('120.0.2210.91'), b: installed('121.0.2277.4'), d: installed('122.0.2300.1'),
  c: installed('123.0.2320.0'), i: installed('124.0.2400.2'),
};
const FIVE_REGISTERED = [register('stable', 's'), register('beta', 'b'), register('dev', 'd'),
  register('canary', 'c'), register('internal', 'i')];
const allFive = (name, extra = {}) => ({ name, runtimes: FIVE, registry: FIVE_REGISTERED, ...extra });
const channels = (list, preference) => allFive(`channels "${list}"${preference ? ', least stable first' : ''}`, {
  env: { WEBVIEW2_RELEASE_CHANNELS: list, ...(preference ? { WEBVIEW2_RELEASE_CHANNEL_PREFERENCE: preference } : {}) },
});
const stableNamed = (folderName) => ({
  name: `stable install in folder "${folderName}"`,
  runtimes: { a: installed(folderName) }, registry: [register('stable', 'a')],
});
const TWO = { a: installed('120.0.2210.91'), b: installed('121.0.2277.4'), old: installed('80.0.361.0') };
const FOLDERS = {
  f: { path: 'C:\\runtimes\\fixed' },
  g: { path: 'C:\\runtimes\\unversioned', client: 'fake_client_noversion' },
  a: installed('120.0.2210.91'),
};

const GROUPS = {
  'registered installs and where they are read': [
    { name: 'no runtime' },
    { name: 'stable, machine, 32-bit view', runtimes: { a: installed('120.0.2210.91') }, registry: [register('stable', 'a')] },
    { name: 'stable, machine, 64-bit view only', runtimes: { a: installed('120.0.2210.91') },
      registry: [register('stable', 'a', HKLM + L.CLIENT_STATE)] },
    { name: 'stable, user', runtimes: { a: installed('120.0.2210.91') }, registry: [register('stable', 'a', HKCU + L.CLIENT_STATE)] },
    { name: 'stable, user, 32-bit view', runtimes: { a: installed('120.0.2210.91') },
      registry: [register('stable', 'a', HKCU + L.CLIENT_STATE_32)] },
    { name: 'machine 64-bit and 32-bit views', runtimes: TWO,
      registry: [register('stable', 'a', HKLM + L.CLIENT_STATE), register('stable', 'b')] },
    { name: 'user 64-bit and 32-bit views', runtimes: TWO,
      registry: [register('stable', 'a', HKCU + L.CLIENT_STATE), register('stable', 'b', HKCU + L.CLIENT_STATE_32)] },
    { name: 'machine before user', runtimes: TWO, registry: [register('stable', 'b'), register('stable', 'a', HKCU + L.CLIENT_STATE)] },
    { name: 'user stable before machine beta', runtimes: TWO,
      registry: [register('beta', 'b'), register('stable', 'a', HKCU + L.CLIENT_STATE)] },
    { name: 'machine install without client library, user install', runtimes: { b: TWO.b },
      registry: [[`${HKLM}${L.CLIENT_STATE_32}\\${C.stable}`, 'EBWebView', `${APP}120.0.2210.91`],
        register('stable', 'b', HKCU + L.CLIENT_STATE)] },
    { name: 'machine install too old, user install', runtimes: TWO,
      registry: [register('stable', 'old'), register('stable', 'b', HKCU + L.CLIENT_STATE)] },
    { name: 'empty registration, user install', runtimes: TWO,
      registry: [[`${HKLM}${L.CLIENT_STATE_32}\\${C.stable}`, 'EBWebView', ''], register('stable', 'b', HKCU + L.CLIENT_STATE)] },
    { name: 'registration with a trailing backslash', runtimes: { a: TWO.a },
      registry: [[`${HKLM}${L.CLIENT_STATE_32}\\${C.stable}`, 'EBWebView', '<a>\\']] },
    { name: 'registration naming the EBWebView folder', runtimes: { a: TWO.a },
      registry: [[`${HKLM}${L.CLIENT_STATE_32}\\${C.stable}`, 'EBWebView', '<a>\\EBWebView']] },
  ],
  'channels: names, which wins, settings and policies': [
    { name: 'beta alone', runtimes: FIVE, registry: [register('beta', 'b')] },
    { name: 'dev alone', runtimes: FIVE, registry: [register('dev', 'd')] },
    { name: 'canary alone', runtimes: FIVE, registry: [register('canary', 'c')] },
    { name: 'internal alone', runtimes: FIVE, registry: [register('internal', 'i')] },
    { name: 'beta and dev', runtimes: FIVE, registry: [register('beta', 'b'), register('dev', 'd')] },
    allFive('all five'),
    allFive('all five, least stable first', { env: { WEBVIEW2_RELEASE_CHANNEL_PREFERENCE: '1' } }),
    allFive('all five, preference 2', { env: { WEBVIEW2_RELEASE_CHANNEL_PREFERENCE: '2' } }),
    allFive('all five, preference "1x"', { env: { WEBVIEW2_RELEASE_CHANNEL_PREFERENCE: '1x' } }),
    allFive('all five, preference "11"', { env: { WEBVIEW2_RELEASE_CHANNEL_PREFERENCE: '11' } }),
    channels('1'), channels('4'), channels('3,2'), channels('3,2', '1'), channels('1,3', '1'),
    channels(' 2 , 3'), channels('2;3', '1'), channels('1,,3', '1'), channels(',1'), channels('3,x', '1'), channels('9,2', '1'), channels('-1,3', '1'), channels('5', '1'), channels('2,7', '1'),
    channels(''),
    { name: 'stable only, channels "1"', runtimes: FIVE, registry: [register('stable', 's')], env: { WEBVIEW2_RELEASE_CHANNELS: '1' } },
    { name: 'machine beta, user stable, channels "0"', runtimes: TWO, env: { WEBVIEW2_RELEASE_CHANNELS: '0' },
      registry: [register('beta', 'b'), register('stable', 'a', HKCU + L.CLIENT_STATE)] },
    allFive('preference policy, number', { registry: [...FIVE_REGISTERED, policy(HKLM, 'ReleaseChannelPreference', '*', { dword: 1 })] }),
    allFive('preference policy, text, user, this program',
      { registry: [...FIVE_REGISTERED, policy(HKCU, 'ReleaseChannelPreference', EXE, '1')] }),
    allFive('preference variable over policy', { env: { WEBVIEW2_RELEASE_CHANNEL_PREFERENCE: '0' },
      registry: [...FIVE_REGISTERED, policy(HKLM, 'ReleaseChannelPreference', '*', { dword: 1 })] }),
    allFive('channels policy, text', { registry: [...FIVE_REGISTERED, policy(HKLM, 'ReleaseChannels', '*', '2')] }),
    allFive('channels policy, number', { registry: [...FIVE_REGISTERED, policy(HKLM, 'ReleaseChannels', '*', { dword: 2 })] }),
    allFive('channels policy, this program over every program', { registry: [...FIVE_REGISTERED,
      policy(HKLM, 'ReleaseChannels', '*', '2'), policy(HKLM, 'ReleaseChannels', EXE, '3')] }),
    allFive('channels policy, machine over user', { registry: [...FIVE_REGISTERED,
      policy(HKLM, 'ReleaseChannels', '*', '2'), policy(HKCU, 'ReleaseChannels', EXE, '3')] }),
    allFive('channels variable over policy', { env: { WEBVIEW2_RELEASE_CHANNELS: '3' },
      registry: [...FIVE_REGISTERED, policy(HKLM, 'ReleaseChannels', '*', '2')] }),
  ],
  'versions of registered installs and the target version': [
    ...['86.0.616.0', '86.0.615.99', '86.0.616', '86', '89.0.774.0', '90.0.0.0', 'current',
      '120', '120.0.abc.91', '86.0.abc.0', '0120.0.2210.91', '120.0.2210.91.1', '86.0.616.-1', '0x80.0.0.0']
      .map(stableNamed),
    { name: 'folder not named by a version, then beta', runtimes: { a: installed('current'), b: TWO.b },
      registry: [register('stable', 'a'), register('beta', 'b')] },
    { name: 'stable too old, then beta', runtimes: { a: TWO.old, b: TWO.b }, registry: [register('stable', 'a'), register('beta', 'b')] },
    { ...stableNamed('120.0.2210.91'), name: 'target version above the install', target: '130.0.0.0' },
    { ...stableNamed('120.0.2210.91'), name: 'target version below the install', target: '100.0.0.0' },
    allFive('target version above stable, all five', { target: '122.0.0.0' }),
    { name: 'configured folder, target version above it', runtimes: FOLDERS, folder: '<f>', target: '130.0.0.0' },
  ],
  'configured folders and user data folders': [
    { name: 'folder argument', runtimes: FOLDERS, folder: '<f>' },
    { name: 'folder argument with trailing backslash', runtimes: FOLDERS, folder: '<f>\\' },
    { name: 'folder argument without version resource', runtimes: FOLDERS, folder: '<g>' },
    { name: 'folder argument empty', runtimes: FOLDERS, folder: '', registry: [register('stable', 'a')] },
    { name: 'folder argument without runtime', runtimes: FOLDERS, folder: 'C:\\nothing', registry: [register('stable', 'a')] },
    { name: 'folder argument naming EBWebView', runtimes: FOLDERS, folder: '<f>\\EBWebView' },
    { name: 'folder variable over argument', runtimes: FOLDERS, folder: '<f>', env: { WEBVIEW2_BROWSER_EXECUTABLE_FOLDER: '<g>' } },
    { name: 'folder variable without runtime', runtimes: FOLDERS, env: { WEBVIEW2_BROWSER_EXECUTABLE_FOLDER: 'C:\\nothing' },
      registry: [register('stable', 'a')] },
    { name: 'folder policy over argument', runtimes: FOLDERS, folder: '<f>',
      registry: [policy(HKLM, 'BrowserExecutableFolder', '*', '<g>')] },
    { name: 'folder variable over policy', runtimes: FOLDERS, env: { WEBVIEW2_BROWSER_EXECUTABLE_FOLDER: '<f>' },
      registry: [policy(HKLM, 'BrowserExecutableFolder', '*', '<g>')] },
    { name: 'folder policy, machine every program over user this program', runtimes: FOLDERS,
      registry: [policy(HKLM, 'BrowserExecutableFolder', '*', '<g>'), policy(HKCU, 'BrowserExecutableFolder', EXE, '<f>')] },
    { name: 'folder policy, user, this program over every program', runtimes: FOLDERS,
      registry: [policy(HKCU, 'BrowserExecutableFolder', '*', '<g>'), policy(HKCU, 'BrowserExecutableFolder', EXE, '<f>')] },
    { name: 'folder policy, user, every program', runtimes: FOLDERS, registry: [policy(HKCU, 'BrowserExecutableFolder', '*', '<f>')] },
    { name: 'folder policy with an environment reference', runtimes: FOLDERS,
      registry: [policy(HKLM, 'BrowserExecutableFolder', '*', '%SystemDrive%\\runtimes\\fixed')] },
    { name: 'no user data folder', runtimes: FOLDERS, folder: '<f>', udf: null },
    { name: 'no user data folder, installed runtime', runtimes: FOLDERS, registry: [register('stable', 'a')], udf: null },
    { name: 'relative user data folder', runtimes: FOLDERS, folder: '<f>', udf: 'data' },
    { name: 'user data folder variable', runtimes: FOLDERS, folder: '<f>', env: { WEBVIEW2_USER_DATA_FOLDER: 'C:\\from-variable' } },
    { name: 'user data folder policy, every program', runtimes: FOLDERS, folder: '<f>',
      registry: [policy(HKLM, 'UserDataFolder', '*', 'C:\\every')] },
    { name: 'user data folder policy, this program, machine over user', runtimes: FOLDERS, registry: [register('stable', 'a'),
      policy(HKLM, 'UserDataFolder', EXE, 'C:\\machine'), policy(HKCU, 'UserDataFolder', EXE, 'C:\\user')] },
    { name: 'user data folder policy, user, this program', runtimes: FOLDERS, folder: '<f>',
      registry: [policy(HKLM, 'UserDataFolder', '*', 'C:\\every'), policy(HKCU, 'UserDataFolder', EXE, 'C:\\user')] },
    { name: 'user data folder variable over policy', runtimes: FOLDERS, folder: '<f>', env: { WEBVIEW2_USER_DATA_FOLDER: 'C:\\from-variable' },
      registry: [policy(HKLM, 'UserDataFolder', EXE, 'C:\\machine')] },
  ],
  'completions and failed creations': [
    allFive('completes', { env: { OVRA_FAKE_CLIENT_INVOKE: '0' } }),
    allFive('completes with S_FALSE', { env: { OVRA_FAKE_CLIENT_INVOKE: '1' } }),
    allFive('completes with a failure', { env: { OVRA_FAKE_CLIENT_INVOKE: '80004005' } }),
    { name: 'configured folder completes with a failure', runtimes: FOLDERS, folder: '<f>', env: { OVRA_FAKE_CLIENT_INVOKE: '80004005' } },
    allFive('factory fails', { env: { OVRA_FAKE_CLIENT_RESULT: '80004005' } }),
    allFive('factory fails after completing with a failure', { env: { OVRA_FAKE_CLIENT_RESULT: '8007139F', OVRA_FAKE_CLIENT_INVOKE: '80004005' } }),
  ],
};

const vendorMissing = fs.existsSync(L.VENDOR_LOADER) ? false
  : `the vendor's loader is not at ${L.VENDOR_LOADER}`;

// What both loaders must agree on. Which newer option interfaces a loader asks the
// options object for is its own affair: ours knows none of them.
const comparable = (lines) => lines.filter((line) => !line.startsWith('options QueryInterface'));

let session;
const table = [];
before(async () => { if (!vendorMissing) session = await startWineSession(); });
after(async () => {
  if (session) await session.stop();
  if (process.env.OVRA_LOADER_TABLE && table.length) {
    fs.writeFileSync(process.env.OVRA_LOADER_TABLE, table.join('\n') + '\n');
  }
});

for (const [group, cases] of Object.entries(GROUPS)) {
  test(group, { skip: vendorMissing }, async () => {
    const differences = [];
    for (const c of cases) {
      const [vendor, ours] = await L.runCase(session, c, [L.VENDOR_LOADER, L.OUR_LOADER]);
      table.push(`${c.name}\t${vendor.join(' | ')}\t${ours.join(' | ')}`);
      assert.ok(vendor.some((line) => line.startsWith('create ')), `${c.name}: the probe did not run: ${vendor}`);
      if (JSON.stringify(comparable(vendor)) !== JSON.stringify(comparable(ours))) {
        differences.push({ case: c.name, vendor: comparable(vendor), ours: comparable(ours) });
      }
    }
    assert.deepEqual(differences, []);
  });
}
