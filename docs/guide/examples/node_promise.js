'use strict';
// The promise API: plain values, and an event loop that never waits for the
// controller.
const { connect, QXSymError } = require('qxsymbols');

async function main() {
  const ws = await connect({
    host: process.env.QXSYM_HOST || '127.0.0.1',
    port: Number(process.env.QXSYM_PORT),
    timeout: 2000,
  });
  try {
    console.log(ws.version);
    console.log(await ws.read('Recipe')); // a structure as an object
    await ws.write('Recipe', { Id: 43 }); // other members kept
    console.log(await ws.read('CntLint')); // 64-bit integers as BigInt

    const group = await ws.group(['CntInt', 'Line.Speed']);
    const values = await group.read(); // one exchange
    await group.write({ ...values, CntInt: 7 });

    let seen = 0;
    for await (const { name, value, previous } of ws.watch(['Heartbeat'], { interval: 100 })) {
      console.log(name, previous, '->', value);
      if (++seen === 2) break; // leaving the loop ends the watch
    }

    try {
      await ws.read('NoSuchTag');
    } catch (e) {
      if (!(e instanceof QXSymError)) throw e;
      console.log('refused:', e.result); // 'symResSymbolNotFound'
    }
  } finally {
    await ws.close();
  }
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
