'use strict';
// The AI-effects adapter driven from JavaScript against the stand-in SDK and the stand-in AI-effects
// library: argument checks, the state machine, result codes, event reports, and the SDK's local
// camera callback switched on and off. The scenarios run in order in one process (the adapter is a
// process-wide singleton); the layouts without the library run in child processes.
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');

const { paths, runIsolated } = require('../support/standin');
const { makeLayout, saiLibrary } = require('../support/layout');
const { nextCall, until, settle } = require('../support/wait');

const control = require(paths.control);
const sdk = control.open(paths.sdk);
const sai = control.open(saiLibrary);
const addon = require(paths.addon);

const SUCCESS = 'operation success.';
const EVENT_ID = 21014001;

const entries = (lib, op) => JSON.parse(lib.journal()).filter((e) => op === undefined || e.op === op);
const command = (lib, cmd) => assert.strictEqual(lib.command(JSON.stringify(cmd)), 0, JSON.stringify(cmd));
const clearAll = () => {
  sdk.clear();
  sai.clear();
};
const events = () => entries(sdk, 'ReportEventError').map((e) => e.args);
// The journal record of one event report: id, text, byte length.
const event = (text) => [EVENT_ID, text, Buffer.byteLength(text)];
const cameraSwitches = () => entries(sdk, 'SetLocalCameraCallback').map((e) => e.args[0]);

// Calls an entry function whose callback must run before it returns; gives that callback's codes.
function immediate(call) {
  const codes = [];
  const result = call((code) => codes.push(code));
  assert.strictEqual(result, SUCCESS);
  return codes;
}

// Starts a request whose result comes later; resolves with the code its callback receives.
function later(call, what) {
  let returned;
  const pending = nextCall((cb) => {
    returned = call(cb);
  }, 10000, what);
  assert.strictEqual(returned, SUCCESS);
  return pending.then(([code]) => code);
}

const init = (cb) => addon.SAIManagerInit(7, 'model-data', 'license', cb);
const enable = (cb) => addon.SAIManagerEnableFeature(3, 'beauty', cb);

test.before(() => {
  addon.KOVAEngineInit();
  command(sai, { cmd: 'reset' });
});

test.after(() => {
  addon.SAIManagerUnInit();
  addon.KOVAEngineUninit();
});

test('SAIManagerCheckOpenGL calls back 0 before it returns', () => {
  clearAll();
  assert.deepStrictEqual(immediate((cb) => addon.SAIManagerCheckOpenGL(1, 'gl', cb)), [0]);
  assert.deepStrictEqual(entries(sai), [], 'the library is not involved');
  assert.ok(entries(sdk, 'PrintLog').some((e) => e.args[0] === 'SAIManagerAdapater checkOpenGL enter'));
  assert.ok(entries(sdk, 'PrintLog').some((e) => e.args[0] === 'SAIManagerAdapater CallJSError internalErrorCode=0 error_callback=0'));
});

test('argument checks throw before anything reaches the library', () => {
  clearAll();
  const cases = [
    [() => addon.SAIManagerCheckOpenGL(1, 's'), 'param count error'],
    [() => addon.SAIManagerInit(1, 'd', 't'), 'param count error'],
    [() => addon.SAIManagerInit(1, 2, 't', () => {}), 'param type error'],
    [() => addon.SAIManagerInit(1, 'd', 't', 'not a function'), 'param type error'],
    [() => addon.SAIManagerInitByAppId('1', 'app', () => {}), 'param type error'],
    [() => addon.SAIManagerEnableFeature(1, 'f'), 'param count error'],
    [() => addon.SAIManagerEnableFeature(1, null, () => {}), 'param type error'],
  ];
  for (const [call, message] of cases) {
    assert.throws(call, (e) => e instanceof TypeError && e.message === message, call.toString());
  }
  assert.deepStrictEqual(entries(sai), []);
});

test('enabling before any init answers -9 at once', () => {
  clearAll();
  assert.deepStrictEqual(immediate(enable), [-9]);
  assert.deepStrictEqual(entries(sai, 'enableFeature'), []);
});

test('init results: the code the callback receives, the state after, and the event reported', async () => {
  // [library result, code for JavaScript, state 0 afterwards]
  const rows = [[3, -5, true], [42, 0, true], [9, -11, true], [1, -3, true], [0, 0, false]];
  for (const [value, code, backToZero] of rows) {
    addon.SAIManagerUnInit();
    command(sai, { cmd: 'set_result', op: 'init', value });
    clearAll();
    assert.strictEqual(await later(init, `init result ${value}`), code, `result ${value}`);
    assert.deepStrictEqual(events(), [event(`Init SAIManager Result ${code}`)]);
    if (backToZero) {
      assert.deepStrictEqual(immediate(enable), [-9], `state 0 after result ${value}`);
    } else {
      // State 2: another init is answered 0 at once and does not reach the library.
      sai.clear();
      assert.deepStrictEqual(immediate(init), [0]);
      assert.deepStrictEqual(entries(sai, 'init'), []);
    }
  }
  command(sai, { cmd: 'reset' });
});

test('init hands the library the data whole with its zero byte and the text cut to 511 bytes', async () => {
  addon.SAIManagerUnInit();
  clearAll();
  const data = 'd'.repeat(5000);
  const text = 't'.repeat(600);
  assert.strictEqual(await later((cb) => addon.SAIManagerInit(11, data, text, cb)), 0);
  const [call] = entries(sai, 'init');
  assert.deepStrictEqual(call.args, [11, `${data}\u0000`, 5001, 't'.repeat(511), 511, true]);
});

test('a second init while the first is pending answers 0 at once and does not reach the library', async () => {
  addon.SAIManagerUnInit();
  command(sai, { cmd: 'hold_results', on: true });
  clearAll();
  let first = null;
  assert.strictEqual(init((code) => { first = code; }), SUCCESS);
  assert.strictEqual(first, null, 'the first result is still pending');
  assert.deepStrictEqual(immediate(init), [0]);
  assert.deepStrictEqual(immediate((cb) => addon.SAIManagerInitByAppId(1, 'app', cb)), [0]);
  assert.strictEqual(entries(sai, 'init').length, 1);
  assert.deepStrictEqual(entries(sai, 'initByAppId'), []);
  assert.ok(entries(sdk, 'PrintLog').some((e) => e.args[0] === 'SAIManagerAdapater initByAppId current state:1'));
  command(sai, { cmd: 'hold_results', on: false });
  command(sai, { cmd: 'release_results' });
  await until(() => first !== null, 10000, 'the held result');
  assert.strictEqual(first, 0);
});

test('enabling twice before the first result: the second answers -2; result 0 switches the camera callback on', async () => {
  // State 2 from the previous test.
  command(sai, { cmd: 'hold_results', on: true });
  clearAll();
  let first = null;
  assert.strictEqual(enable((code) => { first = code; }), SUCCESS);
  assert.deepStrictEqual(immediate(enable), [-2]);
  assert.strictEqual(entries(sai, 'enableFeature').length, 1);
  assert.deepStrictEqual(entries(sai, 'enableFeature')[0].args, [3, 'beauty', 6, true]);
  assert.deepStrictEqual(cameraSwitches(), [], 'not switched on while the result is pending');
  command(sai, { cmd: 'hold_results', on: false });
  command(sai, { cmd: 'release_results' });
  await until(() => first !== null, 10000, 'the held result');
  assert.strictEqual(first, 0);
  assert.deepStrictEqual(cameraSwitches(), [true]);
});

test('a failed enable result leaves the camera callback as it was; disable switches it off', async () => {
  command(sai, { cmd: 'set_result', op: 'enableFeature', value: 5 });
  clearAll();
  assert.strictEqual(await later(enable), -7);
  assert.deepStrictEqual(cameraSwitches(), []);
  clearAll();
  assert.strictEqual(addon.SAIManagerDisableFeature(), SUCCESS);
  assert.deepStrictEqual(cameraSwitches(), [false]);
  // State 2 already: the library is not told again.
  assert.deepStrictEqual(entries(sai, 'disableFeature'), []);
  command(sai, { cmd: 'set_result', op: 'enableFeature', value: 0 });
  assert.strictEqual(await later(enable), 0);
  clearAll();
  assert.strictEqual(addon.SAIManagerDisableFeature(), SUCCESS);
  assert.deepStrictEqual(cameraSwitches(), [false]);
  assert.deepStrictEqual(entries(sai, 'disableFeature').length, 1);
});

test('an enable result that arrives after a disable only reaches its callback', async () => {
  command(sai, { cmd: 'hold_results', on: true });
  let code = null;
  enable((c) => { code = c; });
  addon.SAIManagerDisableFeature();
  clearAll();
  command(sai, { cmd: 'hold_results', on: false });
  command(sai, { cmd: 'release_results' });
  await until(() => code !== null, 10000, 'the held result');
  assert.strictEqual(code, 0);
  assert.deepStrictEqual(cameraSwitches(), [], 'state 2 stays: the callback is not switched on');
});

test('unInit in state 0 only switches the camera callback off', () => {
  addon.SAIManagerUnInit();
  clearAll();
  assert.strictEqual(addon.SAIManagerUnInit(), SUCCESS);
  assert.deepStrictEqual(entries(sdk).filter((e) => e.op !== 'PrintLog').map((e) => [e.op, ...e.args]),
                         [['SetLocalCameraCallback', false]]);
  assert.deepStrictEqual(entries(sai), []);
});

test('a request pending at unInit keeps its callback: answered once, by the library or by the deadline', () => {
  // Own process: a short deadline, and the adapter's state untouched for the scenarios here.
  const run = runIsolated(path.join(__dirname, 'fixtures', 'sai_pending_child.js'),
                          { env: { KOVA_SAI_RESULT_TIMEOUT_MS: '400' }, timeoutMs: 60000 });
  const line = run.stdout.split('\n').find((l) => l.startsWith('RESULT '));
  assert.ok(line, `no result line: ${run.stdout}\n${run.stderr}`);
  const out = JSON.parse(line.slice('RESULT '.length));
  // The library's late answer (3) reaches the first callback; the second request, made while the
  // first was pending, is refused at once without asking the library; the third is answered.
  assert.deepStrictEqual(out.late, { first: [-5], second: [-2], third: [0], libraryInits: 2 });
  // No answer at all: the deadline closes the first request with -12, and the library is asked again.
  assert.deepStrictEqual(out.lost, { first: [-12], second: [-2], third: [0], libraryInits: 2 });
  assert.deepStrictEqual(out.done, { first: [0], second: [0], libraryInits: 2 });
  assert.deepStrictEqual(out.enable, { first: [-12], second: [-2], third: [0] });
  for (const [name, count] of Object.entries(out.counts)) assert.strictEqual(count, 1, `${name} called once`);
  assert.strictEqual(run.status, 0, run.stderr);
});

test('a library that reports one result twice reaches the callback once', async () => {
  addon.SAIManagerUnInit();
  command(sai, { cmd: 'hold_results', on: true });
  command(sai, { cmd: 'set_result', op: 'init', value: 0, times: 2 });
  const codes = [];
  init((code) => codes.push(code));
  command(sai, { cmd: 'hold_results', on: false });
  // Both reports have been made when this returns.
  command(sai, { cmd: 'release_results' });
  await settle(50);
  assert.deepStrictEqual(codes, [0]);
  command(sai, { cmd: 'reset' });
});

test('initByAppId: the app id whole; a manager the library does not create answers -1 and is reported', async () => {
  addon.SAIManagerUnInit();
  clearAll();
  const appId = 'a'.repeat(700);
  assert.strictEqual(await later((cb) => addon.SAIManagerInitByAppId(4, appId, cb)), 0);
  assert.deepStrictEqual(entries(sai, 'initByAppId').map((e) => e.args), [[4, appId, true]]);
  assert.ok(entries(sdk, 'PrintLog').some((e) => e.args[0] === `SAIManagerAdapater initByAppId ${appId} enter`));

  addon.SAIManagerUnInit();
  command(sai, { cmd: 'create_null', on: true });
  clearAll();
  assert.deepStrictEqual(immediate((cb) => addon.SAIManagerInitByAppId(4, 'app', cb)), [-1]);
  assert.deepStrictEqual(events(), [event('Init SAIManager CreateSAIManager Fail 1000')]);
  assert.ok(entries(sdk, 'PrintLog').some((e) => e.args[0] === 'SAIManagerAdapater initByAppId CreateSAIManager fail'));
  assert.deepStrictEqual(immediate(enable), [-9], 'state stays 0');
  // init reports nothing of its own failures; it only answers.
  clearAll();
  assert.deepStrictEqual(immediate(init), [-1]);
  assert.deepStrictEqual(events(), []);
  command(sai, { cmd: 'reset' });
});

test('captured local camera frames pass through the library only in states 3 and 4', async () => {
  addon.SAIManagerUnInit();
  command(sai, { cmd: 'reset' });
  assert.strictEqual(await later(init), 0);
  clearAll();
  const frames = [];
  const preview = { width: 64, height: 48, isMirror: false, streamCB: (f) => frames.push(f) };
  assert.strictEqual(addon.KOVAEngineStartLocalPreview(preview), SUCCESS);
  const captureHandedWith = (op) => entries(sdk, op).map((e) => e.args[0].captureCallback);
  assert.deepStrictEqual(captureHandedWith('StartLocalPreview'), [false], 'state 2: no capture callback');
  const processed = () => entries(sai, 'processVideoFrame').length;
  const capture = (count) => sdk.command(JSON.stringify({ cmd: 'frames', key: 'local', via: 'capture', count, width: 64, height: 48 }));

  assert.strictEqual(await later(enable), 0);
  assert.strictEqual(capture(2), 0, 'state 4: the camera callback is installed');
  assert.strictEqual(processed(), 2);
  assert.deepStrictEqual(entries(sai, 'processVideoFrame')[0].args,
                         [{ streamKey: 'local', streamKeyLength: 5, width: 64, height: 48, strideY: 64, strideU: 32, strideV: 32, sizeY: 3072 }]);

  command(sai, { cmd: 'hold_results', on: true });
  command(sai, { cmd: 'set_result', op: 'enableFeature', value: 8 });
  let code = null;
  enable((c) => { code = c; });
  assert.strictEqual(capture(1), 0);
  assert.strictEqual(processed(), 3, 'state 3: frames still go through');
  command(sai, { cmd: 'hold_results', on: false });
  command(sai, { cmd: 'release_results' });
  await until(() => code !== null, 10000, 'the enable result');
  assert.strictEqual(code, -10);
  assert.strictEqual(capture(1), 0, 'a failed enable leaves the callback installed');
  assert.strictEqual(processed(), 3, 'state 2: frames do not reach the library');

  assert.strictEqual(addon.SAIManagerDisableFeature(), SUCCESS);
  assert.strictEqual(capture(1), -1, 'switched off: the SDK has no camera callback');

  command(sai, { cmd: 'set_result', op: 'enableFeature', value: 0 });
  assert.strictEqual(await later(enable), 0);
  assert.strictEqual(addon.KOVAEngineStartLocalPreviewTest(preview), SUCCESS);
  assert.deepStrictEqual(captureHandedWith('StartLocalPreviewTest'), [true], 'state 4: the capture callback is handed over');
  // In the SDK's own pipeline the capture hook changes the frame before it is delivered: the
  // library's mark reaches the JavaScript frame.
  assert.strictEqual(sdk.command(JSON.stringify({ cmd: 'live', on: true, fps: 30 })), 0);
  try {
    await until(() => frames.some((f) => f.streamY[4] === 0xA5), 10000, 'a frame marked by the library');
  } finally {
    sdk.command(JSON.stringify({ cmd: 'live', on: false }));
  }
  addon.KOVAEngineStopLocalPreviewTest();
  addon.KOVAEngineStopLocalPreview();
  addon.SAIManagerUnInit();
  command(sai, { cmd: 'reset' });
});

test('the adapter creates the engine when none exists, for its log lines and reports', () => {
  addon.KOVAEngineUninit();
  sdk.clear();
  assert.deepStrictEqual(immediate((cb) => addon.SAIManagerCheckOpenGL(1, 'gl', cb)), [0]);
  assert.deepStrictEqual(entries(sdk).slice(0, 3).map((e) => [e.op, ...e.args]),
                         [['EnableKOVASDKCrashDump'], ['CreateKOVAWinClient'], ['PrintLog', 'SAIManagerAdapater checkOpenGL enter']]);
});

test('the addon five directories deep finds the library three levels up, or answers -1 without it', () => {
  const child = path.join(__dirname, 'fixtures', 'sai_layout_child.js');
  for (const withLibrary of [false, true]) {
    const layout = makeLayout({ sai: withLibrary, files: { 'libkova_sdk.so': paths.sdk } });
    try {
      const run = runIsolated(child, { args: [layout.addon, layout.saiPath], timeoutMs: 30000 });
      assert.strictEqual(run.status, 0, `child failed: ${run.stderr}${run.stdout}`);
      const line = run.stdout.split('\n').find((l) => l.startsWith('RESULT '));
      assert.ok(line, run.stdout);
      const result = JSON.parse(line.slice('RESULT '.length));
      const expectedPath = path.join(layout.saiParent, 'SAIManagerElectrionSDK/native/linux/libSAIManager.so');
      if (withLibrary) {
        assert.deepStrictEqual(result.init, { immediate: [], later: 0 });
        assert.deepStrictEqual(result.libraryOps, ['CreateSAIManager', 'init']);
      } else {
        assert.deepStrictEqual(result.init, { immediate: [-1], later: null });
        assert.deepStrictEqual(result.enableAfter, [-9], 'state stays 0');
        assert.deepStrictEqual(result.appId, [-1]);
        assert.deepStrictEqual(result.events, [event('Init SAIManager LoadLibrary Fail 1000')]);
        assert.ok(result.logs.includes(`SAIManagerAdapater initByAppId load library fail ${expectedPath}`), result.logs.join('\n'));
      }
    } finally {
      layout.remove();
    }
  }
});
