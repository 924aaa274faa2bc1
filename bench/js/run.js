'use strict';
// Runs every benchmark once, each project path beside the bare mechanism under it in the same run,
// and prints one table: path, this project, the reference, their ratio, the target and pass/fail.
//   node bench/js/run.js [--quick]     (--quick: short runs, to check that everything works)
// The machine is shared and noisy: absolute numbers vary from run to run, ratios within one run hold.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { paths, benchDir } = require('./common.js');

const quick = process.argv.includes('--quick');
const scale = quick ? 0.05 : 1;
const rows = [];
const notes = [];

function runJson(command, args, { env = {}, timeoutMs = 600000 } = {}) {
  const result = spawnSync(command, args, { env: { ...process.env, ...env }, encoding: 'utf8',
    timeout: timeoutMs, killSignal: 'SIGKILL', maxBuffer: 64 << 20 });
  const stdout = (result.stdout || '').trim();
  const lines = stdout.split('\n').filter((l) => l.startsWith('{') || l.startsWith('['));
  if (result.status === 0 && stdout.startsWith('{') && !stdout.includes('\n{')) {
    try { return JSON.parse(stdout); } catch (e) { /* one object per line: read below */ }
  }
  if (result.status !== 0 || lines.length === 0) {
    const why = result.error ? result.error.message : (result.stderr || '').trim().split('\n').slice(-3).join(' | ');
    return { error: `${path.basename(command)} ${args.join(' ').slice(0, 60)}: exit ${result.status} ${why}`.trim() };
  }
  return lines.length === 1 ? JSON.parse(lines[0]) : lines.map((l) => JSON.parse(l));
}

const node = (script, cfg, opts) => runJson(process.execPath, [path.join(__dirname, script), JSON.stringify(cfg)], opts);

// kind 'higher': more is better, target = minimum ratio project/reference.
// kind 'lower': less is better, target = maximum ratio project/reference.
function row(name, unit, project, reference, kind, target) {
  const ok = Number.isFinite(project) && Number.isFinite(reference) && reference > 0;
  const ratio = ok ? project / reference : NaN;
  let verdict = 'info';
  if (target !== undefined) verdict = !ok ? 'n/a' : (kind === 'higher' ? ratio >= target : ratio <= target) ? 'PASS' : 'FAIL';
  rows.push({ name, unit, project, reference, ratio, kind, target, verdict });
}
function textRow(name, project, reference, target, verdict) {
  rows.push({ name, text: [project, reference], target, verdict });
}
function failed(name, result) {
  textRow(name, 'error', '-', '-', 'n/a');
  notes.push(`${name}: ${result.error}`);
}

function fmt(value, unit) {
  if (!Number.isFinite(value)) return '-';
  if (unit === 'ns') {
    if (value >= 1e6) return `${(value / 1e6).toFixed(2)} ms`;
    if (value >= 1e3) return `${(value / 1e3).toFixed(1)} us`;
    return `${value.toFixed(0)} ns`;
  }
  if (unit === 's') return `${value.toFixed(3)} s`;
  if (unit === 'B/s') return `${(value / 1e6).toFixed(0)} MB/s`;
  return `${value >= 100 ? value.toFixed(0) : value.toFixed(1)} ${unit}`;
}

function frames() {
  const configs = [
    { name: '1080p', width: 1920, height: 1080, streams: 1 },
    { name: '1080p x4', width: 1920, height: 1080, streams: 4 },
    { name: '640x480', width: 640, height: 480, streams: 1 },
  ];
  for (const c of configs) {
    const r = node('frames.js', { ...c, scale });
    if (r.error) { failed(`frames ${c.name}`, r); continue; }
    if (c.streams === 1) {
      row(`frames ${c.name}: native cost/delivered frame vs (a) alloc+copy+free, same thread`, 'ns', r.costNs, r.costRefNs, 'lower', 1.2);
      row(`frames ${c.name}: native cost/delivered frame vs (b) bare hop's producer`, 'ns', r.costNs, r.costHopNs, 'lower');
      row(`frames ${c.name}: native cost/delivered frame vs alloc+copy+free loop`, 'ns', r.costNs, r.costLoopNs, 'lower');
    }
    row(`frames ${c.name}: frames/s delivered, 1000/s offered per stream, vs (b)`, 'fr/s', r.fps, r.fpsRef, 'higher');
    row(`frames ${c.name}: latency p50 vs (b)`, 'ns', r.p50, r.p50Ref, 'lower');
    row(`frames ${c.name}: latency p99 vs (b)`, 'ns', r.p99, r.p99Ref, 'lower', 2.0);
  }
  // No copy after the one on the SDK thread: large copies counted per thread in a process with the
  // copy counter preloaded, once as shipped and once with copies forced (the counter's control).
  const preload = { LD_PRELOAD: path.join(benchDir, 'kova_copy_counter.so') };
  const plain = node('frames.js', { check: 'copies', width: 1920, height: 1080 }, { env: preload });
  const forced = node('frames.js', { check: 'copies', width: 1920, height: 1080 },
    { env: { ...preload, KOVA_FORCE_BUFFER_COPY: '1' } });
  if (plain.error || forced.error) {
    failed('frames: copies after the SDK thread', plain.error ? plain : forced);
  } else {
    const perFrame = plain.jsThreadCopies / plain.delivered;
    const control = forced.jsThreadCopies / forced.delivered;
    textRow('frames: large copies on the JS thread per frame (control: forced copy)', perFrame.toFixed(2),
      `${control.toFixed(2)} forced`, '0', perFrame === 0 && control >= 3 ? 'PASS' : 'FAIL');
    notes.push(`copy check: ${plain.delivered}/${plain.pushed} frames delivered; SDK-thread copies ` +
      `${(plain.sdkThreadCopies / plain.pushed).toFixed(2)} per pushed frame (three planes), JS-thread copies ` +
      `${plain.jsThreadCopies}; with KOVA_FORCE_BUFFER_COPY=1 the JS thread made ${forced.jsThreadCopies} ` +
      `copies for ${forced.delivered} frames`);
  }
}

function eventsAndCalls() {
  const r = node('events_calls.js', { scale });
  if (r.error) { failed('events and calls', r); return; }
  row('events: 3-string listener events/s vs bare tsfn hop', 'ev/s', r.eventsPerS, r.eventsPerSRef, 'higher', 0.8);
  row('calls: KOVAEngineMuteRemoteAudio ns/call vs empty native fn', 'ns', r.callNs, r.callNsRef, 'lower', 1.3);
  notes.push(`calls are measured with the stand-in's journal off; with it on a call takes ${fmt(r.callNsJournaled, 'ns')}`);
}

function channels() {
  const r = runJson(path.join(benchDir, 'kova_bench_ipc'), [String(scale)]);
  if (r.error) { failed('channels', r); return; }
  const find = (mechanism, size) => r.find((x) => x.mechanism === mechanism && x.size === size) || {};
  for (const size of [24, 1024, 65536]) {
    const label = size === 24 ? '24 B' : size === 1024 ? '1 KiB' : '64 KiB';
    const ch = find('channel_spin', size);
    const spin = find('spin', size);
    const uds = find('unix_socket', size);
    const mq = find('mqueue', size);
    const wait = find('channel_wait', size);
    row(`channel ${label}: one-way p50, receiver spinning vs spin limit`, 'ns', ch.p50_ns, spin.p50_ns, 'lower', size === 24 ? 2.0 : undefined);
    row(`channel ${label}: one-way p99, receiver spinning vs spin limit`, 'ns', ch.p99_ns, spin.p99_ns, 'lower');
    row(`channel ${label}: one-way p50 vs Unix socket`, 'ns', ch.p50_ns, uds.p50_ns, 'lower', size === 24 ? 0.2 : undefined);
    row(`channel ${label}: one-way p50, receiver waiting vs Unix socket`, 'ns', wait.p50_ns, uds.p50_ns, 'lower');
    row(`channel ${label}: one-way p50 vs POSIX mqueue`, 'ns', ch.p50_ns, mq.p50_ns, 'lower');
    row(`channel ${label}: msgs/s vs spin limit`, 'msg/s', ch.msgs_per_s, spin.msgs_per_s, 'higher');
    row(`channel ${label}: msgs/s vs Unix socket`, 'msg/s', ch.msgs_per_s, uds.msgs_per_s, 'higher');
    row(`channel ${label}: msgs/s vs POSIX mqueue`, 'msg/s', ch.msgs_per_s, mq.msgs_per_s, 'higher');
    if (mq.error) notes.push(`POSIX message queue of ${size} bytes: ${mq.error}`);
  }
}

function controller() {
  const r = runJson(path.join(benchDir, 'kova_bench_ctr'), [String(scale)]);
  if (r.error) { failed('controller', r); return; }
  row('controller: 1 KiB CTR_SendDataToServer msgs/s vs bare TCP', 'msg/s', r.client_msgs_per_s, r.bare_msgs_per_s, 'higher', 0.8);
}

function unzzz() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kova_bench_zzz_')).replace(/\./g, '_');
  fs.mkdirSync(dir, { recursive: true });
  const r = runJson(path.join(benchDir, 'kova_bench_zzz'), [path.join(paths.hostDir, 'kova_service_host'), dir, String(scale)]);
  fs.rmSync(dir, { recursive: true, force: true });
  if (r.error) { failed('unzzz', r); return; }
  // Throughput in output bytes per second, so that "higher" reads the same as the other rows.
  row(`unzzz: ${(r.output_bytes / 1e6).toFixed(0)} MB out, file to file vs bare uncompress loop`, 'B/s',
    r.output_bytes / (r.host_ns / 1e9), r.output_bytes / (r.bare_ns / 1e9), 'higher', 0.9);
}

function md5() {
  const r = runJson(path.join(benchDir, 'kova_bench_md5'), ['--benchmark_format=json', '--benchmark_min_time=' + (quick ? '0.05' : '0.5')]);
  if (r.error) { failed('md5', r); return; }
  const speed = (name) => { const b = r.benchmarks.find((x) => x.name === name); return b ? b.bytes_per_second : NaN; };
  row('MD5 16 B vs OpenSSL', 'B/s', speed('ProjectMd5/16'), speed('OpenSslMd5/16'), 'higher');
  row('MD5 1 MiB vs OpenSSL', 'B/s', speed('ProjectMd5/1048576'), speed('OpenSslMd5/1048576'), 'higher', 0.8);
}

// Processor time of an idle screen-capture host over ten seconds, from /proc.
async function idleHost() {
  const host = path.join(paths.hostDir, 'kova_service_host');
  // screen_capture <channel suffix> <fps> <parent pid> <screen index> <excluded window count>
  const child = spawn(host, ['screen_capture', `_bench_${process.pid}`, '15', String(process.pid), '0', '0'],
    { stdio: ['pipe', 'pipe', 'pipe'] });
  let output = '';
  child.stdout.on('data', (d) => { output += d; });
  let exited = false;
  child.on('exit', () => { exited = true; });
  await new Promise((resolve) => setTimeout(resolve, 1000));
  if (exited || /cmd not find|not enough arguments/.test(output)) {
    textRow('idle screen_capture host: CPU over 10 s', 'not available', '-', '<= 1% core', 'n/a');
    notes.push(`idle host: screen_capture did not stay up: ${output.trim().split('\n').pop() || 'exited'}`);
    return;
  }
  const ticks = () => {
    const fields = fs.readFileSync(`/proc/${child.pid}/stat`, 'utf8').split(') ')[1].split(' ');
    return Number(fields[11]) + Number(fields[12]);  // utime + stime
  };
  const hz = 100;
  const before = ticks();
  const seconds = quick ? 2 : 10;
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  const used = (ticks() - before) / hz;
  child.kill('SIGTERM');
  const share = used / seconds;
  rows.push({ name: `idle screen_capture host: CPU over ${seconds} s`, text: [`${(share * 100).toFixed(2)}% core`, '-'],
    target: '<= 1% core', verdict: share <= 0.01 ? 'PASS' : 'FAIL' });
}

function print() {
  const header = ['path', 'this project', 'reference (same run)', 'ratio', 'target', 'result'];
  const lines = rows.map((r) => {
    if (r.text) return [r.name, r.text[0], r.text[1], '-', r.target, r.verdict];
    const target = r.target === undefined ? '-' : `${r.kind === 'higher' ? '>=' : '<='} ${r.target}x`;
    return [r.name, fmt(r.project, r.unit), fmt(r.reference, r.unit),
      Number.isFinite(r.ratio) ? `${r.ratio.toFixed(2)}x` : '-', target, r.verdict];
  });
  const widths = header.map((h, i) => Math.max(h.length, ...lines.map((l) => String(l[i]).length)));
  const out = (cells) => `| ${cells.map((c, i) => String(c).padEnd(widths[i])).join(' | ')} |`;
  console.log(out(header));
  console.log(`|${widths.map((w) => '-'.repeat(w + 2)).join('|')}|`);
  for (const l of lines) console.log(out(l));
  for (const n of notes) console.log(`note: ${n}`);
  const failures = rows.filter((r) => r.verdict === 'FAIL').length;
  console.log(`targets: ${rows.filter((r) => r.verdict === "PASS").length} met, ${failures} missed`);
}

async function main() {
  const started = Date.now();
  const steps = [['frames', frames], ['events and calls', eventsAndCalls], ['channels', channels],
    ['controller', controller], ['unzzz', unzzz], ['md5', md5], ['idle host', idleHost]];
  for (const [name, step] of steps) {
    process.stderr.write(`bench: ${name}...\n`);
    await step();
  }
  print();
  console.log(`(${os.cpus().length} cores, load ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}, ${((Date.now() - started) / 1000).toFixed(0)} s)`);
}

main();
