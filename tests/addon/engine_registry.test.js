'use strict';
// The callback registry: answers fired by the stand-in SDK from its own threads reach the JavaScript
// callbacks in request order, unrequested answers are dropped, repeating registrations keep their
// first function, and a callback that throws leaves its exception to Node.
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');

const { paths, runIsolated } = require('../support/standin');
const { nextCall, until, settle } = require('../support/wait');

const control = require(paths.control);
const sdk = control.open(paths.sdk);
const addon = require(paths.addon);

const S = 'operation success.';
// Fires an answer from a stand-in thread; returns once that thread has made its call.
const fire = (cmd) => assert.strictEqual(sdk.command(JSON.stringify(cmd)), 0, JSON.stringify(cmd));
const recorder = () => {
  const calls = [];
  const fn = (...args) => calls.push(args);
  return { calls, fn };
};

test.before(() => addon.KOVAEngineInit());
test.after(() => addon.KOVAEngineUninit());

test('what each result type hands JavaScript', async () => {
  const desktop = { captureInfo: { id: 1, uniqueId: 'scr', name: 'S' }, excludedWindowIds: [] };
  // [request, answer, arguments the callback receives]
  const rows = [
    [(cb) => addon.KOVAEngineExitRoom(cb), { cmd: 'exit_room_result', value: -3 }, [-3]],
    [(cb) => addon.KOVAEngineGetSDKStats(cb), { cmd: 'sdk_stats', text: 'rtt=5' }, ['rtt=5']],
    [(cb) => addon.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 1, desktopPreviewArray: [desktop], finishCallback: cb }),
      { cmd: 'desktop_preview_finish', value: 0 }, [0]],
    [(cb) => addon.KOVAEngineStartRecordingTest(cb, 'mic'), { cmd: 'recording_level', value: 17 }, [17]],
    [(cb) => addon.KOVAEngineStartPlayoutTest('spk', cb), { cmd: 'playout_level', values: [4, 9] }, [4, 9]],
    [(cb) => addon.KOVAEngineGetCameraDevicesList(cb), { cmd: 'camera_devices', list: [{ id: 2, uniqueId: 'u2', name: 'Cam' }] },
      [[{ id: 2, name: 'Cam', uniqueId: 'u2' }]]],
    [(cb) => addon.KOVAEngineGetWindowCaptureSources(cb), { cmd: 'window_sources', list: [{ id: 3, uniqueId: 'w', name: 'Win' }] },
      [[{ id: 3, name: 'Win', uniqueId: 'w' }]]],
    [(cb) => addon.KOVAEngineGetPlayoutSources(cb), { cmd: 'playout_sources', list: [{ id: 4, name: 'Spk', uniqueId: 'p' }] },
      [[{ id: 4, uniqueId: 'p', name: 'Spk' }]]],
    [(cb) => addon.KOVAEngineGetRecordingSources(cb), { cmd: 'recording_sources', list: [{ id: 5, name: 'Mic', uniqueId: 'r' }] },
      [[{ id: 5, uniqueId: 'r', name: 'Mic' }]]],
  ];
  for (const [request, answer, expected] of rows) {
    const args = await nextCall((cb) => {
      assert.strictEqual(request(cb), S);
      fire(answer);
    }, 10000, answer.cmd);
    assert.deepStrictEqual(args, expected, answer.cmd);
    // Property order: capture sources "id", "name", "uniqueId"; audio devices "id", "uniqueId", "name".
    if (Array.isArray(expected[0])) assert.deepStrictEqual(Object.keys(args[0][0]), Object.keys(expected[0][0]), answer.cmd);
  }
  addon.KOVAEngineStopRecordingTest();
  addon.KOVAEngineStopPlayoutTest();
});

test('one-shot answers go to the requests in order, also when both arrive before JavaScript runs', async () => {
  const first = recorder();
  const second = recorder();
  addon.KOVAEngineGetScreenCaptureSources(first.fn);
  addon.KOVAEngineGetScreenCaptureSources(second.fn);
  // Both answers are posted while this function still holds the JavaScript thread.
  fire({ cmd: 'screen_sources', list: [{ id: 1, uniqueId: 'a', name: 'A' }] });
  fire({ cmd: 'screen_sources', list: [{ id: 2, uniqueId: 'b', name: 'B' }] });
  await until(() => first.calls.length + second.calls.length === 2, 10000, 'both answers');
  assert.deepStrictEqual(first.calls, [[[{ id: 1, name: 'A', uniqueId: 'a' }]]]);
  assert.deepStrictEqual(second.calls, [[[{ id: 2, name: 'B', uniqueId: 'b' }]]]);

  // Nobody asked for this one: dropped.
  fire({ cmd: 'screen_sources', list: [{ id: 3, uniqueId: 'c', name: 'C' }] });
  await settle();
  assert.strictEqual(first.calls.length + second.calls.length, 2);
  // The next request gets the next answer, not the dropped one.
  const third = await nextCall((cb) => {
    addon.KOVAEngineGetScreenCaptureSources(cb);
    fire({ cmd: 'screen_sources', list: [{ id: 4, uniqueId: 'd', name: 'D' }] });
  });
  assert.deepStrictEqual(third, [[{ id: 4, name: 'D', uniqueId: 'd' }]]);
});

test('an empty or missing list gives an empty array', async () => {
  for (const answer of [{ list: [], count: 0 }, { null: true, list: [{ id: 1 }, { id: 2 }], count: 2 }, { list: [{ id: 1, uniqueId: 'u', name: 'n' }], count: 0 }]) {
    const args = await nextCall((cb) => {
      addon.KOVAEngineGetCameraDevicesList(cb);
      fire({ cmd: 'camera_devices', ...answer });
    });
    assert.deepStrictEqual(args, [[]], JSON.stringify(answer));
  }
});

test('a repeating type keeps calling the function registered first', async () => {
  const f = recorder();
  const g = recorder();
  addon.KOVAEngineSetDebugLogCallback(f.fn);
  addon.KOVAEngineSetDebugLogCallback(g.fn);
  fire({ cmd: 'debug_log', level: 1, text: 'first' });
  fire({ cmd: 'debug_log', level: 3, text: 'second' });
  await until(() => f.calls.length === 2, 10000, 'the debug lines');
  assert.deepStrictEqual(f.calls, [[1, 'first'], [3, 'second']]);
  assert.deepStrictEqual(g.calls, []);
  addon.KOVAEngineSetDebugLogCallback(null);
});

test('a second playout test takes the levels; none arrive after it stops', async () => {
  const first = recorder();
  const second = recorder();
  addon.KOVAEngineStartPlayoutTest('a', first.fn);
  addon.KOVAEngineStartPlayoutTest('b', second.fn);
  fire({ cmd: 'playout_level', values: [1, 2], times: 2 });
  await until(() => second.calls.length === 2, 10000, 'the levels');
  assert.deepStrictEqual(second.calls, [[1, 2], [1, 2]]);
  assert.deepStrictEqual(first.calls, []);
  assert.strictEqual(addon.KOVAEngineStopPlayoutTest(), S);
  // The stand-in forgets its level callback on stop; the addon would drop a late level anyway.
  sdk.command(JSON.stringify({ cmd: 'playout_level', values: [5, 6] }));
  await settle();
  assert.strictEqual(second.calls.length, 2);
});

test('a callback that throws leaves the exception to Node and its one-shot registration is removed', () => {
  const run = runIsolated(path.join(__dirname, 'fixtures', 'throwing_callback_child.js'), {
    env: { NODE_OPTIONS: '--force-node-api-uncaught-exceptions-policy=true' },
    timeoutMs: 30000,
  });
  assert.strictEqual(run.status, 0, run.stderr + run.stdout);
  const line = run.stdout.split('\n').find((l) => l.startsWith('RESULT '));
  assert.deepStrictEqual(JSON.parse(line.slice('RESULT '.length)), {
    uncaught: ['thrown by the callback'],
    throwingCalls: 1,
    nextCallback: [[{ id: 8, name: 'n', uniqueId: 'u' }]],
  });
});
