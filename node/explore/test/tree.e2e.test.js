'use strict';
// The tag tree, the selection's live value, the trend and writes, in a real
// headless Chromium against qxsym-sim; and how fast the tree of a large
// model opens (printed, not judged: speed is for the benchmarks).
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');
const fs = require('fs');
const { spawnSync } = require('child_process');

const {
  startSim,
  startExplorer,
  stop,
  launchBrowser,
  haveBrowser,
  writeModel,
} = require('./support');

const ARTEFACTS = process.env.QXSYM_ARTEFACTS || path.join(__dirname, '..', '..', '..', 'build');
const WAIT = { timeout: 10000 };

function shot(page, name) {
  fs.mkdirSync(ARTEFACTS, { recursive: true });
  return page.screenshot({ path: path.join(ARTEFACTS, name) });
}

// Helpers over one page: rows by path, opening them, the selection.
function driver(page) {
  const row = (p) => `#list .row[data-name="${p}"]`;
  return {
    row,
    open: async (p) => {
      await page.click(`${row(p)} .toggle`);
      await page.waitForSelector(`${row(p)} .toggle:text("\u25be")`, WAIT);
    },
    selected: (p) =>
      page.waitForFunction((n) => document.getElementById('tagName').textContent === n, p, WAIT),
    points: (key) =>
      page.evaluate((k) => (window.explorer.series(k) || []).filter((v) => v !== null).length, key),
    pin: async (p) => {
      await page.click('#pin');
      await page.waitForSelector(`#pins tr[data-name="${p}"]`, WAIT);
    },
  };
}

test(
  'the tag tree on the demo line',
  { skip: haveBrowser() || false, timeout: 100000 },
  async (t) => {
    let sim = await startSim();
    const explorer = await startExplorer(sim.port, ['--allow-write']);
    const browser = await launchBrowser();
    t.after(async () => {
      await browser.close();
      await stop(explorer.child);
      await stop(sim.child);
    });
    const page = await browser.context.newPage();
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(e.message));
    await page.goto(explorer.link);
    const d = driver(page);
    await page.waitForSelector('#conn[data-state="connected"]', WAIT);
    await page.waitForSelector(d.row('Line'), WAIT);

    await t.test(
      'Line opens into Main, Main into Speed, and Speed trends once pinned',
      async () => {
        await d.open('Line');
        await d.open('Line.Main');
        await page.click(d.row('Line.Main.Speed'));
        await d.selected('Line.Main.Speed');
        assert.strictEqual(await page.textContent('#tagType'), 'REAL');
        assert.strictEqual(await page.textContent('#tagSize'), '4 bytes');
        // The selection's own subscription tells it with its status.
        await page.waitForSelector('#live-status[data-status="good"]', WAIT);
        await d.pin('Line.Main.Speed');
        await page.waitForFunction(
          () => (window.explorer.series('Line.Main.Speed') || []).length > 5,
          null,
          WAIT,
        );
        await page.waitForSelector('#leaves tr[data-path="Line.Main.Speed"].good', WAIT);
        await shot(page, 'explore-tree-pin.png');
      },
    );

    await t.test('keys walk the tree: Temps[3] by its declared index, written', async () => {
      await page.fill('#filter', 'temps');
      await page.click(d.row('Temps'));
      await d.selected('Temps');
      assert.strictEqual(await page.textContent('#tagSize'), '32 bytes, 8 elements of 4 bytes');
      assert.ok(await page.isHidden('#write'), 'a whole array is not offered for writing');
      await page.focus('#list');
      await page.keyboard.press('ArrowRight');
      await page.waitForSelector(d.row('Temps[1]'), WAIT);
      for (let i = 0; i < 3; i++) await page.keyboard.press('ArrowDown');
      await page.keyboard.press('Enter');
      await d.selected('Temps[3]');
      await page.fill('#writeText', '1e39');
      await page.click('#write button[type="submit"]');
      await page.waitForSelector('#writeResult:text("out of range: REAL")', WAIT);
      assert.ok(await page.isHidden('#confirm'));
      await page.fill('#writeText', '21.5');
      await page.click('#write button[type="submit"]');
      await page.waitForSelector('#confirm:not([hidden])', WAIT);
      assert.match(
        await page.textContent('#confirmText'),
        /^Write 21\.5 to Temps\[3\] \(REAL\)\?$/,
      );
      assert.match(await page.textContent('#confirmNow'), /^now -?[\d.e+-]+, then 21\.5$/);
      await shot(page, 'explore-tree-write.png');
      await page.click('#confirmYes');
      await page.waitForSelector('#writeResult:text("written: 21.5")', WAIT);
      // Left closes Temps again from within it.
      await page.focus('#list');
      await page.keyboard.press('ArrowLeft');
      await page.keyboard.press('ArrowLeft');
      await page.waitForSelector(d.row('Temps[1]'), { state: 'detached', ...WAIT });
      await page.fill('#filter', '');
    });

    await t.test('a read-only tag offers no write and says so', async () => {
      await page.fill('#filter', 'serial');
      await page.click(d.row('SerialNumber'));
      await d.selected('SerialNumber');
      assert.ok(await page.isHidden('#write'));
      assert.match(await page.textContent('#noWrite'), /^Read-only/);
      await page.waitForSelector(`${d.row('SerialNumber')} .ro:text("RO")`, WAIT);
      assert.match(await page.textContent('#tagSize'), /^17 bytes$/);
      await page.fill('#filter', '');
    });

    await t.test('a BOOL trends as steps of 0 and 1 on a scale of its own', async () => {
      await page.fill('#filter', 'Heartbeat');
      await page.click(d.row('Heartbeat'));
      await d.selected('Heartbeat');
      await d.pin('Heartbeat');
      await page.waitForFunction(
        () => /Heartbeat/.test(document.querySelector('#chart .uplot')?.dataset.steps || ''),
        null,
        WAIT,
      );
      await page.waitForFunction(
        () => {
          const s = (window.explorer.series('Heartbeat') || []).filter((v) => v !== null);
          return s.includes(0) && s.includes(1);
        },
        null,
        { timeout: 20000 },
      );
      const values = await page.evaluate(() => window.explorer.series('Heartbeat'));
      assert.ok(
        values.every((v) => v === null || v === 0 || v === 1),
        values.join(' '),
      );
      await page.fill('#filter', '');
      await shot(page, 'explore-tree-bool.png');
    });

    await t.test('a stopped controller: a banner says why, and the trend has a gap', async () => {
      const port = sim.port;
      const before = await d.points('Line.Main.Speed');
      await stop(sim.child, 'SIGKILL');
      await page.waitForSelector('#banner:not([hidden])', WAIT);
      assert.match(
        await page.textContent('#banner'),
        /^Not connected to the controller 127\.0\.0\.1:/,
      );
      await page.waitForSelector('#leaves tr[data-path="Line.Main.Speed"]:not(.good)', WAIT);
      await shot(page, 'explore-tree-banner.png');
      sim = await startSim({ port });
      await page.waitForSelector('#banner', { state: 'hidden', ...WAIT });
      await page.waitForFunction(
        (n) =>
          (window.explorer.series('Line.Main.Speed') || []).filter((v) => v !== null).length >
          n + 3,
        before,
        { timeout: 20000 },
      );
      const s = await page.evaluate(() => window.explorer.series('Line.Main.Speed'));
      const firstValue = s.findIndex((v) => v !== null);
      const gap = s.indexOf(null, firstValue);
      assert.ok(gap > firstValue && s.slice(gap).some((v) => v !== null), s.join(' '));
      await shot(page, 'explore-tree-gap.png');
    });

    await t.test('screenshot of the tree', async () => {
      await page.click(d.row('Line.Main.Speed'));
      await d.selected('Line.Main.Speed');
      await page.waitForSelector('#live-status[data-status="good"]', WAIT);
      await shot(page, 'explore-tree.png');
    });

    assert.deepStrictEqual(pageErrors, []);
  },
);

test('the tree of 20,000 tags', { skip: haveBrowser() || false, timeout: 100000 }, async (t) => {
  const model = path.join(path.dirname(writeModel([])), 'large.json');
  const gen = spawnSync(
    process.env.QXSYM_GENMODEL,
    ['--tags', '20000', '--seed', '1', '-o', model],
    {
      encoding: 'utf8',
    },
  );
  assert.strictEqual(gen.status, 0, gen.stderr);
  const sim = await startSim({ model });
  const explorer = await startExplorer(sim.port, ['--separator', '_']);
  const browser = await launchBrowser();
  t.after(async () => {
    await browser.close();
    await stop(explorer.child);
    await stop(sim.child);
  });
  const page = await browser.context.newPage();
  await page.goto(explorer.link);
  await page.waitForFunction(() => document.body.dataset.treeMs, null, { timeout: 60000 });
  assert.match(await page.textContent('#count'), /^20000 of 20000 tags/);
  const openMs = Number(await page.evaluate(() => document.body.dataset.treeMs));
  // Opening a node: from the action until its rows exist.
  const expand = (key, childSelector) =>
    page.evaluate(
      async ([k, sel]) => {
        const t0 = performance.now();
        await window.explorer.toggle(k);
        while (!document.querySelector(sel)) await new Promise((r) => requestAnimationFrame(r));
        return performance.now() - t0;
      },
      [key, childSelector],
    );
  const groupMs = await expand('g:Area00', '#list .row[data-key="g:Area00_Line00"]');
  await expand('g:Area00_Line00', '#list .row[data-name="Area00_Line00_Motor000"]');
  // The rows in view are described first (their type, size and flags).
  await page.waitForSelector('#list .row[data-name="Area00_Line00_Motor000"] .type', WAIT);
  const tagMs = await expand(
    't:Area00_Line00_Motor000',
    '#list .row[data-name="Area00_Line00_Motor000.Speed"]',
  );
  const expandMs = Math.max(groupMs, tagMs);
  console.log(
    `tree open ms=${openMs.toFixed(1)} expand ms=${expandMs.toFixed(1)} ` +
      `(group ${groupMs.toFixed(1)}, tag ${tagMs.toFixed(1)})`,
  );
  await shot(page, 'explore-tree-large.png');
});
