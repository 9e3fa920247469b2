// Measures the dashboard in Chromium: telegram → row latency (median, p99 over 200 row
// updates), the main thread's busy share and the heap, for a plant of simulated fuses
// published by zfusectl ("fuses") or of devices from a publisher of our own ("synthetic").
//   node tests/dashboard/measure.mjs fuses|synthetic DEVICES [SECONDS]
// with the environment the dashboard tests get from ctest (see CMakeLists.txt there);
// ZFUSE_PROFILE=1 prints where the page spent its processor time first; ZFUSE_ARRIVAL=1
// also times the retained states from their telegram to their arrival on the page's
// WebSocket, before the page's own work.
import * as h from './harness.mjs';

const [kind = 'synthetic', count = '32', seconds = '60'] = process.argv.slice(2);
const broker = new h.Broker();
await broker.start();
let synthetic;
if (kind === 'fuses') await h.simulatedPlant(broker, Number(count));
else synthetic = await h.syntheticPlant(broker, Number(count));
const chrome = await h.browser();
// Every frame the page's WebSocket receives, searched for states and their time stamps
// (a frame may carry several messages).
function timeArrivals() {
  const Native = window.WebSocket;
  const decoder = new TextDecoder();
  window.zfuseArrivals = [];
  window.WebSocket = class extends Native {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', (ev) => {
        const now = Date.now();
        if (!window.zfuseRecording || !(ev.data instanceof ArrayBuffer)) return;
        for (const m of decoder.decode(ev.data).matchAll(/\/state\{[^]*?"time":"([^"]+)"/g)) {
          if (window.zfuseArrivals.length < 2000) window.zfuseArrivals.push(now - Date.parse(m[1]));
        }
      });
    }
  };
}
const arrival = Boolean(process.env.ZFUSE_ARRIVAL);
const page = await h.openPage(chrome, broker.page(), arrival ? { init: timeArrivals } : {});
await h.until(async () => (await page.locator('#rows tr').count()) === Number(count), 15000);
await h.sleep(10000);
if (process.env.ZFUSE_PROFILE) {
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Profiler.enable');
  await cdp.send('Profiler.start');
  await h.sleep(10000);
  const { profile } = await cdp.send('Profiler.stop');
  const self = new Map();
  const byId = new Map(profile.nodes.map((n) => [n.id, n]));
  const dt = profile.timeDeltas;
  profile.samples.forEach((id, i) => {
    const n = byId.get(id);
    const key = `${n.callFrame.functionName || '(anon)'} ${n.callFrame.url.split('/').pop()}:${n.callFrame.lineNumber}`;
    self.set(key, (self.get(key) || 0) + (dt[i] || 0) / 1000);
  });
  console.log([...self.entries()].sort((a, b) => b[1] - a[1]).slice(0, 25).map(([k, v]) => `${v.toFixed(0).padStart(7)} ms ${k}`).join('\n'));
}
if (arrival) await page.evaluate(() => { window.zfuseRecording = true; });
const m = await h.measurePage(page, { seconds: Number(seconds), samples: 200 });
const mb = (b) => (b / 1048576).toFixed(1);
const share = (p) => `${((100 * m.spent[p]) / m.wall).toFixed(1)} %`;
console.log(`tasks: script ${share('ScriptDuration')}, style ${share('RecalcStyleDuration')}, layout ${share('LayoutDuration')} of the time; ${(m.spent.LayoutCount / m.wall).toFixed(1)} layouts a second`);
if (arrival) {
  const a = await page.evaluate(() => window.zfuseArrivals);
  console.log(`states on the page's WebSocket: median ${h.percentile(a, 50)} ms, p99 ${h.percentile(a, 99)} ms after their telegram (${a.length} states)`);
}
console.log(`${kind} ${count} devices, ${seconds} s: latency median ${h.percentile(m.latencies, 50)} ms, p99 ${h.percentile(m.latencies, 99)} ms (${m.latencies.length} row updates); ` +
  `main thread busy ${(100 * m.busyShare).toFixed(1)} % of the time (tasks), ${(100 * m.cpuShare).toFixed(1)} % on a processor, ${m.longTasks} long tasks; heap after GC ${m.heaps.map(mb).join(' → ')} MB`);
if (synthetic) synthetic.stop();
await chrome.close();
await h.stopAll();
process.exit(0);
