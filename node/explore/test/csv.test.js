'use strict';
// The trend's CSV export: texts from the controller never reach a
// spreadsheet as formulas, numbers stay numbers.
const test = require('node:test');
const assert = require('node:assert');

const { toCsv, textCell } = require('../public/csv');

test('text cells that a spreadsheet would run are kept as text', () => {
  const cases = [
    ['=HYPERLINK("http://x")', `"'=HYPERLINK(""http://x"")"`],
    ['+1+1', "'+1+1"],
    ['-2+3', "'-2+3"],
    ['@SUM(A1)', "'@SUM(A1)"],
    ['\tTab', "'\tTab"],
    ['\r=1', `"'\r=1"`],
    ['Line.Main.Speed', 'Line.Main.Speed'],
    ['a,b', '"a,b"'],
    ['a"b', '"a""b"'],
    ['x\ny', '"x\ny"'],
    ['Pump=1', 'Pump=1'],
    ["'quoted", "'quoted"],
    ['', ''],
  ];
  for (const [text, cell] of cases) assert.strictEqual(textCell(text), cell, JSON.stringify(text));
});

test('the export keeps numbers as numbers and names as safe text', () => {
  const series = new Map([
    ['Temp', [-12.5, 3, null]],
    ["=cmd|' /C calc'!A0", [1, -0, 7]],
    ['-Offset', [-1e-7, -2, -3]],
  ]);
  const lines = toCsv([0, 1, 2.5], series).split('\n');
  assert.deepStrictEqual(lines, [
    "time,Temp,'=cmd|' /C calc'!A0,'-Offset",
    '1970-01-01T00:00:00.000Z,-12.5,1,-1e-7',
    '1970-01-01T00:00:01.000Z,3,0,-2',
    '1970-01-01T00:00:02.500Z,,7,-3',
    '',
  ]);
});
