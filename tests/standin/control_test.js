'use strict';
// The JavaScript side of the stand-in: the control addon and the helpers of tests/support.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');

const standin = require('../support/standin.js');

test('open() names the path when the library is missing or lacks the control functions', () => {
  const native = require(standin.paths.control);
  assert.throws(() => native.open('/nonexistent/libkova_sdk.so'), /cannot load \/nonexistent\/libkova_sdk\.so/);
  // A loadable library without the control functions: the control addon itself.
  const plainLibrary = standin.paths.control;
  assert.throws(() => native.open(plainLibrary), /lacks the stand-in control functions/);
  assert.throws(() => native.open(5), TypeError);
});

test('commands and journal reach the stand-in beside the addon', () => {
  standin.loadControl();
  assert.strictEqual(standin.command({ cmd: 'reset' }), 0);
  assert.deepStrictEqual(standin.journal(), []);
  assert.strictEqual(standin.command({ cmd: 'set_result', op: 'GetSpeakerVolume', value: 42 }), 0);
  assert.strictEqual(standin.command('{"cmd":'), -1);
  assert.strictEqual(standin.command({ cmd: 'listener', version: 1, event: 'onError', args: [5, 'x'] }), -1);
  assert.deepStrictEqual(standin.ops('GetSpeakerVolume'), []);
  assert.deepStrictEqual([...standin.latin1ToUtf8Bytes('h\u00c3\u00a9')], [0x68, 0xc3, 0xa9]);
  assert.strictEqual(standin.latin1ToUtf8Bytes('h\u00c3\u00a9').toString('utf8'), 'h\u00e9');
});

test('runIsolated runs a scenario in a fresh process and bounds its time', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'standin-'));
  const scenario = path.join(dir, 'scenario.js');
  fs.writeFileSync(scenario, `
    const standin = require(${JSON.stringify(require.resolve('../support/standin.js'))});
    standin.loadControl();
    console.log(JSON.stringify({ reset: standin.command({ cmd: 'reset' }), arg: process.argv[2] }));
    process.exit(3);
  `);
  const run = standin.runIsolated(scenario, { args: ['a1'] });
  assert.strictEqual(run.status, 3, run.stderr);
  assert.deepStrictEqual(JSON.parse(run.stdout), { reset: 0, arg: 'a1' });

  const hang = path.join(dir, 'hang.js');
  fs.writeFileSync(hang, 'setInterval(() => {}, 1000);');
  const stuck = standin.runIsolated(hang, { timeoutMs: 300 });
  assert.strictEqual(stuck.timedOut, true);
  fs.rmSync(dir, { recursive: true, force: true });
});
