'use strict';
// The bad-input sweep: every exported function called with every argument pattern of
// fixtures/bad_input_table.js (missing arguments, each wrong type, null and undefined, huge
// strings, strings with zero bytes or lone surrogates, throwing getters, hostile Proxies, arrays for
// objects, numbers beyond int32, each also one and two levels inside object arguments), once on the
// stand-in SDK with a client and once without any SDK. Each call gives one of the function's own
// results or a JavaScript Error; the process never crashes nor hangs, and still answers afterwards.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { paths, runIsolated } = require('../support/standin');
const { makeLayout } = require('../support/layout');

const child = path.join(__dirname, 'fixtures', 'bad_input_child.js');

function sweep(addon, scenario) {
  // The controller library writes its log file into the working directory.
  const cwd = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-sweep-'));
  try {
    const run = runIsolated(child, {
      args: [addon, scenario],
      env: { KOVA_CONTROL_PATH: paths.control, KOVA_SDK_PATH: paths.sdk },
      timeoutMs: 240000,
      cwd,
    });
    assert.ok(!run.timedOut, `the sweep hung; last output:\n${run.stdout.slice(-2000)}\n${run.stderr.slice(-2000)}`);
    assert.strictEqual(run.signal, null, `the process died of ${run.signal}:\n${run.stderr.slice(-4000)}`);
    assert.strictEqual(run.status, 0, run.stderr.slice(-4000));
    const line = run.stdout.split('\n').find((l) => l.startsWith('RESULT '));
    assert.ok(line, `no result line:\n${run.stdout.slice(-2000)}`);
    return JSON.parse(line.slice('RESULT '.length));
  } finally {
    fs.rmSync(cwd, { recursive: true, force: true });
  }
}

test('with a client: only results and JavaScript errors, and the process answers afterwards', () => {
  const result = sweep(paths.addon, 'client');
  assert.deepStrictEqual(result.problems, []);
  assert.ok(result.answered, 'a valid call after the sweep answered');
  assert.ok(result.calls > 0);
});

test('without an SDK: only results and JavaScript errors, and the process answers afterwards', () => {
  const layout = makeLayout();
  try {
    const result = sweep(layout.addon, 'no-client');
    assert.deepStrictEqual(result.problems, []);
    assert.ok(result.answered, 'a valid call after the sweep answered');
  } finally {
    layout.remove();
  }
});
