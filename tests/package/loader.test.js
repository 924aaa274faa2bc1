'use strict';
// The package as an application meets it: `require` of the repository root goes through
// lib/index.js to the built addon, exports exactly the functions that types/index.d.ts declares, in
// installation order, and a missing or broken addon gives one clear Error instead of a stack of
// loader internals. Each load runs in its own node process, so every case sees a fresh loader.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const ROOT = path.resolve(__dirname, '..', '..');
const ADDON_DIR = process.env.KOVA_ADDON_DIR;
const BUILD_DIR = process.env.KOVA_BUILD_DIR;
const ADDON_FILE = path.join(ADDON_DIR, 'KOVAElectronSDK.node');

// Loads the package in a child process; prints a JSON line with the exported names, or the error.
function loadPackage(env) {
  const script = `
    try {
      const kova = require(${JSON.stringify(ROOT)});
      console.log('RESULT ' + JSON.stringify({ names: Object.keys(kova), kinds: Object.values(kova).map((f) => typeof f) }));
    } catch (e) {
      console.log('RESULT ' + JSON.stringify({ error: e.message, code: e.code, name: e.name }));
    }`;
  const child = spawnSync(process.execPath, ['-e', script], {
    env: { ...process.env, KOVA_ADDON_PATH: '', KOVA_BUILD_DIR: BUILD_DIR, ...env },
    encoding: 'utf8',
    timeout: 30000,
  });
  assert.strictEqual(child.status, 0, `child failed: ${child.stderr}`);
  const line = child.stdout.split('\n').find((l) => l.startsWith('RESULT '));
  assert.ok(line, `no result line in: ${child.stdout}`);
  return { ...JSON.parse(line.slice(7)), stdout: child.stdout };
}

function declaredFunctions() {
  const text = fs.readFileSync(path.join(ROOT, 'types', 'index.d.ts'), 'utf8');
  return [...text.matchAll(/^export function (\w+)\(/gm)].map((m) => m[1]);
}

function tempDir(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-loader-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

test('the declarations name 102 distinct functions', () => {
  const names = declaredFunctions();
  assert.strictEqual(names.length, 102);
  assert.strictEqual(new Set(names).size, 102);
});

test('lib/events lists the 39 listener events that the declarations type, each once', () => {
  const { LISTENER_EVENTS } = require('../../lib/events');
  const text = fs.readFileSync(path.join(ROOT, 'types', 'index.d.ts'), 'utf8');
  const declared = new Set([...text.matchAll(/^\s+(on\w+)\?:/gm)].map((m) => m[1]));
  assert.strictEqual(LISTENER_EVENTS.length, 39);
  assert.deepStrictEqual(new Set(LISTENER_EVENTS), declared);
  assert.ok(Object.isFrozen(LISTENER_EVENTS));
});

test('the package loads the built addon and exports exactly the declared functions, in order', () => {
  const result = loadPackage({});
  assert.strictEqual(result.error, undefined, result.error);
  assert.deepStrictEqual(result.names, declaredFunctions());
  assert.ok(result.kinds.every((k) => k === 'function'));
  assert.match(result.stdout, /Enter NAPI_MODULE_INIT\.\nLeave NAPI_MODULE_INIT\./);
});

test('KOVA_ADDON_PATH may name the addon file or its directory', () => {
  for (const value of [ADDON_FILE, ADDON_DIR]) {
    const result = loadPackage({ KOVA_ADDON_PATH: value, KOVA_BUILD_DIR: '/nonexistent' });
    assert.strictEqual(result.error, undefined, `${value}: ${result.error}`);
    assert.strictEqual(result.names.length, 102, value);
  }
});

test('a missing addon is one Error that names the paths tried and the build command', (t) => {
  const empty = tempDir(t);
  const cases = [
    {
      env: { KOVA_BUILD_DIR: empty },
      code: 'KOVA_ADDON_NOT_FOUND',
      says: [/KOVAElectronSDK\.node has not been built/, new RegExp(`${empty}/dist/node_modules/kova-electron-sdk/build/Release/KOVAElectronSDK\\.node`), /npm run build/, /scripts\/setup\.sh/],
    },
    {
      env: { KOVA_ADDON_PATH: empty },
      code: 'KOVA_ADDON_NOT_FOUND',
      says: [/not found at KOVA_ADDON_PATH=/, new RegExp(`${empty}/KOVAElectronSDK\\.node`)],
    },
    {
      env: { KOVA_ADDON_PATH: path.join(empty, 'elsewhere.node') },
      code: 'KOVA_ADDON_NOT_FOUND',
      says: [new RegExp(`${empty}/elsewhere\\.node`)],
    },
  ];
  for (const c of cases) {
    const result = loadPackage(c.env);
    assert.strictEqual(result.code, c.code, JSON.stringify(c.env));
    assert.strictEqual(result.name, 'Error');
    for (const pattern of c.says) assert.match(result.error, pattern);
    // Nothing was loaded: the addon's registration lines never appeared.
    assert.doesNotMatch(result.stdout, /NAPI_MODULE_INIT/);
  }
});

test('an addon file that does not load is reported with the reason and the rebuild command', (t) => {
  const dir = tempDir(t);
  const broken = path.join(dir, 'KOVAElectronSDK.node');
  fs.writeFileSync(broken, 'not a shared library');
  const result = loadPackage({ KOVA_ADDON_PATH: dir });
  assert.strictEqual(result.code, 'KOVA_ADDON_LOAD_FAILED');
  assert.match(result.error, new RegExp(`${broken} exists but could not be loaded: .+`));
  assert.match(result.error, /npm run build/);
});
