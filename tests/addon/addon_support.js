'use strict';
// Shared by the addon tests: the addon and the stand-in it loaded, waiting for asynchronous
// deliveries with a bound, and objects that record which properties were read.
const standin = require('../support/standin.js');

const SUCCESS = 'operation success.';

let addon = null;

// The addon with the engine initialised against the stand-in SDK beside it.
function loadAddon() {
  if (addon) return addon;
  addon = require(standin.paths.addon);
  standin.loadControl();
  addon.KOVAEngineInit();
  return addon;
}

// Resolves once predicate() holds; rejects after timeoutMs (a generous bound, never a speed check).
function waitFor(predicate, timeoutMs = 10000, what = 'condition') {
  const deadline = Date.now() + timeoutMs;
  return new Promise((resolve, reject) => {
    const poll = () => {
      if (predicate()) return resolve();
      if (Date.now() > deadline) return reject(new Error(`timed out waiting for ${what}`));
      setTimeout(poll, 5);
    };
    poll();
  });
}

// Lets queued thread-safe calls run (used before asserting that something did NOT arrive).
function settle(ms = 100) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// A Proxy over `target` that records every property read, in order, into `reads`.
function tracked(target, reads) {
  return new Proxy(target, {
    get(object, key, receiver) {
      if (typeof key === 'string') reads.push(key);
      return Reflect.get(object, key, receiver);
    },
  });
}

// Runs fn() with a clean journal: its result or error, and the journal entries of `op`.
function runOp(op, fn) {
  standin.clear();
  let result;
  let error = null;
  try {
    result = fn();
  } catch (e) {
    error = e;
  }
  return { result, error, calls: standin.ops(op), journal: standin.journal() };
}

// The fields of `actual` named by `expected`, for a deep comparison with it.
function pick(actual, expected) {
  const out = {};
  for (const key of Object.keys(expected)) out[key] = actual[key];
  return out;
}

// A garbage collection, with or without --expose-gc.
function collectGarbage() {
  if (typeof global.gc !== 'function') {
    require('v8').setFlagsFromString('--expose-gc');
    global.gc = require('vm').runInNewContext('gc');
  }
  global.gc();
}

module.exports = { SUCCESS, standin, loadAddon, waitFor, settle, tracked, runOp, pick, collectGarbage };
