'use strict';
// Listener events from an SDK thread to JavaScript, and engine calls from JavaScript into the SDK,
// each against the bare mechanism. Prints one JSON object.
//   node events_calls.js '{"scale":1}'
const { load, command, commandAsync, sleep, until } = require('./common.js');

const cfg = JSON.parse(process.argv[2] || '{}');
const scale = cfg.scale || 1;
const { addon, bench } = load();

const TEXTS = ['user-0007', 'custom-signal', '{"kind":"raise-hand","seq":12345}'];

async function events(count) {
  let received = 0;
  let last = 0n;
  const onEvent = (userId, a, b, c) => {
    received++;
    last = process.hrtime.bigint();
    if (c === undefined) throw new Error('three strings expected');
  };
  addon.KOVAEngineSetApiListener({ onCustomSignalToPeer: onEvent });
  let project = 0;
  let reference = 0;
  // Alternating rounds, the best of each kept: the machine is shared and a single run may be unlucky.
  for (let round = 0; round < 5; round++) {
    received = 0;
    let start = process.hrtime.bigint();
    const fired = commandAsync(bench, { cmd: 'listener', version: 1, event: 'onCustomSignalToPeer',
      args: [7, ...TEXTS], times: count });
    await until(() => received === count, 120000, 'listener events');
    await fired;
    project = Math.max(project, count / (Number(last - start) / 1e9));

    received = 0;
    start = process.hrtime.bigint();
    await new Promise((resolve) => bench.hopEvents(count, TEXTS, onEvent, resolve));
    await until(() => received === count, 120000, 'bare events');
    reference = Math.max(reference, count / (Number(last - start) / 1e9));
  }
  return { project, reference };
}

function timeCalls(fn, count) {
  const start = process.hrtime.bigint();
  for (let i = 0; i < count; i++) fn(7, 'stream-0007', (i & 1) === 0);
  return Number(process.hrtime.bigint() - start) / count;
}

function calls(count) {
  const mute = addon.KOVAEngineMuteRemoteAudio;
  const empty = bench.emptyMute;
  if (mute(7, 'stream-0007', true) !== 'operation success.') throw new Error('unexpected result');
  timeCalls(mute, count / 10);
  timeCalls(empty, count / 10);
  let project = Infinity;
  let reference = Infinity;
  for (let round = 0; round < 3; round++) {
    project = Math.min(project, timeCalls(mute, count));
    reference = Math.min(reference, timeCalls(empty, count));
  }
  // The same calls with the stand-in's journal on, to show what the journal alone costs.
  command(bench, { cmd: 'journal', on: true });
  const journaled = timeCalls(mute, Math.round(count / 10));
  command(bench, { cmd: 'reset' });
  command(bench, { cmd: 'journal', on: false });
  return { project, reference, journaled };
}

async function main() {
  // The stand-in repeats one event at most 100000 times per command.
  const e = await events(Math.max(2000, Math.min(100000, Math.round(100000 * scale))));
  const c = calls(Math.max(20000, Math.round(1000000 * scale)));
  addon.KOVAEngineUninit();
  await sleep(10);
  process.stdout.write(`${JSON.stringify({ eventsPerS: e.project, eventsPerSRef: e.reference,
    callNs: c.project, callNsRef: c.reference, callNsJournaled: c.journaled })}\n`);
}

main().catch((error) => {
  process.stdout.write(`${JSON.stringify({ error: String(error && error.stack || error) })}\n`);
  process.exit(1);
});
