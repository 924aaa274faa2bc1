'use strict';
// The addon in more than one JavaScript environment, as in an application whose workers load it or
// whose windows reload: a worker that only loads it, workers terminated while the SDK delivers,
// two workers at once, and callbacks replaced while results flow. Each scenario runs in a process
// of its own (fixtures/lifecycle_child.js).
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');
const { runIsolated } = require('../support/standin');

const child = path.join(__dirname, 'fixtures', 'lifecycle_child.js');
const FOREIGN = /belongs to another JavaScript environment/;

function scenario(name, { args = [], live = false, timeoutMs = 120000 } = {}) {
  const run = runIsolated(child, { args: [name, ...args], env: live ? { KOVA_STANDIN_LIVE: '1' } : {}, timeoutMs });
  const where = `${name}: status ${run.status} signal ${run.signal}${run.timedOut ? ' (timed out)' : ''}\n` +
                `${run.stdout.slice(-3000)}\n${run.stderr.slice(-3000)}`;
  assert.strictEqual(run.signal, null, where);
  assert.strictEqual(run.status, 0, where);
  const line = run.stdout.split('\n').find((l) => l.startsWith('RESULT '));
  assert.ok(line, where);
  return JSON.parse(line.slice('RESULT '.length));
}

test('a worker that loads the addon and ends leaves the main thread its room and frames', () => {
  const out = scenario('load-in-worker');
  assert.strictEqual(out.entered, 'operation success.');
  assert.deepStrictEqual(out.room, { roomId: 42, userId: 'u-main', nickName: 'main' });
  assert.deepStrictEqual(out.frames, [['s1', 64, 64 * 48], ['s1', 64, 64 * 48], ['s1', 64, 64 * 48]]);
});

test('workers terminated mid-meeting twenty times, then the main thread meets', () => {
  const out = scenario('terminate-mid-stream', { args: ['20'], live: true, timeoutMs: 240000 });
  assert.strictEqual(out.flowing, 20);
  assert.deepStrictEqual(out.streams, ['cam-1', 'cam-2', 'local']);
  assert.strictEqual(out.events, true);
  assert.strictEqual(out.badFrames, 0);
});

test('a second environment gets a clear error where it would reach the first one\'s engine', () => {
  const { out, reached, afterOwner, errors } = scenario('two-workers', { live: true });
  assert.deepStrictEqual(errors, []);
  for (const key of ['init', 'enterRoom', 'view', 'volume', 'listener', 'uninit']) {
    assert.strictEqual(out[key].name, 'Error', key);
    assert.match(out[key].message, FOREIGN, key);
  }
  assert.deepStrictEqual(out.countError, { name: 'TypeError', message: 'param count error' });
  assert.deepStrictEqual(out.typeError, { name: 'TypeError', message: 'param type error' });
  assert.deepStrictEqual(out.notForwarded, { result: 'operation success.' });
  assert.deepStrictEqual(reached, [], 'nothing of the second worker reached the SDK');
  assert.deepStrictEqual(afterOwner.init, { result: 'operation success.' });
  assert.ok(afterOwner.frames >= 3);
});

test('an audio-test callback replaced while levels flow: each function gets its own levels, node exits', () => {
  const out = scenario('replace-audio-test', { timeoutMs: 60000 });
  assert.deepStrictEqual(out.counts, [6]);
  assert.strictEqual(out.wrong, 0);
});
