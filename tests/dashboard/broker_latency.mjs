// Measures the way of the retained states to the dashboard without the browser: two
// subscribers of the same broker in this process, one over plain MQTT (tcp://) and one
// over WebSockets (ws://, as the page), each timing every state from its time stamp to
// its arrival.
//   node tests/dashboard/broker_latency.mjs fuses|synthetic DEVICES [SECONDS]
// "fuses": simulated fuses published by zfusectl (10 telegrams a second each; the time
// stamp is zfusectl's, taken when the telegram's last byte was read), so the figure holds
// zfusectl's wait for the state to be due as well. "synthetic": a publisher of its own
// sends each device's status 10 times a second and its state once a second, stamped as
// it sends: the broker's part alone. With the environment the dashboard tests get from
// ctest (see CMakeLists.txt there).
import * as h from './harness.mjs';

const [kind = 'synthetic', count = '32', seconds = '30'] = process.argv.slice(2);
const devices = Number(count);
const broker = new h.Broker();
await broker.start();
const mqtt = h.require('mqtt');

const subscribers = {
  'tcp://': mqtt.connect(broker.url, { protocolVersion: 4 }),
  'ws://': mqtt.connect(`ws://127.0.0.1:${broker.ws}/mqtt`, { protocolVersion: 4 }),
};
const delays = {};
let recording = false;
for (const [name, c] of Object.entries(subscribers)) {
  delays[name] = [];
  await new Promise((resolve, reject) => {
    c.once('connect', resolve);
    c.once('error', reject);
  });
  await new Promise((resolve) => c.subscribe('zfuse/+/state', { qos: 0 }, resolve));
  c.on('message', (topic, payload, packet) => {
    const now = Date.now();
    if (!recording || packet.retain) return; // not a state kept from before this subscriber came
    delays[name].push(now - Date.parse(JSON.parse(payload.toString()).time));
  });
}

let synthetic;
if (kind === 'fuses') {
  await h.simulatedPlant(broker, devices);
  await h.sleep(5000); // every simulator and zfusectl running and connected
} else {
  synthetic = await h.syntheticPlant(broker, devices);
}
recording = true;
await h.sleep(Number(seconds) * 1000);
recording = false;

for (const [name, d] of Object.entries(delays)) {
  console.log(`${kind} ${devices}: ${name.padEnd(7)} ${d.length} states, median ${h.percentile(d, 50)} ms, p99 ${h.percentile(d, 99)} ms after their time stamp`);
}
if (synthetic) synthetic.stop();
for (const c of Object.values(subscribers)) c.end(true);
await h.stopAll();
process.exit(0);
