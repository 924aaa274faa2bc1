'use strict';
// Shared by the benchmark scripts: where the built files are, the addon and the bench-only addon
// bound to the same stand-in SDK, and small statistics.
const path = require('path');
const { paths } = require('../../tests/support/standin.js');

const benchDir = path.join(paths.buildDir, 'bench');
const benchAddonPath = path.join(benchDir, 'kova_bench.node');

// The addon with its engine on the stand-in, and the bench addon driving that stand-in directly.
function load({ journal = false } = {}) {
  const addon = require(paths.addon);
  addon.KOVAEngineInit();
  const bench = require(benchAddonPath);
  bench.open(paths.sdk);
  command(bench, { cmd: 'journal', on: journal });
  return { addon, bench };
}

function command(bench, cmd) {
  const [result, ns] = bench.command(JSON.stringify(cmd));
  if (result !== 0) throw new Error(`stand-in refused ${JSON.stringify(cmd)}`);
  return ns;
}

function commandAsync(bench, cmd) {
  return new Promise((resolve, reject) => bench.commandAsync(JSON.stringify(cmd), (result, ns) => (
    result === 0 ? resolve(ns) : reject(new Error(`stand-in refused ${JSON.stringify(cmd)}`)))));
}

function percentile(values, q) {
  if (values.length === 0) return NaN;
  const sorted = Float64Array.from(values).sort();
  return sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Resolves when predicate() holds, or rejects after timeoutMs.
async function until(predicate, timeoutMs, what) {
  const deadline = Date.now() + timeoutMs;
  while (!predicate()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(2);
  }
}

module.exports = { paths, benchDir, load, command, commandAsync, percentile, sleep, until };
