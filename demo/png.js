'use strict';
// PNG encoding of 8-bit RGB images with node's own zlib: signature, IHDR, one IDAT, IEND.
//
//   chunk = length (uint32 BE) | type (4 ASCII) | data | CRC-32 of type and data (uint32 BE)
//   IHDR  = width, height (uint32 BE) | bit depth 8 | colour type 2 (RGB) | 0 | 0 | 0
//   IDAT  = zlib stream of the rows, each row a filter byte (0, none) followed by width × 3 bytes

const zlib = require('zlib');

const SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const out = Buffer.alloc(body.length + 8);
  out.writeUInt32BE(data.length, 0);
  body.copy(out, 4);
  out.writeUInt32BE(crc32(body), body.length + 4);
  return out;
}

// An RGB image: width × height pixels, 3 bytes each, rows top to bottom.
class RgbImage {
  constructor(width, height, fill = [0, 0, 0]) {
    if (!Number.isInteger(width) || !Number.isInteger(height) || width < 1 || height < 1) {
      throw new RangeError(`image size must be positive integers, got ${width} x ${height}`);
    }
    this.width = width;
    this.height = height;
    this.pixels = Buffer.alloc(width * height * 3);
    this.fillRect(0, 0, width, height, fill);
  }

  // Fills the part of the rectangle that lies inside the image.
  fillRect(x, y, w, h, [r, g, b]) {
    const x0 = Math.max(0, x);
    const y0 = Math.max(0, y);
    const x1 = Math.min(this.width, x + w);
    const y1 = Math.min(this.height, y + h);
    for (let yy = y0; yy < y1; yy++) {
      for (let xx = x0; xx < x1; xx++) {
        const i = (yy * this.width + xx) * 3;
        this.pixels[i] = r;
        this.pixels[i + 1] = g;
        this.pixels[i + 2] = b;
      }
    }
  }

  // Copies `src` scaled (nearest neighbour) into the rectangle at (x, y) of size w × h.
  drawScaled(src, x, y, w, h) {
    for (let yy = 0; yy < h; yy++) {
      const ty = y + yy;
      if (ty < 0 || ty >= this.height) continue;
      const sy = Math.min(src.height - 1, Math.floor((yy * src.height) / h));
      for (let xx = 0; xx < w; xx++) {
        const tx = x + xx;
        if (tx < 0 || tx >= this.width) continue;
        const sx = Math.min(src.width - 1, Math.floor((xx * src.width) / w));
        const s = (sy * src.width + sx) * 3;
        const t = (ty * this.width + tx) * 3;
        this.pixels[t] = src.pixels[s];
        this.pixels[t + 1] = src.pixels[s + 1];
        this.pixels[t + 2] = src.pixels[s + 2];
      }
    }
  }

  toPng() {
    const stride = this.width * 3;
    const raw = Buffer.alloc((stride + 1) * this.height);
    for (let y = 0; y < this.height; y++) {
      raw[y * (stride + 1)] = 0;
      this.pixels.copy(raw, y * (stride + 1) + 1, y * stride, (y + 1) * stride);
    }
    const header = Buffer.alloc(13);
    header.writeUInt32BE(this.width, 0);
    header.writeUInt32BE(this.height, 4);
    header[8] = 8; // bit depth
    header[9] = 2; // colour type: RGB
    return Buffer.concat([
      SIGNATURE,
      chunk('IHDR', header),
      chunk('IDAT', zlib.deflateSync(raw)),
      chunk('IEND', Buffer.alloc(0)),
    ]);
  }
}

module.exports = { RgbImage, crc32, SIGNATURE };
