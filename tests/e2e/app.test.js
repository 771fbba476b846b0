'use strict';
// The whole application as a user meets it: the real exe under Wine on the browser runtime
// stand-in, the AI service stand-in on its built-in address and the update server
// stand-in as the HTTP proxy, with the real page driven over the DevTools protocol.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { listen } = require('../../standins/ai-service/server.js');
const { startOtaSession, digestOf, OTHER_KEY } = require('../support/ota.js');
const { windowState } = require('../support/shell.js');
const { sleep, waitFor, exitWithin, BUILD_DIR, REPO } = require('../support/wine.js');
const { recording, utterancesSent } = require('../support/voice-audio.js');
const {
  runtimeEnv, recordLines, freePort, reconnectPage, pageUp, chromiumProcessesUnder, expectNoDialog,
} = require('../support/browser-runtime.js');

const NEXT = path.join(BUILD_DIR, 'OVRA-Zirer-next.exe');
const AI_PORT = Number(new URL(JSON.parse(
  fs.readFileSync(path.join(REPO, 'desktop', 'endpoints.json'), 'utf8')).apiBase).port);

// Records every host event the page's hub receives in window.__seen: in the current
// document at once, in later ones as soon as the page defines its hub.
const RECORD_EVENTS = `(() => {
  const wrap = (hub) => {
    if (!hub || hub.__recorded) return;
    const emit = hub.emit;
    hub.__recorded = true;
    window.__seen = window.__seen || [];
    hub.emit = function (ev, payload) {
      window.__seen.push({ ev, payload, t: Date.now() });
      return emit.apply(this, arguments);
    };
  };
  if (window.__ovra) { wrap(window.__ovra); return; }
  let hub;
  Object.defineProperty(window, '__ovra', {
    configurable: true,
    get() { return hub; },
    set(value) { hub = value; wrap(value); },
  });
})();`;

let ctx;
let offeredDigest;
let ai;
let cdpPort;
let app;
let page;
let browser;
let appStarted;
let voice;
const SAID = ['今天天气怎么样，适合出门吗', '明天提醒我开会'];

const control = (patch) => ai.control(patch);
const recordFile = () => path.join(ctx.session.dir, 'runtime-record.txt');
const traceFile = () => path.join(ctx.session.dir, 'runtime-trace.txt');
const record = () => recordLines(recordFile());

// The browser keeps the data folder for a while after every close, as a real one can:
// the update's restart meets a folder still in use. The microphone plays the user's two
// phrases over and over, from when the page opens it. The stand-in records what it told
// the host.
function appEnv() {
  return { ...runtimeEnv(ctx.session, { port: cdpPort }), OVRA_STANDIN_LINGER_MS: '5000',
    OVRA_STANDIN_FAKE_AUDIO: voice.file, OVRA_STANDIN_RECORD: ctx.session.winPath(recordFile()), OVRA_STANDIN_LOG: ctx.session.winPath(traceFile()),
    http_proxy: `http://127.0.0.1:${ctx.server.port}`, no_proxy: '' };
}

// Connects again until the page is there (`ready` holds in it), and records its events.
async function openPage(what = 'the page', ready = pageUp) {
  if (browser) await browser.close().catch(() => {});
  ({ browser, page } = await reconnectPage(cdpPort, { ready, what }));
  await page.addInitScript(RECORD_EVENTS);
  await page.evaluate(RECORD_EVENTS);
}

const seen = (name) => page.evaluate((n) => window.__seen.filter((e) => e.ev === n), name);
const text = (sel) => page.locator(sel).innerText();

async function mainWindow() {
  return waitFor(() => ctx.session.windows('^OVRA-Zirer$').find((w) => w.width > 700) || null,
    { timeoutMs: 20000, what: 'main window' });
}

before(async () => {
  ctx = await startOtaSession();
  // The next release is on offer: the same program, one version up.
  fs.copyFileSync(NEXT, ctx.offered);
  offeredDigest = digestOf(ctx.offered);
  // Phrases of clearly different lengths, so that each upload can be told by its length.
  voice = recording(path.join(ctx.session.dir, 'microphone.wav'), [1500, SAID[0], 3000, SAID[1], 3000]);
  ai = await listen(AI_PORT);
  cdpPort = await freePort();
  appStarted = Date.now();
  app = ctx.session.spawn(ctx.exeWin, [], { env: appEnv() });
  await openPage();
});

after(async () => {
  if (browser) await browser.close().catch(() => {});
  if (ai) { ai.server.closeAllConnections(); ai.server.close(); }
  if (ctx) await ctx.stop();
});

const connectedLines = () => page.locator('#events > *', { hasText: 'Host 已连接' }).count();

test('the page shows the host version and gets host information twice at start', async () => {
  await waitFor(async () => (await connectedLines()) >= 2, { what: 'two hostInfo events' });
  await sleep(1000);
  assert.equal(await connectedLines(), 2);
  assert.equal(await text('#versionLabel'), 'v1.0.4');
  await page.evaluate(() => window.__ovra.post({ cmd: 'getHostInfo' }));
  const info = await waitFor(async () => (await seen('hostInfo'))[0] || null, { what: 'hostInfo' });
  assert.equal(info.payload.version, '1.0.4');
  assert.equal(info.payload.product, 'OVRA-Zirer');
  assert.equal(info.payload.exe, ctx.exeWin);
  assert.match(info.payload.apiBase, /^http:\/\/[^/]+\/ai\/v1$/);
});

test('a chat turn streams the answer sentence by sentence', async () => {
  await control({ reset: true, answer: '第一句来了。第二句也到了！最后一句没有标点', tokenDelayMs: 60 });
  await page.evaluate(() => {
    window.__sentenceCounts = [];
    const stream = document.getElementById('stream');
    new MutationObserver(() => {
      const bubbles = stream.querySelectorAll('.msg.assistant');
      const last = bubbles[bubbles.length - 1];
      window.__sentenceCounts.push(last ? last.querySelectorAll('.sentence').length : 0);
    }).observe(stream, { childList: true, subtree: true, characterData: true });
  });
  await page.locator('#input').fill('你好');
  await page.locator('#input').press('Enter');
  const last = page.locator('#stream .msg.assistant').last();
  await waitFor(async () => (await last.locator('.sentence').count()) === 3 &&
    !(await page.evaluate(() => !document.getElementById('thinking').hidden)),
  { timeoutMs: 30000, what: 'the whole answer' });
  assert.deepEqual(await last.locator('.sentence').allInnerTexts(),
    ['第一句来了。', '第二句也到了！', '最后一句没有标点']);
  const counts = await page.evaluate(() => window.__sentenceCounts);
  assert.ok(counts.includes(1) && counts.includes(2), `sentences arrived one by one: ${counts}`);
});

test('about 8 s after start an available update turns the pill', async () => {
  await waitFor(async () => (await text('#otaText')) === '可升级 1.0.5',
    { timeoutMs: 30000, what: 'the update pill' });
  const first = (await ctx.server.requests()).find((r) => /version\.json/.test(r.url));
  const after = (first.at - appStarted) / 1000;
  assert.ok(after >= 8 && after < 20, `start-up check came after ${after.toFixed(1)} s`);
  assert.equal(await page.locator('#otaModal').isVisible(), false);
});

test('spoken phrases reach the chat through the AI service, the browser\'s recognition failing here', async () => {
  await control({ reset: true, answer: '收到。' });
  await page.locator('#btnVad').click();
  await page.locator('#btnMic').click();
  // The browser's recognition fails after a while that a busy machine stretches, and a
  // phrase played while it still runs reaches the page shortened. The recording goes
  // round: once the service listens, every phrase after the first it hears is whole.
  await waitFor(async () => /^AI 服务语音识别在听/.test(await text('#composerHint')),
    { timeoutMs: 30000, what: 'the service route' }).catch(async (err) => {
    throw new Error(`${err.message}; the page's events: ${await text('#events')}`);
  });
  await control({ reset: true, answer: '收到。', transcripts: [...SAID, ...SAID] });
  // The user's voice messages as the page shows them (answers asked ahead stay unseen),
  // but for one the service may have made up before the phrases were queued.
  const said = async () => (await page.locator('#stream .msg.user', { has: page.locator('.meta', { hasText: '语音输入' }) })
    .locator('.bubble').allTextContents()).filter((m) => !m.startsWith('（演示转写）'));
  await waitFor(async () => (await said()).length >= 3, { timeoutMs: 3 * voice.ms + 30000, what: 'three voice messages' });
  await page.locator('#btnMic').click();
  await page.locator('#btnVad').click();
  // Whole phrases with a little of the quiet around them, taking turns as the recording
  // plays them; each message is what the service made of one of them.
  const sent = utterancesSent(ai.log);
  const phrase = (t) => voice.phrases.findIndex((p) => Math.abs(t.seconds - p.ms / 1000) < 0.75);
  const heard = sent.slice(1).map(phrase);
  assert.ok(heard[0] >= 0 && heard.every((k, i) => k === (heard[0] + i) % 2),
    `uploads of ${sent.map((t) => t.seconds.toFixed(2)).join(', ')} s for phrases of ${voice.phrases.map((p) => (p.ms / 1000).toFixed(2)).join(', ')} s`);
  const shown = (await said()).slice(0, 3);
  assert.ok(shown.every((m, i) => m.startsWith(sent[i].text)), `messages ${shown.join(' | ')}`);
  assert.deepEqual(sent.slice(0, 3).map((t) => t.text), [SAID[0], SAID[1], SAID[0]]);
});

test('F5 in the window reloads the page and hostReady arrives again', async () => {
  const w = await mainWindow();
  await page.evaluate(() => { window.__beforeReload = true; });
  ctx.session.xdotool('windowactivate', '--sync', w.id);
  ctx.session.xdotool('key', '--window', w.id, 'F5');
  await waitFor(async () => {
    try {
      return await page.evaluate(() => !window.__beforeReload &&
        window.__seen.some((e) => e.ev === 'hostReady'));
    } catch { return false; }
  }, { timeoutMs: 30000, what: 'hostReady after reload' });
  assert.equal((await seen('hostReady')).at(-1).payload.version, '1.0.4');
});

async function chatAnswers(question) {
  await control({ reset: true, answer: '我还在，请讲。', tokenDelayMs: 10 });
  const answers = page.locator('#stream .msg.assistant');
  const before = await answers.count();
  await page.locator('#input').fill(question);
  await page.locator('#input').press('Enter');
  await waitFor(async () => (await answers.count()) > before &&
    (await answers.last().innerText()).includes('我还在'), { timeoutMs: 30000, what: 'an answer' });
}

// Waits for a new document of the page (the marked one gone) and returns the seconds
// since `since`.
async function pageBack(since, what) {
  await openPage(what, () => !window.__beforeFault && (!!window.__ovra &&
    document.querySelectorAll('#events > *').length > 0));
  return (Date.now() - since) / 1000;
}

async function markPage() {
  await page.evaluate(() => { window.__beforeFault = true; });
  return page.context().newCDPSession(page);
}

// This session's Chromium processes of a type (none: the browser process itself), not
// the guard that watches them.
function chromiumOfType(type) {
  return chromiumProcessesUnder(ctx.session.dir).filter((pid) => {
    let args;
    try { args = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0'); } catch { return false; }
    if (!/chromium$/.test(args[0])) return false;
    const kind = args.find((a) => a.startsWith('--type='));
    return type ? kind === `--type=${type}` : !kind;
  });
}

// The browser's GPU process, as the browser itself names it.
async function gpuProcess() {
  const session = await browser.newBrowserCDPSession();
  const { processInfo } = await session.send('SystemInfo.getProcessInfo');
  await session.detach();
  return (processInfo.find((p) => p.type === 'GPU') || {}).id;
}

test('the cockpit comes back after a renderer crash, a hung page and a killed browser; a GPU crash leaves it be', async (t) => {
  // The runtime starts a GPU process again by itself: the page is not reloaded for it.
  await markPage();
  const gpu = await waitFor(gpuProcess, { timeoutMs: 20000, what: 'the GPU process' });
  // The stand-in learns of the GPU process by asking now and then.
  await waitFor(() => fs.existsSync(traceFile()) && fs.readFileSync(traceFile(), 'utf8').includes(`gpu process ${gpu}\n`),
    { what: 'the stand-in watching the GPU process' });
  process.kill(gpu, 'SIGKILL');
  await waitFor(() => record().includes('failed 6'), { timeoutMs: 20000, what: 'the GPU failure raised to the host' });
  await chatAnswers('显卡进程崩溃之后');
  assert.equal(await page.evaluate(() => window.__beforeFault), true, 'the page was loaded again');

  let cdp = await markPage();
  let at = Date.now();
  cdp.send('Page.crash').catch(() => {});
  t.diagnostic(`renderer crash: back after ${(await pageBack(at, 'page after a crash')).toFixed(1)} s`);
  await chatAnswers('崩溃之后');

  cdp = await markPage();
  at = Date.now();
  await cdp.send('Runtime.evaluate', { expression: 'setTimeout(() => { for (;;) {} }, 0); 0' });
  t.diagnostic(`hung page: back after ${(await pageBack(at, 'page after a hang')).toFixed(1)} s`);
  await chatAnswers('卡住之后');

  await markPage();
  const [main] = chromiumOfType(null);
  assert.ok(main, 'the browser process');
  at = Date.now();
  process.kill(main, 'SIGKILL');
  t.diagnostic(`browser killed: back after ${(await pageBack(at, 'page after the browser died')).toFixed(1)} s`);
  await expectNoDialog(ctx.session);
  await chatAnswers('浏览器重启之后');
  assert.equal(await text('#versionLabel'), 'v1.0.4');
});

test('200 update checks at once are answered from a few requests to the server', async () => {
  const manifestRequests = async () =>
    (await ctx.server.requests()).filter((r) => /version\.json/.test(r.url)).length;
  // The page's own check a while after it loaded must not count among these.
  await waitFor(async () => (await seen('otaStatus')).length > 0,
    { what: "the page's own check", timeoutMs: 30000 });
  const before = await manifestRequests();
  const answered = (await seen('otaStatus')).length;
  await page.evaluate(() => { for (let i = 0; i < 200; i++) window.__ovra.post({ cmd: 'checkOta' }); });
  await waitFor(async () => (await seen('otaStatus')).length - answered >= 200,
    { timeoutMs: 60000, what: '200 answers' });
  await sleep(2000);
  const answers = (await seen('otaStatus')).slice(answered);
  assert.equal(answers.length, 200);
  assert.ok(answers.every((a) => a.payload.available === true && a.payload.version === '1.0.5'));
  // A check's answer may still serve the first of them (for 2 s): at most a few ask.
  const asked = (await manifestRequests()) - before;
  assert.ok(asked <= 3, `${asked} requests to the update server`);
});

test('window buttons maximise, restore and minimise; a second start brings it back', async () => {
  const until = (check, what) => windowState(ctx.session, check, what);
  await page.locator('#btnMax').click();
  await until((w) => w.zoomed === 1, 'maximised window');
  await page.locator('#btnMax').click();
  await until((w) => w.zoomed === 0 && w.iconic === 0, 'restored window');
  await page.locator('#btnMin').click();
  await until((w) => w.iconic === 1, 'minimised window');
  const second = await ctx.session.run(ctx.exeWin, [], { env: appEnv(), timeoutMs: 60000 });
  assert.equal(second.code, 0);
  const w = await until((x) => x.iconic === 0 && x.foreground === 1, 'window back in front');
  assert.equal(w.count, 1);
});

test('an update started from the page replaces the exe and the new version comes up', async () => {
  // The page goes with the program: its progress is written to the console as it comes.
  const stages = [];
  page.on('console', (m) => { if (m.text().startsWith('ota ')) stages.push(JSON.parse(m.text().slice(4))); });
  await page.evaluate(() => window.__ovra.on('ota', (p) => console.log('ota ' + JSON.stringify(p))));
  // After the reload the page knows of no update yet: its first click asks the host, the
  // next one opens the dialog for the update the host reported.
  await waitFor(async () => {
    await page.locator('#otaPill').click();
    await sleep(1500);
    return page.locator('#otaModal').isVisible();
  }, { timeoutMs: 60000, what: 'the update dialog' });
  await page.locator('#btnOtaGo').click();
  const exit = await exitWithin(app, 120000);
  assert.ok(exit, 'the window closed after the update was applied');
  assert.equal(exit.code, 0);
  const kinds = stages.map((s) => s.stage);
  assert.equal(kinds[0], 'download');
  assert.ok(kinds.includes('verify') && kinds.at(-1) === 'apply', kinds.join(','));
  const pcts = stages.filter((s) => s.stage === 'download').map((s) => s.pct);
  assert.ok(pcts.length > 10 && pcts.at(-1) === 100, `progress ${pcts.join(',')}`);
  await browser.close().catch(() => {});
  await waitFor(() => digestOf(ctx.exe) === offeredDigest,
    { timeoutMs: 60000, what: 'the swap script to replace the exe' });
  assert.equal(digestOf(`${ctx.exe}.bak`), ctx.installedDigest);
  // The swap script starts the new build, which shows its own version in the page.
  await openPage();
  await waitFor(async () => (await text('#versionLabel')) === 'v1.0.5', { what: 'new version label' });
  // Its page came up, so it passed its trial: it stays, and the backup has done its work.
  await waitFor(() => !fs.existsSync(`${ctx.exe}.trial`) && ctx.scripts().length === 0,
    { timeoutMs: 30000, what: 'the trial to end' });
  assert.ok(ctx.logSince(0).includes('update trial: 1.0.5 passed'));
  assert.equal(digestOf(ctx.exe), offeredDigest);
  assert.equal(fs.existsSync(`${ctx.exe}.bak`), false);
  assert.equal(fs.existsSync(`${ctx.exe}.lock`), false);
  await page.locator('#btnClose').click();
  await waitFor(() => !ctx.session.windows('^OVRA-Zirer$').length, { timeoutMs: 30000, what: 'close' });
  await browser.close().catch(() => {});
  await waitFor(() => chromiumProcessesUnder(ctx.session.dir).length === 0,
    { timeoutMs: 20000, what: 'Chromium to end with the host' });
});

test('closing the window during a stalled download exits with 0 and removes the download', async (t) => {
  await ctx.reinstall();
  fs.copyFileSync(NEXT, ctx.offered);
  await ctx.server.control({ fileFault: 'stall' });
  app = ctx.session.spawn(ctx.exeWin, [], { env: appEnv() });
  await openPage();
  await page.evaluate(() => { window.__stages = []; window.__ovra.on('ota', (p) => window.__stages.push(p)); });
  await page.evaluate(() => window.__ovra.post({ cmd: 'applyOta' }));
  await waitFor(async () => (await page.evaluate(() => window.__stages))
    .some((s) => s.stage === 'download' && s.pct > 0), { timeoutMs: 60000, what: 'download under way' });
  await sleep(1000);
  const at = Date.now();
  await page.locator('#btnClose').dispatchEvent('click');
  const exit = await exitWithin(app, 30000);
  assert.ok(exit, 'the program ended');
  t.diagnostic(`closed during a stalled download: ended after ${((Date.now() - at) / 1000).toFixed(1)} s`);
  assert.equal(exit.code, 0);
  assert.deepEqual(ctx.runFiles(), []);
  assert.deepEqual(ctx.stagedFiles(), []);
  assert.equal(digestOf(ctx.exe), ctx.installedDigest);
  await ctx.server.control({ fileFault: 'none' });
  await browser.close().catch(() => {});
});

// Asks for update checks until one answered after this call matches: a check already
// under way (the page's own, say) shares its answer with requests that come meanwhile,
// and so does one that ended a moment ago.
async function checkUntil(match, what) {
  const before = (await seen('otaStatus')).length;
  return waitFor(async () => {
    const found = (await seen('otaStatus')).slice(before).find((s) => match(s.payload));
    if (!found) await page.evaluate(() => window.__ovra.post({ cmd: 'checkOta' }));
    return found;
  }, { timeoutMs: 60000, intervalMs: 3000, what });
}

test('a digest mismatch is shown and leaves the exe alone; a check without server says no', async () => {
  await ctx.reinstall();
  fs.copyFileSync(NEXT, ctx.offered);
  await ctx.server.control({ manifestFault: 'wrongdigest' });
  app = ctx.session.spawn(ctx.exeWin, [], { env: appEnv() });
  await openPage();
  await page.evaluate(() => window.__ovra.post({ cmd: 'applyOta' }));
  await page.locator('.toast', { hasText: '升级失败: sha256 mismatch' }).waitFor({ timeout: 60000 });
  assert.equal(digestOf(ctx.exe), ctx.installedDigest);

  // A program folder that cannot be written: the page is told and the window stays.
  execFileSync('chattr', ['+i', ctx.appDir]);
  try {
    await page.evaluate(() => window.__ovra.post({ cmd: 'applyOta' }));
    await page.locator('.toast', { hasText: '升级失败: update failed: cannot write to the program folder' })
      .waitFor({ timeout: 60000 });
  } finally {
    execFileSync('chattr', ['-i', ctx.appDir]);
  }
  assert.equal(digestOf(ctx.exe), ctx.installedDigest);

  // A script of an earlier update still at work on the program (it holds the lock).
  fs.writeFileSync(`${ctx.exe}.lock`, '');
  const script = ctx.session.spawn(ctx.fixture('file_locker.exe'), [`${ctx.exeWin}.lock`, '15000', 'read']);
  let held = '';
  script.child.stdout.on('data', (d) => { held += d; });
  await waitFor(() => held.includes('locked'), { timeoutMs: 30000, what: 'the lock to be held' });
  await page.evaluate(() => window.__ovra.post({ cmd: 'applyOta' }));
  await page.locator('.toast', { hasText: '升级失败: 升级正在进行' }).waitFor({ timeout: 60000 });
  await script.exited;
  assert.equal(digestOf(ctx.exe), ctx.installedDigest);

  // A manifest signed with another key: the update is refused, the check says so.
  await ctx.server.control({ manifestFault: 'none', signKey: OTHER_KEY });
  await page.evaluate(() => window.__ovra.post({ cmd: 'applyOta' }));
  await page.locator('.toast', { hasText: '升级失败: update refused: manifest signature does not verify' })
    .waitFor({ timeout: 60000 });
  const refused = await checkUntil((p) => p.error, 'otaStatus of a refused check');
  assert.deepEqual(refused.payload, { available: false, version: '',
    error: 'update refused: manifest signature does not verify' });
  await waitFor(async () => (await text('#otaPill')).includes('更新被拒绝'), { what: 'refused pill' });
  assert.equal(digestOf(ctx.exe), ctx.installedDigest);

  await ctx.server.stop();
  const status = await checkUntil((p) => !p.error, 'otaStatus after a failed check');
  assert.equal(status.payload.available, false);

  // The update dialog still covers the page after the failure; the button is behind it.
  await page.locator('#btnClose').dispatchEvent('click');
  const exit = await exitWithin(app, 30000);
  assert.ok(exit && exit.code === 0, 'closed with exit code 0');
});
