// The npm iso_8583 package against tranpak, both ways, on the messages
// outside_frames npm-write made (a line each: tranpak's frame in hex, then
// "field=value" pairs, tab-separated):
//  - tranpak to the package: getIsoJSON reads each frame as the same type
//    and fields with the same values, nothing more;
//  - the package to tranpak: getBufferMessage writes each message; its
//    frame is tranpak's byte for byte, but for the secondary bitmap the
//    package always sends (bit 1 set, 8 zero bytes, the length 8 more)
//    when no field above 64 is used. Its frames go, one hex line each, to
//    FRAMES for outside_frames npm-read.
//   node npm_check.js MODULE_DIR MESSAGES FRAMES
//
// The package's formats give fields 64 and 128 as "b 8", counted in
// hexadecimal characters (4 bytes); tranpak's MAC and ISO 8583's b 64 are
// 8 bytes, so both are given to the package as 16 characters, through its
// own custom formats.
'use strict';
const fs = require('fs');
const path = require('path');

const [moduleDir, messagesFile, framesFile] = process.argv.slice(2);
const Iso = require(path.resolve(moduleDir, 'iso_8583'));
const mac = { ContentType: 'b', Label: 'Message authentication code', LenType: 'fixed', MaxLen: 16 };
const formats = { 64: mac, 128: mac };
const binary = new Set(['52', '53', '64', '96', '128']);

const lines = fs.readFileSync(messagesFile, 'utf8').split('\n').filter((l) => l.length > 0);
const out = [];
let failures = 0;
let secondary = 0;
function fail(n, what) {
  failures += 1;
  if (failures <= 10) console.error(`message ${n}: ${what}`);
}

lines.forEach((line, index) => {
  const n = index + 1;
  const cells = line.split('\t');
  const frame = Buffer.from(cells[0], 'hex');
  const msg = {};
  for (const cell of cells.slice(1)) {
    const eq = cell.indexOf('=');
    msg[cell.slice(0, eq)] = cell.slice(eq + 1);
  }

  // tranpak to the package.
  const read = new Iso(undefined, formats).getIsoJSON(frame, {});
  if (read.error) {
    fail(n, `getIsoJSON: ${read.error}`);
  } else {
    const want = Object.keys(msg).sort();
    const got = Object.keys(read).sort();
    if (JSON.stringify(want) !== JSON.stringify(got)) fail(n, `fields ${got}, tranpak sent ${want}`);
    for (const k of want) {
      const w = binary.has(k) ? msg[k].toUpperCase() : msg[k];
      const g = binary.has(k) && typeof read[k] === 'string' ? read[k].toUpperCase() : read[k];
      if (w !== g) fail(n, `field ${k} read as ${JSON.stringify(read[k])}, tranpak sent ${JSON.stringify(msg[k])}`);
    }
  }

  // The package to tranpak.
  const written = new Iso(Object.assign({}, msg), formats).getBufferMessage();
  if (!Buffer.isBuffer(written)) {
    fail(n, `getBufferMessage: ${written.error}`);
    out.push('');
    return;
  }
  let expected = frame;
  if ((frame[6] & 0x80) === 0) {
    // No secondary bitmap from tranpak: the package's has bit 1 and 8 zero bytes.
    const body = Buffer.concat([frame.subarray(2, 14), Buffer.alloc(8), frame.subarray(14)]);
    body[4] |= 0x80;
    const len = Buffer.alloc(2);
    len.writeUInt16BE(body.length);
    expected = Buffer.concat([len, body]);
  } else {
    secondary += 1;
  }
  if (!written.equals(expected)) {
    fail(n, `the package wrote ${written.toString('hex')}, tranpak ${frame.toString('hex')}`);
  }
  out.push(written.toString('hex').toUpperCase());
});

fs.writeFileSync(framesFile, out.join('\n') + '\n');
console.log(`${lines.length} messages (${secondary} with fields above 64): ` +
  `${failures === 0 ? 'the package read each as sent and wrote each as tranpak did' : `${failures} differences`}`);
process.exit(failures === 0 ? 0 : 1);
