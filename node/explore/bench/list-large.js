'use strict';
// How soon the explorer's tag list of a large generated model appears in
// an open page: node bench/list-large.js [TAGS]. Prints, from the
// explorer's connection to the controller: the first rows shown, and the
// whole list listed and shown. node bench/list-large.js TAGS CONNECTIONS
// lists over that many connections (the explorer's --list-connections).
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { startSim, startExplorer, stop, launchBrowser, ROOT } = require('../test/support');

async function main() {
  const tags = Number(process.argv[2] || 20000);
  const connections = process.argv[3] ? ['--list-connections', process.argv[3]] : [];
  const genmodel = process.env.QXSYM_GENMODEL || path.join(ROOT, 'build', 'sim', 'qxsym-genmodel');
  const model = path.join(os.tmpdir(), `qxsym-explore-${tags}.json`);
  execFileSync(genmodel, ['--tags', String(tags), '-o', model]);
  // The page is open and waiting before the controller comes up, so the
  // times count from the connection, not from the browser's start.
  const first = await startSim({ model });
  const port = first.port;
  await stop(first.child);
  const browser = await launchBrowser();
  const page = await browser.context.newPage();
  const explorer = await startExplorer(port, connections);
  let sim = null;
  try {
    await page.goto(explorer.link);
    await page.waitForSelector('#conn[data-state="connecting"]');
    sim = await startSim({ model, port });
    await page.waitForFunction(() => document.body.dataset.listedAt, null, { timeout: 300000 });
    const r = await page.evaluate(async () => {
      const s = await (await fetch('api/state')).json();
      const count = document.getElementById('count').textContent;
      return {
        connectedAt: s.connectedAt,
        first: Number(document.body.dataset.firstRowsAt),
        all: Number(document.body.dataset.listedAt),
        count,
      };
    });
    console.log(
      `${tags} tags${connections.length ? `, ${process.argv[3]} connections` : ''}: first rows after ${r.first - r.connectedAt} ms, whole list after ` +
        `${r.all - r.connectedAt} ms (${r.count})`,
    );
  } finally {
    await browser.close();
    await stop(explorer.child);
    if (sim) await stop(sim.child);
    fs.rmSync(model, { force: true });
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
