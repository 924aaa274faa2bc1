'use strict';
// Frame streams end to end: the stand-in delivers frames on its own thread, the addon queues them
// per stream and calls the stream's "streamCB" function with frame objects. Run directly, and once
// more in a child process with KOVA_FORCE_BUFFER_COPY=1 (planes copied into ordinary buffers).
const test = require('node:test');
const assert = require('node:assert');
const asyncHooks = require('node:async_hooks');
const { spawnSync } = require('node:child_process');
const { standin, loadAddon, waitFor, settle, collectGarbage, SUCCESS } = require('./addon_support.js');

// Resource names of the thread-safe functions created from here on.
const resourceTypes = [];
asyncHooks.createHook({ init(id, type) { resourceTypes.push(type); } }).enable();

const addon = loadAddon();
test.after(() => addon.KOVAEngineUninit());

const FRAME = { width: 640, height: 480, strides: [640, 320, 320] };
const sendFrames = (key, count, extra = {}) =>
  assert.strictEqual(standin.command({ cmd: 'frames', key, count, ...FRAME, ...extra }), 0, `frames for ${key}`);
// The frame number that the stand-in writes into the first four bytes of the Y plane.
const frameNumber = (frame) => Buffer.from(frame.streamY.buffer, frame.streamY.byteOffset, 4).readUInt32LE(0);
const remoteView = (streamId, streamCB) => ({ userId: 1, streamId, width: 640, height: 480,
  streamSubscribeModelType: 1, streamBitrateType: 0, ...(streamCB ? { streamCB } : {}) });

// The stand-in's pattern for frame n, checked on a sample of bytes of every plane.
function assertPattern(frame, n) {
  const { streamY: y, streamU: u, streamV: v, strideY } = frame;
  assert.strictEqual(frameNumber(frame), n);
  const last = [frame.height - 1, strideY - 1];
  for (const [row, col] of [[0, 8], [1, 0], [frame.height >> 1, 17], last]) {
    assert.strictEqual(y[row * strideY + col], (n + row + col) & 0xff, `Y(${row},${col}) of frame ${n}`);
  }
  for (const i of [0, 1000, u.length - 1]) {
    assert.strictEqual(u[i], 0x40 + (n & 0x3f));
    assert.strictEqual(v[i], 0xc0 - (n & 0x3f));
  }
}

test('ten frames while JavaScript is busy: four calls with the first four frames, in order', async () => {
  const frames = [];
  assert.strictEqual(addon.KOVAEngineStartRemoteView(remoteView('busy', (f) => frames.push(f))), SUCCESS);
  sendFrames('busy', 10);  // the stand-in's thread delivers all ten before this call returns
  await waitFor(() => frames.length >= 4, 10000, 'four frames');
  await settle();
  assert.deepStrictEqual(frames.map(frameNumber), [0, 1, 2, 3]);
  addon.KOVAEngineStopRemoteView(1, 'busy');
});

test('the frame object: properties in order, plane sizes from the strides, the stand-in\'s bytes', async () => {
  const frames = [];
  addon.KOVAEngineStartRemoteView(remoteView('shape', (f) => frames.push(f)));
  const before = Date.now();
  sendFrames('shape', 1, { rotation: 90 });
  await waitFor(() => frames.length === 1, 10000, 'one frame');
  const [frame] = frames;
  assert.deepStrictEqual(Object.keys(frame), ['width', 'height', 'rotate', 'strideY', 'strideU', 'strideV',
    'timestamp', 'streamId', 'streamY', 'streamU', 'streamV']);
  assert.deepStrictEqual([frame.width, frame.height, frame.rotate, frame.strideY, frame.strideU, frame.strideV],
    [640, 480, 90, 640, 320, 320]);
  assert.strictEqual(frame.streamId, 'shape');
  assert.deepStrictEqual([frame.streamY.length, frame.streamU.length, frame.streamV.length], [307200, 76800, 76800]);
  for (const plane of [frame.streamY, frame.streamU, frame.streamV]) assert.ok(plane instanceof Uint8Array);
  // Arrival time in milliseconds since 1970 (the stand-in sends 0).
  assert.ok(frame.timestamp >= before - 1000 && frame.timestamp <= Date.now() + 1000, `timestamp ${frame.timestamp}`);
  assertPattern(frame, 0);
  // A missing plane gets no property.
  sendFrames('shape', 1, { nullPlanes: ['U'] });
  await waitFor(() => frames.length === 2, 10000, 'frame without U');
  assert.deepStrictEqual(Object.keys(frames[1]).slice(8), ['streamY', 'streamV']);
  addon.KOVAEngineStopRemoteView(1, 'shape');
});

test('planes kept after the call stay intact across GC and later frames', async () => {
  const kept = [];
  let seen = 0;
  addon.KOVAEngineStartRemoteView(remoteView('keep', (f) => {
    seen++;
    if (kept.length === 0) kept.push(f);
  }));
  sendFrames('keep', 1, { first: 5 });
  await waitFor(() => seen === 1, 10000, 'first frame');
  for (let batch = 0; batch < 5; batch++) {
    sendFrames('keep', 4, { first: 100 + batch * 4 });
    await waitFor(() => seen === 1 + (batch + 1) * 4, 10000, `batch ${batch}`);
    collectGarbage();
  }
  await settle(50);
  collectGarbage();
  assertPattern(kept[0], 5);
  addon.KOVAEngineStopRemoteView(1, 'keep');
});

// Plane memory given back by the garbage collector is used again for later frames: across changes
// of resolution every delivered frame must still carry exactly its own bytes, and planes JavaScript
// keeps must not be written over.
test('planes reused across resolution changes: each frame has its own size and bytes', async () => {
  const delivered = [];
  const kept = [];
  addon.KOVAEngineStartRemoteView(remoteView('sizes', (f) => {
    assertPattern(f, frameNumber(f));
    delivered.push([f.width, f.height, f.streamY.length, f.streamU.length]);
    if (delivered.length % 7 === 0) kept.push([f, frameNumber(f)]);
  }));
  const sizes = [[640, 480], [320, 240], [1280, 720], [640, 480], [322, 242]];
  let first = 0;
  for (const [width, height] of sizes) {
    const strides = [width, width / 2, width / 2];
    for (let batch = 0; batch < 3; batch++) {
      const before = delivered.length;
      assert.strictEqual(standin.command({ cmd: 'frames', key: 'sizes', count: 4, width, height, strides, first }), 0);
      first += 4;
      await waitFor(() => delivered.length === before + 4, 10000, `${width}x${height} batch ${batch}`);
      collectGarbage();
    }
  }
  const expected = sizes.flatMap(([w, h]) => Array(12).fill([w, h, w * h, (w / 2) * h / 2]));
  assert.deepStrictEqual(delivered, expected);
  collectGarbage();
  await settle(50);
  for (const [frame, n] of kept) assertPattern(frame, n);
  addon.KOVAEngineStopRemoteView(1, 'sizes');
});

test('stopping: queued frames are dropped, unknown keys never delivered, "local" outlives one of its two starts',
  async () => {
    // A carrier stream whose stand-in callback can send frames under any key.
    const carrier = [];
    addon.KOVAEngineStartRemoteView(remoteView('carrier', (f) => carrier.push(f)));

    // Frames still waiting when the view stops are never delivered.
    const queued = [];
    addon.KOVAEngineStartRemoteView(remoteView('queued', (f) => queued.push(f)));
    sendFrames('queued', 3);
    addon.KOVAEngineStopRemoteView(1, 'queued');

    // A key that was never started is not delivered, not even to the stream that carried it.
    sendFrames('carrier', 2, { keyOverride: 'ghost' });

    // A view without a streamCB function gets no frames.
    addon.KOVAEngineStartRemoteView(remoteView('silent'));
    sendFrames('silent', 2);

    // The preview and the preview test share "local": the later start takes its frames over, and the
    // stream lives until both have stopped.
    const preview = [];
    const previewTest = [];
    addon.KOVAEngineStartLocalPreview({ width: 640, height: 480, streamCB: (f) => preview.push(f) });
    addon.KOVAEngineStartLocalPreviewTest({ width: 640, height: 480, streamCB: (f) => previewTest.push(f) });
    addon.KOVAEngineStopLocalPreview();
    sendFrames('carrier', 2, { keyOverride: 'local' });
    await waitFor(() => previewTest.length === 2, 10000, 'local frames after stopping the preview');
    addon.KOVAEngineStopLocalPreviewTest();
    sendFrames('carrier', 2, { keyOverride: 'local' });

    await settle(200);
    assert.strictEqual(queued.length, 0);
    assert.strictEqual(carrier.length, 0);
    assert.strictEqual(preview.length, 0);
    assert.strictEqual(previewTest.length, 2);
    assert.deepStrictEqual(previewTest.map((f) => f.streamId), ['local', 'local']);
    addon.KOVAEngineStopRemoteView(1, 'carrier');
    addon.KOVAEngineStopRemoteView(1, 'silent');
  });

test('desktop capture preview: frames under the source\'s unique id until the list form stops it', async () => {
  const frames = [];
  const finished = [];
  const preview = { captureInfo: { id: 2, uniqueId: 'screen-2', name: 'Screen 2' }, width: 640, height: 480,
    streamCB: (f) => frames.push(f) };
  addon.KOVAEngineStartDesktopCapturePreview(preview);
  sendFrames('screen-2', 2);
  await waitFor(() => frames.length === 2, 10000, 'desktop frames');
  assert.strictEqual(frames[0].streamId, 'screen-2');
  const carrier = [];
  addon.KOVAEngineStartRemoteView(remoteView('carrier2', (f) => carrier.push(f)));
  addon.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 1, desktopPreviewArray: [preview],
    finishCallback: (r) => finished.push(r) });
  sendFrames('carrier2', 2, { keyOverride: 'screen-2' });
  assert.strictEqual(standin.command({ cmd: 'desktop_preview_finish', value: 0 }), 0);
  await waitFor(() => finished.length === 1, 10000, 'finish callback');
  await settle();
  assert.strictEqual(frames.length, 2);
  assert.strictEqual(carrier.length, 0);
  addon.KOVAEngineStopRemoteView(1, 'carrier2');
});

test('thread-safe functions carry the stream\'s resource name', () => {
  const names = ['LocalStreamCallback', 'RemoteStreamCallback', 'RemoteDesktopStreamCallback',
    'DesktopCaptureCallback', 'FinishCallback'];
  // Made by the scenarios above; the remote desktop view has its own below.
  for (const name of names.filter((n) => n !== 'RemoteDesktopStreamCallback')) {
    assert.ok(resourceTypes.includes(name), `${name} in ${[...new Set(resourceTypes)]}`);
  }
  resourceTypes.length = 0;
  addon.KOVAEngineStartRemoteDesktopView(remoteView('desk', () => {}));
  addon.KOVAEngineStopRemoteDesktopView(1, 'desk');
  assert.deepStrictEqual(resourceTypes.filter((t) => names.includes(t)), ['RemoteDesktopStreamCallback']);
});

if (!process.env.KOVA_FRAMES_CHILD) {
  test('a push filled once and stamped: frame numbers, the first frame\'s bytes, the monotonic clock', async () => {
    const frames = [];
    addon.KOVAEngineStartRemoteView(remoteView('stamped', (f) => frames.push(f)));
    const before = process.hrtime.bigint();
    sendFrames('stamped', 3, { fill: false, stamp: true, first: 4, interval_ms: 20 });
    const after = process.hrtime.bigint();
    await waitFor(() => frames.length === 3, 10000, 'three stamped frames');
    assert.deepStrictEqual(frames.map(frameNumber), [4, 5, 6]);
    const stamps = frames.map((f) => Buffer.from(f.streamY.buffer, f.streamY.byteOffset + 8, 8).readBigUInt64LE(0));
    for (let i = 0; i < 3; i++) {
      assert.ok(stamps[i] >= before && stamps[i] <= after, `stamp ${stamps[i]} outside [${before}, ${after}]`);
      if (i > 0) assert.ok(stamps[i] > stamps[i - 1]);
      // Beyond the number and the stamp, every frame keeps the bytes of the first one.
      const y = frames[i].streamY;
      assert.strictEqual(y[16], (4 + 16) & 0xff);
      assert.strictEqual(y[2 * 640 + 5], (4 + 2 + 5) & 0xff);
      assert.strictEqual(frames[i].streamU[100], 0x40 + 4);
    }
    // Malformed options are refused before anything is sent.
    assert.strictEqual(standin.command({ cmd: 'frames', key: 'stamped', fill: 1 }), -1);
    assert.strictEqual(standin.command({ cmd: 'frames', key: 'stamped', stamp: 'yes' }), -1);
    addon.KOVAEngineStopRemoteView(1, 'stamped');
  });

  test('the journal switched off records no call until it is switched on again or reset', () => {
    standin.clear();
    assert.strictEqual(standin.command({ cmd: 'journal', on: false }), 0);
    addon.KOVAEngineMuteRemoteAudio(7, 'quiet', true);
    assert.deepStrictEqual(standin.ops('MuteRemoteAudio'), []);
    assert.strictEqual(standin.command({ cmd: 'journal', on: true }), 0);
    addon.KOVAEngineMuteRemoteAudio(8, 'heard', false);
    assert.deepStrictEqual(standin.ops('MuteRemoteAudio').map((e) => e.args), [[8, 'heard', 5, false]]);
    assert.strictEqual(standin.command({ cmd: 'journal', on: false }), 0);
    assert.strictEqual(standin.command({ cmd: 'reset' }), 0);
    addon.KOVAEngineMuteRemoteAudio(9, 'again', true);
    assert.strictEqual(standin.ops('MuteRemoteAudio').length, 1);
    assert.strictEqual(standin.command({ cmd: 'journal', on: 'no' }), -1);
    assert.strictEqual(standin.command({ cmd: 'journal' }), -1);
  });

  test('the same scenarios with the planes copied into ordinary buffers', () => {
    const env = { ...process.env, KOVA_FORCE_BUFFER_COPY: '1', KOVA_FRAMES_CHILD: '1' };
    delete env.NODE_TEST_CONTEXT;  // a run of its own, not a subtest of this runner
    const child = spawnSync(process.execPath, ['--expose-gc', '--test', '--test-reporter=tap', __filename], {
      env,
      encoding: 'utf8', timeout: 90000, killSignal: 'SIGKILL',
    });
    assert.strictEqual(child.status, 0, `copy fallback run failed:\n${child.stdout}\n${child.stderr}`);
    assert.match(child.stdout, /^# pass 7$/m);
    assert.match(child.stdout, /^# fail 0$/m);
  });

  test('streams started twice under one key let the process end on its own', () => {
    // No KOVAEngineUninit: every stream function must have stopped holding the event loop.
    const script = `
      const s = require(${JSON.stringify(require.resolve('../support/standin.js'))});
      const addon = require(s.paths.addon);
      addon.KOVAEngineInit();
      addon.KOVAEngineStartLocalPreview({ width: 1, height: 1, streamCB() {} });
      addon.KOVAEngineStartLocalPreviewTest({ width: 1, height: 1, streamCB() {} });
      addon.KOVAEngineStartRemoteView({ userId: 1, streamId: 'a', width: 1, height: 1,
        streamSubscribeModelType: 1, streamBitrateType: 0, streamCB() {} });
      addon.KOVAEngineStartRemoteView({ userId: 1, streamId: 'a', width: 1, height: 1,
        streamSubscribeModelType: 1, streamBitrateType: 0, streamCB() {} });
      addon.KOVAEngineStopLocalPreview();
      addon.KOVAEngineStopLocalPreviewTest();
      addon.KOVAEngineStopRemoteView(1, 'a');
      addon.KOVAEngineStopRemoteView(1, 'a');
      console.log('done');`;
    const child = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 30000,
      killSignal: 'SIGKILL' });
    assert.strictEqual(child.signal, null, 'the process had to be killed: a stream function kept it alive');
    assert.strictEqual(child.status, 0, child.stderr);
    assert.match(child.stdout, /done/);
  });
}
