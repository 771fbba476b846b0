'use strict';
// Spoken audio of a sentence: espeak-ng's Mandarin voice encoded as MP3 by
// lame. Where either is missing, silent frames of about the same length, so
// the cockpit still plays something of the right duration.
const { spawn } = require('child_process');
const { silentMp3 } = require('./mp3');

const cache = new Map();
const CACHE_MAX = 64;

function run(command, args, input) {
  return new Promise((resolve, reject) => {
    const p = spawn(command, args, { stdio: ['pipe', 'pipe', 'ignore'] });
    const out = [];
    p.on('error', reject);
    p.stdout.on('data', (d) => out.push(d));
    p.on('close', (code) => (code === 0 ? resolve(Buffer.concat(out)) : reject(new Error(command + ' exited ' + code))));
    p.stdin.on('error', () => {});
    p.stdin.end(input);
  });
}

async function synthesize(text) {
  const wav = await run('espeak-ng', ['-v', 'cmn', '--stdin', '--stdout'], text);
  return run('lame', ['--quiet', '-b', '64', '-', '-'], wav);
}

// The MP3 of `text`, made once per text.
function spokenMp3(text) {
  const key = String(text || '').slice(0, 2000);
  if (!cache.has(key)) {
    if (cache.size >= CACHE_MAX) cache.delete(cache.keys().next().value);
    const made = synthesize(key).catch(() => silentMp3(300 + 200 * Array.from(key).length));
    cache.set(key, made);
  }
  return cache.get(key);
}

module.exports = { spokenMp3 };
