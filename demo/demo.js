#!/usr/bin/env node
'use strict';
// A whole session through the package, against the stand-in SDK in live mode: load the addon with
// the package's loader, initialise, attach a listener that prints every event with its time, list
// the devices, join a simulated room, open the local camera preview and two remote views, print
// frames per second per stream every second, and after a few seconds stop everything and leave.
// Then it writes what it saw: one PNG per stream (the last frame received, converted from I420),
// a contact sheet of the three streams side by side with their frame rates, and a text timeline.
//
// Usage: node demo/demo.js [output-directory] [--seconds N]
//   output-directory  where the pictures go (default: demo-output/ in the current directory)
//   --seconds N       how long the streams run (default 5)
// Exit code 0 when every stream delivered frames and every file was written, 1 otherwise.

const fs = require('fs');
const path = require('path');
const { RgbImage } = require('./png');
const { i420ToRgb } = require('./yuv');
const { drawText, textWidth } = require('./font');
const layout = require('./layout');
const { LISTENER_EVENTS } = require('../lib/events');
const { locateAddon } = require('../lib/locate');

const ANSWER_TIMEOUT_MS = 3000;
const SUCCESS = 'operation success.';
const STREAM_COLOURS = [
  [80, 200, 120],
  [90, 160, 255],
  [255, 170, 60],
];

function usage() {
  return 'usage: node demo/demo.js [output-directory] [--seconds N]';
}

function parseArgs(argv) {
  let outDir = 'demo-output';
  let seconds = 5;
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    if (arg === '--help' || arg === '-h') {
      console.log(usage());
      process.exit(0);
    } else if (arg === '--seconds' || arg.startsWith('--seconds=')) {
      seconds = Number(arg === '--seconds' ? argv[++i] : arg.slice('--seconds='.length));
    } else if (arg.startsWith('-')) {
      throw new Error(`unknown option ${arg}\n${usage()}`);
    } else {
      outDir = arg;
    }
  }
  if (!(seconds > 0 && seconds <= 600)) throw new Error(`--seconds needs a number above 0 and at most 600\n${usage()}`);
  return { outDir: path.resolve(outDir), seconds };
}

// One short text per argument value: strings quoted, byte arrays by size, objects as JSON with
// functions shown as "fn"; cut to keep every event on one line.
function describe(value) {
  let text;
  if (value instanceof ArrayBuffer) text = `ArrayBuffer(${value.byteLength})`;
  else if (typeof value === 'function') text = 'fn';
  else if (typeof value === 'object' && value !== null) {
    text = JSON.stringify(value, (k, v) => (typeof v === 'function' ? 'fn' : v));
  } else text = JSON.stringify(value);
  return text.length > 110 ? `${text.slice(0, 107)}...` : text;
}

// Everything that happened, with seconds since the start; each entry is printed as it is added.
class Timeline {
  constructor() {
    this.start = process.hrtime.bigint();
    this.entries = [];
  }

  seconds() {
    return Number(process.hrtime.bigint() - this.start) / 1e9;
  }

  add(kind, text) {
    const entry = { t: this.seconds(), kind, text };
    this.entries.push(entry);
    console.log(`${entry.t.toFixed(3).padStart(8)}s  ${kind.padEnd(6)}${text}`);
  }
}

// Frames of one stream: counts, the rate of every second, and the last frame received.
class StreamStats {
  constructor(key, label, requested) {
    this.key = key;
    this.label = label;
    this.requested = requested;
    this.frames = 0;
    this.thisSecond = 0;
    this.perSecond = [];
    this.lastFrame = null;
  }

  averageFps() {
    const full = this.perSecond.length;
    return full === 0 ? 0 : Math.round(this.perSecond.reduce((a, b) => a + b, 0) / full);
  }
}

// Resolves with the first value that `subscribe` hands its callback, or rejects after `ms`.
function within(ms, what, subscribe) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${what}: nothing arrived within ${ms} ms`)), ms);
    subscribe((value) => {
      clearTimeout(timer);
      resolve(value);
    });
  });
}

class Demo {
  constructor(kova, options) {
    this.kova = kova;
    this.options = options;
    this.timeline = new Timeline();
    this.streams = new Map();
    this.remoteVideo = [];
    this.waiters = new Map();
    this.engineUp = false;
    this.roomEntered = false;
    this.started = [];
  }

  info(text) {
    this.timeline.add('info', text);
  }

  // Calls one package function, records it, and insists on the result it should give.
  call(name, ...args) {
    const result = this.kova[name](...args);
    this.timeline.add('call', `${name}(${args.map(describe).join(', ')}) -> ${describe(result)}`);
    if (result !== SUCCESS) throw new Error(`${name} returned ${describe(result)}`);
    return result;
  }

  // Calls a function whose one argument is a result callback and waits for its one answer.
  answer(name) {
    return within(ANSWER_TIMEOUT_MS, `${name} (is the SDK in live mode?)`, (done) => this.call(name, done));
  }

  // Resolves on the next listener event of that name.
  nextEvent(name) {
    return within(ANSWER_TIMEOUT_MS, name, (done) => {
      const list = this.waiters.get(name) || [];
      list.push(done);
      this.waiters.set(name, list);
    });
  }

  listener() {
    const handlers = {
      onUserVideoAvailable: (userId, streamId, kind, available) => {
        if (available && !this.remoteVideo.some((r) => r.streamId === streamId)) this.remoteVideo.push({ userId, streamId });
      },
    };
    return Object.fromEntries(
      LISTENER_EVENTS.map((name) => [
        name,
        (...args) => {
          this.timeline.add('event', `${name}(${args.map(describe).join(', ')})`);
          if (handlers[name]) handlers[name](...args);
          const waiting = this.waiters.get(name) || [];
          this.waiters.delete(name);
          for (const done of waiting) done(args);
        },
      ]),
    );
  }

  streamCallback(stats) {
    return (frame) => {
      if (stats.frames === 0) {
        this.timeline.add(
          'frame',
          `first frame of ${frame.streamId}: ${frame.width}x${frame.height} (asked for ` +
            `${stats.requested.width}x${stats.requested.height}), strides ${frame.strideY}/${frame.strideU}/${frame.strideV}`,
        );
      }
      stats.frames++;
      stats.thisSecond++;
      stats.lastFrame = frame;
    };
  }

  async listDevices() {
    const lists = [
      ['camera', 'KOVAEngineGetCameraDevicesList'],
      ['screen', 'KOVAEngineGetScreenCaptureSources'],
      ['window', 'KOVAEngineGetWindowCaptureSources'],
      ['speaker', 'KOVAEngineGetPlayoutSources'],
      ['microphone', 'KOVAEngineGetRecordingSources'],
    ];
    for (const [kind, name] of lists) {
      const devices = await this.answer(name);
      if (devices.length === 0) this.info(`${kind}: none`);
      for (const d of devices) this.info(`${kind.padEnd(10)} #${d.id} ${JSON.stringify(d.name)} (${d.uniqueId})`);
    }
  }

  async enterRoom() {
    const entered = this.nextEvent('onEnterRoomSuccess');
    this.call('KOVAEngineEnterRoom', {
      roomId: 4711,
      roomType: 1,
      sdkVersion: '1.0.0',
      nickName: 'demo',
      token: 'demo-token',
      appId: 'demo-app',
      userId: 'u-demo',
      nonce: 'n-1',
      timestamp: Date.now(),
      deviceId: 'demo-device',
      deviceName: require('os').hostname(),
      deviceType: 'pc',
      deviceMode: 'linux',
      deviceVersion: process.version,
    });
    this.roomEntered = true;
    await entered;
    // The remote users announce their cameras right after entering.
    const deadline = Date.now() + ANSWER_TIMEOUT_MS;
    while (this.remoteVideo.length < 2 && Date.now() < deadline) await new Promise((r) => setTimeout(r, 20));
    if (this.remoteVideo.length < 2) {
      throw new Error(`only ${this.remoteVideo.length} remote camera stream(s) announced within ${ANSWER_TIMEOUT_MS} ms; need 2`);
    }
  }

  startStreams() {
    const local = new StreamStats(layout.LOCAL.key, layout.LOCAL.label, layout.LOCAL);
    this.streams.set(local.key, local);
    this.call('KOVAEngineStartLocalPreview', {
      width: layout.LOCAL.width,
      height: layout.LOCAL.height,
      streamCB: this.streamCallback(local),
    });
    this.started.push(() => this.call('KOVAEngineStopLocalPreview'));
    for (const { userId, streamId } of this.remoteVideo.slice(0, 2)) {
      const stats = new StreamStats(streamId, `${userId} CAMERA`, layout.REMOTE_SIZE);
      this.streams.set(streamId, stats);
      this.call('KOVAEngineStartRemoteView', {
        userId,
        streamId,
        width: layout.REMOTE_SIZE.width,
        height: layout.REMOTE_SIZE.height,
        streamSubscribeModelType: 1,
        streamBitrateType: 0,
        streamCB: this.streamCallback(stats),
      });
      this.started.push(() => this.call('KOVAEngineStopRemoteViewV2', userId, streamId));
    }
  }

  // Prints the frame rate of every stream once a second for the run's length.
  async run() {
    const seconds = Math.ceil(this.options.seconds);
    for (let s = 1; s <= seconds; s++) {
      await new Promise((r) => setTimeout(r, 1000));
      const parts = [];
      for (const stats of this.streams.values()) {
        stats.perSecond.push(stats.thisSecond);
        parts.push(`${stats.key} ${stats.thisSecond}`);
        stats.thisSecond = 0;
      }
      this.timeline.add('fps', parts.join('  |  '));
    }
  }

  // Stops what was started, newest first, leaves the room and ends the engine; errors are reported
  // and the remaining steps still run.
  async shutDown() {
    const problems = [];
    const step = async (fn) => {
      try {
        await fn();
      } catch (e) {
        problems.push(e.message);
        this.info(`shut-down step failed: ${e.message}`);
      }
    };
    while (this.started.length > 0) await step(this.started.pop());
    if (this.engineUp) {
      if (this.roomEntered) {
        await step(async () => {
          const result = await this.answer('KOVAEngineExitRoom');
          this.info(`left the room with result ${result}`);
        });
      }
      await step(() => this.call('KOVAEngineUninit'));
      this.engineUp = false;
    }
    return problems;
  }

  writePictures() {
    const { outDir } = this.options;
    fs.mkdirSync(outDir, { recursive: true });
    const written = [];
    const images = new Map();
    for (const stats of this.streams.values()) {
      if (!stats.lastFrame) {
        this.info(`no frame of ${stats.key} arrived: nothing to write`);
        continue;
      }
      const image = i420ToRgb(stats.lastFrame);
      images.set(stats.key, image);
      const file = path.join(outDir, layout.streamFileName(stats.key));
      fs.writeFileSync(file, image.toPng());
      written.push(`${file} (${image.width}x${image.height}, ${stats.key})`);
    }
    const sheet = this.contactSheet(images);
    const sheetFile = path.join(outDir, layout.CONTACT_SHEET_FILE);
    fs.writeFileSync(sheetFile, sheet.toPng());
    written.push(`${sheetFile} (${sheet.width}x${sheet.height}, contact sheet)`);
    const timelineFile = path.join(outDir, layout.TIMELINE_FILE);
    fs.writeFileSync(timelineFile, this.timelineText());
    written.push(`${timelineFile} (event timeline)`);
    return written;
  }

  contactSheet(images) {
    const s = layout.SHEET;
    const { width, height } = layout.contactSheetSize();
    const sheet = new RgbImage(width, height, [22, 24, 30]);
    const title = `KOVA DEMO  ${this.streams.size} STREAMS  ${this.options.seconds} S`;
    drawText(sheet, title, s.margin, Math.floor((s.titleHeight - 14) / 2) + 4, [235, 235, 240], 2);
    const maxFps = Math.max(1, ...[...this.streams.values()].flatMap((st) => st.perSecond));
    [...this.streams.values()].slice(0, s.tiles).forEach((stats, i) => {
      const colour = STREAM_COLOURS[i % STREAM_COLOURS.length];
      const x = s.margin + i * (s.tileWidth + s.margin);
      const y = s.titleHeight + s.margin;
      const image = images.get(stats.key);
      if (image) {
        sheet.drawScaled(image, x, y, s.tileWidth, s.tileHeight);
      } else {
        sheet.fillRect(x, y, s.tileWidth, s.tileHeight, [90, 20, 20]);
        drawText(sheet, 'NO FRAME', x + 12, y + 12, [255, 200, 200], 2);
      }
      sheet.fillRect(x, y + s.tileHeight, s.tileWidth, 3, colour);
      const size = image ? `${image.width}X${image.height}` : '-';
      let label = `${stats.label}  ${size}  ${stats.averageFps()} FPS`;
      const scale = textWidth(label, 2) <= s.tileWidth ? 2 : 1;
      if (textWidth(label, scale) > s.tileWidth) label = label.slice(0, Math.floor(s.tileWidth / 6));
      drawText(sheet, label, x, y + s.tileHeight + 8, [230, 230, 235], scale);
      this.drawFpsChart(sheet, stats, x, y + s.tileHeight + s.labelHeight + s.margin, maxFps, colour);
    });
    return sheet;
  }

  // One bar per second, scaled to the highest rate of any stream, on a baseline.
  drawFpsChart(sheet, stats, x, y, maxFps, colour) {
    const s = layout.SHEET;
    const n = Math.max(1, stats.perSecond.length);
    const barWidth = Math.max(1, Math.floor(s.tileWidth / n) - 2);
    const barRoom = s.chartHeight - 12;
    stats.perSecond.forEach((fps, i) => {
      const h = Math.round((fps / maxFps) * barRoom);
      const bx = x + i * (barWidth + 2);
      sheet.fillRect(bx, y + barRoom - h, barWidth, h, colour);
      const value = String(fps);
      if (h >= 11 && textWidth(value) + 4 <= barWidth) drawText(sheet, value, bx + 2, y + barRoom - h + 2, [20, 20, 24], 1);
    });
    sheet.fillRect(x, y + barRoom, s.tileWidth, 1, [120, 120, 130]);
    drawText(sheet, `FPS PER SECOND, MAX ${maxFps}`, x, y + barRoom + 4, [150, 150, 160], 1);
  }

  timelineText() {
    const lines = [`kova-electron-sdk demo, ${new Date().toISOString()}`, 'seconds  kind  what', ''];
    for (const e of this.timeline.entries) lines.push(`${e.t.toFixed(3).padStart(8)}  ${e.kind.padEnd(6)}${e.text}`);
    lines.push('', 'frames per second, by second of the run:');
    const streams = [...this.streams.values()];
    const seconds = Math.max(0, ...streams.map((st) => st.perSecond.length));
    const keyWidth = Math.max(8, ...streams.map((st) => st.key.length));
    lines.push(`${'stream'.padEnd(keyWidth)}  ${Array.from({ length: seconds }, (_, i) => String(i + 1).padStart(4)).join('')}  total`);
    for (const st of streams) {
      lines.push(`${st.key.padEnd(keyWidth)}  ${st.perSecond.map((n) => String(n).padStart(4)).join('')}  ${st.frames}`);
    }
    const counts = new Map();
    for (const e of this.timeline.entries.filter((x) => x.kind === 'event')) {
      const name = e.text.slice(0, e.text.indexOf('('));
      counts.set(name, (counts.get(name) || 0) + 1);
    }
    lines.push('', 'events received:');
    for (const [name, n] of [...counts].sort()) lines.push(`  ${name.padEnd(30)} ${n}`);
    return `${lines.join('\n')}\n`;
  }

  async main() {
    this.call('KOVAEngineInit');
    this.engineUp = true;
    this.call('KOVAEngineSetApiListenerV2', this.listener());
    await this.listDevices();
    await this.enterRoom();
    this.startStreams();
    await this.run();
  }
}

async function runDemo(argv) {
  const options = parseArgs(argv);
  // Live mode makes the stand-in SDK behave like a small meeting; it is read when the SDK loads.
  if (process.env.KOVA_STANDIN_LIVE === undefined) process.env.KOVA_STANDIN_LIVE = '1';
  console.log(`addon: ${locateAddon()}`);
  const kova = require('..');
  const demo = new Demo(kova, options);
  let failure = null;
  try {
    await demo.main();
  } catch (e) {
    failure = e;
    demo.info(`failed: ${e.message}`);
  }
  const problems = await demo.shutDown();
  let written = [];
  try {
    written = demo.writePictures();
  } catch (e) {
    problems.push(`writing the pictures failed: ${e.message}`);
  }
  for (const line of written) console.log(`wrote ${line}`);
  const silent = [...demo.streams.values()].filter((st) => st.frames === 0).map((st) => st.key);
  if (silent.length > 0) problems.push(`no frames from ${silent.join(', ')}`);
  if (failure) problems.unshift(failure.message);
  if (problems.length > 0) {
    console.error(`demo failed:\n  ${problems.join('\n  ')}`);
    return 1;
  }
  const rates = [...demo.streams.values()].map((st) => `${st.key} ${st.averageFps()} fps`).join(', ');
  console.log(`demo finished: ${rates}`);
  return 0;
}

if (require.main === module) {
  let seconds = 5;
  try {
    seconds = parseArgs(process.argv.slice(2)).seconds;
  } catch (e) {
    console.error(e.message);
    process.exit(2);
  }
  // The process ends by itself even if the SDK never answers: a watchdog well beyond the run.
  setTimeout(() => {
    console.error('demo did not finish in time');
    process.exit(1);
  }, (seconds + 30) * 1000).unref();
  runDemo(process.argv.slice(2)).then(
    // The addon's thread-safe functions keep the event loop alive, so the demo exits explicitly.
    (code) => process.exit(code),
    (e) => {
      console.error(`demo failed: ${e.stack || e.message}`);
      process.exit(1);
    },
  );
}

module.exports = { runDemo, parseArgs };
