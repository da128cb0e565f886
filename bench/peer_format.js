// The peer formatter over a batch: one formula a line on standard input (JSON strings, as
// `corvane format --jsonl` reads them), one laid-out formula a line (as JSON) on standard output.
// A formula the peer cannot read answers {"error": ...}, as corvane answers its refusals.
'use strict';
const path = require('path');
const { formatFormula } = require(path.resolve(process.argv[2], 'node_modules', 'excel-formula'));
const lines = require('fs').readFileSync(0, 'utf8').split('\n');
const out = [];
for (const line of lines) {
  if (line === '') continue;
  try {
    out.push(JSON.stringify(formatFormula(JSON.parse(line))));
  } catch (e) {
    out.push(JSON.stringify({ error: String(e && e.message) }));
  }
}
process.stdout.write(out.join('\n') + '\n');
