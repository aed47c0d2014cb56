// A TypeScript user's program against the declarations of the package; the
// typecheck test compiles it with tsc (no output). The @ts-expect-error
// lines must stay errors, so the declarations are not loose.
import { connect, QXSymError, SubscribeOptions, TagChange, TypeInfo, Workspace } from 'qxsymbols';
import * as qx from 'qxsymbols';

async function main(port: number): Promise<void> {
  const ws: Workspace = await connect({ host: '127.0.0.1', port, timeout: 2000, reconnect: true });
  ws.on('disconnect', (e: QXSymError) => console.log('lost:', e.result, e.code));
  ws.on('reconnect', () => console.log('back'));
  const texts: Workspace = await connect({ port, encoding: 'utf8' });
  await texts.close();
  console.log(ws.version, ws.fullSupport, ws.connected);

  for (const t of await ws.tags('Line*')) {
    console.log(t.name, t.type, t.size, t.flags.readOnly, t.flags.bitAddress);
  }
  const speed = await ws.read('Line.Speed');
  if (typeof speed === 'number') await ws.write('Line.Speed', speed + 0.1);
  await ws.write('CntLint', -(2n ** 40n));
  await ws.write('Line', { Main: { Enable: true, SetSpeed: 1500 } });
  const type: TypeInfo = await ws.type('Line');
  for (const m of type.members ?? []) console.log(m.name, m.offset, m.type.kind);
  console.log((await ws.type('Temps')).lower);
  const layout = await ws.layout('Line');
  console.log(
    layout.valueCount,
    layout.leaves.map((l) => `${l.path} @${l.offset}`),
  );
  await ws.write('CntUsint', await ws.parse('CntUsint', '16#FF'));

  const group = await ws.group(['CntInt', 'Operator']);
  const values = await group.read();
  await group.write({ CntInt: 1, Operator: String(values.Operator) });
  await group.close();

  for await (const change of ws.watch(['Temps'], { interval: 500 })) {
    const c: TagChange = change;
    console.log(c.name, c.previous, '->', c.value);
    break;
  }
  ws.on('cycle', (c) => console.log(c.duration, c.status, c.timestamp.getTime()));
  ws.on('overrun', (o) => console.log(o.late, o.missed));
  ws.on('change', (o) => console.log('program changed at', o.timestamp));
  const options: SubscribeOptions = { interval: 100, heartbeat: 1000, deadband: { Temps: 0.5 } };
  for await (const c of ws.subscribe(['Temps', 'CntLint'], options)) {
    const us: bigint = c.timestampUs;
    if (c.status !== 'good') console.log(c.name, c.error?.result);
    console.log(c.name, c.value, c.previous, c.timestamp.toISOString(), c.micros, us);
    break;
  }
  try {
    await ws.read('NoSuchTag');
  } catch (e) {
    if (e instanceof QXSymError && e.result === 'symResSymbolNotFound')
      console.log(e.message, e.advice);
  }
  console.log(qx.codes.symResTimeoutError, qx.resultName(13));
  // The faithful module's surface is there too.
  console.log(qx.QXSym_Init() === qx.symResOk);
  await ws.close();

  // @ts-expect-error: a tag name is a string
  await ws.read(42);
  // @ts-expect-error: typed text is a string
  await ws.parse('CntUsint', 255);
  // @ts-expect-error: no such encoding
  await connect({ port, encoding: 'ebcdic' });
  // @ts-expect-error: the port is required
  await connect({ host: 'plc' });
  // @ts-expect-error: group values are objects
  await group.write([1, 2]);
  // @ts-expect-error: no such event
  ws.on('reconnected', (n: number) => n);
  // @ts-expect-error: a deadband is a number
  ws.subscribe(['Temps'], { deadband: { Temps: 'wide' } });
  // @ts-expect-error: an overrun has no duration
  ws.on('overrun', (o) => o.duration);
}

main(Number(process.argv[2])).catch((e) => console.error(e));
