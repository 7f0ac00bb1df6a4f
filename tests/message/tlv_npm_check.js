// The BER-TLV round trips against an independent parser, the npm package
// ber-tlv: every set of tests/data/emv_tlv_sets.txt built by tranpak
// (tlv_probe build) and parsed by ber-tlv, built by ber-tlv and parsed by
// tranpak (tlv_probe parse), each compared with the set as the file writes
// it; and the bytes the two build compared with each other.
//   node tlv_npm_check.js SETS_FILE TLV_PROBE SCRATCH_DIR
'use strict';
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { TlvFactory } = require('ber-tlv');

const [setsFile, probe, scratch] = process.argv.slice(2);

// The sets as the file writes them, read here without the library.
function readSets(file) {
  const sets = [];
  let set = null;
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    if (line === '' || line.startsWith('#')) continue;
    if (line.startsWith('set ')) { set = { name: line.slice(4), lines: [] }; sets.push(set); continue; }
    if (line === 'end') { set = null; continue; }
    const depth = (line.length - line.trimStart().length) / 2;
    const [tag, ...tokens] = line.trim().split(/\s+/);
    const value = Buffer.concat(tokens.map((t) => {
      const [hex, times] = t.split('*');
      return times === undefined ? Buffer.from(hex, 'hex') : Buffer.alloc(Number(times), Buffer.from(hex, 'hex')[0]);
    }));
    const constructed = (parseInt(tag.slice(0, 2), 16) & 0x20) !== 0;
    set.lines.push({ depth, tag: tag.toUpperCase(), constructed, value });
  }
  return sets;
}

function setText(lines) {
  return lines.map((l) => ' '.repeat(2 * l.depth) + l.tag + (l.constructed ? '' : ' ' + l.value.toString('hex').toUpperCase()))
    .join('\n') + (lines.length ? '\n' : '');
}

// ber-tlv's items as lines of the file's form.
function parsedLines(items, depth = 0, out = []) {
  for (const item of items) {
    const constructed = item.type === 1;
    out.push({ depth, tag: item.tag.toUpperCase(), constructed, value: constructed ? null : (item.value || Buffer.alloc(0)) });
    if (constructed) parsedLines(item.items || [], depth + 1, out);
  }
  return out;
}

// A set built by ber-tlv.
function built(lines) {
  const top = [];
  const open = [top];
  for (const l of lines) {
    open.length = l.depth + 1;
    if (l.constructed) {
      const children = [];
      const tlv = TlvFactory.constructedTlv(l.tag, []);
      tlv.items = children;
      open[l.depth].push(tlv);
      open.push(children);
    } else {
      open[l.depth].push(TlvFactory.primitiveTlv(l.tag, l.value));
    }
  }
  return top.length ? TlvFactory.serialize(top) : Buffer.alloc(0);
}

const sets = readSets(setsFile);
let failed = 0;
const fail = (text) => { failed += 1; console.log('FAIL: ' + text); };

const ours = execFileSync(probe, ['build', setsFile], { encoding: 'utf8' }).split('\n').filter((l, k, a) => k < a.length - 1);
if (ours.length !== sets.length) fail(`tlv_probe built ${ours.length} sets of ${sets.length}`);

const theirs = sets.map((s) => built(s.lines).toString('hex').toUpperCase());
const hexFile = path.join(scratch, 'ber-tlv-built.txt');
fs.writeFileSync(hexFile, theirs.join('\n') + '\n');
const readBack = execFileSync(probe, ['parse', hexFile], { encoding: 'utf8' }).split('end\n');

sets.forEach((set, k) => {
  const want = setText(set.lines);
  let got;
  try {
    got = setText(parsedLines(TlvFactory.parse(Buffer.from(ours[k] || '', 'hex'))));
  } catch (e) {
    got = 'ber-tlv refused it: ' + e.message;
  }
  if (got !== want) fail(`${set.name}: tranpak built ${ours[k]}, ber-tlv read\n${got}instead of\n${want}`);
  if (readBack[k] !== want) fail(`${set.name}: ber-tlv built ${theirs[k]}, tranpak read\n${readBack[k]}\ninstead of\n${want}`);
  if (ours[k] !== theirs[k]) fail(`${set.name}: tranpak built ${ours[k]}, ber-tlv ${theirs[k]}`);
});
const longest = Math.max(...ours.map((h) => h.length / 2));
console.log(`${sets.length} sets both ways, ${failed} failures (the longest ${longest} bytes)`);
process.exit(failed === 0 && sets.length >= 20 ? 0 : 1);
