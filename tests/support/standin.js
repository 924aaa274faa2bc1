'use strict';
// Helpers for JavaScript tests that run against the stand-in SDK: where the built files are, the
// control surface of the stand-in the addon loaded, and scenarios in a fresh node process (the
// addon is one per process, so a scenario that needs a fresh one runs in its own).
const path = require('path');
const { spawnSync } = require('child_process');

const buildDir = path.resolve(process.env.KOVA_BUILD_DIR || path.join(__dirname, '..', '..', 'build'));
const distDir = path.resolve(process.env.KOVA_DIST_DIR || path.join(buildDir, 'dist'));
const addonDir = process.env.KOVA_ADDON_DIR ||
    path.join(distDir, 'node_modules', 'kova-electron-sdk', 'build', 'Release');
const hostDir = process.env.KOVA_HOST_DIR || path.join(distDir, 'bin');
const testSupportDir = path.join(buildDir, 'test_support');

const paths = {
  buildDir,
  distDir,
  addonDir,
  hostDir,
  addon: path.join(addonDir, 'KOVAElectronSDK.node'),
  sdk: path.join(addonDir, 'libkova_sdk.so'),
  hostSdk: path.join(hostDir, 'libkova_sdk.so'),
  control: path.join(testSupportDir, 'kova_test_control.node'),
  // variant('no_create') -> .../sdk_variants/libkova_sdk_no_create.so
  variant: (name) => path.join(testSupportDir, 'sdk_variants', `libkova_sdk_${name}.so`),
};

let native = null;

// Opens the control surface of the stand-in at sdkPath (by default the one beside the addon, which
// is the instance the addon loads).
function loadControl(sdkPath = paths.sdk) {
  native = require(paths.control);
  native.open(sdkPath);
  return module.exports;
}

function control() {
  if (!native) throw new Error('standin: call loadControl() first');
  return native;
}

// Every journal entry since the last clear, as objects {op, args}.
function journal() {
  return JSON.parse(control().journal());
}

// The entries of one operation.
function ops(name) {
  return journal().filter((entry) => entry.op === name);
}

function clear() {
  control().clear();
}

// Runs one control command (an object, or raw text to test malformed input); 0 or -1.
function command(cmd) {
  return control().command(typeof cmd === 'string' ? cmd : JSON.stringify(cmd));
}

// The exact bytes behind a journal string (each character is one byte); .toString('utf8') gives
// back the UTF-8 text that was passed.
function latin1ToUtf8Bytes(text) {
  return Buffer.from(text, 'latin1');
}

// Runs a JavaScript file in a fresh node process (in directory cwd, by default this one's); never
// waits longer than timeoutMs.
function runIsolated(file, { args = [], env = {}, timeoutMs = 30000, cwd = undefined } = {}) {
  const result = spawnSync(process.execPath, [file, ...args], {
    cwd,
    env: { ...process.env, ...env },
    encoding: 'utf8',
    timeout: timeoutMs,
    killSignal: 'SIGKILL',
  });
  return {
    status: result.status,
    signal: result.signal,
    stdout: result.stdout || '',
    stderr: result.stderr || '',
    timedOut: Boolean(result.error && result.error.code === 'ETIMEDOUT'),
  };
}

module.exports = { paths, loadControl, journal, ops, clear, command, latin1ToUtf8Bytes, runIsolated };
