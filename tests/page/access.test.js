'use strict';
// The cockpit for people who use a screen reader, the keyboard alone, high
// contrast or reduced motion, and the page's content security policy.
const test = require('node:test');
const assert = require('node:assert/strict');
const axe = require('axe-core');
const { setupForFile, say, waitIdle, emit } = require('../support/page.js');
const { MARKDOWN_DEMO } = require('../../standins/ai-service/answers');

const env = setupForFile(test);

const focusedId = (page) => page.evaluate(() => document.activeElement && document.activeElement.id);
const dialogOpen = (page) => page.evaluate(() => !document.getElementById('otaModal').hidden);

// Toasts last only a few seconds, less than some checks take on a busy
// machine; tests that read them keep them on the page.
const holdToasts = (page) =>
  page.evaluate(() => {
    const remove = Element.prototype.remove;
    Element.prototype.remove = function () {
      if (!this.classList.contains('toast')) remove.call(this);
    };
  });

// Runs every axe rule that is not experimental (best practices included) on
// the whole page. axe goes in over the debugging connection: the page's own
// policy would refuse it as a script.
async function audit(page) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.evaluate(axe.source);
  return page.evaluate(async () => {
    const r = await window.axe.run(document);
    return { violations: r.violations, toasts: document.querySelectorAll('.toast').length };
  });
}

function found(result) {
  return result.violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).join(', '));
}

test('the audit finds nothing when idle, answering, with a structured answer, the update dialog open, the microphone on', async () => {
  // The second sentence keeps streaming for as long as the audit needs.
  env.control({ answer: '第一句话说完了。第二句还在慢慢地路上走着呢', tokenDelayMs: 1500, firstTokenDelayMs: 0 });
  const page = await env.open();
  await holdToasts(page);
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

  // An answer with structure: headings, lists, code with its button, a table, links.
  env.ai.control({ answer: MARKDOWN_DEMO, tokenDelayMs: 0 });
  await say(page, '写个示例');
  await waitIdle(page);
  await page.waitForSelector('#stream .code-block');
  results.structured = found(await audit(page));

  await page.click('#btnMic');
  await page.waitForFunction(() => document.getElementById('btnMic').textContent.includes('关闭'));
  results.microphone = found(await audit(page));

  await emit(page, 'otaStatus', { available: true, version: '1.0.5', notes: '修复语音播报卡顿', force: true });
  results.dialog = found(await audit(page));
  assert.deepEqual(results, { idle: [], answering: [], structured: [], microphone: [], dialog: [] });
  await page.context().close();
});

// The accessibility tree as a screen reader gets it: role, name, description
// and live setting of every node that is not ignored.
async function readerView(page) {
  const cdp = await page.context().newCDPSession(page);
  const { nodes } = await cdp.send('Accessibility.getFullAXTree');
  await cdp.detach();
  const prop = (n, name) => ((n.properties || []).find((p) => p.name === name) || { value: {} }).value.value;
  return nodes
    .filter((n) => !n.ignored)
    .map((n) => ({
      role: n.role && n.role.value,
      name: n.name ? n.name.value : '',
      description: n.description ? n.description.value : '',
      live: prop(n, 'live') || '',
      modal: prop(n, 'modal') || false,
    }));
}

test('screen readers: sentences once each, toasts, status texts, button names, the dialog', async () => {
  env.control({ answer: '**甲句**来了。乙句也到！丙句没有标点', tokenDelayMs: 60 });
  const page = await env.open();
  await holdToasts(page);
  // Every text the answer's live region hands a screen reader.
  await page.evaluate(() => {
    window.__told = [];
    new MutationObserver((records) => {
      for (const r of records) for (const n of r.addedNodes) window.__told.push(n.textContent);
    }).observe(document.getElementById('answerNews'), { childList: true, characterData: true, subtree: true });
  });
  await say(page, '说三句');
  await waitIdle(page);
  assert.deepEqual(await page.evaluate(() => window.__told), ['甲句来了。', '乙句也到！', '丙句没有标点']);

  await page.click('#btnVad');
  await emit(page, 'ota', { stage: 'error', message: 'x' });
  const roles = async (role, text) => page.getByRole(role).filter({ hasText: text }).count();
  assert.equal(await roles('alert', '升级失败: x'), 1, 'a failure is told at once');
  assert.equal(await roles('status', 'VAD 自动送话已开启'), 1, 'other toasts wait their turn');
  // The pills and the orb's state are status texts, read out as they change (the orb
  // rests once the answer's speech has ended).
  await page.waitForFunction(() => document.getElementById('orbState').textContent === '待命中');
  for (const text of ['AI 在线', '语音关闭', '视频关闭', '系统最新', '待命中']) assert.equal(await roles('status', text), 1, text);
  const names = (await readerView(page)).filter((n) => n.role === 'button').map((n) => n.name);
  for (const name of ['最小化', '最大化', '关闭']) assert.ok(names.includes(name), name);

  await emit(page, 'otaStatus', { available: true, version: '1.0.5', notes: '修复语音播报卡顿', force: true });
  const dialog = (await readerView(page)).filter((n) => n.role === 'dialog');
  assert.deepEqual(dialog, [{ role: 'dialog', name: '发现新版本', description: '修复语音播报卡顿', live: '', modal: true }]);
  await page.context().close();
});

test('keyboard alone: every control in visual order with a visible ring; send, microphone, update dialog', async () => {
  env.control({ answer: '好的。', tokenDelayMs: 0 });
  const page = await env.open();
  await emit(page, 'otaStatus', { available: true, version: '1.0.5', notes: '修复', force: false });
  const ring = () => {
    const s = getComputedStyle(document.activeElement);
    return s.outlineStyle !== 'none' && parseFloat(s.outlineWidth) >= 2;
  };
  // From the composer all the way round; past the last control focus leaves
  // the page once.
  await page.focus('#input');
  const walk = [];
  for (let i = 0; i < 14; i++) {
    await page.keyboard.press('Tab');
    const id = await focusedId(page);
    if (!id) continue;
    walk.push(id);
    assert.ok(await page.evaluate(ring), 'focus ring on ' + id);
  }
  assert.deepEqual(walk, [
    'btnSend', 'events',
    'otaPill', 'btnMin', 'btnMax', 'btnClose',
    'btnCam', 'btnMic', 'btnVad',
    'modelSelect', 'btnClear', 'stream', 'input',
  ]);
  const tabTo = async (id) => {
    const key = walk.lastIndexOf(id) < walk.lastIndexOf(await focusedId(page)) ? 'Shift+Tab' : 'Tab';
    for (let i = 0; i < walk.length && (await focusedId(page)) !== id; i++) await page.keyboard.press(key);
    assert.equal(await focusedId(page), id);
  };

  // A message typed and sent.
  await tabTo('input');
  await page.keyboard.type('键盘提问');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.querySelectorAll('#stream .msg.user').length === 1);
  await waitIdle(page);
  assert.match(await page.textContent('#stopHint'), /Esc/);

  // The microphone on and off.
  await tabTo('btnMic');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('btnMic').textContent.includes('关闭'));
  await page.keyboard.press('Space');
  await page.waitForFunction(() => document.getElementById('btnMic').textContent.includes('开启'));

  // The update dialog: focus in, kept in, Esc as "稍后", focus back.
  await tabTo('otaPill');
  await page.keyboard.press('Enter');
  assert.equal(await dialogOpen(page), true);
  const inDialog = [await focusedId(page)];
  for (const key of ['Tab', 'Tab', 'Shift+Tab', 'Shift+Tab']) {
    await page.keyboard.press(key);
    inDialog.push(await focusedId(page));
  }
  assert.deepEqual(inDialog, ['btnOtaLater', 'btnOtaGo', 'btnOtaLater', 'btnOtaGo', 'btnOtaLater']);
  await page.keyboard.press('Escape');
  assert.equal(await dialogOpen(page), false);
  assert.equal(await focusedId(page), 'otaPill');
  assert.equal(await page.evaluate(() => localStorage.getItem('otaDismissed')), '1.0.5');
  await page.context().close();
});

test('reduced motion stops the endless animations; forced colours keep marks, buttons and the ring visible', async () => {
  env.control({ answer: '慢慢地说一句话。', tokenDelayMs: 400 });
  // Animations that are still to run after a moment, and how long each lasts.
  const lasting = (page) =>
    page.evaluate(async () => {
      await new Promise((r) => setTimeout(r, 200));
      return document
        .getAnimations()
        .map((a) => a.effect.getComputedTiming())
        .filter((t) => t.endTime > 100)
        .map((t) => t.endTime);
    });
  const busyPage = async (opts) => {
    const page = await env.open(opts);
    await page.click('#btnMic');
    await page.waitForFunction(() => /聆听中|听到声音/.test(document.getElementById('orbState').textContent));
    await say(page, '动一动');
    await page.waitForSelector('#stream .cursor');
    return page;
  };

  let page = await busyPage({ reducedMotion: 'reduce' });
  assert.deepEqual(await lasting(page), []);
  // The listening orb, without its breathing, still looks unlike the idle one.
  const cores = await page.evaluate(() =>
    ['orb', 'orb listening'].map((cls) => {
      const orb = document.body.appendChild(document.createElement('div'));
      orb.className = cls;
      const core = orb.appendChild(document.createElement('div'));
      core.className = 'orb-core';
      return getComputedStyle(core).boxShadow;
    }),
  );
  assert.notEqual(cores[0], cores[1]);
  await page.context().close();

  page = await env.open({ forcedColors: 'active' });
  await page.focus('#btnSend');
  await page.keyboard.press('Shift+Tab');
  await page.keyboard.press('Tab');
  const looks = await page.evaluate(() => {
    const style = (sel) => getComputedStyle(document.querySelector(sel));
    const probe = document.body.appendChild(document.createElement('div'));
    probe.style.backgroundColor = 'Canvas';
    const canvas = getComputedStyle(probe).backgroundColor;
    const shows = (s) => s.backgroundColor !== canvas && !s.backgroundColor.endsWith(', 0)');
    return {
      orb: shows(style('.orb-core')),
      dot: shows(style('#apiPill .dot')),
      send: style('#btnSend').borderTopStyle !== 'none',
      ring: style('#btnSend').outlineStyle !== 'none',
    };
  });
  assert.deepEqual(looks, { orb: true, dot: true, send: true, ring: true });
  await page.context().close();
});

test('the page runs only its own code and talks only to the AI service', async () => {
  const page = await env.open();
  const urls = {
    api: env.ai.apiBase + '/models',
    // The page's own server and the AI service outside its API base.
    own: new URL('/elsewhere', env.ui.url).href,
    service: new URL('/__log', env.ai.apiBase).href,
  };
  const outcome = await page.evaluate(async (u) => {
    const refused = new Set();
    document.addEventListener('securitypolicyviolation', (e) => refused.add(e.effectiveDirective));
    const script = (set) => {
      const s = document.createElement('script');
      set(s);
      return new Promise((resolve) => {
        s.onload = () => resolve('loaded');
        s.onerror = () => resolve('refused');
        document.body.appendChild(s);
        if (!s.src) setTimeout(() => resolve(window.__ran ? 'ran' : 'refused'), 100);
      });
    };
    const fetched = (url) =>
      fetch(url).then(
        () => 'fetched',
        () => 'refused',
      );
    // Later, in a task of the page's own: code run over the debugging
    // connection is allowed eval itself.
    const evaluated = await new Promise((resolve) =>
      setTimeout(() => {
        try {
          resolve(eval('"ran"'));
        } catch (e) {
          resolve(e.name);
        }
      }),
    );
    const result = {
      inline: await script((s) => (s.textContent = 'window.__ran = 1')),
      // A script any browser would run, but from an origin the policy does not name.
      foreign: await script((s) => (s.src = 'data:text/javascript,window.__ran=2')),
      eval: evaluated,
      api: await fetched(u.api),
      own: await fetched(u.own),
      service: await fetched(u.service),
    };
    await new Promise((r) => setTimeout(r, 100));
    return { ...result, refused: [...refused].sort() };
  }, urls);
  assert.deepEqual(outcome, {
    inline: 'refused',
    foreign: 'refused',
    eval: 'EvalError',
    api: 'fetched',
    own: 'refused',
    service: 'refused',
    refused: ['connect-src', 'script-src', 'script-src-elem'],
  });
  await page.context().close();
});
