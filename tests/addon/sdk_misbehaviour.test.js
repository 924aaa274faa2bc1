'use strict';
// SDK misbehaviour: the stand-in calls every listener callback, producer and frame callback the
// addon hands it with null pointers, negative and huge lengths, counts and sizes, null planes, zero
// and negative sizes and strides, a null key and unknown keys, and calls producers and frames after
// KOVAEngineUninit (fixtures/sdk_misbehaviour_child.js). The process survives, drops what it
// cannot use, and still delivers afterwards. Under the address sanitizer (the runtime preloaded
// into node) the child also runs the leak checker, and no leak may come from the addon.
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');

const { paths, runIsolated } = require('../support/standin');

const child = path.join(__dirname, 'fixtures', 'sdk_misbehaviour_child.js');
const header = path.join(__dirname, '..', '..', 'include', 'kova-api-i.h');
const underAsan = /libasan/.test(process.env.LD_PRELOAD || '');

// The leak reports of a sanitizer's output whose memory the addon allocated: the first frame
// past the allocator and the C and C++ runtimes is the addon's (memory that node allocates while
// the addon calls into it is node's).
function addonLeaks(stderr) {
  const runtime = /libsanitizer|libasan|libstdc\+\+|libc\.so|\/usr\/include\/c\+\+/;
  return stderr.split(/\n(?=(?:Direct|Indirect) leak of )/).slice(1).filter((report) => {
    const frames = report.split('\n').filter((line) => /^\s+#\d+ /.test(line));
    const first = frames.find((frame) => !runtime.test(frame));
    return first !== undefined && /KOVAElectronSDK\.node|\/src\/cpp\//.test(first);
  });
}

test('every misbehaviour is survived and the process still delivers afterwards', () => {
  const env = { KOVA_CONTROL_PATH: paths.control, KOVA_SDK_PATH: paths.sdk, KOVA_ADDON_PATH: paths.addon };
  if (underAsan) env.ASAN_OPTIONS = `${process.env.ASAN_OPTIONS || ''}:detect_leaks=1:exitcode=0`;
  const run = runIsolated(child, { args: [header], env, timeoutMs: 240000 });
  assert.ok(!run.timedOut, `hung; last output:\n${run.stdout.slice(-2000)}\n${run.stderr.slice(-2000)}`);
  assert.strictEqual(run.signal, null, `died of ${run.signal}:\n${run.stderr.slice(-4000)}`);
  assert.strictEqual(run.status, 0, run.stderr.slice(-4000));
  const line = run.stdout.split('\n').find((l) => l.startsWith('RESULT '));
  assert.ok(line, run.stdout.slice(-2000));
  const result = JSON.parse(line.slice('RESULT '.length));

  assert.deepStrictEqual(result.refused, [], 'the stand-in fired every case');
  // After KOVAEngineUninit the SDK still holds its producers and frame callbacks (they fire), but
  // the listeners were detached before the client was destroyed.
  assert.deepStrictEqual(result.afterUninit, []);
  assert.strictEqual(result.listenerAfterUninit, -1);
  assert.ok(result.delivered > 0, 'events and frames reached JavaScript during the sweep');
  assert.deepStrictEqual(result.answers.sort(), [['error', 7, 'still here'], ['frame', 16, 128]]);
  if (underAsan) assert.deepStrictEqual(addonLeaks(run.stderr), []);
});
