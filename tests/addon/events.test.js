'use strict';
// Listener events of both versions: each SDK callback fired by the stand-in on its own thread, and
// the arguments that the registered JavaScript function receives, in order and type. Registration
// rules run first, while the listener maps are still empty.
const test = require('node:test');
const assert = require('node:assert');
const { standin, loadAddon, waitFor, settle, collectGarbage, SUCCESS } = require('./addon_support.js');

const addon = loadAddon();
test.after(() => addon.KOVAEngineUninit());

const fire = (version, event, args, extra = {}) => {
  const status = standin.command({ cmd: 'listener', version, event, args, ...extra });
  assert.strictEqual(status, 0, `stand-in could not fire ${event} v${version}`);
};

test('registration: exact names only, non-functions skipped, additive re-registration, null detaches', async () => {
  const log = [];
  const fn = (tag) => (...args) => log.push([tag, ...args]);
  // Wrong case, near names and non-functions register nothing.
  assert.strictEqual(addon.KOVAEngineSetApiListener({ onerror: fn('lower'), OnError: fn('upper'),
    onError2: fn('near'), onConnected: 5, onConnectLost: 'x', onConnectRecover: fn('recover') }), SUCCESS);
  fire(1, 'onError', [1, 'e']);
  fire(1, 'onConnected', []);
  fire(1, 'onConnectLost', []);
  fire(1, 'onConnectRecover', []);
  await waitFor(() => log.length >= 1, 10000, 'onConnectRecover');
  await settle();
  assert.deepStrictEqual(log, [['recover']]);

  // A second object replaces only the events it defines.
  log.length = 0;
  addon.KOVAEngineSetApiListener({ onError: fn('f') });
  addon.KOVAEngineSetApiListener({ onConnected: fn('g') });
  fire(1, 'onError', [2, 'x']);
  fire(1, 'onConnected', []);
  fire(1, 'onConnectRecover', []);
  await waitFor(() => log.length >= 3, 10000, 'three events');
  assert.deepStrictEqual(log.slice().sort(), [['f', 2, 'x'], ['g'], ['recover']]);
  log.length = 0;
  addon.KOVAEngineSetApiListener({ onError: fn('h') });
  fire(1, 'onError', [3, 'y']);
  await waitFor(() => log.length >= 1, 10000, 'onError to h');
  await settle();
  assert.deepStrictEqual(log, [['h', 3, 'y']]);

  // null detaches the listener from the SDK but keeps the registrations; an object attaches again.
  standin.clear();
  assert.strictEqual(addon.KOVAEngineSetApiListener(null), SUCCESS);
  assert.deepStrictEqual(standin.ops('SetApiListener').map((e) => e.args), [[null]]);
  assert.strictEqual(standin.command({ cmd: 'listener', version: 1, event: 'onError', args: [4, 'z'] }), -1);
  log.length = 0;
  addon.KOVAEngineSetApiListener({ onConnectLost: fn('k') });
  fire(1, 'onError', [5, 'w']);
  fire(1, 'onConnectLost', []);
  await waitFor(() => log.length >= 2, 10000, 'after re-attaching');
  assert.deepStrictEqual(log.slice().sort(), [['h', 5, 'w'], ['k']]);
  assert.throws(() => addon.KOVAEngineSetApiListener(5), { name: 'TypeError', message: 'param type error' });
  assert.throws(() => addon.KOVAEngineSetApiListenerV2(), { name: 'TypeError', message: 'param count error' });
});

// [C event, JS event, v1 args, v1 expected, v2 args, v2 expected]; null: never reaches JavaScript.
const EVENTS = [
  ['onFirstVideoFrame', 'onFirstVideoFrame', [7, 's'], [7, 's'], ['u', 's'], ['u', 's']],
  ['onError', 'onError', [5, 'x'], [5, 'x'], [5, 'x'], [5, 'x']],
  ['onErrorV2', 'onErrorV2', [5, 'a', 'b'], [5, 'a', 'b'], [6, 'c', 'd'], [6, 'c', 'd']],
  ['onEnterRoomSuccess', 'onEnterRoomSuccess', ['r1'], ['r1'], ['r2'], ['r2']],
  ['onRemoteUserEnterRoom', 'onRemoteUserEnterRoom', [7, 'b', 'c'], [7, 'c'], ['u', 'b'], ['u', 'b']],
  ['onConnected', 'onConnected', [], [], [], []],
  ['onConnectLost', 'onConnectLost', [], [], [], []],
  ['onConnectRecover', 'onConnectRecover', [], [], [], []],
  ['onNetTypeChange', null, [1], null, [1], null],
  ['onSignalWorkWeak', null, [], null, [], null],
  ['onUserDesktopAvailable', 'onUserDesktopAvailable', [7, 'b', 'c', true], [7, 'b', 'c', true],
    ['u', 'b', 'c', false], ['u', 'b', 'c', false]],
  ['onRemoteUserLeaveRoom', 'onRemoteUserLeaveRoom', [7, 3], [7, 3], ['u1', 3], [3, 'u1']],
  ['onUserVideoAvailable', 'onUserVideoAvailable', [7, 'b', 'c', false], [7, 'b', 'c', false],
    ['u', 'b', 'c', true], ['u', 'b', 'c', true]],
  ['onUserAudioAvailable', 'onUserAudioAvailable', [7, 'b', true], [7, 'b', true], ['u', 'b', false],
    ['u', 'b', false]],
  ['onRemoteAudioActived', 'onRemoteAudioActived', ['a'], ['a'], ['b'], ['b']],
  ...['onPauseConsumer', 'onResumeConsumer', 'onUserMessageReceived', 'onUserRemoved', 'onAudioMuteToRoom',
    'onAudioMuteToPeer', 'onVideoCloseToRoom', 'onVideoCloseToPeer', 'onForbiddenChatToRoom',
    'onUnForbiddenChatToRoom'].map((e, i) => [e, e, [i, 'b', 'c'], [i, 'b', 'c'], [`u${i}`, 'b', 'c'],
    [`u${i}`, 'b', 'c']]),
  ['onUserUpdateNickName', 'onUserUpdateNickName', [1, 2, 'c'], [2, 1, 'c'], ['u', 'n'], ['u', 'n']],
  ...['onUserAudioVolumes', 'onMixStream', 'onUpdateMixStream', 'onStat'].map((e) => [e, e, [`${e}1`],
    [`${e}1`], [`${e}2`], [`${e}2`]]),
  ...['onCustomSignalToRoom', 'onCustomSignalToPeer'].map((e) => [e, e, [7, 'b', 'c', 'd'], [7, 'b', 'c', 'd'],
    ['u', 'b', 'c', 'd'], ['u', 'b', 'c', 'd']]),
  ...['onUserBroadcastMessage', 'onUserSendMessageToPeer'].map((e) => [e, e, [7, 'b'], [7, 'b'], ['u', 'b'],
    ['u', 'b']]),
  ['onPublishStream', 'onPublishStream', [7, 'b', 'c'], [7, 'b', 'c'], [8, 'd', 'e'], [8, 'd', 'e']],
  ['onDataStreamAvailable', 'onDataStreamAvailable', ['a', 'b', true], ['a', 'b', true], ['c', 'd', false],
    ['c', 'd', false]],
  ['onSubscrbeDataStreamSuccess', 'onSubscribeDataStreamSuccess', ['a'], ['a'], ['b'], ['b']],
  ['OnDataStreamMessage', 'onDataStreamMessage', ['s1', 'hello', false], ['s1', false, 'hello'],
    ['s2', [1, 2, 0, 255], true], ['s2', true, Uint8Array.from([1, 2, 0, 255]).buffer]],
  ['OnUploadRtcLogsProgress', 'onUploadRtcLogsProgress', [0.5], [0.5], [0.25], [0.25]],
  ['OnUploadRtcLogsFinish', 'onUploadRtcLogsFinish', [3], [3], [-1], [-1]],
  ['onAudioDeviceChange', null, [], null, [], null],
  ['onVideoCaptureDeviceChange', null, [], null, [], null],
  // String edge cases: a zero byte inside, length 0, negative length.
  ['onError', 'onError', [1, { bytes: [97, 0, 98], len: 3 }], [1, 'a\0b'], [2, { s: 'abc', len: 0 }], [2, '']],
  ['onStat', 'onStat', [{ s: 'abc', len: -4 }], [''], [{ s: 'abcdef', len: 2 }], ['ab']],
  ['OnDataStreamMessage', 'onDataStreamMessage', ['', [104, 0, 105], false], ['', false, 'h\0i'],
    ['k', [], true], ['k', true, new ArrayBuffer(0)]],
];

const EVENT_NAMES = [...new Set(EVENTS.map((row) => row[1]).filter(Boolean)), 'onEnterRoom'];

// Registers every event on both listener versions into one log of [version, event, args].
function registerAll(log) {
  for (const [version, setter] of [[1, 'KOVAEngineSetApiListener'], [2, 'KOVAEngineSetApiListenerV2']]) {
    const listener = {};
    for (const name of EVENT_NAMES) listener[name] = (...args) => log.push([version, name, args]);
    assert.strictEqual(addon[setter](listener), SUCCESS);
  }
}

test('every event of both listener versions reaches JavaScript with its arguments', async () => {
  const log = [];
  registerAll(log);
  for (const [cEvent, jsEvent, v1Args, v1Expected, v2Args, v2Expected] of EVENTS) {
    for (const [version, args, expected] of [[1, v1Args, v1Expected], [2, v2Args, v2Expected]]) {
      // A sentinel event that always arrives, so that an event that never does can be told apart.
      const sentinel = jsEvent === 'onConnected' ? 'onConnectLost' : 'onConnected';
      log.length = 0;
      fire(version, cEvent, args);
      fire(version, sentinel, []);
      await waitFor(() => log.some((e) => e[1] === sentinel), 10000, `sentinel after ${cEvent}`);
      if (jsEvent !== null) await waitFor(() => log.length >= 2, 10000, `${cEvent} v${version}`);
      else await settle();
      const received = log.filter((e) => e[1] !== sentinel);
      const label = `${cEvent} v${version}`;
      if (jsEvent === null) {
        assert.deepStrictEqual(received, [], label);
      } else {
        assert.deepStrictEqual(received, [[version, jsEvent, expected]], label);
      }
    }
  }
});

test('onEnterRoom: arrays of users with "userId" before "nickName"', async () => {
  const log = [];
  registerAll(log);
  const users = [{ nickName: 'Ann', userId: 11, userIdStr: 'a-11' }, { nickName: 'Bo', userId: 12, userIdStr: 'b' }];
  const rows = [
    [1, { users: [] }, []],
    [2, { users: [] }, []],
    [1, { users }, [{ userId: 11, nickName: 'Ann' }, { userId: 12, nickName: 'Bo' }]],
    [2, { users }, [{ userId: 'a-11', nickName: 'Ann' }, { userId: 'b', nickName: 'Bo' }]],
  ];
  for (const [version, extra, expected] of rows) {
    log.length = 0;
    fire(version, 'onEnterRoom', undefined, extra);
    await waitFor(() => log.length === 1, 10000, `onEnterRoom v${version}`);
    const [[v, name, args]] = log;
    assert.strictEqual(v, version);
    assert.strictEqual(name, 'onEnterRoom');
    assert.deepStrictEqual(args, [expected]);
    for (const user of args[0]) assert.deepStrictEqual(Object.keys(user), ['userId', 'nickName']);
  }
});

test('onDataStreamMessage: an ArrayBuffer kept after the call stays intact across GC and more events', async () => {
  const kept = [];
  addon.KOVAEngineSetApiListenerV2({ onDataStreamMessage: (id, binary, message) => kept.push(message) });
  const payload = Array.from({ length: 4096 }, (_, i) => (i * 7) & 0xff);
  fire(2, 'OnDataStreamMessage', ['big', payload, true]);
  await waitFor(() => kept.length === 1, 10000, 'binary message');
  for (let i = 0; i < 20; i++) fire(2, 'OnDataStreamMessage', ['more', [i, i, i], true]);
  await waitFor(() => kept.length === 21, 10000, 'more messages');
  // Exactly the size the SDK states, not the length of what its pointer holds.
  fire(2, 'OnDataStreamMessage', ['cut', [9, 8, 7, 6], true], { size: 2 });
  await waitFor(() => kept.length === 22, 10000, 'sized message');
  assert.deepStrictEqual([...new Uint8Array(kept[21])], [9, 8]);
  // A size no message can have (a negative length passed as unsigned, 2^40) gives an empty message.
  for (const size of [-1, -(2 ** 40), 2 ** 40]) {
    fire(2, 'OnDataStreamMessage', ['bad', [1, 2, 3], true], { size, raw: true });
  }
  await waitFor(() => kept.length === 25, 10000, 'messages of impossible sizes');
  assert.deepStrictEqual(kept.slice(22).map((m) => m.byteLength), [0, 0, 0]);
  kept.splice(1);
  collectGarbage();
  await settle(50);
  collectGarbage();
  assert.ok(kept[0] instanceof ArrayBuffer);
  assert.deepStrictEqual([...new Uint8Array(kept[0])], payload);
});
