'use strict';
// Read and write tags from Node.js through the add-on.
const qx = require('qxsymbols');

qx.QXSym_Init();
const address = new qx.QXSymServerAddress();
address.protocol = qx.symProtGDB_TCP;
address.ip = process.env.QXSYM_HOST || '127.0.0.1';
address.port = Number(process.env.QXSYM_PORT);
address.timeout = 2000; // ms

const [opened, ws] = qx.QXSym_OpenWorkspace(0, address);
if (opened !== qx.symResOk) throw new Error('QXSym_OpenWorkspace: result ' + opened);
const [found, tag] = qx.QXSym_GetGlobalTag(ws, 'Line.Speed');
if (found !== qx.symResOk) throw new Error('Line.Speed: result ' + found);
console.log(qx.getTagDataType(tag), qx.GetTagValue_double(tag));
qx.SetTagValue_double(tag, 1.5); // throws when the library refuses
console.log('after the write:', qx.GetTagValue_double(tag));
qx.QXSym_CloseTag(tag);
qx.QXSym_CloseWorkspace(ws);
qx.QXSym_Shutdown();
