// The dashboard under the load of a plant: 32 simulated fuses at 10 telegrams a second,
// published by zfusectl, for a minute after a warm-up. The page's main thread stays
// mostly idle and its heap does not grow. Busy is the processor time the kernel counted
// for the page's main thread: the simulators, zfusectl and the broker share the machine
// with the browser, and the timeline's task durations count the waits for a processor
// as well (printed for comparison).
import assert from 'node:assert/strict';
import { after, test } from 'node:test';

import * as h from './harness.mjs';

after(() => h.stopAll());

test('32 fuses at 10 telegrams a second for 60 s: main thread busy at most 20 %, heap flat', async () => {
  const broker = new h.Broker();
  await broker.start();
  const ids = await h.simulatedPlant(broker, 32);
  const chrome = await h.browser();
  try {
    const page = await h.openPage(chrome, broker.page());
    assert.ok(await h.until(async () => (await page.locator('#rows tr').count()) === ids.length, 10000));
    await h.sleep(15000); // warm-up: every device with its first events and trend seconds
    const m = await h.measurePage(page, { seconds: 60, samples: 200 });
    const mb = (b) => (b / 1048576).toFixed(1);
    console.log(`busy ${(100 * m.cpuShare).toFixed(1)} % on a processor, ${(100 * m.busyShare).toFixed(1)} % in tasks, long tasks ${m.longTasks}, heap ${m.heaps.map(mb).join(' ')} MB, ` +
      `latency median ${h.percentile(m.latencies, 50)} ms p99 ${h.percentile(m.latencies, 99)} ms`);
    assert.equal(m.rows, 32);
    assert.equal(m.latencies.length, 200, 'the rows did not update');
    assert.ok(m.cpuShare <= 0.2, `main thread busy ${(100 * m.cpuShare).toFixed(1)} %`);
    // Flat: the last reading within 10 % (and 1 MB of collector slack) of the first.
    const [first, last] = [m.heaps[0], m.heaps[m.heaps.length - 1]];
    assert.ok(last <= first * 1.1 + 1048576, `heap grew from ${mb(first)} to ${mb(last)} MB`);
    assert.deepEqual(page.errors, []);
  } finally {
    await chrome.close();
  }
});
