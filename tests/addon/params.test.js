'use strict';
// The parameter parsers through their entry functions: a JavaScript object goes in, and the record
// that the stand-in SDK journalled for the operation is compared field by field.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const { SUCCESS, standin, loadAddon, tracked, runOp, pick } = require('./addon_support.js');

const addon = loadAddon();
test.after(() => addon.KOVAEngineUninit());
const long = (n, c = 'a') => c.repeat(n);

// Checks one table row: the outcome (result or error message) and the journalled record fields.
function check(row, outcome, record) {
  if (row.error) {
    assert.ok(outcome.error, `${row.name}: expected an error`);
    assert.strictEqual(outcome.error.message, row.error, row.name);
  } else {
    assert.strictEqual(outcome.error, null, `${row.name}: ${outcome.error && outcome.error.message}`);
    assert.strictEqual(outcome.result, SUCCESS, row.name);
  }
  if (row.expect) assert.deepStrictEqual(pick(record, row.expect), row.expect, row.name);
}

const emptyStrings = (...names) =>
  Object.fromEntries(names.flatMap((n) => [[n, ''], [`${n}Length`, 0]]));
const ROOM_STRINGS = ['sdkVersion', 'nickName', 'token', 'appId', 'userId', 'nonce', 'deviceId', 'deviceName',
  'deviceType', 'deviceMode', 'deviceVersion'];
const fullRoom = {
  roomId: 12, userRoomId: 'room-7', roomType: 2, sdkVersion: '4.1', nickName: 'Ann', token: 'tok', appId: 'app',
  userId: 'u1', nonce: 'n0', timestamp: 1700000000000, deviceId: 'd1', deviceName: 'laptop', deviceType: 'pc',
  deviceMode: 'm', deviceVersion: 'v9',
};

test('enter room: the object becomes EnterRoomParam as given, whatever the parser did', () => {
  const rows = [
    { name: 'full object', object: fullRoom,
      expect: { roomId: 12, userRoomId: 'room-7', userRoomIdLength: 6, roomType: 2, sdkVersion: '4.1', nickName: 'Ann',
        token: 'tok', appId: 'app', userId: 'u1', nonce: 'n0', nonceLength: 2, timestamp: 1700000000000,
        deviceId: 'd1', deviceName: 'laptop', deviceType: 'pc', deviceMode: 'm', deviceVersion: 'v9',
        deviceVersionLength: 2 } },
    { name: 'empty object: roomType conversion fails, the SDK is still called', object: {},
      error: 'A number was expected',
      expect: { roomId: -1, userRoomId: null, userRoomIdLength: 0, roomType: 0, timestamp: 0,
        ...emptyStrings(...ROOM_STRINGS) } },
    { name: 'roomType 1 without sdkVersion ends quietly', object: { roomType: 1, nickName: 'x', timestamp: 5 },
      expect: { roomId: -1, roomType: 1, timestamp: 0, ...emptyStrings(...ROOM_STRINGS) } },
    { name: 'roomId 0', object: { ...fullRoom, roomId: 0 }, expect: { roomId: -1 } },
    { name: 'roomId -1', object: { ...fullRoom, roomId: -1 }, expect: { roomId: -1 } },
    { name: 'roomId 5', object: { ...fullRoom, roomId: 5 }, expect: { roomId: 5 } },
    { name: 'roomId as a string is skipped', object: { ...fullRoom, roomId: '5' }, expect: { roomId: -1, roomType: 2 } },
    { name: 'userRoomId "" is null', object: { ...fullRoom, userRoomId: '' },
      expect: { userRoomId: null, userRoomIdLength: 0, sdkVersion: '4.1' } },
    { name: 'timestamp as a string ends after nonce', object: { ...fullRoom, timestamp: '1700000000000' },
      expect: { nonce: 'n0', timestamp: 0, ...emptyStrings('deviceId', 'deviceName', 'deviceType', 'deviceMode',
        'deviceVersion') } },
    { name: 'a 300-byte token is cut to 255', object: { ...fullRoom, token: long(300, 't') },
      expect: { token: long(255, 't'), tokenLength: 255, appId: 'app' } },
    { name: 'roomType as a string raises, earlier fields kept', object: { roomId: 3, userRoomId: 'r', roomType: 'x' },
      error: 'A number was expected',
      expect: { roomId: 3, userRoomId: 'r', roomType: 0, sdkVersion: '', timestamp: 0 } },
  ];
  for (const row of rows) {
    const outcome = runOp('EnterRoom', () => addon.KOVAEngineEnterRoom(row.object));
    assert.strictEqual(outcome.calls.length, 1, row.name);
    check(row, outcome, outcome.calls[0].args[0]);
  }
});

test('enter room reads its properties in order and stops where the table says', () => {
  const reads = [];
  addon.KOVAEngineEnterRoom(tracked({ ...fullRoom, token: 7 }, reads));
  assert.deepStrictEqual(reads, ['roomId', 'userRoomId', 'roomType', 'sdkVersion', 'nickName', 'token']);
});

test('local preview: StartLocalPreviewParam with the callbacks only after width and height', () => {
  const initial = { width: 0, height: 0, isMultiRate: true, isMirror: true, highPriority: 0, resolutionMode: 0,
    frameCallback: false, captureCallback: false, context: null, reservedFlag: false, reservedPointer: null };
  const rows = [
    { name: 'no width: initial values', object: { height: 480, isMirror: false }, expect: initial },
    { name: 'width without height', object: { width: 640 }, expect: { ...initial, width: 640 } },
    { name: 'width and height only', object: { width: 640, height: 480 },
      expect: { ...initial, width: 640, height: 480, frameCallback: true } },
    { name: 'every property', object: { width: 1280, height: 720, highPriority: 2, resolutionMode: 3,
      isMultiRate: false, isMirror: false, kovaEngine: {} },
    expect: { ...initial, width: 1280, height: 720, highPriority: 2, resolutionMode: 3, isMultiRate: false,
      isMirror: false, frameCallback: true } },
    { name: 'optional properties of another type are skipped', object: { width: 1, height: 2, highPriority: '9',
      resolutionMode: 4, isMultiRate: 0, isMirror: 'no' },
    expect: { ...initial, width: 1, height: 2, resolutionMode: 4, frameCallback: true } },
  ];
  for (const [op, start, stop] of [['StartLocalPreview', 'KOVAEngineStartLocalPreview', 'KOVAEngineStopLocalPreview'],
    ['StartLocalPreviewTest', 'KOVAEngineStartLocalPreviewTest', 'KOVAEngineStopLocalPreviewTest']]) {
    for (const row of rows) {
      const outcome = runOp(op, () => addon[start](row.object));
      addon[stop]();
      assert.strictEqual(outcome.calls.length, 1, `${op} ${row.name}`);
      check(row, outcome, outcome.calls[0].args[0]);
    }
  }
});

test('remote views: StartRemoteViewParam from the numeric or string user id', () => {
  const initial = { context: null, userId: 0, userIdStr: null, userIdStrLength: 0, streamId: '', streamIdLength: 0,
    width: 0, height: 0, reserved: 0, streamSubscribeModelType: 1, streamBitrateType: 0, firstCallback: false,
    frameCallback: true };
  const base = { streamId: 'cam-1', width: 320, height: 240, streamSubscribeModelType: 2, streamBitrateType: 1 };
  const filled = { streamId: 'cam-1', streamIdLength: 5, width: 320, height: 240, streamSubscribeModelType: 2,
    streamBitrateType: 1 };
  const rows = [
    { name: 'userId 42', object: { ...base, userId: 42 }, expect: { ...initial, ...filled, userId: 42 } },
    { name: 'userId "abc"', object: { ...base, userId: 'abc' },
      expect: { ...initial, ...filled, userIdStr: 'abc', userIdStrLength: 3 } },
    { name: 'userId true ends the parser at once', object: { ...base, userId: true }, expect: initial },
    { name: 'no width keeps the later fields', object: { userId: 1, streamId: 's', height: 5 },
      expect: { ...initial, userId: 1, streamId: 's', streamIdLength: 1 } },
    { name: 'streamCB that is not a function', object: { ...base, userId: 3, streamCB: 'cb' },
      expect: { ...initial, ...filled, userId: 3 } },
  ];
  for (const [op, fn, stop] of [['StartRemoteView', 'KOVAEngineStartRemoteView', 'KOVAEngineStopRemoteView'],
    ['StartRemoteDesktopView', 'KOVAEngineStartRemoteDesktopView', 'KOVAEngineStopRemoteDesktopView']]) {
    for (const row of rows) {
      const outcome = runOp(op, () => addon[fn](row.object));
      addon[stop](0, row.object.streamId || '');
      assert.strictEqual(outcome.calls.length, 1, `${op} ${row.name}`);
      check(row, outcome, outcome.calls[0].args[0]);
    }
  }
});

test('stop functions: count error only without arguments, then the type error (F1)', () => {
  const rows = [
    { fn: 'KOVAEngineStopRemoteView', op: 'StopRemoteView', args: [5, 'cam'], sdk: [5, 'cam', 3] },
    { fn: 'KOVAEngineStopRemoteViewV2', op: 'StopRemoteViewV2', args: ['u5', 'cam'], sdk: ['u5', 2, 'cam', 3] },
    { fn: 'KOVAEngineStopRemoteDesktopView', op: 'StopRemoteDesktopView', args: [5, 'd'], sdk: [5, 'd', 1] },
    { fn: 'KOVAEngineStopRemoteDesktopViewV2', op: 'StopRemoteDesktopViewV2', args: ['u', 'd'], sdk: ['u', 1, 'd', 1] },
  ];
  for (const row of rows) {
    const none = runOp(row.op, () => addon[row.fn]());
    assert.ok(none.error instanceof TypeError);
    assert.strictEqual(none.error.message, 'param count error');
    const one = runOp(row.op, () => addon[row.fn](row.args[0]));
    assert.ok(one.error instanceof TypeError);
    assert.strictEqual(one.error.message, 'param type error');
    assert.strictEqual(none.calls.length + one.calls.length, 0);
    const ok = runOp(row.op, () => addon[row.fn](...row.args));
    assert.strictEqual(ok.result, SUCCESS);
    assert.deepStrictEqual(ok.calls.map((c) => c.args), [row.sdk], row.fn);
  }
  for (const fn of ['KOVAEngineStopLocalPreview', 'KOVAEngineStopLocalPreviewTest']) {
    const outcome = runOp(fn.replace('KOVAEngine', ''), () => addon[fn]('ignored'));
    assert.strictEqual(outcome.result, SUCCESS);
    assert.strictEqual(outcome.calls.length, 1);
  }
});

const captureInfo = { id: 4, uniqueId: 'screen-1', name: 'Screen 1' };
const desktopBase = { captureInfo, desktopType: 1, width: 1920, height: 1080, thumbnailType: 3, highPriority: 2,
  isMultiRate: true };

test('desktop capture: one parsed record, three conversions', () => {
  const source = (id, uniqueId, name) => ({ id, reserved: 0, uniqueId, uniqueIdLength: uniqueId.length, name,
    nameLength: name.length });
  const rows = [
    { name: 'share: every property', op: 'StartDesktopCaptureShare', fn: 'KOVAEngineStartDesktopCaptureShare',
      object: { ...desktopBase, excludedWindowIds: [5, 7] },
      expect: { context: null, captureInfo: source(4, 'screen-1', 'Screen 1'), desktopType: 1, width: 1920,
        height: 1080, isMultiRate: true, thumbnailType: 1, frameCallback: false, highPriority: 2,
        excludedWindowIds: [5, 7], excludedWindowCount: 2 } },
    { name: 'share: without captureInfo the rest is still read', op: 'StartDesktopCaptureShare',
      fn: 'KOVAEngineStartDesktopCaptureShare', object: { desktopType: 2, width: 10, height: 20 },
      expect: { captureInfo: source(0, '', ''), desktopType: 2, width: 10, height: 20, excludedWindowIds: null,
        excludedWindowCount: 0 } },
    { name: 'share: a numeric name is skipped', op: 'StartDesktopCaptureShare',
      fn: 'KOVAEngineStartDesktopCaptureShare', object: { captureInfo: { id: 9, uniqueId: 'w', name: 12 },
        desktopType: 3, excludedWindowIds: [] },
      expect: { captureInfo: source(9, 'w', ''), desktopType: 3, excludedWindowIds: [], excludedWindowCount: 0 } },
    { name: 'share: a non-number window id raises, count kept, entry 0', op: 'StartDesktopCaptureShare',
      fn: 'KOVAEngineStartDesktopCaptureShare', object: { ...desktopBase, excludedWindowIds: ['a'] },
      error: 'A number was expected', expect: { excludedWindowIds: [0], excludedWindowCount: 1 } },
    { name: 'share: window ids beyond the second element stay 0 after a failure', op: 'StartDesktopCaptureShare',
      fn: 'KOVAEngineStartDesktopCaptureShare', object: { ...desktopBase, excludedWindowIds: [8, null, 9] },
      error: 'A number was expected', expect: { excludedWindowIds: [8, 0, 0], excludedWindowCount: 3 } },
    { name: 'preview: frame callback, own multi-rate and thumbnail, no windows', op: 'StartDesktopCapturePreview',
      fn: 'KOVAEngineStartDesktopCapturePreview',
      object: { ...desktopBase, isMultiRate: false, excludedWindowIds: [5] },
      expect: { captureInfo: source(4, 'screen-1', 'Screen 1'), isMultiRate: false, thumbnailType: 3,
        frameCallback: true, highPriority: 0, excludedWindowIds: null, excludedWindowCount: 0 } },
    { name: 'stop share: fixed multi-rate and thumbnail, no windows', op: 'StopDesktopCaptureShare',
      fn: 'KOVAEngineStopDesktopCaptureShare', object: { ...desktopBase, isMultiRate: false, excludedWindowIds: [5] },
      expect: { isMultiRate: true, thumbnailType: 1, frameCallback: false, highPriority: 0, excludedWindowIds: null,
        excludedWindowCount: 0 } },
  ];
  for (const row of rows) {
    const outcome = runOp(row.op, () => addon[row.fn](row.object));
    assert.strictEqual(outcome.calls.length, 1, row.name);
    check(row, outcome, outcome.calls[0].args[0]);
  }
  // A source without a name is not previewed.
  const unnamed = runOp('StartDesktopCapturePreview', () =>
    addon.KOVAEngineStartDesktopCapturePreview({ captureInfo: { id: 1, uniqueId: 'x' } }));
  assert.strictEqual(unnamed.result, SUCCESS);
  assert.strictEqual(unnamed.calls.length, 0);
  // Stop share checks the type without a count check.
  const missing = runOp('StopDesktopCaptureShare', () => addon.KOVAEngineStopDesktopCaptureShare());
  assert.strictEqual(missing.error.message, 'param type error');
  assert.strictEqual(missing.calls.length, 0);
  addon.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 1, desktopPreviewArray: [desktopBase] });
});

test('desktop preview list: records, release and the finish callback', async () => {
  const element = (id, windows) => ({ captureInfo: { id, uniqueId: `u${id}`, name: `n${id}` }, desktopType: id,
    width: 100 + id, height: 200 + id, thumbnailType: 5, highPriority: 6, isMultiRate: true,
    excludedWindowIds: windows });
  const record = (id, windows = null) => ({ context: null,
    captureInfo: { id, reserved: 0, uniqueId: `u${id}`, uniqueIdLength: 2, name: `n${id}`, nameLength: 2 },
    desktopType: id, width: 100 + id, height: 200 + id, isMultiRate: false, thumbnailType: 0, frameCallback: false,
    highPriority: 0, excludedWindowIds: windows, excludedWindowCount: windows ? windows.length : 0, reserved: 0 });
  const emptyRecord = { ...record(0), captureInfo: { id: 0, reserved: 0, uniqueId: '', uniqueIdLength: 0, name: '',
    nameLength: 0 }, desktopType: 0, width: 0, height: 0 };
  const zero = { ...emptyRecord, captureInfo: null };

  const rows = [
    { name: 'size 0: nothing allocated, nothing else read', object: { desktopPreviewSize: 0,
      desktopPreviewArray: [element(1)], finishCallback() {} }, list: null, count: 0, reads: ['desktopPreviewSize'] },
    { name: 'negative size', object: { desktopPreviewSize: -2 }, list: null, count: 0, reads: ['desktopPreviewSize'] },
    { name: 'two records with windows', object: { desktopPreviewSize: 2,
      desktopPreviewArray: [element(1, [3]), element(2)] },
    list: [record(1, [3]), record(2)], count: 2,
    reads: ['desktopPreviewSize', 'desktopPreviewArray', 'finishCallback'] },
    { name: 'size 3 with two elements: third from the initial values, finishCallback not read',
      object: { desktopPreviewSize: 3, desktopPreviewArray: [element(1), element(2)], finishCallback() {} },
      error: 'Cannot convert undefined or null to object', list: [record(1), record(2), emptyRecord], count: 3,
      reads: ['desktopPreviewSize', 'desktopPreviewArray'] },
    { name: 'no array: zero records', object: { desktopPreviewSize: 2, desktopPreviewArray: 'x', finishCallback() {} },
      list: [zero, zero], count: 2, reads: ['desktopPreviewSize', 'desktopPreviewArray'] },
  ];
  for (const row of rows) {
    const reads = [];
    const outcome = runOp('StopDesktopCapturePreview',
      () => addon.KOVAEngineStopDesktopCapturePreview(tracked(row.object, reads)));
    check(row, outcome, {});
    assert.deepStrictEqual(reads, row.reads, row.name);
    assert.strictEqual(outcome.calls.length, 1, row.name);
    const [list, count, finish] = outcome.calls[0].args;
    assert.deepStrictEqual(list, row.list, row.name);
    assert.strictEqual(count, row.count, row.name);
    assert.strictEqual(finish, true, row.name);
  }

  // The finish callback answers once, with the SDK's result (the rows above registered none: a
  // missing "finishCallback" is still read, and one that is never read is never registered).
  const results = [];
  addon.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 1, desktopPreviewArray: [element(1)],
    finishCallback: (r) => results.push(r) });
  assert.strictEqual(standin.command({ cmd: 'desktop_preview_finish', value: 7 }), 0);
  await require('./addon_support.js').waitFor(() => results.length === 1, 10000, 'finish callback');
  assert.strictEqual(standin.command({ cmd: 'desktop_preview_finish', value: 8 }), 0);
  await require('./addon_support.js').settle();
  assert.deepStrictEqual(results, [7]);
});

test('desktop preview list: absurd sizes are bounded instead of allocated', () => {
  // A huge count with two elements: records past the one that fails are never allocated.
  const huge = runOp('StopDesktopCapturePreview', () => addon.KOVAEngineStopDesktopCapturePreview({
    desktopPreviewSize: 2147483647, desktopPreviewArray: [desktopBase, desktopBase] }));
  assert.strictEqual(huge.error.message, 'Cannot convert undefined or null to object');
  const [list, count] = huge.calls[0].args;
  assert.strictEqual(count, 64);
  assert.strictEqual(list.length, 64);
  assert.strictEqual(list[2].captureInfo.uniqueId, '');
  assert.ok(list.slice(3).every((r) => r.captureInfo === null));
  // Without an array only zero records could exist.
  const noArray = runOp('StopDesktopCapturePreview',
    () => addon.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 1e9 }));
  assert.strictEqual(noArray.error, null);
  assert.strictEqual(noArray.calls[0].args[1], 64);
  // A list longer than any machine has screens is refused with a clear error.
  const many = new Array(70000).fill(desktopBase);
  const tooMany = runOp('StopDesktopCapturePreview', () => addon.KOVAEngineStopDesktopCapturePreview({
    desktopPreviewSize: 70000, desktopPreviewArray: many }));
  assert.ok(tooMany.error instanceof RangeError);
  assert.deepStrictEqual(tooMany.calls[0].args.slice(0, 2), [null, 0]);
  // The same bound guards the excluded windows of one source.
  const windows = runOp('StartDesktopCaptureShare', () => addon.KOVAEngineStartDesktopCaptureShare({
    ...desktopBase, excludedWindowIds: new Array(2 ** 31) }));
  assert.ok(windows.error instanceof RangeError);
  assert.strictEqual(windows.calls[0].args[0].excludedWindowIds, null);
});

test('control messages: ControlContent in two 256-byte buffers', () => {
  const content = (event, extraData) => ({ event, eventLength: event.length, extraData,
    extraDataLength: extraData.length });
  const rows = [
    { name: 'both strings', fn: 'KOVAEngineSendControlMessage', op: 'SendControlMessage',
      args: [7, 2, { event: 'raise-hand', extraData: '{"a":1}' }], sdk: [7, 2, content('raise-hand', '{"a":1}')] },
    { name: 'event not a string: both empty', fn: 'KOVAEngineSendControlMessage', op: 'SendControlMessage',
      args: [7, 2, { event: 5, extraData: 'x' }], sdk: [7, 2, content('', '')] },
    { name: 'extraData missing', fn: 'KOVAEngineSendControlMessage', op: 'SendControlMessage',
      args: [7, 1, { event: 'e' }], sdk: [7, 1, content('e', '')] },
    { name: '300-byte event cut to 255', fn: 'KOVAEngineSendControlMessage', op: 'SendControlMessage',
      args: [1, 1, { event: long(300, 'e'), extraData: long(256, 'x') }],
      sdk: [1, 1, content(long(255, 'e'), long(255, 'x'))] },
    { name: 'no content object: raised, sent empty', fn: 'KOVAEngineSendControlMessage', op: 'SendControlMessage',
      args: [7, 2], error: 'Cannot convert undefined or null to object', sdk: [7, 2, content('', '')] },
    { name: 'V2 with a string user id', fn: 'KOVAEngineSendControlMessageV2', op: 'SendControlMessageV2',
      args: ['peer', 3, { event: 'e', extraData: 'd' }], sdk: ['peer', 4, 3, content('e', 'd')] },
    { name: 'count error', fn: 'KOVAEngineSendControlMessage', op: 'SendControlMessage', args: [7],
      error: 'param count error', sdk: null },
    { name: 'type error', fn: 'KOVAEngineSendControlMessageV2', op: 'SendControlMessageV2', args: [7, 2, {}],
      error: 'param type error', sdk: null },
  ];
  for (const row of rows) {
    const outcome = runOp(row.op, () => addon[row.fn](...row.args));
    check(row, outcome, {});
    assert.deepStrictEqual(outcome.calls.map((c) => c.args), row.sdk ? [row.sdk] : [], row.name);
  }
});

test('broadcast login: the authentication object is parsed in order and not forwarded', () => {
  const auth = { peerId: 1, sdkVersion: 's', nickName: 'n', token: 't', appId: 'a', userId: 'u', nonce: 'o',
    timestamp: 5 };
  const all = Object.keys(auth);
  const rows = [
    { name: 'every property', object: auth, reads: all },
    { name: 'string peerId fills nothing', object: { ...auth, peerId: '1' }, reads: ['peerId'] },
    { name: 'numeric nickName ends the parser', object: { ...auth, nickName: 3 }, reads: all.slice(0, 3) },
  ];
  for (const row of rows) {
    const reads = [];
    const outcome = runOp('', () => addon.KOVAEngineInitBroadCast(1, 2, tracked(row.object, reads)));
    check(row, outcome, {});
    assert.deepStrictEqual(reads, row.reads, row.name);
    assert.deepStrictEqual(outcome.journal, [], row.name);
  }
  assert.strictEqual(runOp('', () => addon.KOVAEngineInitBroadCast(1, 2)).error.message, 'param count error');
  assert.strictEqual(runOp('', () => addon.KOVAEngineInitBroadCast(1, 2, 3)).error.message, 'param type error');
});

test('chat messages: every property forced', () => {
  const rows = [
    { name: 'full', object: { i_userId: 3, userId: 'u3', message: 'hello' },
      expect: { userId: 3, userIdStr: 'u3', userIdStrLength: 2, message: 'hello', messageLength: 5,
        sentCallback: false, resultCallback: false } },
    { name: 'without message: raised after the user ids', object: { i_userId: 3, userId: 'u3' },
      error: 'A string was expected', expect: { userId: 3, userIdStr: 'u3', message: '', messageLength: 0 } },
    { name: 'i_userId as a string', object: { i_userId: '3', userId: 'u3', message: 'm' },
      error: 'A number was expected', expect: { userId: 0, userIdStr: '', message: '' } },
    { name: '300-byte message cut to 255', object: { i_userId: 1, userId: '', message: long(300, 'm') },
      expect: { message: long(255, 'm'), messageLength: 255 } },
  ];
  for (const row of rows) {
    const outcome = runOp('SendChatMessage', () => addon.KOVAEngineSendChatMessage(row.object));
    assert.strictEqual(outcome.calls.length, 1, row.name);
    check(row, outcome, outcome.calls[0].args[0]);
  }
});

test('object entry functions: argument checks and JavaScript that throws', () => {
  for (const fn of ['KOVAEngineEnterRoom', 'KOVAEngineSendChatMessage', 'KOVAEngineStartLocalPreview',
    'KOVAEngineStartRemoteView', 'KOVAEngineStartDesktopCapturePreview', 'KOVAEngineStopDesktopCapturePreview',
    'KOVAEngineGeneralToken']) {
    const none = runOp('', () => addon[fn]());
    assert.strictEqual(none.error && none.error.message, 'param count error', fn);
    const wrong = runOp('', () => addon[fn]('x'));
    assert.strictEqual(wrong.error && wrong.error.message, 'param type error', fn);
    assert.deepStrictEqual([...none.journal, ...wrong.journal], [], fn);
  }
  // A throwing getter: its own exception reaches JavaScript, the fields before it are kept.
  const room = { ...fullRoom };
  Object.defineProperty(room, 'token', { get() { throw new Error('boom'); }, enumerable: true });
  const thrown = runOp('EnterRoom', () => addon.KOVAEngineEnterRoom(room));
  assert.strictEqual(thrown.error.message, 'boom');
  assert.deepStrictEqual(pick(thrown.calls[0].args[0], { nickName: '', sdkVersion: '' }),
    { nickName: 'Ann', sdkVersion: '4.1' });
  // Proxies whose traps throw, in every parser.
  const hostile = new Proxy({}, { get() { throw new Error('trap'); } });
  const calls = [
    () => addon.KOVAEngineStartLocalPreview(hostile), () => addon.KOVAEngineStartRemoteView(hostile),
    () => addon.KOVAEngineStartDesktopCaptureShare(hostile), () => addon.KOVAEngineStopDesktopCapturePreview(hostile),
    () => addon.KOVAEngineSendControlMessage(1, 1, hostile), () => addon.KOVAEngineInitBroadCast(1, 1, hostile),
    () => addon.KOVAEngineSendChatMessage(hostile), () => addon.KOVAEngineGeneralToken(hostile),
    () => addon.KOVAEngineStartDesktopCaptureShare({ captureInfo: hostile }),
    () => addon.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 2, desktopPreviewArray: [hostile] }),
  ];
  calls.forEach((call, i) => assert.throws(call, /trap/, `hostile call ${i}`));
  // A Proxy over an array is no array: the excluded windows are left out, nothing is read through it.
  const proxied = runOp('StartDesktopCaptureShare', () => addon.KOVAEngineStartDesktopCaptureShare({
    excludedWindowIds: new Proxy([1], { get() { throw new Error('trap'); } }) }));
  assert.strictEqual(proxied.error, null);
  assert.strictEqual(proxied.calls[0].args[0].excludedWindowIds, null);
  addon.KOVAEngineStopLocalPreview();
  addon.KOVAEngineStopRemoteView(0, '');
});

const tokenInput = { meetingId: 'm-1', userId: 'u-1', timestamp: 1700000000000, appKey: 'key-9', appId: 'app-3' };
const TOKEN_KEY = 'AK-7c41d9e2-5b3a-4f08-9e6d-21a8c4b70f55';

test('token: the callback runs before the function returns, with the fixed key handed to the SDK', () => {
  const order = [];
  const outcome = runOp('GenerateToken', () => {
    const r = addon.KOVAEngineGeneralToken({ ...tokenInput, callback: (t) => order.push(['callback', t]) });
    order.push(['returned']);
    return r;
  });
  assert.strictEqual(outcome.result, SUCCESS);
  assert.strictEqual(order[0][0], 'callback');
  assert.strictEqual(typeof order[0][1], 'string');
  assert.deepStrictEqual(order[1], ['returned']);
  assert.deepStrictEqual(outcome.calls.map((c) => c.args),
    [['app-3', 'key-9', 'm-1', 'u-1', TOKEN_KEY, 1700000000000, 'set', 'set']]);
});

test('token: inputs, failures and the clamp of the reported length', () => {
  const rows = [
    { name: 'without timestamp: Error, no SDK call, no callback', object: { meetingId: 'm', userId: 'u', appKey: 'k',
      appId: 'a' }, error: 'A number was expected', sdk: false, token: undefined },
    { name: 'timestamp as a string', object: { ...tokenInput, timestamp: '1' }, error: 'A number was expected',
      sdk: false, token: undefined },
    { name: 'meetingId cut to 255 bytes', object: { ...tokenInput, meetingId: long(300, 'm') }, sdk: true,
      meetingId: long(255, 'm'), set: { token: 'abc', length: 3 }, token: 'abc' },
    { name: 'reported length above the buffer is clamped to 256', object: tokenInput, sdk: true,
      set: { token: 'xyz', length: 300 }, token: 'xyz' + '\0'.repeat(253) },
    { name: 'negative reported length gives the empty string', object: tokenInput, sdk: true,
      set: { token: 'xyz', length: -5 }, token: '' },
    { name: 'a callback that is not a function: generated, then raised', object: { ...tokenInput, callback: 5 },
      callback: false, error: 'Invalid argument', sdk: true },
  ];
  for (const row of rows) {
    if (row.set) assert.strictEqual(standin.command({ cmd: 'set_token', ...row.set }), 0);
    let received;
    const object = row.callback === false ? row.object : { ...row.object, callback: (t) => { received = t; } };
    const outcome = runOp('GenerateToken', () => addon.KOVAEngineGeneralToken(object));
    check(row, outcome, {});
    assert.strictEqual(outcome.calls.length, row.sdk ? 1 : 0, row.name);
    assert.strictEqual(received, row.token, row.name);
    if (row.meetingId) assert.strictEqual(outcome.calls[0].args[2], row.meetingId, row.name);
  }
});

test('before the engine exists the object entry functions do nothing and report success', () => {
  const script = `
    const s = require(${JSON.stringify(require.resolve('../support/standin.js'))});
    const addon = require(s.paths.addon);
    const results = [];
    let token = null;
    results.push(addon.KOVAEngineEnterRoom({ roomType: 1 }));
    results.push(addon.KOVAEngineSendChatMessage({ i_userId: 1, userId: 'u', message: 'm' }));
    results.push(addon.KOVAEngineSendControlMessage(1, 1, { event: 'e', extraData: 'x' }));
    results.push(addon.KOVAEngineStartLocalPreview({ width: 1, height: 1, streamCB() {} }));
    results.push(addon.KOVAEngineStopLocalPreview());
    results.push(addon.KOVAEngineStartRemoteView({ userId: 1, streamId: 's', width: 1, height: 1,
      streamSubscribeModelType: 1, streamBitrateType: 0, streamCB() {} }));
    results.push(addon.KOVAEngineStopRemoteView(1, 's'));
    results.push(addon.KOVAEngineStartDesktopCapturePreview({ captureInfo: { uniqueId: 'u', name: 'n' },
      streamCB() {} }));
    results.push(addon.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 1,
      desktopPreviewArray: [{ captureInfo: { uniqueId: 'u', name: 'n' }, excludedWindowIds: [1] }],
      finishCallback() {} }));
    results.push(addon.KOVAEngineGeneralToken({ meetingId: 'm', userId: 'u', timestamp: 1, appKey: 'k',
      appId: 'a', callback: (t) => { token = t; } }));
    console.log(JSON.stringify({ results, token }));`;
  const child = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 30000, killSignal: 'SIGKILL' });
  assert.strictEqual(child.status, 0, child.stderr);
  const { results, token } = JSON.parse(child.stdout.trim().split('\n').pop());
  assert.deepStrictEqual(results, new Array(10).fill(SUCCESS));
  assert.strictEqual(token, '');
});
