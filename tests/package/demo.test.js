'use strict';
// Smoke test of the demo: run it for two seconds against the stand-in SDK in live mode, as a
// process, and check what it leaves behind: one valid PNG per stream at the size the demo asked
// for, showing a picture rather than a blank, a contact sheet of the laid-out size, and a timeline.
// The PNGs are read back with a decoder of this file's own (chunk CRCs, IHDR, inflated rows), so a
// fault in the demo's encoder cannot hide behind the same code on both sides.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const { spawnSync } = require('child_process');
const layout = require('../../demo/layout');

const ROOT = path.resolve(__dirname, '..', '..');

function crc32(bytes) {
  let c = ~0;
  for (const byte of bytes) {
    c ^= byte;
    for (let k = 0; k < 8; k++) c = (c >>> 1) ^ (0xedb88320 & -(c & 1));
  }
  return ~c >>> 0;
}

// Decodes an 8-bit RGB PNG without interlace; throws on anything else or on a damaged file.
function readPng(file) {
  const data = fs.readFileSync(file);
  assert.deepStrictEqual([...data.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a], `${file}: signature`);
  let offset = 8;
  let header = null;
  const idat = [];
  let ended = false;
  while (offset < data.length) {
    assert.ok(offset + 12 <= data.length, `${file}: truncated chunk at ${offset}`);
    const length = data.readUInt32BE(offset);
    const type = data.toString('ascii', offset + 4, offset + 8);
    const body = data.subarray(offset + 8, offset + 8 + length);
    assert.strictEqual(body.length, length, `${file}: ${type} is cut short`);
    assert.strictEqual(data.readUInt32BE(offset + 8 + length), crc32(data.subarray(offset + 4, offset + 8 + length)), `${file}: CRC of ${type}`);
    if (type === 'IHDR') header = { width: body.readUInt32BE(0), height: body.readUInt32BE(4), depth: body[8], colour: body[9], interlace: body[12] };
    if (type === 'IDAT') idat.push(body);
    offset += 12 + length;
    if (type === 'IEND') {
      ended = true;
      break;
    }
  }
  assert.ok(header, `${file}: no IHDR`);
  assert.ok(ended && offset === data.length, `${file}: IEND missing or followed by bytes`);
  assert.deepStrictEqual([header.depth, header.colour, header.interlace], [8, 2, 0], `${file}: 8-bit RGB, no interlace`);
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = header.width * 3;
  assert.strictEqual(raw.length, header.height * (stride + 1), `${file}: inflated size`);
  const colours = new Set();
  for (let y = 0; y < header.height; y++) {
    assert.strictEqual(raw[y * (stride + 1)], 0, `${file}: row ${y} filter`);
    for (let x = 0; x < header.width; x += 7) {
      const i = y * (stride + 1) + 1 + x * 3;
      colours.add((raw[i] << 16) | (raw[i + 1] << 8) | raw[i + 2]);
    }
  }
  return { width: header.width, height: header.height, colours: colours.size };
}

test('the demo runs a session by itself and writes valid pictures of the expected sizes', (t) => {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-demo-'));
  t.after(() => fs.rmSync(out, { recursive: true, force: true }));
  const child = spawnSync(process.execPath, [path.join(ROOT, 'demo', 'demo.js'), out, '--seconds', '2'], {
    cwd: out,
    env: { ...process.env, KOVA_ADDON_PATH: '', KOVA_STANDIN_LIVE: '1' },
    encoding: 'utf8',
    timeout: 60000,
  });
  const output = `${child.stdout}\n${child.stderr}`;
  assert.strictEqual(child.status, 0, `demo exit ${child.status} ${child.signal || ''}:\n${output}`);

  const frames = fs.readdirSync(out).filter((f) => /^frame-.*\.png$/.test(f)).sort();
  assert.strictEqual(frames.length, 3, `three stream pictures, got ${frames.join(', ')}`);
  assert.ok(frames.includes(layout.streamFileName(layout.LOCAL.key)), frames.join(', '));
  for (const name of frames) {
    const file = path.join(out, name);
    const png = readPng(file);
    const want = name === layout.streamFileName(layout.LOCAL.key) ? layout.LOCAL : layout.REMOTE_SIZE;
    assert.deepStrictEqual([png.width, png.height], [want.width, want.height], name);
    assert.ok(png.colours >= 4, `${name} shows a picture, not a blank (${png.colours} colours)`);
    assert.ok(output.includes(`wrote ${file} (${want.width}x${want.height}`), `${name}: path printed`);
  }

  const sheet = readPng(path.join(out, layout.CONTACT_SHEET_FILE));
  const size = layout.contactSheetSize();
  assert.deepStrictEqual([sheet.width, sheet.height], [size.width, size.height], 'contact sheet');
  assert.ok(sheet.colours >= 8, `contact sheet has ${sheet.colours} colours`);

  const timeline = fs.readFileSync(path.join(out, layout.TIMELINE_FILE), 'utf8');
  for (const expected of ['event onEnterRoom(', 'call  KOVAEngineEnterRoom(', 'call  KOVAEngineUninit()', 'frames per second']) {
    assert.ok(timeline.includes(expected), `timeline mentions ${expected}`);
  }
  assert.match(output, /demo finished: /);
});

test('the demo refuses bad options with a usage line and exit code 2', () => {
  for (const args of [['--seconds', '0'], ['--seconds', 'many'], ['--colour']]) {
    const child = spawnSync(process.execPath, [path.join(ROOT, 'demo', 'demo.js'), ...args], { encoding: 'utf8', timeout: 30000 });
    assert.strictEqual(child.status, 2, args.join(' '));
    assert.match(child.stderr, /usage: node demo\/demo\.js/);
  }
});

test('without live mode nothing answers, and the demo says so and ends with exit code 1', (t) => {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-demo-'));
  t.after(() => fs.rmSync(out, { recursive: true, force: true }));
  const child = spawnSync(process.execPath, [path.join(ROOT, 'demo', 'demo.js'), out, '--seconds', '1'], {
    env: { ...process.env, KOVA_ADDON_PATH: '', KOVA_STANDIN_LIVE: '0' },
    encoding: 'utf8',
    timeout: 60000,
  });
  assert.strictEqual(child.status, 1, `${child.stdout}\n${child.stderr}`);
  assert.match(child.stderr, /demo failed:\n  KOVAEngineGetCameraDevicesList \(is the SDK in live mode\?\): nothing arrived within 3000 ms/);
  // The engine was still shut down in order.
  assert.match(child.stdout, /call  KOVAEngineUninit\(\)/);
});
