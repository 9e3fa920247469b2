// The plant dashboard in Debian's Chromium against a real mosquitto that serves it, fed
// by zfusectl on simulated fuses (and by a publisher of the test for what no fuse sends).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';

import * as h from './harness.mjs';

let chrome;
before(async () => {
  chrome = await h.browser();
});
after(async () => {
  await chrome.close();
  await h.stopAll();
});

const formats = {
  'de-DE': (v) => `${v.toFixed(2).replace('.', ',')} A`,
  'en-GB': (v) => `${v.toFixed(2)} A`,
};

test('every fuse with its values in both languages; a trip on top at once; a killed gateway offline', async () => {
  const broker = new h.Broker();
  await broker.start();
  // What zfusectl published, by device and telegram time, to compare the rows with.
  const watcher = await h.mqttClient(broker);
  const published = new Map();
  watcher.on('message', (topic, payload) => {
    const o = JSON.parse(payload.toString());
    published.set(`${topic.split('/')[1]}@${o.time}`, o);
  });
  await new Promise((r) => watcher.subscribe('zfuse/+/status', r));

  const plant = new h.Fuses();
  const ports = [await plant.add('4ch10a'), await plant.add('2ch6a')];
  plant.publish(broker, ports, ['press-1', 'pump-2']);
  const gateway = new h.Fuses();
  const victim = gateway.publish(broker, [await gateway.add('4ch6a')], ['saw-3']);

  const pages = {};
  for (const locale of ['de-DE', 'en-GB']) pages[locale] = await h.openPage(chrome, broker.page(), { locale });
  const headers = {
    'de-DE': ['Gerät', 'online', 'Modell', 'Kanal 1', 'Kanal 2', 'Kanal 3', 'Kanal 4', 'aktuelle Eingangsspannung', 'Uin < Power Good', 'Gerätefehler', 'letztes Ereignis'],
    'en-GB': ['device', 'online', 'model', 'channel 1', 'channel 2', 'channel 3', 'channel 4', 'input voltage', 'Uin < power good', 'hardware fault', 'last event'],
  };
  for (const [locale, page] of Object.entries(pages)) {
    assert.deepEqual(await page.locator('#devices thead th').allTextContents(), headers[locale]);
    for (const [id, model, channels] of [
      ['press-1', '4ch10a', 4],
      ['pump-2', '2ch6a', 2],
      ['saw-3', '4ch6a', 4],
    ]) {
      // A row shows a device's retained state, a status message of the same telegram
      // (or, for a moment, a lamp an event lit on top of the state before).
      const differs = (row, o) => {
        if (!o) return `a telegram that was not published: ${row.time}`;
        if (row.cells[2] !== model) return `model ${row.cells[2]}`;
        for (let ch = 0; ch < 4; ++ch) {
          const cell = row.cells[3 + ch];
          const c = o.channels[ch];
          if (ch >= channels ? cell !== '–' : !(cell.startsWith(formats[locale](c.present)) && cell.includes(formats[locale](c.maximum)) && cell.includes(`${c.rated} A`))) {
            return `channel ${ch + 1}: ${cell} for ${JSON.stringify(c)}`;
          }
        }
        const volts = (v) => formats[locale](v).replace(' A', ' V');
        return row.cells[7].startsWith(volts(o.uin)) && row.cells[7].endsWith(volts(o.uin_min)) ? null : `${row.cells[7]} for ${o.uin} V, min ${o.uin_min} V`;
      };
      let last = 'no row';
      const same = await h.until(async () => {
        const row = await h.row(page, id);
        last = row ? differs(row, published.get(`${id}@${row.time}`)) : 'no row';
        return last === null;
      }, 5000);
      assert.ok(same, `${locale} ${id}: ${last}`);
    }
  }

  // The gateway of saw-3 dies: its last will makes it offline on the page.
  const killed = Date.now();
  victim.kill('SIGKILL');
  for (const page of Object.values(pages)) {
    const offline = await h.until(async () => (await h.row(page, 'saw-3')).state === 'offline', 2000, 20);
    assert.ok(offline, `saw-3 not offline ${Date.now() - killed} ms after its zfusectl was killed`);
    assert.equal((await h.row(page, 'saw-3')).cells[1], 'offline');
  }
  assert.ok(Date.now() - killed <= 2000);

  // The simulator trips channel 1 of each fuse about 18 s after its start: watch the
  // rows for it, with the age of the telegram that says so when the row shows it.
  for (const page of Object.values(pages)) {
    await page.evaluate(() => {
      window.trips = [];
      new MutationObserver((changes) => {
        const now = Date.now();
        for (const c of changes) {
          const tr = c.target;
          if (tr.dataset.state !== 'tripped' || c.oldValue === 'tripped') continue;
          window.trips.push({ id: tr.dataset.device, ms: now - Date.parse(tr.dataset.time), first: tr.parentNode.firstElementChild === tr, said: document.getElementById('announce').textContent });
        }
      }).observe(document.getElementById('rows'), { subtree: true, attributes: true, attributeFilter: ['data-state'], attributeOldValue: true });
    });
  }
  const trip = await h.until(() => pages['de-DE'].evaluate(() => window.trips[0]), 30000, 20);
  assert.ok(trip, 'no trip seen in 30 s');
  // The picture of the overview with a tripped and an offline device, in both languages.
  const shots = process.env.ZFUSE_SHOT_DIR;
  if (shots) {
    fs.mkdirSync(shots, { recursive: true });
    for (const [locale, page] of Object.entries(pages)) {
      await page.screenshot({ path: path.join(shots, `dashboard-overview-${locale.slice(0, 2)}.png`) });
    }
  }
  for (const [locale, page] of Object.entries(pages)) {
    const seen = await h.until(() => page.evaluate(() => window.trips[0]), 1000, 20);
    assert.ok(seen.ms <= 500, `${locale}: the trip of ${seen.id} showed ${seen.ms} ms after its telegram`);
    assert.ok(seen.first, `${locale}: the tripped ${seen.id} is not the first row`);
    const row = await h.row(page, seen.id);
    assert.ok(row.cells[0].includes(locale === 'de-DE' ? 'ausgelöst' : 'open circuit'), row.cells[0]);
    const said = await h.until(() => page.locator('#announce').textContent(), 1000);
    assert.match(said, locale === 'de-DE' ? /Kanal \d ausgelöst/ : /channel \d open circuit/);
    assert.deepEqual(page.foreign, [], 'requests beyond the broker');
    assert.deepEqual(page.errors, []);
    await page.context().close();
  }
  watcher.end(true);
  await h.stopAll();
});

test('odd payloads and device ids are shown as text or ignored and told; a broker restart is survived', async () => {
  const broker = new h.Broker();
  await broker.start();
  const feed = await h.mqttClient(broker);
  const page = await h.openPage(chrome, broker.page('?prefix=plant/hall-2'));
  await h.until(() => page.locator('#connection.connected').count(), 5000);
  const good = (time = new Date().toISOString()) =>
    JSON.stringify({ channels: [1, 2, 3, 4].map((channel) => ({ channel, maximum: 2.5, present: 2.25, rated: 6, tripped: false, warning: false })), hardware_fault: false, model: '4ch6a', port: 'COM1', power_good_low: false, time, type: 24, uin: 24, uin_min: 23.5 });
  const odd = ['<img src=x onerror="window.injected=1">', 'a&amp;b', '"quoted" \'single\'', 'x'.repeat(200), 'Pumpe-Süd-泵'];
  for (const id of odd) feed.publish(`plant/hall-2/${id}/state`, good(), { retain: true });
  const bad = [
    ['plant/hall-2/bad-1/state', 'not json {'],
    ['plant/hall-2/bad-2/state', '{"channels": "four"}'],
    ['plant/hall-2/bad-3/state', '[1,2,3]'],
    ['plant/hall-2/bad-4/state', JSON.stringify({ ...JSON.parse(good()), uin: 'high' })],
    ['plant/hall-2/bad-5/events', '{"event":"explosion","on":true}'],
    ['plant/hall-2/bad-6/online', 'maybe'],
    ['plant/hall-2/bad-7/state', `{"x":"${'y'.repeat(20000)}"}`],
    ['plant/hall-2/bad-8/state', '\u00ff\u00fe garbage \u0000'],
    // The field names of old, before they were all written in lower case with underscores.
    ['plant/hall-2/bad-10/state', good().replace('"uin_min"', '"uinMin"').replace('"power_good_low"', '"powerGoodLow"').replace('"hardware_fault"', '"hardwareFault"')],
  ];
  for (const [topic, payload] of bad) feed.publish(topic, payload);
  // 1 MB: the broker drops it (message_size_limit, as in the example configuration),
  // since its WebSockets side would take minutes to pass it on to the page.
  feed.publish('plant/hall-2/bad-9/state', `{"x":"${'y'.repeat(1024 * 1024)}"}`);
  feed.publish('plant/hall-2/gone/state', good(), { retain: true });
  feed.publish('plant/hall-2/gone/online', 'true', { retain: true });

  const ids = async () => page.evaluate(() => [...document.querySelectorAll('#rows tr')].map((r) => r.dataset.device));
  assert.ok(await h.until(async () => (await ids()).length === odd.length + 1, 5000), `rows: ${await ids()}`);
  assert.deepEqual(new Set(await ids()), new Set([...odd, 'gone']));
  // Written as text, letter for letter; nothing inserted as markup.
  const links = await page.locator('#rows .device-link').allTextContents();
  for (const id of odd) assert.ok(links.includes(id), `${JSON.stringify(id.slice(0, 40))} is not shown as it is`);
  assert.equal(await page.locator('#rows img').count(), 0);
  assert.equal(await page.evaluate(() => window.injected), undefined);
  await page.locator('#diagnostics summary').click();
  // The count and the list are drawn on the page's next frames after the panel opens.
  const reasons = ['not JSON', 'JSON without the expected fields', 'too large (', 'neither true nor false'];
  const told = await h.until(async () => {
    const text = await page.locator('#diagnostics').textContent();
    return text.includes(`${bad.length} messages ignored`) && reasons.every((r) => text.includes(r)) && text;
  }, 3000);
  const shown = told || (await page.locator('#diagnostics').textContent());
  for (const reason of reasons) assert.ok(shown.includes(reason), `diagnostics do not say ${reason}: ${shown}`);
  assert.ok(shown.includes(`${bad.length} messages ignored`), shown);

  // A device whose retained state is cleared leaves the page.
  feed.publish('plant/hall-2/gone/state', '', { retain: true });
  assert.ok(await h.until(async () => !(await ids()).includes('gone'), 3000));

  // The filter keeps what matches.
  await page.locator('#filter').fill('süd');
  assert.deepEqual(await h.until(async () => ((await ids()).length === 1 ? ids() : null), 2000), ['Pumpe-Süd-泵']);
  await page.locator('#filter').fill('');

  // The broker restarts: the page connects again by itself and shows new telegrams.
  feed.end(true);
  await broker.kill();
  assert.ok(await h.until(() => page.locator('#connection.reconnecting').count(), 5000));
  await broker.start();
  assert.ok(await h.until(() => page.locator('#connection.connected').count(), 10000), 'not connected again');
  const again = await h.mqttClient(broker);
  const time = new Date(Date.now() + 1000).toISOString();
  again.publish(`plant/hall-2/${odd[4]}/state`, good(time));
  assert.ok(await h.until(async () => (await h.row(page, odd[4])).time === time, 3000));
  again.end(true);
  assert.deepEqual(page.errors, []);
  assert.deepEqual(page.foreign, []);
  await page.context().close();
  await h.stopAll();
});

test('a broker that wants a password: a form, a clear refusal, no storm of attempts', async () => {
  const broker = new h.Broker({ users: { 'control-room': 'right horse', 'gateway-7': 'battery' } });
  await broker.start();
  const feed = await h.mqttClient(broker, { username: 'gateway-7', password: 'battery' });
  feed.publish('zfuse/locked-1/online', 'true', { qos: 1, retain: true });
  const page = await h.openPage(chrome, broker.page(), { locale: 'en-GB' });
  await page.locator('#login').waitFor({ state: 'visible', timeout: 5000 });
  assert.equal(await page.locator('#login-message').textContent(), 'The broker asks for a user name and password.');

  await page.locator('#username').fill('control-room');
  await page.locator('#password').fill('wrong');
  const socketsBefore = page.sockets;
  await page.locator('#login button').click();
  assert.ok(await h.until(async () => (await page.locator('#login-message').textContent()).startsWith('Wrong user name or password'), 5000));
  await h.sleep(5000); // the page would have tried twice more by now with automatic retries
  assert.equal(page.sockets - socketsBefore, 1, 'the page tried the refused login again by itself');

  await page.locator('#password').fill('right horse');
  await page.locator('#login button').click();
  assert.ok(await h.until(() => h.row(page, 'locked-1'), 5000), 'no device after the right password');
  assert.ok(await page.locator('#login').isHidden());
  // Kept for the tab's session only: a reload logs in again without the form.
  await page.reload();
  assert.ok(await h.until(() => h.row(page, 'locked-1'), 5000));
  assert.deepEqual(page.foreign, []);
  feed.end(true);
  await page.context().close();
  await h.stopAll();
});
