// The station's pages: live lamps over Server-Sent Events, the alarm journal and a unit's trend.
// Every text from the station goes in as text (never as markup).
'use strict';

const Colours = ['#1f77b4', '#d62728', '#2ca02c', '#9467bd', '#ff7f0e'];
const ChannelNames = ['RA0', 'RA1', 'RA2', 'RA3', 'RB0', 'RB1', 'RB2', 'RB3', 'RB4', 'RB5', 'RB6', 'RB7', '温度(℃)'];

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

async function getJson(url) {
  const r = await fetch(url, {credentials: 'same-origin'});
  if (r.status === 401) {
    location.href = '/login';
    throw new Error('login');
  }
  if (!r.ok) throw new Error(String(r.status));
  return r.json();
}

// The lamp a unit shows, as the station's window shows it: a failed poll leaves the lamp as it
// was until the unit is given up; a stop turns every lamp off.
const lamps = {};
function lampClass(unit, state) {
  let lamp = 'none';
  if (unit && unit.monitored) {
    const before = lamps[unit.unit] || 'off';
    if (!state || state.lamp === 'stopped') lamp = 'off';
    else if (state.lamp === 'good' || state.lamp === 'given_up') lamp = state.lamp;
    else lamp = before;
  }
  if (unit) lamps[unit.unit] = lamp;
  return lamp;
}

function failureText(state) {
  return state && state.failures > 0 ? '応答なし ' + state.failures + ' 回' : '';
}

function alarmText(state) {
  if (!state || state.alarm === 'none') return '';
  return state.alarm === 'raised' ? 'アラーム発生' : 'アラーム確認済';
}

function stationText(station) {
  return (station.running ? '監視中' : '監視停止中') + '　' + station.mode;
}

// The live part every page shares: the station's list and each unit's last state.
const live = {station: null, states: {}, listeners: []};
function follow(onChange) {
  live.listeners.push(onChange);
  if (live.source) return;
  live.source = new EventSource('/events');
  live.source.addEventListener('station', (e) => {
    live.station = JSON.parse(e.data);
    live.listeners.forEach((f) => f('station'));
  });
  live.source.addEventListener('unit', (e) => {
    const s = JSON.parse(e.data);
    live.states[s.unit] = s;
    live.listeners.forEach((f) => f('unit', s.unit));
  });
  live.source.addEventListener('error', () => {
    const p = document.getElementById('station');
    if (p) p.textContent = '局との接続が切れました。再接続しています…';
  });
}

function overview() {
  const list = document.getElementById('units');
  const items = {};
  const draw = (u) => {
    const li = items[u.unit];
    const state = live.states[u.unit];
    const lamp = lampClass(u, state);
    li.dataset.lamp = lamp;
    li.querySelector('.lamp').className = 'lamp ' + lamp;
    li.querySelector('.alarm').textContent = [failureText(state), alarmText(state)].filter((t) => t).join('　');
    li.classList.toggle('alarmed', !!state && state.alarm === 'raised');
  };
  follow((what, unit) => {
    const station = live.station;
    if (!station) return;
    if (what === 'station') {
      document.getElementById('station').textContent = stationText(station);
      list.replaceChildren();
      for (const u of station.units) {
        const li = el('li', 'unit');
        li.id = 'unit-' + u.unit;
        const a = el('a');
        a.href = '/unit?unit=' + u.unit;
        a.append(el('span', 'lamp'), el('span', 'no', String(u.unit).padStart(3, '0')), el('span', 'uname', u.name),
                 el('span', 'alarm'));
        li.append(a);
        list.append(li);
        items[u.unit] = li;
        draw(u);
      }
    } else if (items[unit]) {
      draw(station.units.find((u) => u.unit === unit));
    }
  });
}

function alarms() {
  const unitSelect = document.getElementById('unit');
  const period = document.getElementById('period');
  const body = document.querySelector('#alarms tbody');
  const status = document.getElementById('status');
  const params = new URLSearchParams(location.search);
  if (params.has('period')) period.value = params.get('period');
  let asked = 0;
  const load = async () => {
    const mine = ++asked;
    try {
      const data = await getJson('/api/alarms?unit=' + encodeURIComponent(unitSelect.value) + '&period=' +
                                 encodeURIComponent(period.value));
      if (mine !== asked) return;
      body.replaceChildren();
      for (const e of data.entries) {
        const tr = el('tr');
        tr.append(el('td', '', e.time), el('td', '', e.unit < 0 ? '' : String(e.unit).padStart(3, '0')),
                  el('td', '', e.name), el('td', '', e.event), el('td', '', e.condition));
        body.append(tr);
      }
      status.textContent = data.total > data.entries.length ? data.total + ' 件中 新しい ' + data.entries.length + ' 件'
                                                            : data.total + ' 件';
    } catch (err) {
      status.textContent = '読み込めません（' + err.message + '）';
    }
  };
  unitSelect.addEventListener('change', load);
  period.addEventListener('change', load);
  follow((what) => {
    if (what !== 'station' || unitSelect.options.length > 1) return;
    for (const u of live.station.units) {
      const o = el('option', '', u.name);
      o.value = u.unit;
      unitSelect.append(o);
    }
    if (params.has('unit')) unitSelect.value = params.get('unit');
    load();
  });
  load();
  setInterval(load, 10000);
}

function unitPage() {
  const unit = Number(new URLSearchParams(location.search).get('unit') || 0);
  const canvas = document.getElementById('trend');
  let span = '1h';
  let trend = null;
  const info = () => live.station && live.station.units.find((u) => u.unit === unit);
  // The channels a trend draws: the analogue inputs in use and the temperature.
  const drawn = () => {
    const u = info();
    const out = [];
    for (let c = 0; c < 4; ++c) if (!u || u.inputs[c] === 'Ain') out.push(c);
    out.push(12);
    return out;
  };
  const readings = () => {
    const u = info();
    const s = live.states[unit];
    if (!u) return;
    document.getElementById('title').textContent = String(unit).padStart(3, '0') + ' ' + u.name;
    document.title = u.name + ' - Talveron';
    document.getElementById('lamp').className = 'lamp ' + lampClass(u, s);
    document.getElementById('state').textContent =
        stationText(live.station) +
        (s ? '　' + s.time.replace('T', ' ').slice(0, 19) + '　' + failureText(s) + '　' + alarmText(s) : '');
    const body = document.querySelector('#readings tbody');
    body.replaceChildren();
    const row = (name, value) => {
      const tr = el('tr');
      tr.append(el('th', '', name), el('td', '', value));
      body.append(tr);
    };
    // A channel the plant has named shows its tag name and its value in the plant's words.
    const named = (c) => s && (s.values || []).find((v) => v.channel === ChannelNames[c]);
    // A number goes out in JSON without its trailing zeros: the channel's decimals put them back.
    const show = (v, c) => {
      if (v.value === null || v.value === undefined) return '―';
      const cap = trend && (trend.captions || []).find((k) => k.channel === c);
      const text = typeof v.value === 'number' && cap ? v.value.toFixed(cap.decimals) : String(v.value);
      return text + (v.unit ? ' ' + v.unit : '');
    };
    for (let c = 0; c < 4; ++c) {
      if (u.inputs[c] !== 'Ain') continue;
      const v = named(c);
      if (v) row(v.name + '（' + ChannelNames[c] + '）', show(v, c));
      else row(ChannelNames[c], s && s.ra[c] !== null ? String(s.ra[c]) : '―');
    }
    row(ChannelNames[12], s ? String(s.temperature_c) : '―');
    for (let p = 0; p < 8; ++p) {
      if (u.inputs[4 + p] === 'non') continue;
      const v = named(4 + p);
      const label = (v ? v.name + '（' + ChannelNames[4 + p] + '）' : ChannelNames[4 + p]) + ' ' + u.inputs[4 + p];
      row(label, v ? show(v, 4 + p) : s && s.rb[p] !== null ? (s.rb[p] ? 'ON' : 'OFF') : '―');
    }
  };
  const draw = () => {
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth, height = canvas.clientHeight;
    canvas.width = width * ratio;
    canvas.height = height * ratio;
    const g = canvas.getContext('2d');
    g.scale(ratio, ratio);
    g.clearRect(0, 0, width, height);
    if (!trend) return;
    const channels = drawn();
    let low = Infinity, high = -Infinity;
    for (const b of trend.buckets)
      for (const c of channels) {
        low = Math.min(low, b[1][c]);
        high = Math.max(high, b[2][c]);
      }
    if (low === Infinity) {
      low = 0;
      high = 1;
    }
    if (high === low) high = low + 1;
    const left = 40, top = 8, plotW = width - left - 4, plotH = height - top - 20;
    const x = (t) => left + ((t - trend.from) / (trend.to - trend.from)) * plotW;
    const y = (v) => top + plotH - ((v - low) / (high - low)) * plotH;
    g.strokeStyle = '#ccc';
    g.strokeRect(left, top, plotW, plotH);
    g.fillStyle = '#333';
    g.font = '11px sans-serif';
    g.fillText(String(high), 2, top + 10);
    g.fillText(String(low), 2, top + plotH);
    const fmt = (t) => {
      const d = new Date(t);
      const hm = d.toTimeString().slice(0, 5);
      return span === '1h' ? hm : (d.getMonth() + 1) + '/' + d.getDate() + ' ' + hm;
    };
    g.fillText(fmt(trend.from), left, height - 4);
    g.fillText(fmt(trend.to), width - g.measureText(fmt(trend.to)).width - 4, height - 4);
    channels.forEach((c, i) => {
      g.strokeStyle = Colours[i % Colours.length];
      g.beginPath();
      let last = null;
      for (const b of trend.buckets) {
        const bx = x(b[0]);
        // A gap longer than two buckets is a gap in the log, not a line.
        if (last === null || b[0] - last > 2 * trend.width * 1000) g.moveTo(bx, y(b[1][c]));
        else g.lineTo(bx, y(b[1][c]));
        g.lineTo(bx, y(b[2][c]));
        last = b[0];
      }
      g.stroke();
    });
    const legend = document.getElementById('series');
    legend.replaceChildren();
    const caption = (c) => ((trend.captions || []).find((k) => k.channel === c) || {caption: ChannelNames[c]}).caption;
    channels.forEach((c, i) => {
      const li = el('li', '', caption(c));
      li.style.borderColor = Colours[i % Colours.length];
      legend.append(li);
    });
  };
  const load = async () => {
    const status = document.getElementById('trendStatus');
    const columns = Math.max(1, Math.min(2000, Math.floor(canvas.clientWidth - 44)));
    try {
      trend = await getJson('/api/trend?unit=' + unit + '&span=' + span + '&columns=' + columns);
      status.textContent = trend.lines ? '' : 'この期間の記録はありません';
      canvas.dataset.buckets = trend.buckets.length;
      canvas.dataset.columns = columns;
    } catch (err) {
      status.textContent = '読み込めません（' + err.message + '）';
    }
    draw();
    readings(); // the trend brings the channels' decimals
  };
  for (const b of document.querySelectorAll('.spans button'))
    b.addEventListener('click', () => {
      span = b.dataset.span;
      for (const o of document.querySelectorAll('.spans button')) o.setAttribute('aria-pressed', String(o === b));
      load();
    });
  follow((what, u) => {
    if (what === 'station' || u === unit) readings();
    if (what === 'station' && !trend) load();
  });
  window.addEventListener('resize', draw);
  setInterval(load, 60000);
}

const pages = {overview, alarms, unit: unitPage};
pages[document.body.dataset.page]();
