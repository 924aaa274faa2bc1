// The controller-client functions of the addon: with the controller library beside the addon they
// reach a real controller (the test server) end to end; without it every slot answers -100.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');

const addonDir = process.env.KOVA_ADDON_DIR;
const buildDir = process.env.KOVA_BUILD_DIR;
const addonFile = path.join(addonDir, 'KOVAElectronSDK.node');
// Child processes are plain node programs, not test-runner children.
const childEnv = { ...process.env };
delete childEnv.NODE_TEST_CONTEXT;

// Runs `body` (source text) in a fresh node process with `addon` loaded from `file`.
function runChild(file, body, env = {}) {
  const script = `const addon = require(${JSON.stringify(file)});\n${body}`;
  const r = spawnSync(process.execPath, ['-e', script], {
    encoding: 'utf8', timeout: 30000, env: { ...childEnv, ...env },
  });
  assert.equal(r.status, 0, `child failed: ${r.stderr}`);
  // The addon may write a loader message without a newline before the line we print.
  const last = r.stdout.trim().split('\n').pop();
  return JSON.parse(last.slice(last.indexOf('[') >= 0 ? last.indexOf('[') : last.indexOf('{')));
}

// The test controller server as a child process: events as parsed JSON lines.
class Server {
  constructor() {
    this.proc = spawn(path.join(buildDir, 'test_support', 'ctr_test_server'), [], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.events = [];
    this.waiters = [];
    this.port = new Promise((resolve) => { this.resolvePort = resolve; });
    readline.createInterface({ input: this.proc.stdout }).on('line', (line) => {
      if (line.startsWith('PORT ')) return this.resolvePort(Number(line.slice(5)));
      const event = JSON.parse(line);
      this.events.push(event);
      this.waiters = this.waiters.filter((w) => !w(event));
    });
  }
  command(line) { this.proc.stdin.write(line + '\n'); }
  // Resolves with the first event (already seen or future) that satisfies `pred`.
  waitFor(pred, what, ms = 10000) {
    const seen = this.events.find(pred);
    if (seen) return Promise.resolve(seen);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`timed out waiting for ${what}`)), ms);
      this.waiters.push((e) => { if (!pred(e)) return false; clearTimeout(timer); resolve(e); return true; });
    });
  }
  close() { this.proc.stdin.end(); }
}

test('without the controller library every slot answers -100 and bad arguments -1', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-ctr-'));
  fs.copyFileSync(addonFile, path.join(dir, 'KOVAElectronSDK.node'));
  const results = runChild(path.join(dir, 'KOVAElectronSDK.node'), `
    const f = () => {};
    console.log(JSON.stringify([
      addon.CTR_SetClientCallBack(f, f), addon.CTR_SetClientCallBack(f), addon.CTR_SetClientCallBack(f, 1),
      addon.CTR_SetClientCallBack(),
      addon.CTR_CreateClient('127.0.0.1', 5), addon.CTR_CreateClient('127.0.0.1'), addon.CTR_CreateClient(),
      addon.CTR_SendDataToServer('abc'), addon.CTR_SendDataToServer(), addon.CTR_SendDataToServer(7),
      addon.CTR_StopClient(),
    ]));`);
  assert.deepEqual(results, [-100, -1, -1, -1, -100, -1, -1, -100, -1, -100, -100]);
});

test('JavaScript reaches a controller and hears back through the bound library', async () => {
  const server = new Server();
  const port = await server.port;
  try {
    const child = spawn(process.execPath, ['-e', `
      const addon = require(${JSON.stringify(addonFile)});
      const statuses = [];
      const rl = require('readline').createInterface({ input: process.stdin });
      const say = (o) => console.log(JSON.stringify(o));
      say({ set: addon.CTR_SetClientCallBack((m) => say({ message: m }), (s) => { statuses.push(s); say({ status: s }); }) });
      say({ create: addon.CTR_CreateClient('127.0.0.1', ${port}), statusesAtReturn: statuses.slice() });
      rl.on('line', (line) => {
        const [cmd, arg] = line.split(' ');
        if (cmd === 'send') say({ sent: addon.CTR_SendDataToServer(arg === 'big' ? 'x'.repeat(5000) : arg) });
        if (cmd === 'stop') { say({ stop: addon.CTR_StopClient(), again: addon.CTR_StopClient() }); rl.close(); }
      });`], { stdio: ['pipe', 'pipe', 'inherit'], env: childEnv });
    const lines = [];
    const waiters = [];
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      if (line.indexOf('{') < 0) return;
      const o = JSON.parse(line.slice(line.indexOf('{')));
      lines.push(o);
      for (const w of waiters.splice(0)) w();
    });
    const next = async (pred, what) => {
      const deadline = Date.now() + 10000;
      for (;;) {
        const found = lines.find(pred);
        if (found) return found;
        if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
        await new Promise((r) => { waiters.push(r); setTimeout(r, 200); });
      }
    };
    const exited = new Promise((resolve) => child.on('exit', resolve));
    try {

    assert.equal((await next((o) => 'set' in o, 'set')).set, 0);
    const created = await next((o) => 'create' in o, 'create');
    assert.equal(created.create, 0);
    await next((o) => o.status === 100, 'status 100');
    // The first status, 102, is reported on the caller's thread while CTR_CreateClient runs, and
    // reaches JavaScript through the registry before 100.
    assert.deepEqual(lines.filter((o) => 'status' in o).map((o) => o.status).slice(0, 2), [102, 100]);
    const register = await server.waitFor((e) => e.event === 'frame' && e.type === 5, 'registration');
    assert.equal(register.payloadHex, '02000000');  // client type 2

    child.stdin.write('send hello\n');
    assert.equal((await next((o) => 'sent' in o, 'sent')).sent, 25);
    assert.equal((await server.waitFor((e) => e.event === 'message', 'message')).text, 'hello');

    // A 5000-byte string reaches the library as its first 4095 bytes.
    child.stdin.write('send big\n');
    const big = await server.waitFor((e) => e.event === 'message' && e.len !== 5, 'big message');
    assert.equal(big.len, 4095);

    server.command('send hi there');
    assert.equal((await next((o) => 'message' in o, 'message from server')).message, 'hi there');

    child.stdin.end('stop\n');
    const stop = await next((o) => 'stop' in o, 'stop');
    assert.deepEqual([stop.stop, stop.again], [0, -1]);
    // Stopping ends the work that kept the process alive: it exits by itself.
    assert.equal(await exited, 0);
    } finally {
      child.kill();
    }
  } finally {
    server.close();
  }
});

test('a port above 65535 is cut to 16 bits', async (t) => {
  // 70000 & 0xffff = 4464: listen there (when free) and see the client arrive.
  const listener = net.createServer();
  const connected = new Promise((resolve) => listener.on('connection', (s) => { s.destroy(); resolve(true); }));
  try {
    await new Promise((resolve, reject) => { listener.once('error', reject); listener.listen(4464, '127.0.0.1', resolve); });
  } catch (e) {
    t.skip(`port 4464 is busy on this machine (${e.code})`);
    return;
  }
  const child = spawn(process.execPath, ['-e', `
    const addon = require(${JSON.stringify(addonFile)});
    addon.CTR_SetClientCallBack(() => {}, () => {});
    console.log(addon.CTR_CreateClient('127.0.0.1', 70000));
    setTimeout(() => process.exit(0), 4000);`], { stdio: ['ignore', 'pipe', 'inherit'], env: childEnv });
  try {
    const arrived = await Promise.race([connected, new Promise((r) => setTimeout(() => r(false), 5000))]);
    assert.equal(arrived, true);
  } finally {
    child.kill();
    listener.close();
  }
});
