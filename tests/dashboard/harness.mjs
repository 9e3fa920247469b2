// What the dashboard's browser tests and its measurement stand on: a mosquitto broker of
// their own (plain MQTT and a WebSockets listener that serves the built page), simulated
// fuses with zfusectl publishing them, and Debian's Chromium driven by playwright-core.
// Everything listens on the loopback address and ends with the test.
import { spawn, execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const need = (name) => {
  const v = process.env[name];
  if (!v) throw new Error(`${name} is not set (the test is started by ctest)`);
  return v;
};
export const paths = {
  page: () => need('ZFUSE_DASHBOARD_DIR'),
  modules: () => need('ZFUSE_NODE_MODULES'),
  zfusectl: () => need('ZFUSECTL_BINARY'),
  sim: () => need('ZFUSE_SIM_BINARY'),
};
export const require = createRequire(path.join(process.env.ZFUSE_NODE_MODULES || '.', 'x.js'));

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export async function until(what, ms, step = 50) {
  const end = Date.now() + ms;
  for (;;) {
    const v = await what();
    if (v) return v;
    if (Date.now() > end) return v;
    await sleep(step);
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

function listening(port) {
  return new Promise((resolve) => {
    const c = net.connect(port, '127.0.0.1');
    c.once('connect', () => {
      c.destroy();
      resolve(true);
    });
    c.once('error', () => resolve(false));
  });
}

const children = new Set();
const folders = [];
const clients = new Set();
export function track(child) {
  children.add(child);
  child.once('exit', () => children.delete(child));
  return child;
}
// Ends every program the test started with SIGTERM, so that zfusectl closes its ports and
// removes their lock files as in service; one that has not ended after 5 s is killed.
export async function stopAll() {
  for (const c of clients) c.end(true);
  clients.clear();
  const running = [...children];
  await Promise.all(
    running.map(
      (c) =>
        new Promise((resolve) => {
          if (c.exitCode !== null || c.signalCode !== null) return resolve();
          const timer = setTimeout(() => c.kill('SIGKILL'), 5000);
          c.once('exit', () => {
            clearTimeout(timer);
            resolve();
          });
          c.kill('SIGTERM');
        }),
    ),
  );
}
process.on('exit', () => {
  for (const c of children) c.kill('SIGKILL');
  for (const f of folders) fs.rmSync(f, { recursive: true, force: true });
});

export function tempDir(name) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), `zfuse-${name}-`));
  folders.push(dir);
  return dir;
}

// A broker: plain MQTT on `tcp`, the page and MQTT over WebSockets on `ws`.
export class Broker {
  constructor({ users } = {}) {
    this.dir = tempDir('broker');
    this.users = users;
  }

  async start() {
    if (!this.tcp) {
      this.tcp = await freePort();
      this.ws = await freePort();
      const lines = [
        `listener ${this.tcp} 127.0.0.1`,
        `listener ${this.ws} 127.0.0.1`,
        'protocol websockets',
        `http_dir ${paths.page()}`,
        'log_type error',
        'log_type warning',
        'persistence false',
        'message_size_limit 65536',
      ];
      if (process.getuid && process.getuid() === 0) lines.push('user root');
      if (this.users) {
        const file = path.join(this.dir, 'passwd');
        for (const [i, [user, password]] of Object.entries(this.users).entries()) {
          execFileSync('mosquitto_passwd', [...(i === 0 ? ['-c'] : []), '-b', file, user, password]);
        }
        lines.push('allow_anonymous false', `password_file ${file}`);
      } else {
        lines.push('allow_anonymous true');
      }
      fs.writeFileSync(path.join(this.dir, 'mosquitto.conf'), `${lines.join('\n')}\n`);
    }
    this.process = track(spawn('mosquitto', ['-c', path.join(this.dir, 'mosquitto.conf')], { stdio: ['ignore', 'ignore', 'inherit'] }));
    if (!(await until(async () => (await listening(this.tcp)) && (await listening(this.ws)), 5000))) {
      throw new Error('the broker did not start');
    }
  }

  async kill() {
    const p = this.process;
    if (!p || p.exitCode !== null) return;
    const gone = new Promise((r) => p.once('exit', r));
    p.kill('SIGKILL');
    await gone;
  }

  get url() {
    return `mqtt://127.0.0.1:${this.tcp}`;
  }
  page(query = '') {
    return `http://127.0.0.1:${this.ws}/index.html${query}`;
  }
}

// Simulated fuses on COM1 ... COM11 of a port folder of their own, each a zfuse-sim.
export class Fuses {
  constructor() {
    this.config = tempDir('ports');
    this.sims = [];
  }

  env() {
    return { ...process.env, XDG_CONFIG_HOME: this.config };
  }

  async add(model, options = []) {
    const com = `COM${this.sims.length + 1}`;
    const p = track(spawn(paths.sim(), ['--model', model, '--link', com, ...options], { env: this.env(), stdio: ['pipe', 'pipe', 'inherit'] }));
    let out = '';
    p.stdout.on('data', (b) => {
      if (out.length < 4096) out += b;
    });
    if (!(await until(() => out.includes(' -> '), 5000))) throw new Error(`zfuse-sim ${com} did not start`);
    this.sims.push({ com, process: p });
    return com;
  }

  // zfusectl publishing the ports given, with their device ids.
  publish(broker, ports, ids, extra = []) {
    const args = ['status', '--mqtt', broker.url, ...extra];
    ports.forEach((com, i) => args.push('--port', com, '--device-id', ids[i]));
    return track(spawn(paths.zfusectl(), args, { env: this.env(), stdio: ['ignore', 'ignore', 'pipe'] }));
  }
}

// A plain MQTT client of the node side, for feeding and watching the broker.
export async function mqttClient(broker, options = {}) {
  const mqtt = require('mqtt');
  const c = mqtt.connect(broker.url, { protocolVersion: 4, reconnectPeriod: 500, ...options });
  clients.add(c);
  await new Promise((resolve, reject) => {
    c.once('connect', resolve);
    c.once('error', reject);
  });
  return c;
}

// Each Chromium carries a switch of its own (which it ignores) to find its processes by.
let launched = 0;
export async function browser() {
  const { chromium } = require('playwright-core');
  const marker = `--zfuse-test=${process.pid}-${++launched}`;
  const b = await chromium.launch({
    executablePath: process.env.ZFUSE_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [marker, '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
  });
  b.marker = marker;
  return b;
}

// Processor seconds the main threads of a browser's pages have used: the renderers are
// the processes under the one started with the browser's marker.
function pageMainThreadSeconds(marker) {
  const stat = (p) => {
    try {
      const text = fs.readFileSync(p, 'utf8');
      const fields = text.slice(text.lastIndexOf(')') + 2).split(' ');
      return { comm: text.slice(text.indexOf('(') + 1, text.lastIndexOf(')')), ppid: Number(fields[1]), cpu: Number(fields[11]) + Number(fields[12]) };
    } catch {
      return null;
    }
  };
  const cmdline = (pid) => {
    try {
      return fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
    } catch {
      return '';
    }
  };
  const ours = (pid) => {
    for (let i = 0, p = pid; i < 4 && p > 1; ++i) {
      if (cmdline(p).includes(marker)) return true;
      const s = stat(`/proc/${p}/stat`);
      if (!s) return false;
      p = s.ppid;
    }
    return false;
  };
  let ticks = 0;
  for (const pid of fs.readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    if (!cmdline(pid).includes('--type=renderer') || !ours(pid)) continue;
    // The main thread is the process's first thread.
    const s = stat(`/proc/${pid}/task/${pid}/stat`);
    if (s) ticks += s.cpu;
  }
  return ticks / 100; // clock ticks of 10 ms
}

// A page of the dashboard in `locale`, with every request that is not the broker's
// recorded (the page must need nothing else) and every page error collected.
export async function openPage(chrome, url, { locale = 'en-GB', width = 1400, height = 900, init } = {}) {
  const context = await chrome.newContext({ locale, viewport: { width, height } });
  const page = await context.newPage();
  if (init) await page.addInitScript(init);
  const own = new URL(url).host;
  page.foreign = [];
  page.errors = [];
  page.sockets = 0;
  page.on('request', (r) => {
    const u = new URL(r.url());
    if (!['blob:', 'data:'].includes(u.protocol) && u.host !== own) page.foreign.push(r.url());
  });
  page.on('websocket', () => {
    page.sockets += 1;
  });
  // Uncaught exceptions; a refused or lost WebSocket is only a console message.
  page.on('pageerror', (e) => page.errors.push(String(e)));
  await page.goto(url);
  return page;
}

// The texts of one overview row, read at one moment with the time of its telegram.
export function row(page, id) {
  return page.evaluate((wanted) => {
    const tr = [...document.querySelectorAll('#rows tr')].find((r) => r.dataset.device === wanted);
    if (!tr) return null;
    const cells = [...tr.children].map((c) => c.textContent);
    return { time: tr.dataset.time, state: tr.dataset.state, cells, index: [...tr.parentNode.children].indexOf(tr) };
  }, id);
}

// N simulated fuses (4ch10a and 2ch6a in turn) published by one zfusectl per eleven
// ports, device ids fuse-01 ...; what it started, to be ended with stopAll().
export async function simulatedPlant(broker, count) {
  const ids = [];
  for (let first = 0; first < count; first += 11) {
    const fuses = new Fuses();
    const ports = [];
    const group = [];
    for (let i = first; i < Math.min(count, first + 11); ++i) {
      ports.push(await fuses.add(i % 2 ? '2ch6a' : '4ch10a'));
      group.push(`fuse-${String(i + 1).padStart(2, '0')}`);
    }
    fuses.publish(broker, ports, group);
    ids.push(...group);
  }
  return ids;
}

// A publisher of our own standing in for many gateways: `count` devices, each a status
// message every 100 ms (spread evenly), its retained state once a second, online.
export async function syntheticPlant(broker, count, prefix = 'zfuse') {
  const c = await mqttClient(broker);
  const ids = Array.from({ length: count }, (_, i) => `dev-${String(i + 1).padStart(3, '0')}`);
  for (const id of ids) c.publish(`${prefix}/${id}/online`, 'true', { qos: 1, retain: true });
  let tick = 0;
  const timer = setInterval(() => {
    const now = Date.now();
    // 5 ms a tick, 20 ticks a telegram interval: a twentieth of the devices each tick.
    for (let i = tick % 20; i < count; i += 20) {
      const phase = (now / 1000 + i) % 12;
      const channels = [1, 2, 3, 4].map((ch) => {
        const present = Math.round((3 + 6 * Math.abs(Math.sin(phase + ch))) * 100) / 100;
        return { channel: ch, maximum: 9.5, present, rated: 10, tripped: false, warning: present >= 9 };
      });
      const o = { channels, hardware_fault: false, model: '4ch10a', port: 'COM1', power_good_low: false, time: new Date(now).toISOString(), type: 23, uin: 24.01, uin_min: 23.9 };
      const payload = JSON.stringify(o);
      c.publish(`${prefix}/${ids[i]}/status`, payload);
      if (tick % 200 === i % 200) c.publish(`${prefix}/${ids[i]}/state`, payload, { retain: true });
    }
    tick += 1;
  }, 5);
  return {
    ids,
    stop: () => {
      clearInterval(timer);
      c.end(true);
    },
  };
}

// The page's main thread and heap while it runs for `seconds`: busy is the share of the
// wall time spent in tasks (Chromium's TaskDuration: on a loaded machine it counts the
// time the thread waited for a processor too), cpu the share it spent on a processor
// (the kernel's count for the renderer's main thread), the heap is read after a garbage
// collection every `heapEvery` seconds; latencies are telegram time → row updated, in ms,
// for the first `samples` row updates.
export async function measurePage(page, { seconds, heapEvery = 15, samples = 200 }) {
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Performance.enable');
  const metric = async (name) => (await cdp.send('Performance.getMetrics')).metrics.find((m) => m.name === name).value;
  const heap = async () => {
    await cdp.send('HeapProfiler.collectGarbage');
    return metric('JSHeapUsedSize');
  };
  await page.evaluate((wanted) => {
    window.zfuseLatencies = [];
    window.zfuseLongTasks = 0;
    new PerformanceObserver((list) => {
      window.zfuseLongTasks += list.getEntries().length;
    }).observe({ type: 'longtask' });
    new MutationObserver((changes) => {
      const now = Date.now();
      for (const c of changes) {
        if (!window.zfuseTiming || window.zfuseLatencies.length >= wanted) return;
        window.zfuseLatencies.push(now - Date.parse(c.target.dataset.time));
      }
    }).observe(document.getElementById('rows'), { subtree: true, attributes: true, attributeFilter: ['data-time'] });
  }, samples);
  const heaps = [await heap()];
  // The row updates are timed from here: the forced collection above holds up the page's
  // thread, and the rows it delays would stand for the page's own work.
  await page.evaluate(() => {
    window.zfuseTiming = true;
  });
  const busy0 = await metric('TaskDuration');
  // Where the tasks' time went, and how many frames laid out the page.
  const parts = ['ScriptDuration', 'RecalcStyleDuration', 'LayoutDuration', 'LayoutCount'];
  const parts0 = await Promise.all(parts.map(metric));
  const marker = page.context().browser().marker;
  const cpu0 = pageMainThreadSeconds(marker);
  const t0 = Date.now();
  while (Date.now() - t0 < seconds * 1000) {
    await sleep(Math.min(heapEvery * 1000, seconds * 1000 - (Date.now() - t0)));
    heaps.push(await heap());
  }
  const busy = (await metric('TaskDuration')) - busy0;
  const spent = Object.fromEntries(await Promise.all(parts.map(async (p, i) => [p, (await metric(p)) - parts0[i]])));
  const cpu = pageMainThreadSeconds(marker) - cpu0;
  const wall = (Date.now() - t0) / 1000;
  const { latencies, longTasks } = await page.evaluate(() => ({ latencies: window.zfuseLatencies, longTasks: window.zfuseLongTasks }));
  return { busyShare: busy / wall, cpuShare: cpu / wall, spent, wall, heaps, latencies, longTasks, rows: await page.locator('#rows tr').count() };
}

export function percentile(values, p) {
  const s = [...values].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))];
}
