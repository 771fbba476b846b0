'use strict';
// What the shipped executable is made of, read from the file itself.

const { it } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { EXE } = require('../support/wine.js');

// DLLs every Windows installation has; nothing of ours or of the compiler's runtime.
const SYSTEM_DLLS = new Set(['advapi32.dll', 'bcrypt.dll', 'comctl32.dll', 'gdi32.dll',
  'kernel32.dll', 'msvcrt.dll', 'ole32.dll', 'oleaut32.dll', 'shell32.dll', 'shlwapi.dll',
  'user32.dll', 'version.dll', 'wininet.dll', 'ws2_32.dll', 'crypt32.dll', 'winhttp.dll',
  'userenv.dll', 'api-ms-win-crt-runtime-l1-1-0.dll']);

it('imports Windows system libraries only and is a GUI program', () => {
  const dump = execFileSync('x86_64-w64-mingw32-objdump', ['-p', EXE], { encoding: 'utf8' });
  const imports = [...dump.matchAll(/DLL Name: (\S+)/g)].map((m) => m[1].toLowerCase());
  assert.ok(imports.includes('kernel32.dll'));
  for (const dll of imports) assert.ok(SYSTEM_DLLS.has(dll), `imports ${dll}`);
  assert.match(dump, /Subsystem\s+00000002/, 'not a Windows GUI subsystem program');
});

it('carries version 1.0.4 with the product name and an application manifest', () => {
  const rc = execFileSync('x86_64-w64-mingw32-windres', ['-i', EXE, '-O', 'rc'],
    { encoding: 'utf8' });
  assert.match(rc, /FILEVERSION 1, 0, 4, 0/);
  assert.match(rc, /VALUE "ProductName", "OVRA-Zirer"/);
  assert.match(rc, /VALUE "ProductVersion", "1\.0\.4"/);
  const manifest = /1 24 \/\* RT_MANIFEST \*\/\s*BEGIN([\s\S]*?)\nEND/.exec(rc);
  assert.ok(manifest, 'no application manifest');
  assert.match(manifest[1], /PerMonitorV2/);
  assert.match(manifest[1], /asInvoker/);
});
