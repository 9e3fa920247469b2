// The plant dashboard: subscribes to every fuse under one topic prefix on the broker that
// serves this page (their retained state and online state, and their events), and shows them in one table (the tripped ones first) and, one at a
// time, on a device page with its trend and events.
//
// Everything that arrives is outside text: it is checked for size and shape before it is
// used and only ever written with textContent, never as markup. What is ignored is
// counted in the diagnostics panel.
'use strict';

(() => {
  // Bounds on what the broker can make the page keep.
  const MAX_PAYLOAD = 16384; // bytes; a status object is about 600
  const MAX_DEVICES = 2000;
  const MAX_ID_SHOWN = 300; // characters of a device id written on the page
  const HISTORY_SECONDS = 600; // the device page's trend
  const EVENTS_KEPT = 100; // per device
  const DIAGNOSTICS_KEPT = 30;
  const RECONNECT_MS = 2000;
  // The table is drawn at most ten times a second, and less often when a drawing takes
  // long: each costs the browser some milliseconds whatever it changes (style, layout,
  // paint of the page), and a plant sends a state per device and second. Drawings take at
  // most a tenth of the time, and come at least four times a second: on a machine busy
  // with other work, drawing more often only delays the messages behind the drawings.
  const FRAME_MS = 100;
  const SLOWEST_FRAME_MS = 250;
  const DRAWING_SHARE = 0.1;
  const ORDER_MS = 1000;
  const LAMPS = ['warning', 'tripped'];
  const CHANNEL_COLOURS = ['#1f5fbf', '#1a8c2e', '#8e3cb0', '#b05a10'];
  const VOLTAGE_COLOUR = '#404040';
  // Ranks in the overview: tripped, then warning, then offline, then the rest.
  const RANKS = ['tripped', 'warning', 'offline', 'ok'];
  const RANK_TEXT = {
    tripped: 'stateTripped',
    warning: 'stateWarning',
    offline: 'stateOffline',
    ok: 'stateOk',
  };
  const EVENT_TEXT = {
    warning: 'eventWarning',
    trip: 'eventTrip',
    power_good_low: 'eventPowerGoodLow',
    hardware_fault: 'eventHardwareFault',
    connection_lost: 'eventConnectionLost',
    connection_back: 'eventConnectionBack',
  };

  const params = new URLSearchParams(location.search);
  const prefix = topicPrefix(params.get('prefix'));
  const decoder = new TextDecoder('utf-8', { fatal: false });
  const $ = (id) => document.getElementById(id);

  let lang = chooseLanguage();
  const devices = new Map(); // id -> device
  const diagnostics = { count: 0, recent: [] };
  let client = null;
  let filterText = '';
  let shownDevice = null; // the id the device page shows, or null for the overview
  let orderDirty = true;
  let orderUrgent = true;
  let lastOrder = 0;
  let orderTimer = 0;
  let countsDirty = true;
  let agesDirty = false;
  let diagnosticsDirty = true;
  let trendDirty = false;
  let renderQueued = false;
  // The devices whose rows have to be drawn again: a frame draws only those.
  const dirtyRows = new Set();
  let announcements = [];

  // ---- texts -------------------------------------------------------------------------

  function chooseLanguage() {
    const asked = params.get('lang') || sessionStorage.getItem('zfuse-language');
    if (asked === 'de' || asked === 'en') return asked;
    const wanted = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language || 'en'];
    for (const l of wanted) {
      const base = String(l).toLowerCase().slice(0, 2);
      if (base === 'de' || base === 'en') return base;
    }
    return 'en';
  }

  function t(key, values) {
    let text = ZFUSE_TEXTS[lang][key];
    if (values) for (const [k, v] of Object.entries(values)) text = text.split(`{${k}}`).join(String(v));
    return text;
  }

  function topicPrefix(asked) {
    // One or more topic levels without wildcards; anything else falls back to the default.
    if (!asked || asked.length > 200 || /[#+\u0000]/.test(asked) || asked.startsWith('/') || asked.endsWith('/')) {
      return 'zfuse';
    }
    return asked;
  }

  function shownId(id) {
    return id.length > MAX_ID_SHOWN ? `${id.slice(0, MAX_ID_SHOWN)}…` : id;
  }

  // Number formats are costly to make: one per language and number of decimals.
  const formats = new Map();
  function number(v, digits) {
    const key = `${lang}${digits}`;
    let f = formats.get(key);
    if (!f) {
      f = new Intl.NumberFormat(lang === 'de' ? 'de-DE' : 'en-GB', { minimumFractionDigits: digits, maximumFractionDigits: digits });
      formats.set(key, f);
    }
    return f.format(v);
  }
  const amperes = (v) => `${number(v, 2)} A`;
  const volts = (v) => `${number(v, 2)} V`;

  function age(ms) {
    const s = Math.max(0, Math.floor(ms / 1000));
    if (s < 120) return t('ageSeconds', { n: s });
    if (s < 7200) return t('ageMinutes', { n: Math.floor(s / 60) });
    return t('ageHours', { n: Math.floor(s / 3600) });
  }

  function eventText(e) {
    return t(EVENT_TEXT[e.event], { n: e.channel ?? '' });
  }

  function clock(ms) {
    const d = new Date(ms);
    const p = (n, w = 2) => String(n).padStart(w, '0');
    return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}.${p(d.getMilliseconds(), 3)}`;
  }

  // ---- what arrives ------------------------------------------------------------------

  const isNumber = (v) => typeof v === 'number' && Number.isFinite(v);
  const numberOrNull = (v) => v === null || isNumber(v);
  const flagOrNull = (v) => v === null || typeof v === 'boolean';

  // A status object as zfusectl publishes it, or null when it is of another shape.
  function reading(o) {
    if (!o || typeof o !== 'object' || Array.isArray(o)) return null;
    if (!Array.isArray(o.channels) || o.channels.length < 1 || o.channels.length > 4) return null;
    const channels = [];
    for (const c of o.channels) {
      if (!c || typeof c !== 'object') return null;
      if (!numberOrNull(c.present) || !numberOrNull(c.maximum) || !numberOrNull(c.rated)) return null;
      if (!flagOrNull(c.warning) || !flagOrNull(c.tripped)) return null;
      channels.push({
        present: c.present,
        maximum: c.maximum,
        rated: c.rated,
        warning: c.warning,
        tripped: c.tripped,
      });
    }
    if (!isNumber(o.uin) || !isNumber(o.uin_min)) return null;
    if (typeof o.power_good_low !== 'boolean' || typeof o.hardware_fault !== 'boolean') return null;
    if (typeof o.time !== 'string' || o.time.length > 64) return null;
    const timeMs = Date.parse(o.time);
    if (!Number.isFinite(timeMs)) return null;
    const text = (v) => (typeof v === 'string' ? v.slice(0, 100) : '');
    return {
      time: o.time,
      timeMs,
      port: text(o.port),
      model: text(o.model),
      channels,
      uin: o.uin,
      uin_min: o.uin_min,
      power_good_low: o.power_good_low,
      hardware_fault: o.hardware_fault,
    };
  }

  function event(o) {
    if (!o || typeof o !== 'object' || Array.isArray(o)) return null;
    if (!Object.hasOwn(EVENT_TEXT, o.event) || typeof o.on !== 'boolean') return null;
    const lamp = o.event === 'warning' || o.event === 'trip';
    if (lamp ? !(Number.isInteger(o.channel) && o.channel >= 1 && o.channel <= 4) : o.channel != null) return null;
    if (typeof o.time !== 'string' || o.time.length > 64) return null;
    const timeMs = Date.parse(o.time);
    if (!Number.isFinite(timeMs)) return null;
    return { event: o.event, channel: lamp ? o.channel : null, on: o.on, time: o.time, timeMs };
  }

  function ignore(topic, reason, values) {
    diagnostics.count += 1;
    diagnostics.recent.unshift({ at: Date.now(), topic: topic.length > 160 ? `${topic.slice(0, 160)}…` : topic, reason, values });
    if (diagnostics.recent.length > DIAGNOSTICS_KEPT) diagnostics.recent.length = DIAGNOSTICS_KEPT;
    diagnosticsDirty = true;
    schedule();
  }

  function device(id, topic) {
    let d = devices.get(id);
    if (d) return d;
    if (devices.size >= MAX_DEVICES) {
      ignore(topic, 'reasonTooMany');
      return null;
    }
    d = {
      id,
      online: null,
      reading: null,
      lastEvent: null,
      events: [], // newest first
      history: { second: new Float64Array(HISTORY_SECONDS).fill(-1), values: new Float32Array(HISTORY_SECONDS * 5) },
      rank: 'offline',
      row: null,
    };
    devices.set(id, d);
    orderDirty = true;
    countsDirty = true;
    return d;
  }

  function remove(id, topic) {
    const d = devices.get(id);
    if (!d) return;
    if (d.row) d.row.tr.remove();
    devices.delete(id);
    dirtyRows.delete(d);
    orderUrgent = true;
    ignore(topic, 'reasonRemoved');
    orderDirty = true;
    countsDirty = true;
    if (shownDevice === id) trendDirty = true;
  }

  function rankOf(d) {
    if (d.online === false || !d.reading) return 'offline';
    if (d.reading.channels.some((c) => c.tripped)) return 'tripped';
    if (d.reading.channels.some((c) => c.warning)) return 'warning';
    return 'ok';
  }

  // Per second of the last ten minutes: the highest current of each channel in % of its
  // rated current (NaN when off) and the lowest input voltage.
  function record(d, r) {
    const second = Math.floor(r.timeMs / 1000);
    const slot = ((second % HISTORY_SECONDS) + HISTORY_SECONDS) % HISTORY_SECONDS;
    const h = d.history;
    const v = h.values;
    const base = slot * 5;
    const fresh = h.second[slot] !== second;
    h.second[slot] = second;
    for (let ch = 0; ch < 4; ++ch) {
      const c = r.channels[ch];
      const pct = c && c.present !== null && c.rated ? (100 * c.present) / c.rated : Number.NaN;
      v[base + ch] = fresh || Number.isNaN(v[base + ch]) ? pct : Math.max(v[base + ch], pct);
    }
    v[base + 4] = fresh ? r.uin : Math.min(v[base + 4], r.uin);
  }

  function onReading(d, r, retained) {
    if (d.reading && r.timeMs < d.reading.timeMs) return; // the retained state behind a live one
    const before = d.reading;
    d.reading = r;
    record(d, r);
    if (before && !retained) {
      r.channels.forEach((c, i) => {
        // A hidden tab draws nothing: what it would say is kept for a few trips only.
        if (c.tripped && !(before.channels[i] && before.channels[i].tripped) && announcements.length < 5) {
          announcements.push(() => t('announceTrip', { id: shownId(d.id), n: i + 1 }));
        }
      });
    }
    touched(d);
  }

  // The lamp an event tells of, as a reading: the retained state comes at most once a
  // second, the event at once. The device's own lamps are named as their events.
  const EVENT_FLAGS = { warning: 'warning', trip: 'tripped', power_good_low: 'power_good_low', hardware_fault: 'hardware_fault' };

  function onEvent(d, e) {
    d.lastEvent = e;
    d.events.unshift(e);
    if (d.events.length > EVENTS_KEPT) d.events.length = EVENTS_KEPT;
    const r = d.reading;
    const flag = EVENT_FLAGS[e.event];
    if (r && flag && e.timeMs >= r.timeMs) {
      const next = { ...r, time: e.time, timeMs: e.timeMs, channels: r.channels.map((c) => ({ ...c })) };
      if (e.channel === null) next[flag] = e.on;
      else if (next.channels[e.channel - 1] && next.channels[e.channel - 1][flag] !== null) next.channels[e.channel - 1][flag] = e.on;
      onReading(d, next, false);
      return;
    }
    touched(d);
  }

  function touched(d) {
    dirtyRows.add(d);
    const rank = rankOf(d);
    if (rank !== d.rank) {
      // A trip goes to the top at once; other moves wait for the next reordering.
      if (rank === 'tripped' || !d.row) orderUrgent = true;
      d.rank = rank;
      orderDirty = true;
      countsDirty = true;
    }
    if (shownDevice === d.id) trendDirty = true;
    schedule();
  }

  function onMessage(topic, payload, packet) {
    if (!topic.startsWith(`${prefix}/`)) return ignore(topic, 'reasonTopic');
    const rest = topic.slice(prefix.length + 1);
    const slash = rest.indexOf('/');
    if (slash <= 0 || rest.indexOf('/', slash + 1) !== -1) return ignore(topic, 'reasonTopic');
    const id = rest.slice(0, slash);
    const leaf = rest.slice(slash + 1);
    if (!['state', 'status', 'online', 'events'].includes(leaf)) return ignore(topic, 'reasonTopic');
    if (payload.length > MAX_PAYLOAD) return ignore(topic, 'reasonTooLarge', { n: payload.length });
    if (payload.length === 0) {
      // A retained state or online state cleared: the device is gone from the plant.
      if (leaf === 'state' || leaf === 'online') remove(id, topic);
      return undefined;
    }
    const text = decoder.decode(payload);
    if (leaf === 'online') {
      if (text !== 'true' && text !== 'false') return ignore(topic, 'reasonOnline');
      const d = device(id, topic);
      if (!d) return undefined;
      d.online = text === 'true';
      touched(d);
      return undefined;
    }
    let o;
    try {
      o = JSON.parse(text);
    } catch {
      return ignore(topic, 'reasonNotJson');
    }
    if (leaf === 'events') {
      const e = event(o);
      if (!e) return ignore(topic, 'reasonShape');
      const d = device(id, topic);
      if (d) onEvent(d, e);
      return undefined;
    }
    const r = reading(o);
    if (!r) return ignore(topic, 'reasonShape');
    const d = device(id, topic);
    if (d) onReading(d, r, Boolean(packet && packet.retain));
    return undefined;
  }

  // ---- the overview ------------------------------------------------------------------

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // Writes text only when it changed: most telegrams change a few figures of a row.
  // A changed text goes into the element's one text node, which the browser then only
  // shapes again instead of building its part of the layout anew.
  function put(node, text) {
    if (node.zfuseText === text) return;
    node.zfuseText = text;
    const first = node.firstChild;
    if (first && first.nodeType === Node.TEXT_NODE && !first.nextSibling) first.data = text;
    else node.textContent = text;
  }
  function flag(node, name, on) {
    if (node.classList.contains(name) !== on) node.classList.toggle(name, on);
  }

  // A lamp: its colour, and in words what it says (shown when lit, read out always).
  function lampElement(kind) {
    const lamp = element('span', `lamp ${kind}`);
    const word = element('span', 'lamp-word');
    word.setAttribute('aria-hidden', 'true');
    lamp.append(element('span', 'swatch'), word, element('span', 'visually-hidden'));
    return lamp;
  }
  function setLamp(lamp, lit, word, name) {
    flag(lamp, 'lit', lit === true);
    flag(lamp, 'none', lit === null);
    put(lamp.children[1], lit ? word : '');
    put(lamp.children[2], lit === null ? '' : `${name}: ${t(lit ? 'lampOn' : 'lampOff')}`);
  }

  function makeRow(d) {
    const tr = element('tr');
    tr.dataset.device = d.id;
    const cell = (label) => {
      const td = element('td');
      td.dataset.label = label;
      tr.append(td);
      return td;
    };
    const idCell = element('th');
    idCell.scope = 'row';
    tr.append(idCell);
    const link = element('a', 'device-link', shownId(d.id));
    link.href = `#/device/${encodeURIComponent(d.id)}`;
    const badge = element('span', 'badge');
    idCell.append(link, badge);
    const row = { tr, badge, online: cell('online'), model: cell('model'), channels: [] };
    for (let ch = 0; ch < 4; ++ch) {
      const td = cell(`ch${ch + 1}`);
      td.className = 'ch';
      const bar = element('span', 'bar');
      bar.setAttribute('aria-hidden', 'true');
      const fill = element('span', 'fill');
      bar.append(fill);
      const amps = element('span', 'amps');
      const more = element('span', 'more');
      const rated = element('span', 'more');
      const lamps = element('span', 'lamps');
      const warning = lampElement('warning');
      const tripped = lampElement('tripped');
      lamps.append(warning, tripped);
      const box = element('div', 'box');
      box.append(bar, amps, more, rated, lamps);
      td.append(box);
      row.channels.push({ td, fill, amps, more, rated, warning, tripped, width: -1 });
    }
    row.uin = cell('uin');
    row.uinValue = element('span', 'amps');
    row.uinMin = element('span', 'more');
    const uinBox = element('div', 'box short');
    uinBox.append(row.uinValue, row.uinMin);
    row.uin.append(uinBox);
    row.powerGood = lampElement('warning');
    cell('pg').append(row.powerGood);
    row.hardware = lampElement('tripped');
    cell('hw').append(row.hardware);
    row.lastEvent = cell('event');
    row.eventText = element('span', 'event-text');
    row.eventAge = element('span', 'more');
    const eventBox = element('div', 'box');
    eventBox.append(row.eventText, row.eventAge);
    row.lastEvent.append(eventBox);
    d.row = row;
    relabel(row);
    return row;
  }

  function renderRow(d, now) {
    const row = d.row || makeRow(d);
    const r = d.reading;
    flag(row.tr, 'stale', d.online === false);
    if (row.tr.dataset.state !== d.rank) {
      row.tr.dataset.state = d.rank;
      row.badge.className = `badge ${d.rank}`;
    }
    if (r && row.tr.dataset.time !== r.time) row.tr.dataset.time = r.time;
    put(row.badge, t(RANK_TEXT[d.rank]));
    put(row.online, t(d.online === null ? 'onlineUnknown' : d.online ? 'onlineYes' : 'onlineNo'));
    flag(row.online, 'offline', d.online === false);
    put(row.model, r ? r.model : '');
    for (let ch = 0; ch < 4; ++ch) {
      const c = r ? r.channels[ch] : undefined;
      const v = row.channels[ch];
      const exists = Boolean(c) && c.warning !== null;
      flag(v.td, 'absent', !exists);
      if (!exists) {
        put(v.amps, '–');
        put(v.more, '');
        put(v.rated, '');
        setLamp(v.warning, null);
        setLamp(v.tripped, null);
        if (v.width !== 0) v.fill.style.transform = 'scaleX(0)';
        v.width = 0;
        continue;
      }
      const on = c.present !== null;
      const pct = on && c.rated ? Math.min(100, Math.max(0, (100 * c.present) / c.rated)) : 0;
      const width = Math.round(pct);
      if (width !== v.width) {
        v.fill.style.transform = `scaleX(${width / 100})`;
        v.width = width;
      }
      put(v.amps, on ? `${amperes(c.present)} · ${number(on && c.rated ? (100 * c.present) / c.rated : 0, 0)} %` : t('channelOff'));
      put(v.more, on ? `${t('maxShort')} ${amperes(c.maximum)}` : '');
      put(v.rated, on ? `${t('ratedCurrent')} ${number(c.rated, 0)} A` : '');
      setLamp(v.warning, c.warning, t('stateWarning'), t('overcurrent', { n: ch + 1 }));
      setLamp(v.tripped, c.tripped, t('stateTripped'), t('openCircuit', { n: ch + 1 }));
      flag(v.fill, 'warning', c.warning === true);
    }
    put(row.uinValue, r ? volts(r.uin) : '');
    put(row.uinMin, r ? `${t('minShort')} ${volts(r.uin_min)}` : '');
    setLamp(row.powerGood, r ? r.power_good_low : null, t('powerGoodLow'), t('powerGoodLow'));
    setLamp(row.hardware, r ? r.hardware_fault : null, t('hardwareFault'), t('hardwareFault'));
    renderAge(d, now);
  }

  function renderAge(d, now) {
    const row = d.row;
    const e = d.lastEvent;
    put(row.eventText, e ? `${eventText(e)}${lampEvent(e) ? `: ${t(e.on ? 'lampOn' : 'lampOff')}` : ''}` : t('noEvent'));
    put(row.eventAge, e ? age(now - e.timeMs) : '');
  }

  const lampEvent = (e) => e.event !== 'connection_lost' && e.event !== 'connection_back';

  function matches(d) {
    if (!filterText) return true;
    const r = d.reading;
    return [d.id, r ? r.model : '', r ? r.port : ''].some((s) => s.toLowerCase().includes(filterText));
  }

  function compare(a, b) {
    const ra = RANKS.indexOf(a.rank);
    const rb = RANKS.indexOf(b.rank);
    if (ra !== rb) return ra - rb;
    return a.id < b.id ? -1 : a.id > b.id ? 1 : 0;
  }

  function renderOrder() {
    const body = $('rows');
    const shown = [...devices.values()].filter(matches).sort(compare);
    const wanted = new Set(shown.map((d) => d.row.tr));
    for (const tr of [...body.children]) if (!wanted.has(tr)) tr.remove();
    // Moves only what is out of place, so that a screen reader's position holds.
    let at = body.firstChild;
    for (const d of shown) {
      const tr = d.row.tr;
      if (tr === at) {
        at = at.nextSibling;
      } else {
        body.insertBefore(tr, at);
      }
    }
  }

  function renderCounts() {
    const totals = { tripped: 0, warning: 0, offline: 0, ok: 0 };
    for (const d of devices.values()) totals[d.rank] += 1;
    const p = $('counts');
    p.textContent = '';
    p.append(element('span', 'total', `${t('counts')}: ${devices.size}`));
    for (const rank of RANKS) {
      const s = element('span', `count ${rank}`);
      s.append(element('span', 'swatch'), document.createTextNode(`${t(RANK_TEXT[rank])}: ${totals[rank]}`));
      s.dataset.rank = rank;
      p.append(s);
    }
  }

  function renderDiagnostics() {
    put($('diagnostics-count'), diagnostics.count ? t('diagnosticsIgnored', { n: diagnostics.count }) : t('diagnosticsNone'));
    if (!$('diagnostics').open) return;
    const list = $('diagnostics-list');
    list.textContent = '';
    for (const item of diagnostics.recent) {
      const li = element('li');
      li.append(element('span', 'more', clock(item.at)), ' ', element('code', '', item.topic), ': ', t(item.reason, item.values));
      list.append(li);
    }
  }

  // ---- the device page ---------------------------------------------------------------

  function fact(list, term, value, className) {
    const dt = element('dt', '', term);
    const dd = element('dd', className || '', value);
    list.append(dt, dd);
    return dd;
  }

  function renderDevicePage(now) {
    const d = devices.get(shownDevice);
    put($('device-title'), shownId(shownDevice));
    $('device-missing').hidden = Boolean(d);
    $('device-body').hidden = !d;
    if (!d) {
      put($('device-missing'), t('notFound', { id: shownId(shownDevice) }));
      return;
    }
    const r = d.reading;
    const facts = $('device-facts');
    facts.textContent = '';
    fact(facts, t('state'), t(RANK_TEXT[d.rank]), `badge ${d.rank}`);
    fact(facts, t('online'), t(d.online === null ? 'onlineUnknown' : d.online ? 'onlineYes' : 'onlineNo'));
    fact(facts, t('model'), r ? r.model : '–');
    fact(facts, t('port'), r ? r.port : '–');
    fact(facts, t('inputVoltage'), r ? volts(r.uin) : '–');
    fact(facts, t('minimumVoltage'), r ? volts(r.uin_min) : '–');
    for (const [key, on, kind] of [
      ['powerGoodLow', r && r.power_good_low, 'warning'],
      ['hardwareFault', r && r.hardware_fault, 'tripped'],
    ]) {
      const dd = fact(facts, t(key), '');
      const lamp = lampElement(kind);
      setLamp(lamp, r ? on : null, t('lampOn'), t(key));
      dd.append(lamp);
    }
    fact(facts, t('lastTelegram'), r ? `${clock(r.timeMs)} (${age(now - r.timeMs)})` : '–');

    const body = $('device-channels');
    body.textContent = '';
    for (let ch = 0; ch < 4; ++ch) {
      const c = r ? r.channels[ch] : undefined;
      if (!c || c.warning === null) continue;
      const tr = element('tr');
      const th = element('th', '', t('channelColon', { n: ch + 1 }));
      th.scope = 'row';
      const on = c.present !== null;
      tr.append(
        th,
        element('td', '', on ? amperes(c.present) : t('channelOff')),
        element('td', '', on ? amperes(c.maximum) : '–'),
        element('td', '', on ? `${number(c.rated, 0)} A` : '–'),
      );
      for (const [kind, lit, name, word] of [
        ['warning', c.warning, t('overcurrent', { n: ch + 1 }), t('stateWarning')],
        ['tripped', c.tripped, t('openCircuit', { n: ch + 1 }), t('stateTripped')],
      ]) {
        const td = element('td');
        const lamp = lampElement(kind);
        setLamp(lamp, lit, word, name);
        td.append(lamp);
        tr.append(td);
      }
      body.append(tr);
    }

    const events = $('device-events');
    events.textContent = '';
    for (const e of d.events) {
      const tr = element('tr');
      tr.append(element('td', '', clock(e.timeMs)), element('td', '', eventText(e)), element('td', '', lampEvent(e) ? t(e.on ? 'lampOn' : 'lampOff') : ''));
      if (lampEvent(e) && e.on) tr.className = e.event === 'trip' || e.event === 'hardware_fault' ? 'tripped' : 'warning';
      events.append(tr);
    }
    renderTrend(d, now);
  }

  function renderTrend(d, now) {
    const canvas = $('trend');
    const ratio = window.devicePixelRatio || 1;
    const cssWidth = Math.max(280, canvas.parentElement.clientWidth || 600);
    const cssHeight = cssWidth < 500 ? 200 : 260;
    if (canvas.width !== Math.round(cssWidth * ratio)) {
      canvas.width = Math.round(cssWidth * ratio);
      canvas.height = Math.round(cssHeight * ratio);
      canvas.style.width = `${cssWidth}px`;
      canvas.style.height = `${cssHeight}px`;
    }
    const g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, cssWidth, cssHeight);
    const left = 44;
    const right = 50;
    const top = 10;
    const bottom = 22;
    const w = cssWidth - left - right;
    const h = cssHeight - top - bottom;
    const h0 = d.history;
    const newest = d.reading ? Math.floor(d.reading.timeMs / 1000) : Math.floor(now / 1000);
    // The voltage scale: the recorded range, at least 2 V high.
    let vMin = Infinity;
    let vMax = -Infinity;
    let points = 0;
    for (let s = 0; s < HISTORY_SECONDS; ++s) {
      if (h0.second[s] < newest - HISTORY_SECONDS + 1 || h0.second[s] > newest) continue;
      points += 1;
      vMin = Math.min(vMin, h0.values[s * 5 + 4]);
      vMax = Math.max(vMax, h0.values[s * 5 + 4]);
    }
    if (!points) {
      vMin = 0;
      vMax = 30;
    }
    const mid = (vMin + vMax) / 2;
    const half = Math.max(1, (vMax - vMin) / 2) * 1.15;
    vMin = mid - half;
    vMax = mid + half;
    const x = (second) => left + (w * (second - (newest - HISTORY_SECONDS + 1))) / (HISTORY_SECONDS - 1);
    const yPct = (p) => top + h - (h * Math.min(125, Math.max(0, p))) / 125;
    const yVolt = (v) => top + h - (h * (v - vMin)) / (vMax - vMin);
    g.font = '11px sans-serif';
    g.lineWidth = 1;
    g.strokeStyle = '#d0d0d0';
    g.fillStyle = '#333';
    g.textAlign = 'right';
    for (const p of [0, 25, 50, 75, 100, 125]) {
      g.beginPath();
      g.moveTo(left, yPct(p) + 0.5);
      g.lineTo(left + w, yPct(p) + 0.5);
      g.stroke();
      g.fillText(`${p} %`, left - 4, yPct(p) + 4);
    }
    g.textAlign = 'left';
    for (let i = 0; i <= 4; ++i) {
      const v = vMin + ((vMax - vMin) * i) / 4;
      g.fillText(`${number(v, 1)} V`, left + w + 4, yVolt(v) + 4);
    }
    g.textAlign = 'center';
    for (let m = 0; m <= 10; m += 2) g.fillText(m ? `-${m} min` : '0', x(newest - m * 60), top + h + 16);
    const series = (index, colour, y, dash) => {
      g.strokeStyle = colour;
      g.lineWidth = 1.6;
      g.setLineDash(dash);
      g.beginPath();
      let drawing = false;
      for (let s = newest - HISTORY_SECONDS + 1; s <= newest; ++s) {
        const slot = ((s % HISTORY_SECONDS) + HISTORY_SECONDS) % HISTORY_SECONDS;
        const value = h0.second[slot] === s ? h0.values[slot * 5 + index] : Number.NaN;
        if (Number.isNaN(value)) {
          drawing = false;
          continue;
        }
        if (drawing) g.lineTo(x(s), y(value));
        else g.moveTo(x(s), y(value));
        drawing = true;
      }
      g.stroke();
    };
    const r = d.reading;
    for (let ch = 0; ch < 4; ++ch) {
      if (r && r.channels[ch] && r.channels[ch].warning !== null) series(ch, CHANNEL_COLOURS[ch], yPct, []);
    }
    series(4, VOLTAGE_COLOUR, yVolt, [5, 3]);
    g.setLineDash([]);
    canvas.setAttribute('aria-label', t('trendSummary', { id: shownId(d.id), points }));
    const caption = $('trend-caption');
    caption.textContent = '';
    caption.append(t('trendCaption'), ' ');
    for (let ch = 0; ch < 4; ++ch) {
      if (!r || !r.channels[ch] || r.channels[ch].warning === null) continue;
      const key = element('span', 'key', t('channel', { n: ch + 1 }));
      key.style.setProperty('--key', CHANNEL_COLOURS[ch]);
      caption.append(key, ' ');
    }
    const key = element('span', 'key dashed', t('uinShort'));
    key.style.setProperty('--key', VOLTAGE_COLOUR);
    caption.append(key);
  }

  // ---- rendering ---------------------------------------------------------------------

  // What arrived is drawn in the browser's next frame, or when that comes sooner than
  // FRAME_MS after the last drawing, in the first frame after it. A drawing touches only
  // the rows of the devices that sent something, and in them the texts that changed.
  let lastRender = 0;
  let frameMs = FRAME_MS;
  function schedule() {
    if (renderQueued) return;
    renderQueued = true;
    const wait = lastRender + frameMs - performance.now();
    if (wait > 0) setTimeout(() => requestAnimationFrame(render), wait);
    else requestAnimationFrame(render);
  }

  let lastTrend = 0;
  function render() {
    renderQueued = false;
    const started = performance.now();
    lastRender = started;
    // The drawing's cost: until the browser is done with this frame's style, layout and
    // paint and takes its next task.
    setTimeout(() => {
      const cost = performance.now() - started;
      frameMs = Math.min(SLOWEST_FRAME_MS, Math.max(FRAME_MS, cost / DRAWING_SHARE));
    }, 0);
    const now = Date.now();
    for (const d of dirtyRows) renderRow(d, now);
    if (agesDirty) {
      for (const d of devices.values()) if (d.lastEvent && !dirtyRows.has(d)) renderAge(d, now);
      agesDirty = false;
    }
    dirtyRows.clear();
    // Moving rows makes the browser lay out the whole table again; warnings come and go
    // every few seconds in a plant, so rows move at most once a second, trips at once.
    if (orderDirty && (orderUrgent || now - lastOrder >= ORDER_MS)) {
      orderDirty = false;
      orderUrgent = false;
      lastOrder = now;
      renderOrder();
    } else if (orderDirty && !orderTimer) {
      // The next reordering in a frame of its own when its second is over, not by
      // asking for every frame until then.
      orderTimer = setTimeout(() => {
        orderTimer = 0;
        schedule();
      }, lastOrder + ORDER_MS - now);
    }
    if (countsDirty) {
      countsDirty = false;
      renderCounts();
    }
    if (diagnosticsDirty) {
      diagnosticsDirty = false;
      renderDiagnostics();
    }
    // The device page is drawn again at most once a second; its figures are in the row.
    if (shownDevice !== null && trendDirty && now - lastTrend >= 1000) {
      trendDirty = false;
      lastTrend = now;
      renderDevicePage(now);
    }
    if (announcements.length) {
      const said = announcements.map((f) => f()).slice(0, 5);
      announcements = [];
      $('announce').textContent = said.join('. ');
    }
  }

  function applyLanguage() {
    document.documentElement.lang = lang;
    document.title = t('title');
    for (const e of document.querySelectorAll('[data-text]')) e.textContent = t(e.dataset.text);
    for (const e of document.querySelectorAll('[data-hint]')) e.placeholder = t(e.dataset.hint);
    for (const th of document.querySelectorAll('th[data-channel]')) th.textContent = t('channel', { n: th.dataset.channel });
    const button = $('language');
    button.textContent = t('language');
    button.setAttribute('aria-label', t('languageName'));
    button.lang = lang === 'de' ? 'en' : 'de';
    connectionText();
    // Every row and panel again in the new language.
    for (const d of devices.values()) {
      dirtyRows.add(d);
      if (d.row) relabel(d.row);
    }
    countsDirty = true;
    diagnosticsDirty = true;
    trendDirty = true;
    lastTrend = 0;
    schedule();
  }

  // The captions narrow screens show beside each cell, from the table's headers.
  function relabel(row) {
    const headers = [...document.querySelectorAll('#devices thead th')].map((th) => th.textContent);
    [...row.tr.children].forEach((td, i) => {
      if (i > 0) td.dataset.label = headers[i];
    });
  }

  // ---- the broker --------------------------------------------------------------------

  let connectionState = 'connecting';
  function connectionText() {
    const p = $('connection');
    p.textContent = `${t('broker')}: ${t(connectionState)}`;
    p.className = `connection ${connectionState}`;
  }
  function setConnection(state) {
    connectionState = state;
    connectionText();
  }

  function credentials() {
    try {
      return JSON.parse(sessionStorage.getItem('zfuse-login') || 'null');
    } catch {
      return null;
    }
  }

  function askLogin(refused) {
    const form = $('login');
    form.hidden = false;
    $('login-message').textContent = t(refused ? 'loginRefused' : 'loginWanted');
    $('login-message').dataset.refused = refused ? 'true' : 'false';
    $('username').focus();
  }

  // The device page's trend takes every telegram of its device; the overview takes the
  // retained state (at most once a second a device) and the events.
  let followed = null;
  function follow() {
    if (!client || !client.connected) return;
    const wanted = shownDevice === null ? null : `${prefix}/${shownDevice}/status`;
    if (wanted === followed) return;
    if (followed) client.unsubscribe(followed);
    if (wanted && !/[+#]/.test(shownDevice)) client.subscribe(wanted, { qos: 0 });
    followed = wanted;
  }

  function brokerUrl() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    return `${scheme}//${location.host}/mqtt`;
  }

  function connect() {
    const login = credentials();
    setConnection('connecting');
    $('logout').hidden = !login;
    const options = {
      protocolVersion: 4,
      clean: true,
      keepalive: 30,
      connectTimeout: 10000,
      reconnectPeriod: RECONNECT_MS,
      clientId: `zfuse-dashboard-${Math.random().toString(16).slice(2, 10)}`,
    };
    if (login) {
      options.username = login.username;
      options.password = login.password;
    }
    const c = mqtt.connect(brokerUrl(), options);
    client = c;
    c.on('connect', () => {
      $('login').hidden = true;
      setConnection('connected');
      c.subscribe(
        {
          [`${prefix}/+/state`]: { qos: 0 },
          [`${prefix}/+/online`]: { qos: 1 },
          [`${prefix}/+/events`]: { qos: 1 },
        },
        () => {},
      );
      followed = null;
      follow();
    });
    c.on('reconnect', () => setConnection('reconnecting'));
    c.on('close', () => {
      if (client === c && connectionState === 'connected') setConnection('reconnecting');
    });
    c.on('error', (err) => {
      // Refused credentials are not tried again by themselves: the form asks anew.
      if (err && [4, 5, 134, 135].includes(err.code)) {
        c.end(true);
        client = null;
        setConnection('connecting');
        askLogin(Boolean(login));
      }
    });
    c.on('message', onMessage);
  }

  $('login').addEventListener('submit', (ev) => {
    ev.preventDefault();
    sessionStorage.setItem('zfuse-login', JSON.stringify({ username: $('username').value, password: $('password').value }));
    $('password').value = '';
    if (client) client.end(true);
    connect();
  });
  $('logout').addEventListener('click', () => {
    sessionStorage.removeItem('zfuse-login');
    if (client) client.end(true);
    connect();
  });
  $('language').addEventListener('click', () => {
    lang = lang === 'de' ? 'en' : 'de';
    sessionStorage.setItem('zfuse-language', lang);
    applyLanguage();
  });
  $('filter').addEventListener('input', (ev) => {
    filterText = ev.target.value.trim().toLowerCase();
    orderDirty = true;
    orderUrgent = true;
    schedule();
  });
  $('diagnostics').addEventListener('toggle', () => {
    diagnosticsDirty = true;
    schedule();
  });

  function route() {
    const m = /^#\/device\/(.*)$/.exec(location.hash);
    let id = null;
    if (m) {
      try {
        id = decodeURIComponent(m[1]);
      } catch {
        id = null;
      }
    }
    shownDevice = id;
    follow();
    $('overview').hidden = id !== null;
    $('device').hidden = id === null;
    if (id !== null) {
      trendDirty = true;
      lastTrend = 0;
      schedule();
      $('device-title').tabIndex = -1;
      $('device-title').focus();
    }
  }
  window.addEventListener('hashchange', route);
  setInterval(() => {
    agesDirty = true;
    if (shownDevice !== null) trendDirty = true;
    schedule();
  }, 1000);

  applyLanguage();
  route();
  connect();
})();
