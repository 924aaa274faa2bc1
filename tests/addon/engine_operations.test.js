'use strict';
// The 92 engine entry functions against the stand-in SDK: one table row per function (the
// JavaScript call, what the SDK must have recorded, the result), then the argument-check styles,
// the functions that create the engine, string limits, extra arguments, and the exported names.
// Records of object arguments are compared on the fields that the row lists (partial); their
// parsing in depth is the parsers' own tests' business.
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');

const { paths, runIsolated } = require('../support/standin');
const { makeLayout } = require('../support/layout');
const { until, settle } = require('../support/wait');

const control = require(paths.control);
const sdk = control.open(paths.sdk);
const addon = require(paths.addon);

const S = 'operation success.';
const journal = () => JSON.parse(sdk.journal());
const command = (cmd) => assert.strictEqual(sdk.command(JSON.stringify(cmd)), 0, JSON.stringify(cmd));
const noop = () => {};

// An expected object compared only on the fields it lists.
class Partial {
  constructor(fields) {
    this.fields = fields;
  }
}
const partial = (fields) => new Partial(fields);

function matches(expected, actual, where) {
  if (expected instanceof Partial) {
    assert.ok(actual !== null && typeof actual === 'object', `${where}: an object`);
    for (const [key, value] of Object.entries(expected.fields)) matches(value, actual[key], `${where}.${key}`);
  } else if (typeof expected === 'function') {
    assert.ok(expected(actual), `${where}: ${JSON.stringify(actual)}`);
  } else if (Array.isArray(expected)) {
    assert.ok(Array.isArray(actual), `${where}: an array`);
    assert.strictEqual(actual.length, expected.length, `${where}: length`);
    expected.forEach((value, i) => matches(value, actual[i], `${where}[${i}]`));
  } else {
    assert.deepStrictEqual(actual, expected, where);
  }
}

const tokens = [];
// The repeating registrations of the table's rows: the first registration of a type stays the one
// called, so the later tests read what reaches these.
const debugLines = [];
const deviceStates = [];
const capture = partial({ id: 1, uniqueId: 'scr', uniqueIdLength: 3, name: 'Screen', nameLength: 6 });
const remote = { streamId: 's1', width: 64, height: 48, streamSubscribeModelType: 1, streamBitrateType: 2, streamCB: noop };
const auth = { peerId: 1, sdkVersion: '1', nickName: 'n', token: 't', appId: 'a', userId: 'u', nonce: 'x', timestamp: 5 };
const room = {
  roomId: 12, userRoomId: 'r1', roomType: 1, sdkVersion: '1.0', nickName: 'nick', token: 'tok', appId: 'app',
  userId: 'u1', nonce: 'n', timestamp: 1700000000000, deviceId: 'd', deviceName: 'dn', deviceType: 'dt',
  deviceMode: 'dm', deviceVersion: 'dv',
};
const desktop = { captureInfo: { id: 1, uniqueId: 'scr', name: 'Screen' }, width: 64, height: 48, excludedWindowIds: [7] };

// One row per engine entry function, in the order of installation:
// [function, JavaScript arguments, SDK calls recorded ([operation, ...arguments]), result, options]
// options: setup (stand-in commands before the call), then (checks after it).
const ROWS = [
  ['KOVAEngineInit', [], [['Init']], S],
  ['KOVAEngineUninit', [], [['SetApiListener', null], ['SetApiListenerV2', null], ['DestroyKOVAWinClient']], S,
    { then: () => addon.KOVAEngineInit() }],
  ['KOVAEngineSetEnv', [3], [['SetEnv', 3]], S],
  ['KOVAEngineSetApiListener', [{ onError: noop }], [['SetApiListener', 'set']], S],
  ['KOVAEngineSetApiListenerV2', [null], [['SetApiListenerV2', null]], S],
  ['KOVAEngineEnterRoom', [room], [['EnterRoom', partial({ roomId: 12, userRoomId: 'r1', nickName: 'nick', timestamp: 1700000000000, deviceVersion: 'dv' })]], S],
  ['KOVAEngineExitRoom', [noop], [['ExitRoom', true]], S],
  ['KOVAEngineGetCameraDevicesList', [noop], [['GetCameraDevicesList', true]], S],
  ['KOVAEngineSetCurrentCameraDevice', [1], [['SetCurrentCameraDevice', 1]], S],
  ['KOVAEngineChangeCameraByIndex', [2], [['ChangeCameraByIndex', 2]], S],
  ['KOVAEngineChangeCameraByUID', ['cam'], [['ChangeCameraByUID', 'cam', 3]], S],
  ['KOVAEngineStartLocalAudio', [4], [['StartLocalAudio', 4]], S],
  ['KOVAEngineStopLocalAudio', [], [['StopLocalAudio']], S],
  ['KOVAEngineStartLocalScreenAudio', [6], [['StartLocalScreenAudio', 6]], S],
  ['KOVAEngineStopLocalScreenAudio', [], [['StopLocalScreenAudio']], S],
  ['KOVAEngineStartRemoteAudio', [5, 's1'], [['StartRemoteAudio', 5, 's1', 2]], S],
  ['KOVAEngineStartRemoteAudioV2', ['u5', 's1'], [['StartRemoteAudioV2', 'u5', 2, 's1', 2]], S],
  ['KOVAEngineStopRemoteAudio', [5, 's1'], [['StopRemoteAudio', 5, 's1', 2]], S],
  ['KOVAEngineStopRemoteAudioV2', ['u5', 's1'], [['StopRemoteAudioV2', 'u5', 2, 's1', 2]], S],
  ['KOVAEngineMuteLocalAudio', [true], [['MuteLocalAudio', true]], S],
  ['KOVAEngineMuteRemoteAudio', [5, 's', true], [['MuteRemoteAudio', 5, 's', 1, true]], S],
  ['KOVAEngineMuteRemoteAudioV2', ['u5', 's', false], [['MuteRemoteAudioV2', 'u5', 2, 's', 1, false]], S],
  ['KOVAEngineMuteRemoteAllAudio', [true], [], S],
  ['KOVAEngineStartLocalPreview', [{ width: 64, height: 48, isMirror: true, streamCB: noop }],
    [['StartLocalPreview', partial({ width: 64, height: 48, isMirror: true, frameCallback: true, captureCallback: false })]], S],
  ['KOVAEngineStopLocalPreview', [], [['StopLocalPreview']], S],
  ['KOVAEngineSetVideoEncodingParam', [640, 480], [['SetVideoEncodingParam', 640, 480]], S],
  ['KOVAEngineMuteLocalVideo', [true], [['MuteLocalVideo', true]], S],
  ['KOVAEngineStartRemoteView', [{ ...remote, userId: 5 }],
    [['StartRemoteView', partial({ userId: 5, userIdStr: null, streamId: 's1', streamSubscribeModelType: 1, streamBitrateType: 2, frameCallback: true })]], S],
  ['KOVAEngineStopRemoteView', [5, 's1'], [['StopRemoteView', 5, 's1', 2]], S],
  ['KOVAEngineStopRemoteViewV2', ['u5', 's1'], [['StopRemoteViewV2', 'u5', 2, 's1', 2]], S],
  ['KOVAEngineChangeVideoStream', [5, 's', 1, 2], [['ChangeVideoStream', 5, 's', 1, 1, 2]], S],
  ['KOVAEngineChangeVideoStreamV2', ['u5', 's', 1, 2], [['ChangeVideoStreamV2', 'u5', 2, 's', 1, 1, 2]], S],
  ['KOVAEngineMuteRemoteVideo', [5, 's', true], [['MuteRemoteVideo', 5, 's', 1, true]], S],
  ['KOVAEngineMuteRemoteVideoV2', ['u5', 's', false], [['MuteRemoteVideoV2', 'u5', 2, 's', 1, false]], S],
  ['KOVAEngineMuteAllRemoteVideo', [true], [], S],
  ['KOVAEngineGetScreenCaptureSources', [noop], [['GetScreenCaptureSources', true]], S],
  ['KOVAEngineGetWindowCaptureSources', [noop], [['GetWindowCaptureSources', true]], S],
  ['KOVAEngineStartDesktopCaptureShare', [desktop], [['StartDesktopCaptureShare', partial({ captureInfo: capture, excludedWindowIds: [7], excludedWindowCount: 1 })]], S],
  ['KOVAEngineStopDesktopCaptureShare', [desktop], [['StopDesktopCaptureShare', partial({ captureInfo: capture })]], S],
  ['KOVAEngineStartRemoteDesktopView', [{ ...remote, userId: 'u5', streamId: 'd1' }],
    [['StartRemoteDesktopView', partial({ userIdStr: 'u5', userIdStrLength: 2, streamId: 'd1', frameCallback: true })]], S],
  ['KOVAEngineStopRemoteDesktopView', [5, 'd1'], [['StopRemoteDesktopView', 5, 'd1', 2]], S],
  ['KOVAEngineStopRemoteDesktopViewV2', ['u5', 'd1'], [['StopRemoteDesktopViewV2', 'u5', 2, 'd1', 2]], S],
  ['KOVAEngineStartDesktopCapturePreview', [{ ...desktop, streamCB: noop }],
    [['StartDesktopCapturePreview', partial({ captureInfo: capture, width: 64, height: 48, frameCallback: true })]], S],
  ['KOVAEngineStopDesktopCapturePreview', [{ desktopPreviewSize: 1, desktopPreviewArray: [desktop], finishCallback: noop }],
    [['StopDesktopCapturePreview', [partial({ captureInfo: capture })], 1, true]], S],
  ['KOVAEngineSetPlayoutDevice', [2], [['SetPlayoutDevice', 2]], S],
  ['KOVAEngineSetRecordingDevice', [3], [['SetRecordingDevice', 3]], S],
  ['KOVAEngineSetSpeakerVolume', [80], [['SetSpeakerVolume', 80]], S],
  ['KOVAEngineSetMicrophoneVolume', [60], [['SetMicrophoneVolume', 60]], S],
  ['KOVAEngineGetPlayoutSources', [noop], [['GetPlayoutSources', true]], S],
  ['KOVAEngineGetRecordingSources', [noop], [['GetRecordingSources', true]], S],
  ['KOVAEngineSendChatMessage', [{ i_userId: 5, userId: 'u5', message: 'hi' }],
    [['SendChatMessage', partial({ userId: 5, userIdStr: 'u5', message: 'hi', messageLength: 2 })]], S],
  ['KOVAEngineInitBroadCast', [1, 2, auth], [], S],
  ['KOVAEngineChangeNickName', [1, 2, 'nick'], [['ChangeNickName', 1, 2, 'nick', 4]], S],
  ['KOVAEngineChangeNickNameV2', ['u1', 'nick'], [['ChangeNickNameV2', 'u1', 2, 'nick', 4]], S],
  ['KOVAEngineSendControlMessage', [5, 2, { event: 'ev', extraData: 'xd' }],
    [['SendControlMessage', 5, 2, { event: 'ev', eventLength: 2, extraData: 'xd', extraDataLength: 2 }]], S],
  ['KOVAEngineSendControlMessageV2', ['u5', 2, { event: 'ev', extraData: 'xd' }],
    [['SendControlMessageV2', 'u5', 2, 2, { event: 'ev', eventLength: 2, extraData: 'xd', extraDataLength: 2 }]], S],
  ['KOVAEngineEnableStreamStat', [1, 2], [], S],
  ['KOVAEngineGeneralToken', [{ meetingId: 'm', userId: 'u', timestamp: 77, appKey: 'k', appId: 'a', callback: (t) => tokens.push(t) }],
    [['GenerateToken', 'a', 'k', 'm', 'u', (key) => typeof key === 'string' && key.length > 0, 77, 'set', 'set']], S,
    { then: () => assert.deepStrictEqual(tokens, ['tok:a:m:u:77']) }],
  ['KOVAEngineInstallAudioDrive', [],
    [['InstallAudioDrive', path.join(paths.addonDir, 'SolvaneAudioLoopback.pkg'), 'SolvaneAudioLoopback2ch.driver']], S],
  ['KOVAEngineHasMacVirtualDevice', [], [['HasMacVirtualDevice']], 1, { setup: [{ cmd: 'set_result', op: 'HasMacVirtualDevice', value: true }] }],
  ['KOVAEngineSetDebugLogEnable', [true], [['SetDebugLogEnable', true]], S],
  ['KOVAEngineSetDebugLogCallback', [(level, text) => debugLines.push([level, text])], [['SetDebugLogCallback', true]], S],
  ['KOVAEngineSubscribeDataStream', ['ds'], [['SubscribeDataStream', 'ds', 2]], S],
  ['KOVAEngineUnsubscribeDataStream', ['ds'], [['UnsubscribeDataStream', 'ds', 2]], S],
  ['KOVAEngineSetApiUrl', ['http://h'], [['SetApiUrl', 'http://h', 8]], S],
  ['KOVAEngineStartUploadRtcLogs', ['logs', 7], [['StartUploadRtcLogs', 'logs', 4, 7]], S],
  ['KOVAEngineSetAppName', ['app'], [['SetAppName', 'app', 3]], S],
  ['KOVAEngineGetSystemSleepState', [], [['GetSystemSleepState']], 2, { setup: [{ cmd: 'set_result', op: 'GetSystemSleepState', value: 2 }] }],
  ['KOVAEngineSetSDKConfigParam', ['{"k":1}'], [['SetSDKConfigParam', '{"k":1}', 7]], S],
  ['KOVAEngineGetSDKStats', [noop], [['GetSDKStats', true]], S],
  ['KOVAEngineFindWindowIdByTitle', ['title'], [['FindWindowIdByTitle', 'title', 5]], 2 ** 40 + 5,
    { setup: [{ cmd: 'set_result', op: 'FindWindowIdByTitle', value: 2 ** 40 + 5 }] }],
  ['KOVAEngineStartLocalPreviewTest', [{ width: 32, height: 24, isMirror: false, streamCB: noop }],
    [['StartLocalPreviewTest', partial({ width: 32, height: 24, isMirror: false, captureCallback: false })]], S],
  ['KOVAEngineStopLocalPreviewTest', [], [['StopLocalPreviewTest']], S],
  ['KOVAEngineStartRecordingTest', [noop, 'mic'], [['StartRecordingTest', true, 'mic', 3]], S],
  ['KOVAEngineStopRecordingTest', [], [['StopRecordingTest']], S],
  ['KOVAEngineStartPlayoutTest', ['spk', noop], [['StartPlayoutTest', 'spk', 3, true]], S],
  ['KOVAEngineStopPlayoutTest', [], [['StopPlayoutTest']], S],
  ['KOVAEngineSubscribeMillionAudio', [], [['SubscribeMillionAudio']], S],
  ['KOVAEngineUnSubscribeMillionAudio', [], [['UnSubscribeMillionAudio']], S],
  ['KOVAEngineSetLocalVideoMirror', [true], [['SetLocalVideoMirror', true]], S],
  ['KOVAEnginePrintLog', ['hello'], [['PrintLog', 'hello']], S],
  ['KOVAEngineGetSpeakerVolume', [], [['GetSpeakerVolume']], 42, { setup: [{ cmd: 'set_result', op: 'GetSpeakerVolume', value: 42 }] }],
  ['KOVAEngineGetMicrophoneVolume', [], [['GetMicrophoneVolume']], -3, { setup: [{ cmd: 'set_result', op: 'GetMicrophoneVolume', value: -3 }] }],
  ['KOVAEngineSetAudioAINoiseExEnable', [true], [['SetAudioAINoiseExEnable', true]], S],
  ['KOVAEngineSetCameraDeviceByUID', ['cam'], [['SetCameraDeviceByUID', 'cam', 3]], S],
  ['KOVAEngineSetPlayoutDeviceByUID', ['spk'], [['SetPlayoutDeviceByUID', 'spk', 3]], S],
  ['KOVAEngineSetRecordingDeviceByUID', ['mic'], [['SetRecordingDeviceByUID', 'mic', 3]], S],
  ['KOVAEngineSetExternalDeviceStateCallback', [(state) => deviceStates.push(state)], [['SetExternalDeviceStateCallback', true]], S],
  ['KOVAEngineSetSDKConfigPath', ['/p'], [['SetSDKConfigPath', '/p', 2]], ''],
  ['KOVAEngineSetSDKConfigString', ['{}'], [['SetSDKConfigPath', '{}', 2]], ''],
  ['KOVAEngineReportEventError', [5, 'oops'], [['ReportEventError', 5, 'oops', 4]], S],
  ['KOVAEngineGetDeviceID', [], [['GetDeviceID']], 'standin-device-0001'],
];

// The 102 exported names in their order of installation.
const EXPORTS = [
  'KOVAEngineInit', 'KOVAEngineUninit', 'KOVAEngineSetEnv', 'KOVAEngineSetApiListener', 'KOVAEngineSetApiListenerV2',
  'KOVAEngineEnterRoom', 'KOVAEngineExitRoom', 'KOVAEngineGetCameraDevicesList', 'KOVAEngineSetCurrentCameraDevice',
  'KOVAEngineChangeCameraByIndex', 'KOVAEngineChangeCameraByUID', 'KOVAEngineStartLocalAudio', 'KOVAEngineStopLocalAudio',
  'KOVAEngineStartLocalScreenAudio', 'KOVAEngineStopLocalScreenAudio', 'KOVAEngineStartRemoteAudio',
  'KOVAEngineStartRemoteAudioV2', 'KOVAEngineStopRemoteAudio', 'KOVAEngineStopRemoteAudioV2', 'KOVAEngineMuteLocalAudio',
  'KOVAEngineMuteRemoteAudio', 'KOVAEngineMuteRemoteAudioV2', 'KOVAEngineMuteRemoteAllAudio', 'KOVAEngineStartLocalPreview',
  'KOVAEngineStopLocalPreview', 'KOVAEngineSetVideoEncodingParam', 'KOVAEngineMuteLocalVideo', 'KOVAEngineStartRemoteView',
  'KOVAEngineStopRemoteView', 'KOVAEngineStopRemoteViewV2', 'KOVAEngineChangeVideoStream', 'KOVAEngineChangeVideoStreamV2',
  'KOVAEngineMuteRemoteVideo', 'KOVAEngineMuteRemoteVideoV2', 'KOVAEngineMuteAllRemoteVideo',
  'KOVAEngineGetScreenCaptureSources', 'KOVAEngineGetWindowCaptureSources', 'KOVAEngineStartDesktopCaptureShare',
  'KOVAEngineStopDesktopCaptureShare', 'KOVAEngineStartRemoteDesktopView', 'KOVAEngineStopRemoteDesktopView',
  'KOVAEngineStopRemoteDesktopViewV2', 'KOVAEngineStartDesktopCapturePreview', 'KOVAEngineStopDesktopCapturePreview',
  'KOVAEngineSetPlayoutDevice', 'KOVAEngineSetRecordingDevice', 'KOVAEngineSetSpeakerVolume',
  'KOVAEngineSetMicrophoneVolume', 'KOVAEngineGetPlayoutSources', 'KOVAEngineGetRecordingSources',
  'KOVAEngineSendChatMessage', 'KOVAEngineInitBroadCast', 'KOVAEngineChangeNickName', 'KOVAEngineChangeNickNameV2',
  'KOVAEngineSendControlMessage', 'KOVAEngineSendControlMessageV2', 'KOVAEngineEnableStreamStat',
  'KOVAEngineGeneralToken', 'KOVAEngineInstallAudioDrive', 'KOVAEngineHasMacVirtualDevice',
  'KOVAEngineSetDebugLogEnable', 'KOVAEngineSetDebugLogCallback', 'KOVAEngineSubscribeDataStream',
  'KOVAEngineUnsubscribeDataStream', 'KOVAEngineSetApiUrl', 'KOVAEngineStartUploadRtcLogs', 'KOVAEngineSetAppName',
  'KOVAEngineGetSystemSleepState', 'KOVAEngineSetSDKConfigParam', 'KOVAEngineGetSDKStats',
  'KOVAEngineFindWindowIdByTitle', 'KOVAEngineStartLocalPreviewTest', 'KOVAEngineStopLocalPreviewTest',
  'KOVAEngineStartRecordingTest', 'KOVAEngineStopRecordingTest', 'KOVAEngineStartPlayoutTest',
  'KOVAEngineStopPlayoutTest', 'KOVAEngineSubscribeMillionAudio', 'KOVAEngineUnSubscribeMillionAudio',
  'KOVAEngineSetLocalVideoMirror', 'KOVAEnginePrintLog', 'KOVAEngineGetSpeakerVolume', 'KOVAEngineGetMicrophoneVolume',
  'SAIManagerCheckOpenGL', 'SAIManagerInit', 'SAIManagerInitByAppId', 'SAIManagerEnableFeature',
  'SAIManagerDisableFeature', 'SAIManagerUnInit', 'CTR_SetClientCallBack', 'CTR_CreateClient', 'CTR_SendDataToServer',
  'CTR_StopClient', 'KOVAEngineSetAudioAINoiseExEnable', 'KOVAEngineSetCameraDeviceByUID',
  'KOVAEngineSetPlayoutDeviceByUID', 'KOVAEngineSetRecordingDeviceByUID', 'KOVAEngineSetExternalDeviceStateCallback',
  'KOVAEngineSetSDKConfigPath', 'KOVAEngineSetSDKConfigString', 'KOVAEngineReportEventError', 'KOVAEngineGetDeviceID',
];

// Calls `fn(...args)` and returns its result with the SDK calls it made.
function run(fn, args) {
  sdk.clear();
  const result = addon[fn](...args);
  return { result, calls: journal().map((e) => [e.op, ...e.args]) };
}

test.before(() => addon.KOVAEngineInit());
test.after(() => addon.KOVAEngineUninit());

test('the table covers every engine entry function once, in the order of installation', () => {
  assert.deepStrictEqual(ROWS.map((row) => row[0]), EXPORTS.filter((name) => name.startsWith('KOVAEngine')));
  assert.strictEqual(ROWS.length, 92);
});

for (const [fn, args, calls, result, options = {}] of ROWS) {
  test(`${fn}: SDK calls and result`, () => {
    for (const cmd of options.setup || []) command(cmd);
    const got = run(fn, args);
    matches(calls, got.calls, `${fn} SDK calls`);
    assert.deepStrictEqual(got.result, result);
    if (options.then) options.then();
  });
}

test('check styles: count and type errors', () => {
  const threw = (call, message) => assert.throws(call, (e) => e instanceof TypeError && e.message === message, call.toString());
  const cases = [
    // F1: a single argument gives the type error, none the count error.
    [() => addon.KOVAEngineStopRemoteView(5), 'param type error'],
    [() => addon.KOVAEngineStopRemoteView(), 'param count error'],
    // F: too few is the count error, a wrong type after enough arguments the type error.
    [() => addon.KOVAEngineMuteRemoteAudio(5, 's'), 'param count error'],
    [() => addon.KOVAEngineMuteRemoteAudio(5, 's', 1), 'param type error'],
    [() => addon.KOVAEngineSetApiUrl(), 'param count error'],
  ];
  sdk.clear();
  for (const [call, message] of cases) threw(call, message);
  assert.deepStrictEqual(journal(), [], 'nothing reached the SDK');
});

test('check styles: messages returned instead of thrown', () => {
  const cases = [
    [() => addon.KOVAEngineSetSDKConfigPath(1), 'param type error'],
    [() => addon.KOVAEngineSetSDKConfigPath(), 'param count error'],
    [() => addon.KOVAEngineSetSDKConfigString(true), 'param type error'],
    [() => addon.KOVAEngineSetLocalVideoMirror(), 'param type error'],
    [() => addon.KOVAEngineSetApiUrl(1), 'param type error'],
    [() => addon.KOVAEngineStartRecordingTest(5), 'param type error'],
    [() => addon.KOVAEngineStartPlayoutTest('x', 5), 'param type error'],
    [() => addon.KOVAEnginePrintLog(), 'param type error'],
  ];
  sdk.clear();
  for (const [call, message] of cases) assert.strictEqual(call(), message, call.toString());
  assert.deepStrictEqual(journal(), [], 'nothing reached the SDK');
});

test('an optional number: anything but a number passes 0', () => {
  for (const args of [[], ['x'], [null]]) {
    assert.deepStrictEqual(run('KOVAEngineStartLocalAudio', args), { result: S, calls: [['StartLocalAudio', 0]] });
    assert.deepStrictEqual(run('KOVAEngineStartLocalScreenAudio', args), { result: S, calls: [['StartLocalScreenAudio', 0]] });
  }
});

test('numbers: unsigned 16-bit values wrap, booleans come back as 1 or 0', () => {
  assert.deepStrictEqual(run('KOVAEngineSetPlayoutDevice', [65537]).calls, [['SetPlayoutDevice', 1]]);
  assert.deepStrictEqual(run('KOVAEngineSetSpeakerVolume', [-1]).calls, [['SetSpeakerVolume', 65535]]);
  for (const [value, expected] of [[true, 1], [false, 0]]) {
    command({ cmd: 'set_result', op: 'HasMacVirtualDevice', value });
    const result = addon.KOVAEngineHasMacVirtualDevice();
    assert.strictEqual(typeof result, 'number');
    assert.strictEqual(result, expected);
  }
});

test('strings keep at most their buffer less one byte; extra arguments are ignored', () => {
  assert.deepStrictEqual(run('KOVAEngineSetAppName', ['x'.repeat(300)]).calls, [['SetAppName', 'x'.repeat(255), 255]]);
  assert.deepStrictEqual(run('KOVAEngineSetSDKConfigParam', ['c'.repeat(600)]).calls, [['SetSDKConfigParam', 'c'.repeat(511), 511]]);
  assert.deepStrictEqual(run('KOVAEngineSetSDKConfigString', ['s'.repeat(3000)]).calls, [['SetSDKConfigPath', 's'.repeat(2047), 2047]]);
  assert.deepStrictEqual(run('KOVAEngineMuteLocalAudio', [true, 'extra', 5]), { result: S, calls: [['MuteLocalAudio', true]] });
  assert.deepStrictEqual(run('KOVAEngineChangeNickName', [1, 2, 'n', {}]).calls, [['ChangeNickName', 1, 2, 'n', 1]]);
});

test('SetDebugLogCallback(null) hands the SDK an empty function and the lines stop', async () => {
  debugLines.length = 0;
  command({ cmd: 'debug_log', level: 2, text: 'one' });
  await until(() => debugLines.length === 1, 10000, 'the debug line');
  assert.deepStrictEqual(run('KOVAEngineSetDebugLogCallback', [null]), { result: S, calls: [['SetDebugLogCallback', false]] });
  // The SDK holds no callback now: the stand-in has nothing to call.
  assert.strictEqual(sdk.command(JSON.stringify({ cmd: 'debug_log', level: 2, text: 'two' })), -1);
  await settle();
  assert.deepStrictEqual(debugLines, [[2, 'one']]);
  assert.throws(() => addon.KOVAEngineSetDebugLogCallback(5), /param type error/);
});

test('SetExternalDeviceStateCallback with a non-function after a registration: type error returned, states stop', async () => {
  deviceStates.length = 0;
  command({ cmd: 'external_device_state', value: true });
  await until(() => deviceStates.length === 1, 10000, 'the device state');
  sdk.clear();
  assert.strictEqual(addon.KOVAEngineSetExternalDeviceStateCallback(null), 'param type error');
  assert.deepStrictEqual(journal(), [], 'the SDK keeps its callback');
  command({ cmd: 'external_device_state', value: false });
  await settle();
  assert.deepStrictEqual(deviceStates, [true]);
  assert.strictEqual(addon.KOVAEngineSetExternalDeviceStateCallback(), 'param count error');
});

test('the functions that create the engine, and one that does not', () => {
  const creating = [
    ['KOVAEngineInit', [], 'Init'],
    ['KOVAEngineSetEnv', [1], 'SetEnv'],
    ['KOVAEngineSetDebugLogEnable', [false], 'SetDebugLogEnable'],
    ['KOVAEngineSetDebugLogCallback', [null], 'SetDebugLogCallback'],
    ['KOVAEngineSetApiUrl', ['u'], 'SetApiUrl'],
  ];
  for (const [fn, args, op] of creating) {
    addon.KOVAEngineUninit();
    const got = run(fn, args);
    assert.deepStrictEqual(got.calls.map((c) => c[0]), ['EnableKOVASDKCrashDump', 'CreateKOVAWinClient', op], fn);
  }
  addon.KOVAEngineUninit();
  // Without an engine the others do nothing and answer as usual.
  assert.deepStrictEqual(run('KOVAEngineSetAppName', ['a']), { result: S, calls: [] });
  assert.deepStrictEqual(run('KOVAEngineGetSpeakerVolume', []), { result: 0, calls: [] });
  assert.deepStrictEqual(run('KOVAEngineGetDeviceID', []), { result: '', calls: [] });
  assert.deepStrictEqual(run('KOVAEngineGetCameraDevicesList', [noop]), { result: S, calls: [] });
  addon.KOVAEngineInit();
});

test('loading prints the registration lines and installs exactly the 102 functions in order', () => {
  const probe = runIsolated(path.join(__dirname, 'fixtures', 'exports_child.js'), { args: [paths.addon], timeoutMs: 30000 });
  assert.strictEqual(probe.status, 0, probe.stderr);
  assert.ok(probe.stdout.startsWith('Enter NAPI_MODULE_INIT.\nLeave NAPI_MODULE_INIT.\n'), probe.stdout);
  const names = JSON.parse(probe.stdout.split('\n')[2]);
  assert.deepStrictEqual(names, EXPORTS);
});

test('without an SDK beside the addon every function answers as usual and queries give 0 or ""', () => {
  const layout = makeLayout();
  try {
    const probe = runIsolated(path.join(__dirname, 'fixtures', 'no_sdk_child.js'), {
      args: [layout.addon, JSON.stringify(ROWS.map(([fn, args, , result]) => [fn, args, result]), (k, v) => (typeof v === 'function' ? '__fn__' : v))],
      timeoutMs: 30000,
    });
    assert.strictEqual(probe.status, 0, probe.stderr + probe.stdout);
    const line = probe.stdout.split('\n').find((l) => l.startsWith('RESULT '));
    const results = JSON.parse(line.slice('RESULT '.length));
    const queries = { KOVAEngineGetSpeakerVolume: 0, KOVAEngineGetMicrophoneVolume: 0, KOVAEngineGetSystemSleepState: 0,
                      KOVAEngineHasMacVirtualDevice: 0, KOVAEngineGetDeviceID: '', KOVAEngineFindWindowIdByTitle: 0 };
    for (const [fn, , , result] of ROWS) {
      const expected = fn in queries ? queries[fn] : result;
      assert.deepStrictEqual(results[fn], expected, fn);
    }
    assert.ok(probe.stderr.includes('KOVAEngineSetEnv load'), 'the failed load is logged');
  } finally {
    layout.remove();
  }
});
