'use strict';
// Where the addon finds the SDK: the default name beside the addon, or the name in sdkname.txt in
// the log directory ($XDG_DOCUMENTS_DIR/kova_log.<executable>), relative to the addon's directory.
// A library without all three entry points gives no client. Each case runs in a child process with
// the addon copied into a temporary layout.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { paths, runIsolated } = require('../support/standin');
const { makeLayout } = require('../support/layout');

const S = 'operation success.';
const CLIENT_OPS = ['EnableKOVASDKCrashDump', 'CreateKOVAWinClient', 'Init', 'SetAppName', 'GetDeviceID'];
const child = path.join(__dirname, 'fixtures', 'sdk_location_child.js');
// The log directory's last component names the running executable.
const logDirName = `kova_log.${path.basename(fs.realpathSync(process.execPath))}`;

// Runs the child in a layout with `files` beside the addon and `sdkname` (or none) in the log
// directory; gives the parsed result, stderr and the layout's addon directory.
function locate({ files, sdkname }) {
  const layout = makeLayout({ files });
  const documents = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-docs-'));
  try {
    if (sdkname !== undefined) {
      fs.mkdirSync(path.join(documents, logDirName));
      fs.writeFileSync(path.join(documents, logDirName, 'sdkname.txt'), sdkname);
    }
    const libraries = Object.keys(files).map((name) => path.join(layout.addonDir, name));
    const run = runIsolated(child, {
      args: [layout.addon, JSON.stringify(libraries)],
      env: { XDG_DOCUMENTS_DIR: documents },
      timeoutMs: 30000,
    });
    assert.strictEqual(run.status, 0, run.stderr + run.stdout);
    const line = run.stdout.split('\n').find((l) => l.startsWith('RESULT '));
    const result = JSON.parse(line.slice('RESULT '.length));
    const journal = (name) => result.journals[path.join(layout.addonDir, name)];
    return { ...result, journal, stderr: run.stderr };
  } finally {
    layout.remove();
    fs.rmSync(documents, { recursive: true, force: true });
  }
}

const both = { 'libkova_sdk.so': paths.sdk, 'libkova_sdk_alt.so': paths.variant('alt') };
const altOps = CLIENT_OPS.map((op) => `${op}@alt`);

test('without sdkname.txt the default library beside the addon is loaded', () => {
  const got = locate({ files: both });
  assert.deepStrictEqual(got.results, [S, S, 'standin-device-0001']);
  assert.deepStrictEqual(got.journal('libkova_sdk.so'), CLIENT_OPS);
  assert.deepStrictEqual(got.journal('libkova_sdk_alt.so'), []);
});

test('sdkname.txt names the library, also in a subdirectory of the addon directory', () => {
  for (const [sdkname, files, altName] of [
    ['libkova_sdk_alt.so', both, 'libkova_sdk_alt.so'],
    ['sub/libkova_sdk_alt.so', { 'libkova_sdk.so': paths.sdk, 'sub/libkova_sdk_alt.so': paths.variant('alt') }, 'sub/libkova_sdk_alt.so'],
  ]) {
    const got = locate({ files, sdkname });
    assert.deepStrictEqual(got.journal(altName).slice(0, CLIENT_OPS.length), altOps, sdkname);
    assert.deepStrictEqual(got.journal('libkova_sdk.so'), [], sdkname);
    assert.doesNotMatch(got.stderr, /KOVAEngineSetEnv load/);
  }
});

test('a name with a trailing newline fails to load, is logged, and the default is used', () => {
  const got = locate({ files: both, sdkname: 'libkova_sdk_alt.so\n' });
  assert.match(got.stderr, /^KOVAEngineSetEnv load.*libkova_sdk_alt\.so\n/m);
  assert.deepStrictEqual(got.journal('libkova_sdk.so').slice(0, CLIENT_OPS.length), CLIENT_OPS);
  assert.deepStrictEqual(got.journal('libkova_sdk_alt.so'), []);
});

test('a library lacking one of the three entry points gives no client', () => {
  for (const variant of ['no_create', 'no_destroy', 'no_crashdump']) {
    const got = locate({ files: { 'libkova_sdk.so': paths.variant(variant) } });
    assert.deepStrictEqual(got.results, [S, S, ''], variant);
    assert.deepStrictEqual(got.journal('libkova_sdk.so'), [], `${variant}: nothing is called`);
  }
});
