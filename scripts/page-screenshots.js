'use strict';
// Screenshots of the cockpit page into out/screenshots/: the wide layout with
// a streamed answer and live channels, the update dialog, and the narrow one;
// then the wide layout and the dialog again with the system asking for high
// contrast (forced colours) and for reduced motion, keyboard focus shown.
//   node scripts/page-screenshots.js
const fs = require('fs');
const path = require('path');
const { setup, say, waitIdle, ROOT } = require('../tests/support/page.js');

const OUT = path.join(ROOT, 'out/screenshots');

async function shoot(env, name, size, prepare, mode = {}) {
  const page = await env.open({ width: size[0], height: size[1], ...mode });
  await prepare(page);
  await page.waitForTimeout(400);
  const file = path.join(OUT, `${name}-${size[0]}x${size[1]}.png`);
  await page.screenshot({ path: file });
  await page.context().close();
  console.log(file);
}

async function conversation(page) {
  await page.evaluate(() => {
    window.__ovra.emit('hostInfo', { version: '1.0.4', apiBase: '', product: 'OVRA-Zirer', exe: 'C:\\OVRA\\OVRA-Zirer.exe' });
    window.__ovra.emit('otaStatus', { available: true, version: '1.0.5', notes: '修复语音播报卡顿', force: false });
  });
  // The channel switches live in the presence column, hidden when narrow.
  if (await page.isVisible('#btnCam')) {
    await page.click('#btnCam');
    await page.click('#btnMic');
    await page.click('#btnVad');
  }
  await say(page, '帮我规划一下今天的工作，先说重点。');
  await waitIdle(page);
  await page.fill('#input', '还有一个问题');
}

// The update dialog as a forced update on its way in.
async function updateDialog(page) {
  await page.evaluate(() => {
    window.__ovra.emit('otaStatus', { available: true, version: '1.0.5', notes: '强制升级：修复安全问题', force: true });
    window.__ovra.emit('ota', { stage: 'download', pct: 42 });
  });
}

// The conversation with the keyboard's focus on the send button.
async function conversationFocused(page) {
  await conversation(page);
  await page.keyboard.press('Tab');
}

// The dialog with the keyboard's focus moved to its second button.
async function updateDialogFocused(page) {
  await updateDialog(page);
  await page.keyboard.press('Tab');
}

async function main() {
  fs.mkdirSync(OUT, { recursive: true });
  const env = await setup();
  try {
    env.control({ speechMs: 200 });
    await shoot(env, 'cockpit', [1632, 884], conversation);
    await shoot(env, 'cockpit', [1000, 700], conversation);
    await shoot(env, 'update-dialog', [1632, 884], updateDialog);
    for (const [mode, media] of [
      ['forced-colours', { forcedColors: 'active' }],
      ['reduced-motion', { reducedMotion: 'reduce' }],
    ]) {
      await shoot(env, 'cockpit-' + mode, [1632, 884], conversationFocused, media);
      await shoot(env, 'update-dialog-' + mode, [1632, 884], updateDialogFocused, media);
    }
  } finally {
    await env.close();
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
