'use strict';
// The desktop program driven as a user would: start it, look at its window, press keys,
// start it again, close it, and check the files it leaves next to itself.

const { describe, it, before, after, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { startWineSession, sleep, BUILD_DIR } = require('../support/wine.js');
const { installFakeRuntime, placeExe, probe, startDesktop, closeDesktop, endLeftovers,
  titledWindows } = require('../support/shell.js');
const { assemblePage, ROOT } = require('../support/page.js');

const BACKGROUND = [10, 14, 23];

// 85% of the work area, at least 900 x 600 where it allows, centred.
function expectedRect([left, top, right, bottom]) {
  const fit = (avail, min) => {
    let v = Math.trunc(avail * 0.85);
    if (v < min) v = avail > min ? min : avail;
    return Math.min(v, avail);
  };
  const w = right - left;
  const h = bottom - top;
  const width = fit(w, 900);
  const height = fit(h, 600);
  const x = left + Math.trunc((w - width) / 2);
  const y = top + Math.trunc((h - height) / 2);
  return [x, y, x + width, y + height];
}

function embeddedSources() {
  return {
    'ui/index.html': path.join(BUILD_DIR, 'page', 'index.html'),
    'ui/app.css': path.join(BUILD_DIR, 'page', 'app.css'),
    'ui/app.js': path.join(BUILD_DIR, 'page', 'app.js'),
    'WebView2Loader.dll': path.join(BUILD_DIR, 'WebView2Loader.dll'),
  };
}

function assertExtracted(dir, names = Object.keys(embeddedSources())) {
  const sources = embeddedSources();
  for (const name of names) {
    const file = path.join(dir, name);
    assert.ok(fs.existsSync(file), `${name} was not written`);
    assert.ok(fs.readFileSync(file).equals(fs.readFileSync(sources[name])),
      `${name} differs from what was embedded`);
  }
}

// The client area of the main window on the display, from the X side.
function clientArea(session) {
  const windows = titledWindows(session);
  assert.equal(windows.length, 1, 'exactly one window titled OVRA-Zirer (no message box)');
  return windows[0];
}

function isBackground(p) {
  return p.every((c, i) => Math.abs(c - BACKGROUND[i]) <= 2);
}

// Pixels of the start-up text: light, well above the dark background.
function lightPixelsNearCentre(image, area) {
  const cx = area.x + Math.trunc(area.width / 2);
  const cy = area.y + Math.trunc(area.height / 2);
  let light = 0;
  for (let y = cy - 20; y <= cy + 20; y++) {
    for (let x = cx - 200; x <= cx + 200; x++) {
      const [r, g, b] = image.pixel(x, y);
      if (r > 150 && g > 150 && b > 150) light++;
    }
  }
  return light;
}

describe('desktop program', () => {
  let session;
  let runtime;

  before(async () => {
    session = await startWineSession();
    runtime = installFakeRuntime(session);
  });
  afterEach(() => endLeftovers(session));
  after(async () => { if (session) await session.stop(); });

  it('starts centred on its start-up screen, writes its files, ignores F5/F12 and closes with 0',
    async () => {
      const { dir, exe } = placeExe(session, 'fresh');
      const app = await startDesktop(session, runtime, exe);

      const info = await probe(session, 'info');
      assert.deepEqual(info.rect, expectedRect(info.work));
      assert.equal(info.count, 1);

      const area = clientArea(session);
      const image = session.grab();
      for (const [x, y] of [[area.x + 1, area.y + 1], [area.x + area.width - 2, area.y + 1],
        [area.x + 1, area.y + area.height - 2],
        [area.x + area.width - 2, area.y + area.height - 2]]) {
        assert.ok(isBackground(image.pixel(x, y)), `pixel ${x},${y} is ${image.pixel(x, y)}`);
      }
      const light = lightPixelsNearCentre(image, area);
      assert.ok(light > 100, `only ${light} light pixels near the centre`);
      session.screenshot(path.join(session.dir, 'startup.png'));

      assertExtracted(dir);
      // What the program writes is what the page tests run: the page's parts joined as
      // scripts/page-files.sh joins them, with the API base put in.
      const { apiBase } = JSON.parse(fs.readFileSync(path.join(ROOT, 'desktop/endpoints.json'), 'utf8'));
      const joined = assemblePage();
      for (const name of ['index.html', 'app.css', 'app.js']) {
        const page = fs.readFileSync(path.join(joined, name), 'utf8').split('__OVRA_API_BASE__').join(apiBase);
        assert.ok(fs.readFileSync(path.join(dir, 'ui', name), 'utf8') === page, `ui/${name} is not the joined page`);
      }
      fs.rmSync(joined, { recursive: true });
      assert.match(runtime.calls(), /^1\t1\tC:\\users\\[^\\]+\\AppData\\Local\\OVRA-Zirer\\WebView2\t/i,
        'the browser environment was asked for through the runtime');

      for (const key of ['116', '123']) await probe(session, 'key', key);
      await sleep(1500);
      const after = session.grab();
      assert.ok(after.rgb.equals(image.rgb), 'F5/F12 changed what the screen shows');
      assert.equal(titledWindows(session).length, 1);

      assert.equal(await closeDesktop(session, app), 0);
      assert.equal(await probe(session, 'info'), null);
    });

  it('hands a second desktop start over to the first window and exits with 0', async () => {
    const { exe } = placeExe(session, 'single');
    const alone = await session.run(exe, ['--version'], { env: runtime.env });
    const app = await startDesktop(session, runtime, exe);
    await probe(session, 'minimize');
    await sleep(500);
    assert.equal((await probe(session, 'info')).iconic, 1);

    const second = await session.run(exe, [], { env: runtime.env, timeoutMs: 30000 });
    assert.equal(second.code, 0);
    await sleep(500);
    const info = await probe(session, 'info');
    assert.equal(info.iconic, 0, 'the first window was not restored');
    assert.equal(info.foreground, 1, 'the first window was not brought to the front');
    assert.equal(info.count, 1);
    assert.deepEqual(info.rect, expectedRect(info.work));

    // A maximised window is only brought forward: it stays maximised.
    await probe(session, 'maximize');
    await sleep(500);
    assert.equal((await probe(session, 'info')).zoomed, 1);
    assert.equal((await session.run(exe, [], { env: runtime.env, timeoutMs: 30000 })).code, 0);
    await sleep(500);
    const zoomed = await probe(session, 'info');
    assert.equal(zoomed.zoomed, 1, 'the second start restored the maximised window');
    assert.equal(zoomed.foreground, 1);

    // A headless start is not an instance of the desktop host.
    const beside = await session.run(exe, ['--version'], { env: runtime.env });
    assert.equal(beside.code, alone.code);
    assert.equal(beside.stdout, alone.stdout);

    assert.equal(await closeDesktop(session, app), 0);
  });

  it('lets the first exact headless switch decide and starts the desktop host otherwise',
    async () => {
      const { exe } = placeExe(session, 'modes');
      const plain = await session.run(exe, ['--version'], { env: runtime.env });
      for (const args of [['--bogus', '--version'], ['--version', '--smoke']]) {
        const r = await session.run(exe, args, { env: runtime.env });
        assert.equal(r.code, plain.code, args.join(' '));
        assert.equal(r.stdout, plain.stdout, args.join(' '));
      }
      assert.equal(await probe(session, 'info'), null, 'a headless run showed the window');

      for (const arg of ['--Version', '--version=1']) {
        const app = await startDesktop(session, runtime, exe, [arg]);
        assert.equal(await closeDesktop(session, app), 0, arg);
      }
    });

  it('restores a changed page file and keeps going when it cannot write', async () => {
    const { dir, exe } = placeExe(session, 'repair');
    let app = await startDesktop(session, runtime, exe);
    assert.equal(await closeDesktop(session, app), 0);
    fs.writeFileSync(path.join(dir, 'ui', 'app.css'), 'body { color: red }\n');
    app = await startDesktop(session, runtime, exe);
    assertExtracted(dir, ['ui/app.css']);
    assert.equal(await closeDesktop(session, app), 0);

    // "ui" taken by a plain file: the page files cannot go there, the rest still works.
    const plain = placeExe(session, 'plainui');
    fs.writeFileSync(path.join(plain.dir, 'ui'), 'not a folder');
    app = await startDesktop(session, runtime, plain.exe);
    clientArea(session);
    assert.equal(fs.readFileSync(path.join(plain.dir, 'ui'), 'utf8'), 'not a folder');
    assertExtracted(plain.dir, ['WebView2Loader.dll']);
    assert.equal(await closeDesktop(session, app), 0);
  });

  it('starts from a read-only folder without a message and without files', async (t) => {
    const source = fs.mkdtempSync(path.join(session.dir, 'ro-'));
    fs.copyFileSync(path.join(BUILD_DIR, 'OVRA-Zirer.exe'), path.join(source, 'OVRA-Zirer.exe'));
    const mount = path.join(session.cDrive, 'readonly');
    fs.mkdirSync(mount);
    try {
      execFileSync('mount', ['--bind', source, mount], { stdio: 'ignore' });
      execFileSync('mount', ['-o', 'remount,ro,bind', mount], { stdio: 'ignore' });
    } catch {
      t.skip('read-only bind mounts need root');
      return;
    }
    try {
      const app = await startDesktop(session, runtime, 'C:\\readonly\\OVRA-Zirer.exe');
      clientArea(session);
      assert.deepEqual(fs.readdirSync(mount), ['OVRA-Zirer.exe']);
      assert.equal(await closeDesktop(session, app), 0);
    } finally {
      execFileSync('umount', [mount]);
    }
  });

  it('finds its own folder when the path is longer than 260 characters', async () => {
    const deep = Array.from({ length: 6 }, (_, i) => `folder-${i}-${'x'.repeat(40)}`).join('/');
    const { dir, exe } = placeExe(session, deep);
    assert.ok(exe.length > 260);
    const app = await startDesktop(session, runtime, exe);
    assertExtracted(dir);
    assert.equal(await closeDesktop(session, app), 0);
  });
});
