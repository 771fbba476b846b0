'use strict';
// Shared set-up for the page tests, the page benchmark and the screenshot
// script: the AI service stand-in, a static server for the page (with the API
// base put in as the build does) and headless Chromium with fake media.
const { execFileSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');
const { listen } = require('../../standins/ai-service/server');

const ROOT = path.resolve(__dirname, '../..');
const API_TOKEN = '__OVRA_API_BASE__';
const TYPES = { '.html': 'text/html', '.css': 'text/css', '.js': 'text/javascript' };

// The page's three files as the build joins them from its sources.
function assemblePage() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-page-'));
  execFileSync(path.join(ROOT, 'scripts/page-files.sh'), [dir]);
  return dir;
}

function serveUi(apiBase) {
  const dir = assemblePage();
  const server = http.createServer((req, res) => {
    const name = new URL(req.url, 'http://x').pathname.replace(/^\/ui\//, '');
    const file = path.join(dir, path.basename(name || 'index.html'));
    fs.readFile(file, 'utf8', (err, text) => {
      if (err) {
        res.writeHead(404);
        return res.end();
      }
      // The script and the page's security policy both name the API base.
      text = text.split(API_TOKEN).join(apiBase);
      res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] + '; charset=utf-8' });
      res.end(text);
    });
  });
  server.on('close', () => fs.rmSync(dir, { recursive: true, force: true }));
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      server.url = `http://127.0.0.1:${server.address().port}/ui/index.html`;
      resolve(server);
    });
  });
}

// `extraArgs` such as a recording for the fake microphone.
function launch(extraArgs = []) {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--use-fake-ui-for-media-stream',
      '--use-fake-device-for-media-stream',
      '--autoplay-policy=no-user-gesture-required',
      ...extraArgs,
    ],
  });
}

// Runs in the page before its own script: a recording host, a scripted
// speech recogniser (unless the browser's own is wanted), a recording speech
// synthesis, and probes on audio playback and object URLs.
function fakes(opts) {
  window.__posts = [];
  if (opts.host) {
    window.__host = { post: (m) => window.__posts.push(m) };
  }

  const probe = (window.__probe = { blobs: [], plays: [], ends: [], spoken: [], asr: [], fed: 0 });
  // Streamed bodies whose first bytes reached their media source, for tests that must
  // wait for them in real time before they move the page's clock.
  if (window.SourceBuffer) {
    const append = SourceBuffer.prototype.appendBuffer;
    const fed = new WeakSet();
    SourceBuffer.prototype.appendBuffer = function (bytes) {
      const counted = () => {
        if (!fed.has(this)) probe.fed++;
        fed.add(this);
      };
      this.addEventListener('updateend', counted, { once: true });
      return append.call(this, bytes);
    };
  }
  const createUrl = URL.createObjectURL.bind(URL);
  URL.createObjectURL = (blob) => {
    probe.blobs.push(blob);
    return createUrl(blob);
  };
  const play = HTMLMediaElement.prototype.play;
  HTMLMediaElement.prototype.play = function () {
    this.addEventListener('playing', () => probe.plays.push(performance.now()), { once: true });
    this.addEventListener('ended', () => probe.ends.push(performance.now()), { once: true });
    return play.call(this);
  };

  if (opts.synthesis) {
    class Utterance {
      constructor(text) {
        this.text = text;
      }
    }
    window.SpeechSynthesisUtterance = Utterance;
    Object.defineProperty(window, 'speechSynthesis', {
      configurable: true,
      value: {
        cancel() {},
        speak(u) {
          probe.spoken.push({ text: u.text, lang: u.lang, rate: u.rate });
          setTimeout(() => u.onend && u.onend(), 30);
        },
      },
    });
  }

  // Reference rendering of an answer from scratch: a span per trimmed
  // sentence (cut after a run of end marks and closing quotes or brackets; a
  // piece of marks alone joins the words after it), then the cursor (the text
  // alone when it has no sentence).
  window.__fullRender = (bubble, text) => {
    bubble.textContent = '';
    const tail = '。！？!?\n」』）)】\\]}》”’"\'';
    const cut = new RegExp('(?<=[。！？!?\\n][' + tail + ']*)(?![' + tail + '])');
    const parts = [];
    let carry = '';
    for (const piece of text.split(cut)) {
      carry += piece;
      if (new RegExp('[^\\s' + tail + ']').test(carry)) {
        parts.push(carry.trim());
        carry = '';
      }
    }
    if (carry.trim()) parts.push(carry.trim());
    if (!parts.length) {
      bubble.textContent = text;
      return;
    }
    for (const p of parts) {
      const s = document.createElement('span');
      s.className = 'sentence';
      s.dataset.text = p;
      s.textContent = p;
      bubble.appendChild(s);
    }
    const c = document.createElement('span');
    c.className = 'cursor';
    bubble.appendChild(c);
  };

  class Recognition {
    constructor() {
      probe.asr.push(this);
      this.started = 0;
    }
    start() {
      this.started++;
    }
    stop() {
      this.stopped = true;
    }
    // results: [[transcript, isFinal], ...]
    say(results, resultIndex = 0) {
      const list = results.map(([t, isFinal]) => Object.assign([{ transcript: t }], { isFinal }));
      this.onresult({ resultIndex, results: list });
    }
  }
  if (opts.recognition) {
    window.SpeechRecognition = Recognition;
    window.webkitSpeechRecognition = Recognition;
  }
}

async function openPage(browser, url, opts = {}) {
  const o = { host: true, synthesis: true, recognition: true, width: 1632, height: 884, ...opts };
  const context = await browser.newContext({
    viewport: { width: o.width, height: o.height },
    reducedMotion: o.reducedMotion || 'no-preference',
    forcedColors: o.forcedColors || 'none',
  });
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e));
  if (o.clock) await page.clock.install();
  await page.addInitScript(fakes, { host: o.host, synthesis: o.synthesis, recognition: o.recognition });
  if (o.init) await page.addInitScript(o.init, o.initArg);
  await page.goto(url);
  await page.waitForFunction(() => document.querySelector('#modelMatrix .model-item'));
  return page;
}

// One stand-in, one page server and one browser for a whole test file.
async function setup() {
  const ai = await listen(0);
  const ui = await serveUi(ai.apiBase);
  const browser = await launch();
  const env = {
    ai,
    ui,
    browser,
    open: (opts) => openPage(browser, ui.url, opts),
    // Short silent speech keeps the tests quick unless a test asks for voice.
    control: (patch) => ai.control({ reset: true, speechMs: 360, ...patch }),
    async close() {
      await browser.close();
      await new Promise((r) => ui.close(r));
      ai.server.closeAllConnections();
      await new Promise((r) => ai.server.close(r));
    },
  };
  return env;
}

// Types into the composer and presses Enter, as a user would.
// Resolves once the page has taken the message (a blank one is not taken).
async function say(page, text) {
  const count = () => document.querySelectorAll('#stream .msg.user').length;
  const before = await page.evaluate(count);
  await page.fill('#input', text);
  await page.press('#input', 'Enter');
  if (text.trim()) await page.waitForFunction(`(${count})() > ${before}`);
}

function lastAssistant(page) {
  return page.locator('#stream .msg.assistant .bubble').last();
}

async function waitIdle(page) {
  await page.waitForFunction(() => !document.getElementById('btnSend').disabled && document.getElementById('thinking').hidden);
}

module.exports = { setup, serveUi, assemblePage, launch, openPage, say, lastAssistant, waitIdle, ROOT };
