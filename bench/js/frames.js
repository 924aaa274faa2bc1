'use strict';
// Frames from the stand-in SDK's threads to a JavaScript function, against the bare mechanisms.
//   node frames.js '{"width":1920,"height":1080,"streams":1,"scale":1}'
//   node frames.js '{"check":"copies","width":1920,"height":1080}'   (run with the copy counter preloaded)
// Prints one JSON object.
const { load, command, commandAsync, percentile, sleep, until } = require('./common.js');

const cfg = JSON.parse(process.argv[2] || '{}');
const width = cfg.width || 1920;
const height = cfg.height || 1080;
const streams = cfg.streams || 1;
const scale = cfg.scale || 1;
const { addon, bench } = load();
const keys = Array.from({ length: streams }, (_, i) => `bench-${i}`);
const strides = [width, Math.ceil(width / 2), Math.ceil(width / 2)];
const frameBytes = height * strides[0] + height * strides[1];

// What the stream functions record: delivered frames and, while `timing`, stamp-to-call latency.
const seen = { frames: 0, last: 0n, latencies: [], timing: false };
function onFrame(frame) {
  const now = process.hrtime.bigint();
  seen.frames++;
  seen.last = now;
  if (seen.timing) {
    const y = frame.streamY;
    const stamp = new DataView(y.buffer, y.byteOffset + 8, 8).getBigUint64(0, true);
    seen.latencies.push(Number(now - stamp));
  }
}
for (const key of keys) {
  addon.KOVAEngineStartRemoteView({ userId: 1, streamId: key, width, height,
    streamSubscribeModelType: 1, streamBitrateType: 0, streamCB: onFrame });
}
const push = (key, extra) => ({ cmd: 'frames', key, width, height, strides, fill: false, ...extra });

function reset() {
  seen.frames = 0;
  seen.last = 0n;
  seen.latencies = [];
}

async function drain() {
  let before = -1;
  while (before !== seen.frames) {
    before = seen.frames;
    await sleep(50);
  }
}

// The native cost of one delivered frame on the SDK thread: the time the stand-in spends in its
// callback, summed over a paced push that JavaScript keeps up with (so every frame is copied and
// queued, none dropped), against
//   (a) allocate-copy-free of the same planes in the same place: the same stand-in push, thread and
//       source buffer, with the addon left out ("bare_copy");
//   (b) the producer's time per frame of the bare thread-safe-function hop, paced alike: allocate,
//       copy and post, the copies freed by JavaScript's finalizers as the addon's are;
//   and a bare copy loop on a thread of its own. The median of five alternating rounds.
async function nativeCost(count, intervalMs) {
  const project = [];
  const reference = [];
  const hop = [];
  const loop = [];
  const shape = { width, height, strideY: strides[0], strideU: strides[1], strideV: strides[2] };
  const median = (values) => Float64Array.from(values).sort()[values.length >> 1];
  const timedPush = async (extra) => {
    await commandAsync(bench, push(keys[0], { count, interval_ms: intervalMs, timed: true, ...extra }));
    const [us] = bench.command(JSON.stringify({ cmd: 'push_time' }));
    return us * 1000;
  };
  for (let round = 0; round < 5; round++) {
    reset();
    const spent = await timedPush({});
    await drain();
    // A frame dropped during a pause of JavaScript (a garbage collection) costs next to nothing:
    // the time is divided by the frames delivered, which errs on the side of a higher cost.
    if (seen.frames < count * 0.9) throw new Error(`native cost: ${seen.frames} of ${count} frames delivered`);
    project.push(spent / seen.frames);
    reference.push((await timedPush({ bare_copy: true })) / count);
    hop.push(await new Promise((resolve) => bench.hopFrames({ ...shape, count, streams: 1, intervalMs }, onFrame,
      (dropped, ns) => resolve(ns))));
    await drain();
    loop.push(bench.copyFrames({ ...shape, count }));
  }
  return { project: median(project), reference: median(reference), hop: median(hop), loop: median(loop) };
}

// Frames pushed by every stream's SDK thread, at full speed (intervalMs 0) or paced.
async function projectRun(count, intervalMs) {
  reset();
  seen.timing = true;
  const start = process.hrtime.bigint();
  await Promise.all(keys.map((key) => commandAsync(bench, push(key, { count, stamp: true, interval_ms: intervalMs }))));
  await drain();
  seen.timing = false;
  return { frames: seen.frames, seconds: Number(seen.last - start) / 1e9, latencies: seen.latencies.slice() };
}

async function referenceRun(count, intervalMs) {
  reset();
  seen.timing = true;
  const start = process.hrtime.bigint();
  await new Promise((resolve) => bench.hopFrames({ width, height, strideY: strides[0], strideU: strides[1],
    strideV: strides[2], count, streams, intervalMs }, onFrame, resolve));
  await drain();
  seen.timing = false;
  return { frames: seen.frames, seconds: Number(seen.last - start) / 1e9, latencies: seen.latencies.slice() };
}

// Large copies on the JavaScript thread and on other threads per frame (the copy counter must be
// preloaded): the frame path copies each plane once on the SDK thread and never again.
async function copyCheck() {
  const before = bench.copyCounts();
  if (before === null) return { error: 'copy counter not preloaded' };
  reset();
  const count = 60;
  await commandAsync(bench, push(keys[0], { count, interval_ms: 2 }));
  await drain();
  const after = bench.copyCounts();
  return { pushed: count, delivered: seen.frames, jsThreadCopies: after[0] - before[0],
    sdkThreadCopies: after[1] - before[1] };
}

async function main() {
  let result;
  if (cfg.check === 'copies') {
    result = await copyCheck();
  } else {
    const mb = frameBytes / 1e6;
    // Paced so that JavaScript takes each frame before the next.
    const costCount = Math.max(40, Math.round(scale * 300));
    const cost = streams === 1 ? await nativeCost(costCount, Math.max(2, Math.ceil(2 * mb))) : null;
    // Throughput: every stream offers a frame each millisecond for about a second, more than
    // JavaScript takes at 1080p; frames that find four waiting are dropped, on both sides before
    // they are copied. A push at full speed would end within milliseconds (a dropped frame costs
    // next to nothing) and say little. The better of two alternating runs.
    const fastCount = Math.max(50, Math.round(scale * 1000));
    let projectFps = 0;
    let referenceFps = 0;
    for (let round = 0; round < 2; round++) {
      const p = await projectRun(fastCount, 1);
      projectFps = Math.max(projectFps, p.frames / p.seconds);
      const r = await referenceRun(fastCount, 1);
      referenceFps = Math.max(referenceFps, r.frames / r.seconds);
    }
    // Latency: paced frames, so that none waits behind another; samples of two alternating runs.
    const pacedCount = Math.max(50, Math.round(scale * 400));
    const projectLatency = [];
    const referenceLatency = [];
    for (let round = 0; round < 2; round++) {
      projectLatency.push(...(await projectRun(pacedCount, 5)).latencies);
      referenceLatency.push(...(await referenceRun(pacedCount, 5)).latencies);
    }
    result = {
      width, height, streams,
      costNs: cost && cost.project, costRefNs: cost && cost.reference, costHopNs: cost && cost.hop,
      costLoopNs: cost && cost.loop,
      fps: projectFps, fpsRef: referenceFps,
      p50: percentile(projectLatency, 0.5), p99: percentile(projectLatency, 0.99),
      p50Ref: percentile(referenceLatency, 0.5), p99Ref: percentile(referenceLatency, 0.99),
      samples: projectLatency.length,
    };
  }
  for (const key of keys) addon.KOVAEngineStopRemoteView(1, key);
  addon.KOVAEngineUninit();
  process.stdout.write(`${JSON.stringify(result)}\n`);
}

main().catch((error) => {
  process.stdout.write(`${JSON.stringify({ error: String(error && error.stack || error) })}\n`);
  process.exit(1);
});
