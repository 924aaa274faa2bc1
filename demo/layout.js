'use strict';
// What the demo asks for and how its contact sheet is laid out; the smoke test checks the pictures
// against the same numbers.

// The local camera preview and the two remote views, with the sizes the demo requests.
const LOCAL = { key: 'local', label: 'LOCAL CAMERA', width: 640, height: 360 };
const REMOTE_SIZE = { width: 480, height: 270 };

// Contact sheet: a title band, then the three streams side by side as 16:9 tiles with a label band
// under each, then one frames-per-second bar chart per stream.
const SHEET = {
  margin: 12,
  titleHeight: 34,
  tileWidth: 384,
  tileHeight: 216,
  labelHeight: 26,
  chartHeight: 64,
  tiles: 3,
};

function contactSheetSize() {
  const s = SHEET;
  return {
    width: s.tiles * s.tileWidth + (s.tiles + 1) * s.margin,
    height: s.titleHeight + s.tileHeight + s.labelHeight + s.chartHeight + 3 * s.margin,
  };
}

// File names: one picture per stream key (characters outside [A-Za-z0-9._-] become "_").
function streamFileName(key) {
  return `frame-${key.replace(/[^A-Za-z0-9._-]/g, '_')}.png`;
}

const CONTACT_SHEET_FILE = 'contact-sheet.png';
const TIMELINE_FILE = 'timeline.txt';

module.exports = { LOCAL, REMOTE_SIZE, SHEET, contactSheetSize, streamFileName, CONTACT_SHEET_FILE, TIMELINE_FILE };
