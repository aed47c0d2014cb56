'use strict';
// The explorer page in a real headless Chromium against qxsym-sim: one
// browser and one session through the page, as an engineer would use it.
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');
const fs = require('fs');

const { startSim, startExplorer, stop, launchBrowser, haveBrowser } = require('./support');

const ARTEFACTS = process.env.QXSYM_ARTEFACTS || path.join(__dirname, '..', '..', '..', 'build');
const WAIT = { timeout: 10000 };

test('the explorer page', { skip: haveBrowser() || false, timeout: 90000 }, async (t) => {
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

  const state = (s) => page.waitForSelector(`#conn[data-state="${s}"]`, WAIT);
  const pinnedValue = (name) =>
    page.locator(`#pins tr[data-name="${name}"] td.value`).textContent();
  // Resolves once the pinned tag shows a value other than before.
  const changes = async (name, before) => {
    await page.waitForFunction(
      ([n, b]) => {
        const cell = document.querySelector(`#pins tr[data-name="${n}"] td.value`);
        return cell && cell.textContent !== '' && cell.textContent !== b;
      },
      [name, before],
      WAIT,
    );
    return pinnedValue(name);
  };
  const select = async (name) => {
    await page.fill('#filter', name);
    await page.click(`#list .row[data-name="${name}"]`);
    await page.waitForFunction(
      (n) => document.getElementById('tagName').textContent === n,
      name,
      WAIT,
    );
  };
  const write = async (text) => {
    await page.fill('#writeText', text);
    await page.click('#write button[type="submit"]');
  };

  await t.test('loads, shows the connection and the whole tag list', async () => {
    await state('connected');
    await page.waitForFunction(
      () => /^32 of 32 tags/.test(document.getElementById('count').textContent),
      null,
      WAIT,
    );
    assert.match(await page.textContent('#controller'), /writes allowed/);
  });

  await t.test('the filter finds tags by text and by pattern', async () => {
    await page.fill('#filter', 'cntd');
    assert.deepStrictEqual(await page.$$eval('#list .row', (rs) => rs.map((r) => r.dataset.name)), [
      'CntDint',
    ]);
    await page.fill('#filter', 'Cnt?int');
    assert.deepStrictEqual(
      (await page.$$eval('#list .row', (rs) => rs.map((r) => r.dataset.name))).sort(),
      ['CntDint', 'CntLint', 'CntSint', 'CntUint'],
    );
  });

  await t.test(
    'a structure shows its members expanded, with type, description and flags',
    async () => {
      await select('Line');
      assert.strictEqual(await page.textContent('#tagType'), 'LINE');
      const value = await page.textContent('#tagValue');
      for (const member of ['Name:', 'Infeed:', 'SetSpeed:', 'PartsToday:'])
        assert.ok(value.includes(member), member);
      assert.match(await page.textContent('#typeTree'), /MOTOR functionBlock, 28 bytes/);
      assert.match(await page.textContent('#tagFlags'), /read\/write/);
      assert.strictEqual(await page.textContent('#tagDescr'), 'Packaging conveyor line');
      assert.match(await page.textContent('#tagAttrs'), /area = packaging, plc = PLC01/);
    },
  );

  await t.test('pinned values change and the chart gains points', async () => {
    await page.click('#pin');
    await select('CntDint');
    await page.click('#pin');
    const first = await changes('CntDint', '');
    await changes('CntDint', first);
    const points = () => page.$eval('#chart', (c) => Number(c.dataset.points || 0));
    const before = await points();
    await page.waitForFunction(
      (n) => Number(document.getElementById('chart').dataset.points) > n + 2,
      before,
      WAIT,
    );
    assert.ok(await page.$('#chart canvas'), 'the chart is drawn');
    const csv = await page.evaluate(() => window.explorer.csv());
    const [header, ...rows] = csv.trim().split('\n');
    assert.ok(
      header.startsWith('time,') &&
        header.includes('CntDint') &&
        header.includes('Line.Main.Speed'),
      header,
    );
    assert.ok(rows.length > 2 && /^\d{4}-\d\d-\d\dT/.test(rows[0]), rows[0]);
  });

  await t.test('pausing stops the refresh', async () => {
    await page.click('#pause');
    await page.waitForSelector('#pause:text("Resume")', WAIT);
    const a = await pinnedValue('CntDint');
    await new Promise((r) => setTimeout(r, 400)); // four ticks at 100 ms
    assert.strictEqual(await pinnedValue('CntDint'), a);
    await page.click('#pause');
    await changes('CntDint', a);
  });

  await t.test('a tag that cannot be pinned says why and the pins go on', async () => {
    await select('Temps');
    await page.click('#pin');
    await page.waitForSelector('#pinRefused:text("cannot pin \'Temps\'")', WAIT);
    assert.match(
      await page.textContent('#pinRefused'),
      /^symResInvalidGroupTag: cannot pin 'Temps': 'Temps' is an array/,
    );
    assert.strictEqual(await page.textContent('#pin'), 'Pin');
    assert.deepStrictEqual(
      await page.$$eval('#pins tbody tr', (rs) => rs.map((r) => r.dataset.name)),
      ['Line', 'CntDint'],
    );
    await changes('CntDint', await pinnedValue('CntDint'));
    assert.match(await page.textContent('#pinRefused'), /cannot pin 'Temps'/);
  });

  // The server reads the typed text by the client core's rules: the page
  // shows its refusal in its words, or the value as understood to confirm.
  const refused = async (text, message) => {
    await write(text);
    await page.waitForFunction(
      (m) => new RegExp(m).test(document.getElementById('writeResult').textContent),
      message.source,
      WAIT,
    );
    assert.ok(await page.isHidden('#confirm'), text);
  };
  const confirmed = async (text, question) => {
    await write(text);
    await page.waitForSelector('#confirm:not([hidden])', WAIT);
    assert.match(await page.textContent('#confirmText'), question);
    await page.click('#confirmYes');
    await page.waitForSelector('#writeResult:text("written:")', WAIT);
  };

  await t.test(
    'typed values out of range are refused with the reason, in range confirmed and written',
    async () => {
      await select('CntUsint');
      await refused(
        '300',
        /^symResInvalidParameter: value for 'CntUsint': 300 is out of range: USINT takes 0 to 255/,
      );
      await confirmed('16#FF', /^Write 255 to CntUsint \(USINT\)\?$/);

      await select('CntInt');
      await refused('40000', /out of range: INT takes -32768 to 32767/);
      await confirmed('1234', /^Write 1234 to CntInt/);
      assert.strictEqual((await page.textContent('#tagValue')).trim(), '1234');
    },
  );

  await t.test('a read-only tag offers no write', async () => {
    await select('EStopOk');
    assert.ok(await page.isHidden('#write'));
    assert.match(await page.textContent('#noWrite'), /^Read-only/);
    assert.match(await page.textContent('#tagValue'), /true/);
  });

  await t.test('screenshot', async () => {
    await page.evaluate(() =>
      fetch('api/pins', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ names: ['OvenPower', 'Line'] }),
      }),
    );
    await select('Line');
    await page.fill('#filter', '');
    await page.waitForFunction(
      () => Number(document.getElementById('chart').dataset.points) > 20,
      null,
      WAIT,
    );
    fs.mkdirSync(ARTEFACTS, { recursive: true });
    await page.screenshot({ path: path.join(ARTEFACTS, 'explore.png') });
  });

  await t.test('a silent controller leaves a gap in the trend, not a line', async () => {
    const cell = '#pins tr[data-name="OvenPower"] td.value';
    sim.child.kill('SIGSTOP');
    try {
      await page.waitForSelector(`${cell}.stale`, WAIT);
    } finally {
      sim.child.kill('SIGCONT');
    }
    await page.waitForSelector(`${cell}:not(.stale)`, WAIT);
    await changes('OvenPower', await pinnedValue('OvenPower'));
    const [header, ...rows] = (await page.evaluate(() => window.explorer.csv())).trim().split('\n');
    const column = header.split(',').indexOf('OvenPower');
    const cells = rows.map((r) => r.split(',')[column]);
    // Rows from before the pin are empty too: the gap is one after a value.
    const gap = cells.indexOf(
      '',
      cells.findIndex((c) => c !== ''),
    );
    assert.ok(gap > 0 && cells[gap - 1] !== '', `a value, then a gap: ${cells.join(' ')}`);
    assert.ok(
      cells.slice(gap).some((c) => c !== ''),
      'values again after the gap',
    );
    const series = await page.evaluate(() => window.explorer.series('OvenPower'));
    assert.ok(series.includes(null), 'the chart has a null point');
  });

  await t.test('the page follows the controller going away and coming back', async () => {
    const port = sim.port;
    await stop(sim.child, 'SIGKILL');
    await state('disconnected');
    sim = await startSim({ port });
    await state('connected');
    const v = await pinnedValue('OvenPower');
    await changes('OvenPower', v);
    await page.waitForFunction(
      () => /^32 of 32 tags/.test(document.getElementById('count').textContent),
      null,
      WAIT,
    );
  });

  assert.deepStrictEqual(pageErrors, []);
});
