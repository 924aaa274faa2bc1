'use strict';
// Waiting for callbacks that the addon makes later, never forever.

// Resolves with the arguments of the first call of the callback handed to `start`; rejects after
// timeoutMs. `start(callback)` must hand the callback to the code under test.
function nextCall(start, timeoutMs = 10000, what = 'callback') {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${what} not called within ${timeoutMs} ms`)), timeoutMs);
    start((...args) => {
      clearTimeout(timer);
      resolve(args);
    });
  });
}

// Resolves once predicate() is true, checking every few milliseconds; rejects after timeoutMs.
function until(predicate, timeoutMs = 10000, what = 'condition') {
  return new Promise((resolve, reject) => {
    const deadline = Date.now() + timeoutMs;
    const poll = () => {
      if (predicate()) return resolve();
      if (Date.now() > deadline) return reject(new Error(`${what} not reached within ${timeoutMs} ms`));
      setTimeout(poll, 5);
    };
    poll();
  });
}

// Lets every callback already queued for the JavaScript thread run.
function settle(ms = 20) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

module.exports = { nextCall, until, settle };
