'use strict';
// The trend's data as CSV: an ISO time column, then one column per series,
// empty where a series has no value. Shared by the page (Export CSV) and its
// tests.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory();
  else root.QXCsv = factory();
})(typeof self !== 'undefined' ? self : this, function () {
  // A text cell, such as a series named by the controller. One that a
  // spreadsheet would take for a formula (=, +, - or @ first, or a tab or
  // carriage return) is kept as text by a leading '.
  function textCell(text) {
    const s = /^[=+\-@\t\r]/.test(text) ? `'${text}` : text;
    return /[",\r\n]/.test(s) ? `"${s.replace(/"/g, '""')}"` : s;
  }

  // A number cell: written as the number, sign included; anything else is
  // left empty.
  function numberCell(v) {
    return typeof v === 'number' && Number.isFinite(v) ? String(v) : '';
  }

  // times: seconds since the epoch; series: Map from name to an array of
  // numbers (or null) aligned with times.
  function toCsv(times, series) {
    const keys = [...series.keys()];
    const lines = [['time', ...keys].map(textCell).join(',')];
    times.forEach((t, i) => {
      lines.push(
        [new Date(t * 1000).toISOString(), ...keys.map((k) => numberCell(series.get(k)[i]))].join(
          ',',
        ),
      );
    });
    return lines.join('\n') + '\n';
  }

  return { toCsv, textCell };
});
