'use strict';
// Conversion of a delivered I420 frame (Y plane full size, U and V at half width and half height)
// into an RGB image, with BT.601 limited-range coefficients. Plane sizes are checked against the
// frame's size and strides first, so a short or odd frame is reported instead of read past its end.

const { RgbImage } = require('./png');

function clamp(v) {
  return v < 0 ? 0 : v > 255 ? 255 : v;
}

// Why a frame cannot be converted, or null when it can.
function frameProblem(frame) {
  const { width, height, strideY, strideU, strideV, streamY, streamU, streamV } = frame;
  if (!(Number.isInteger(width) && Number.isInteger(height) && width > 0 && height > 0)) {
    return `bad size ${width} x ${height}`;
  }
  if (!(streamY instanceof Uint8Array && streamU instanceof Uint8Array && streamV instanceof Uint8Array)) {
    return 'a plane is missing';
  }
  const chromaWidth = (width + 1) >> 1;
  const chromaRows = (height + 1) >> 1;
  const needs = [
    ['Y', streamY, strideY, width, height],
    ['U', streamU, strideU, chromaWidth, chromaRows],
    ['V', streamV, strideV, chromaWidth, chromaRows],
  ];
  for (const [name, plane, stride, rowBytes, rows] of needs) {
    if (!Number.isInteger(stride) || stride < rowBytes) return `${name} stride ${stride} is below ${rowBytes}`;
    const last = (rows - 1) * stride + rowBytes;
    if (plane.length < last) return `${name} plane has ${plane.length} bytes, needs ${last}`;
  }
  return null;
}

function i420ToRgb(frame) {
  const problem = frameProblem(frame);
  if (problem) throw new RangeError(`frame of ${frame.streamId} cannot be converted: ${problem}`);
  const { width, height, strideY, strideU, strideV, streamY, streamU, streamV } = frame;
  const image = new RgbImage(width, height);
  const out = image.pixels;
  for (let y = 0; y < height; y++) {
    const rowY = y * strideY;
    const rowU = (y >> 1) * strideU;
    const rowV = (y >> 1) * strideV;
    for (let x = 0; x < width; x++) {
      const c = 1.164 * (streamY[rowY + x] - 16);
      const d = streamU[rowU + (x >> 1)] - 128;
      const e = streamV[rowV + (x >> 1)] - 128;
      const i = (y * width + x) * 3;
      out[i] = clamp(Math.round(c + 1.596 * e));
      out[i + 1] = clamp(Math.round(c - 0.391 * d - 0.813 * e));
      out[i + 2] = clamp(Math.round(c + 2.018 * d));
    }
  }
  return image;
}

module.exports = { i420ToRgb, frameProblem };
