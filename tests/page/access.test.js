'use strict';
// The cockpit for people who use a screen reader, the keyboard alone, high
// contrast or reduced motion, and the page's content security policy.
const test = require('node:test');
const assert = require('node:assert/strict');
const axe = require('axe-core');
const { setup, say, waitIdle } = require('../support/page.js');

let env;
test.before(async () => {
  env = await setup();
});
test.after(() => env.close());

const emit = (page, ev, payload) => page.evaluate(([e, p]) => window.__ovra.emit(e, p), [ev, payload]);
const focusedId = (page) => page.evaluate(() => document.activeElement && document.activeElement.id);
const dialogOpen = (page) => page.evaluate(() => !document.getElementById('otaModal').hidden);

// Runs every axe rule that is not experimental (best practices included) on
// the whole page. Toasts last only a few seconds, less than an audit takes
// here, so they are held on the page meanwhile. axe goes in over the
// debugging connection: the page's own policy would refuse it as a script.
async function audit(page) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.evaluate(axe.source);
  return page.evaluate(async () => {
    const remove = Element.prototype.remove;
    Element.prototype.remove = function () {
      if (!this.classList.contains('toast')) remove.call(this);
    };
    try {
      const r = await window.axe.run(document);
      return { violations: r.violations, toasts: document.querySelectorAll('.toast').length };
    } finally {
      Element.prototype.remove = remove;
    }
  });
}

function found(result) {
  return result.violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).join(', '));
}

test('the audit finds nothing when idle, answering, with the update dialog open, with the microphone on', async () => {
  // The second sentence keeps streaming for as long as the audit needs.
  env.control({ answer: '第一句话说完了。第二句还在慢慢地路上走着呢', tokenDelayMs: 1500, firstTokenDelayMs: 0 });
  const page = await env.open();
  const results = {};
  results.idle = found(await audit(page));

  await say(page, '你好');
  await page.waitForSelector('#stream .sentence');
  // A switch and a failure each raise a toast; both are audited.
  await page.click('#btnVad');
  await emit(page, 'ota', { stage: 'error', message: 'sha256 mismatch' });
  const answering = await audit(page);
  assert.equal(answering.toasts, 2);
  results.answering = found(answering);
  await page.keyboard.press('Escape');
  await waitIdle(page);

  await page.click('#btnMic');
  await page.waitForFunction(() => document.getElementById('btnMic').textContent.includes('关闭'));
  results.microphone = found(await audit(page));

  await emit(page, 'otaStatus', { available: true, version: '1.0.5', notes: '修复语音播报卡顿', force: true });
  results.dialog = found(await audit(page));
  assert.deepEqual(results, { idle: [], answering: [], microphone: [], dialog: [] });
  await page.context().close();
});
