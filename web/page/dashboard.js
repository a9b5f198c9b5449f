// The Tavro dashboard: draws each state the live feed (/events) sends. Plain DOM and SVG, no
// library, nothing fetched from elsewhere.
'use strict';

const CONSTELLATIONS = [
  ['GPS', '--gps'], ['GLONASS', '--glonass'], ['Galileo', '--galileo'], ['BeiDou', '--beidou'],
  ['QZSS', '--qzss'], ['SBAS', '--sbas'], ['NavIC', '--navic'],
];
const TRACK_LENGTH = 600; // positions kept for the track
const FEED_SILENCE_MS = 12000; // the dashboard sends at least every 5 s
const SVG = 'http://www.w3.org/2000/svg';

const $ = (id) => document.getElementById(id);

// The class that gives a mark its constellation's colour (the page's styles allow no inline
// style).
function colourClass(constellation) {
  const found = CONSTELLATIONS.find(([name]) => name === constellation);
  return `c-${found ? found[1].slice(2) : 'unknown'}`;
}

function svg(tag, attributes, parent) {
  const element = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attributes || {})) {
    element.setAttribute(name, value);
  }
  if (parent) parent.appendChild(element);
  return element;
}

function text(tag, content, attributes, parent) {
  const element = tag.startsWith('svg:') ? svg(tag.slice(4), attributes, parent)
    : Object.assign(document.createElement(tag), attributes || {});
  element.textContent = content;
  if (parent && !tag.startsWith('svg:')) parent.appendChild(element);
  return element;
}

const isNumber = (value) => typeof value === 'number' && Number.isFinite(value);
const fixed = (value, digits, unit) => (isNumber(value) ? `${value.toFixed(digits)}${unit || ''}` : '–');
const count = (value) => (isNumber(value) ? value.toLocaleString('en') : '–');
// Receivers write 99.99 (some 99.9) for a DOP they do not know.
const dop = (value) => (isNumber(value) && value > 0 && value < 99.9 ? value.toFixed(1) : '–');

// "42 s", "17 min", "5 h", "3 days", as `tavro status` says it.
function age(seconds) {
  if (seconds < 120) return `${Math.floor(seconds)} s`;
  if (seconds < 7200) return `${Math.floor(seconds / 60)} min`;
  if (seconds < 172800) return `${Math.floor(seconds / 3600)} h`;
  return `${Math.floor(seconds / 86400)} days`;
}

// What the page may show as the receiver's: whether its input is open, whether data arrives,
// whether the block's fix is the current one or only the last known, and whether the receiver
// itself says it has no fix. The POSIX hub tells (current, fixAgeSeconds, dataAgeSeconds); where
// a hub does not (the Windows dashboard), the block's stream and fix state stand in.
function freshness(snapshot, status) {
  const running = snapshot.hub === 'running';
  const told = typeof status.current === 'boolean';
  const inputOpen = running && (status.input ? status.input.open === true : status.streamState >= 2);
  // Silent for as long as a fix may be old and still current: three intervals, at least 3 s.
  const silence = Math.max(3, 3 * (isNumber(status.fixIntervalSeconds) ? status.fixIntervalSeconds : 0));
  const flowing = inputOpen && (isNumber(status.dataAgeSeconds) ? status.dataAgeSeconds < silence
    : !told && status.streamState >= 3);
  const current = running && (told ? status.current : inputOpen && status.fixValid === 1);
  return {
    running,
    inputOpen,
    flowing,
    current,
    fixAge: isNumber(status.fixAgeSeconds) ? status.fixAgeSeconds : null,
    dataAge: isNumber(status.dataAgeSeconds) ? status.dataAgeSeconds : null,
    noFix: flowing && !current && status.fixValid !== 1,
  };
}

// Rows of a two-column table: [label, value, attributes of the value cell].
function fillFacts(table, rows) {
  const body = document.createElement('tbody');
  for (const [label, value, attributes] of rows) {
    const row = body.insertRow();
    text('th', label, { scope: 'row' }, row);
    const cell = text('td', value, {}, row);
    for (const [name, attribute] of Object.entries(attributes || {})) {
      cell.setAttribute(name, attribute);
    }
  }
  table.replaceChild(body, table.tBodies[0]);
}

function fillGrid(table, rows) {
  const body = document.createElement('tbody');
  for (const { cells, attributes } of rows) {
    const row = body.insertRow();
    for (const [name, value] of Object.entries(attributes || {})) {
      row.setAttribute(name, value);
    }
    for (const cell of cells) text('td', cell, {}, row);
  }
  table.replaceChild(body, table.tBodies[0]);
}

// ---- Sky plot ----------------------------------------------------------------------------

function drawSkyGrid(sky) {
  for (const elevation of [0, 30, 60]) {
    svg('circle', { class: 'sky-grid', r: (90 - elevation) / 90 * 100 }, sky);
    if (elevation > 0) {
      text('svg:text', `${elevation}°`, { class: 'sky-label', x: 2, y: -(90 - elevation) / 90 * 100 - 2 }, sky);
    }
  }
  svg('line', { class: 'sky-grid', x1: -100, y1: 0, x2: 100, y2: 0 }, sky);
  svg('line', { class: 'sky-grid', x1: 0, y1: -100, x2: 0, y2: 100 }, sky);
  for (const [label, x, y] of [['N', 0, -108], ['E', 108, 0], ['S', 0, 108], ['W', -108, 0]]) {
    text('svg:text', label, { class: 'sky-label', x, y, 'text-anchor': 'middle', 'dominant-baseline': 'central' }, sky);
  }
  return svg('g', { id: 'sky-marks' }, sky);
}

// The hub's whole sky where it reports one; else the status block's twelve entries.
function satellitesOf(status) {
  const list = Array.isArray(status.sky) ? status.sky : status.satellites || [];
  return list.filter((satellite) => satellite.prn > 0);
}

function drawSky(marks, satellites) {
  marks.replaceChildren();
  for (const satellite of satellites) {
    const radius = (90 - Math.min(90, Math.max(0, satellite.elevation))) / 90 * 100;
    const angle = satellite.azimuth * Math.PI / 180;
    const mark = svg('g', {
      class: `sat ${colourClass(satellite.constellation)}${satellite.used ? ' used' : ''}`,
      'data-id': satellite.prn,
      'data-constellation': satellite.constellation,
      'data-used': satellite.used,
      transform: `translate(${(radius * Math.sin(angle)).toFixed(1)} ${(-radius * Math.cos(angle)).toFixed(1)})`,
    }, marks);
    svg('circle', { r: 8 }, mark);
    text('svg:text', String(satellite.prn), {}, mark);
    text('svg:title', `${satellite.constellation || 'unknown'} ${satellite.prn}: elevation ${satellite.elevation}°, azimuth ${satellite.azimuth}°, ${satellite.snr} dB-Hz${satellite.used ? ', in the fix' : ''}`, {}, mark);
  }
}

function drawLegend(legend) {
  for (const [name, variable] of CONSTELLATIONS) {
    text('li', name, { className: `c-${variable.slice(2)}` }, legend);
  }
  text('li', 'filled: in the fix', { className: 'note' }, legend);
}

// ---- Signal bars -------------------------------------------------------------------------

function drawBars(bars, satellites) {
  bars.replaceChildren();
  const order = (name) => {
    const index = CONSTELLATIONS.findIndex(([known]) => known === name);
    return index < 0 ? CONSTELLATIONS.length : index;
  };
  const sorted = [...satellites].sort((a, b) => order(a.constellation) - order(b.constellation) || a.prn - b.prn);
  const top = 20;
  const bottom = 130;
  const scale = Math.max(50, ...sorted.map((satellite) => satellite.snr));
  let x = 4;
  let group = null;
  for (const satellite of sorted) {
    if (satellite.constellation !== group) {
      if (group !== null) x += 14;
      group = satellite.constellation;
      text('svg:text', group || 'other', { class: 'group-label', x, y: 10 }, bars);
    }
    const height = Math.max(0, satellite.snr) / scale * (bottom - top);
    const bar = svg('g', { class: `bar ${colourClass(satellite.constellation)}${satellite.used ? ' used' : ''}`, 'data-id': satellite.prn, 'data-constellation': satellite.constellation, 'data-snr': satellite.snr }, bars);
    svg('rect', { class: 'level', x, y: bottom - height, width: 20, height: Math.max(height, 1) }, bar);
    text('svg:text', String(satellite.snr), { x: x + 10, y: bottom - height - 3 }, bar);
    text('svg:text', String(satellite.prn), { x: x + 10, y: bottom + 12 }, bar);
    x += 24;
  }
  bars.setAttribute('viewBox', `0 0 ${Math.max(600, x + 4)} 150`);
}

// ---- Track -------------------------------------------------------------------------------

const track = [];

function remember(status, fresh) {
  const fixed3 = status.fixState === 2 || status.fixState === 3;
  if (!fresh.current || !fixed3 || !isNumber(status.latitude) || !isNumber(status.longitude) ||
      (status.latitude === 0 && status.longitude === 0)) {
    return;
  }
  const last = track[track.length - 1];
  if (last && last[0] === status.latitude && last[1] === status.longitude) return;
  track.push([status.latitude, status.longitude]);
  if (track.length > TRACK_LENGTH) track.shift();
}

function niceLength(metres) {
  const power = 10 ** Math.floor(Math.log10(metres));
  return [5, 2, 1].map((step) => step * power).find((length) => length <= metres) || power;
}

function drawTrack(area) {
  area.replaceChildren();
  $('track-note').textContent = track.length ? `last ${track.length} positions` : 'no fix yet';
  if (track.length === 0) return;
  // A plain local projection: metres east and north of the first position.
  const [lat0, lon0] = track[0];
  const east = (lon) => (lon - lon0) * 111320 * Math.cos(lat0 * Math.PI / 180);
  const north = (lat) => (lat - lat0) * 110540;
  const points = track.map(([lat, lon]) => [east(lon), north(lat)]);
  const xs = points.map((p) => p[0]);
  const ys = points.map((p) => p[1]);
  const minX = Math.min(...xs);
  const minY = Math.min(...ys);
  const span = Math.max(20, Math.max(...xs) - minX, Math.max(...ys) - minY);
  const size = 200;
  const scale = size / span;
  const offsetX = 20 + (size - (Math.max(...xs) - minX) * scale) / 2;
  const offsetY = 20 + (size - (Math.max(...ys) - minY) * scale) / 2;
  const project = ([x, y]) => [offsetX + (x - minX) * scale, 240 - offsetY - (y - minY) * scale];
  const path = points.map(project).map(([x, y]) => `${x.toFixed(1)},${y.toFixed(1)}`).join(' ');
  svg('polyline', { class: 'track-line', points: path }, area);
  const [nowX, nowY] = project(points[points.length - 1]);
  svg('circle', { class: 'track-now', cx: nowX, cy: nowY, r: 4 }, area);
  const length = niceLength(span / 2);
  svg('line', { class: 'scale-bar', x1: 10, y1: 232, x2: 10 + length * scale, y2: 232 }, area);
  text('svg:text', length >= 1000 ? `${length / 1000} km` : `${length} m`, { class: 'axis-label', x: 14 + length * scale, y: 235 }, area);
  text('svg:text', 'N ↑', { class: 'axis-label', x: 220, y: 12 }, area);
}

// ---- Tables ------------------------------------------------------------------------------

function hemisphere(value, positive, negative) {
  return isNumber(value) ? `${Math.abs(value).toFixed(6)}° ${value < 0 ? negative : positive}` : '–';
}

function localTime(iso) {
  if (!iso) return '–';
  const time = new Date(iso);
  return Number.isNaN(time.getTime()) ? '–' : time.toLocaleString();
}

// A fix that is not current is shown as the last known one, greyed, with its age; a receiver
// that says it has no fix shows no position, speed or course at all.
function drawFix(status, fresh) {
  const shown = !fresh.noFix;
  const position = shown && isNumber(status.latitude) && isNumber(status.longitude)
    ? `${hemisphere(status.latitude, 'N', 'S')}, ${hemisphere(status.longitude, 'E', 'W')}` : '–';
  const speed = shown && isNumber(status.speedKnots)
    ? `${status.speedKnots.toFixed(1)} kn (${(status.speedKnots * 1.852).toFixed(1)} km/h)` : '–';
  const ago = fresh.fixAge === null ? '' : `${age(fresh.fixAge)} ago`;
  let state = 'current';
  if (!fresh.running) {
    state = '';
  } else if (fresh.noFix) {
    state = ago ? `the receiver reports no fix; last fix ${ago}` : 'the receiver reports no fix';
  } else if (!fresh.current) {
    state = position === '–' ? 'no fix yet' : `last known fix${ago ? `, ${ago}` : ''}`;
  }
  $('fix').closest('.card').classList.toggle('not-current', !fresh.current);
  const note = $('fix-age');
  note.textContent = state;
  note.dataset.current = fresh.current;
  fillFacts($('fix'), [
    ['Fix', status.fixText || '–', { id: 'fix-text', 'data-fix-state': status.fixState }],
    ['Position', position, { id: 'position', 'data-latitude': status.latitude, 'data-longitude': status.longitude }],
    ['Altitude', shown ? fixed(status.altitude, 1, ' m') : '–', { id: 'altitude' }],
    ['Speed', speed],
    ['Course', shown ? fixed(status.course, 1, '°') : '–'],
    ['Time (UTC)', status.utcTime ? status.utcTime.replace('T', ' ').replace('Z', '') : '–', { id: 'utc-time', 'data-utc': status.utcTime || '' }],
    ['Local time', localTime(status.utcTime)],
    ['Satellites', `${count(status.satsUsed)} used, ${count(status.satsInView)} in view`, { id: 'satellite-count' }],
    ['DOP', shown ? `P ${dop(status.pdop)}  H ${dop(status.hdop)}  V ${dop(status.vdop)}` : '–', { id: 'dop' }],
    ['Quality', `${count(status.fixQuality)}${status.selectionMode === 1 ? ', automatic' : status.selectionMode === 2 ? ', manual' : ''}`],
    ['RMC sentences', count(status.rmcCount)],
    ['Stream', status.streamText || '–'],
  ]);
}

function drawInput(status) {
  const input = status.input || {};
  const rows = [];
  if (status.input) {
    const source = input.source;
    const port = source ? `${source.url}, ${source.state}${source.lastError ? ` (last error: ${source.lastError})` : ''}`
      : input.port ? `COM${input.port} at ${input.baud} baud` : 'none';
    rows.push(['Port', port, { id: 'input-port' }]);
    if (source) rows.push(['Received', `${count(source.bytes)} bytes, ${count(source.reconnects)} reconnects`]);
    if (input.device) rows.push(['Device', input.device]);
    rows.push(['State', input.open ? 'open' : `closed${input.closedReason ? `: ${input.closedReason}` : ''}`]);
    if (input.fix) rows.push(['What to do', input.fix]);
    if (input.searching) rows.push(['Search', 'a GPS search runs']);
    if ('checksumErrors' in input) rows.push(['Checksum errors', count(input.checksumErrors)]);
  } else if (status.comPort) {
    rows.push(['Port', `COM${status.comPort} at ${status.baudRate} baud`, { id: 'input-port' }]);
  }
  if ('logging' in status) {
    rows.push(['Log', status.logging ? (status.logFile || 'on') : 'off']);
    if (status.logNotWritten) {
      rows.push(['Not logged', `${count(status.logNotWritten)} bytes (${status.logError})`]);
    }
  }
  if (Array.isArray(status.options)) rows.push(['Options', status.options.join(', ') || 'none']);
  const time = status.timeExport;
  if (time && isNumber(time.unit)) {
    const offset = isNumber(time.lastOffsetMs) ? `, last offset ${time.lastOffsetMs.toFixed(3)} ms` : '';
    const pps = time.pps && time.ppsAvailable ? `, ${count(time.ppsEdges)} PPS edges` : '';
    rows.push(['Time export', `NTP unit ${time.unit}, ${count(time.samples)} samples${offset}${pps}`, { id: 'time-export' }]);
  }
  if (status.directory) rows.push(['COM directory', status.directory]);
  if (status.version) rows.push(['Hub', `${status.version}${status.pid ? `, process ${status.pid}` : ''}`]);
  fillFacts($('input'), rows);
  const warnings = $('warnings');
  warnings.replaceChildren();
  for (const warning of status.warnings || []) text('li', warning, {}, warnings);
}

// How many programs hold a port: the POSIX hub tells in use or not, the Windows driver counts.
function programsText(programs) {
  if (!programs) return 'none';
  return programs === 1 ? 'in use' : `${programs} programs`;
}

function drawPorts(status) {
  const readOnly = (status.options || []).includes('Read Only (2-8)');
  const ports = status.virtualPorts || [];
  fillGrid($('ports'), ports.map((port) => ({
    attributes: { 'data-com': port.com, 'data-programs': port.programs },
    cells: [
      String(port.number), `COM${port.com}`, port.terminal || 'not made',
      programsText(port.programs), count(port.bytesRelayed), count(port.bytesDropped),
      readOnly && port.number > 1 ? 'read-only' : 'to the receiver',
      count(port.bytesWritten), count(port.bytesRefused),
    ],
  })));
  if (ports.length === 0) {
    fillGrid($('ports'), [{ cells: [status.virtualPorts ? 'none configured' : 'this hub does not report its ports'] }]);
  }
}

function drawNetwork(status) {
  const tcp = status.tcp;
  const udp = status.udp;
  const rows = [];
  if (tcp) {
    rows.push(['NMEA over TCP', tcp.port
      ? `${tcp.address} port ${tcp.port}, ${tcp.listening ? `${(tcp.clients || []).length} of at most ${tcp.clientLimit} clients` : 'not served'}${tcp.write ? ', clients may write' : ''}`
      : 'off']);
    if (tcp.refused) rows.push(['Refused', count(tcp.refused)]);
  }
  if (udp) {
    rows.push(['NMEA over UDP', udp.target ? `to ${udp.target}, ${count(udp.datagramsSent)} sent, ${count(udp.datagramsDropped)} dropped` : 'off']);
  }
  if (!tcp && !udp) rows.push(['Network', 'this hub does not report its network output']);
  fillFacts($('network'), rows);
  fillGrid($('clients'), ((tcp && tcp.clients) || []).map((client) => ({
    attributes: { 'data-address': client.address },
    cells: [client.address, count(client.bytesSent), count(client.bytesDropped)],
  })));
}

// Every scalar the hub reports, also those this page does not know yet.
function drawDetails(status) {
  const rows = [];
  const walk = (prefix, value) => {
    if (value === null || typeof value !== 'object') {
      rows.push([prefix, value === null ? 'null' : String(value)]);
    } else if (Array.isArray(value)) {
      if (value.every((item) => item === null || typeof item !== 'object')) {
        rows.push([prefix, value.join(', ')]);
      } else {
        value.forEach((item, index) => walk(`${prefix}[${index}]`, item));
      }
    } else {
      for (const [name, item] of Object.entries(value)) walk(prefix ? `${prefix}.${name}` : name, item);
    }
  };
  walk('', status);
  fillFacts($('details'), rows);
}

// ---- Settings (only when the dashboard was started with --allow-changes) -------------------

// The token of this start comes with the address the dashboard printed (#token=...); it is
// kept for this tab only and taken out of the address bar.
function takeToken() {
  const found = /(?:^#|&)token=([0-9a-f]+)/.exec(window.location.hash);
  if (found) {
    sessionStorage.setItem('tavroToken', found[1]);
    history.replaceState(null, '', window.location.pathname);
  }
  return sessionStorage.getItem('tavroToken') || '';
}

async function change(name, value, result) {
  result.textContent = `setting ${name}…`;
  try {
    const answer = await fetch('/api/settings', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-Tavro-Token': takeToken() },
      body: JSON.stringify({ name, value }),
    });
    const type = answer.headers.get('Content-Type') || '';
    const reply = type.startsWith('application/json') ? await answer.json()
      : { ok: false, message: await answer.text() };
    result.textContent = (reply.message || '').trim() || (reply.ok ? 'done' : `refused (${answer.status})`);
    result.dataset.ok = answer.ok && reply.ok;
  } catch (error) {
    result.textContent = 'the dashboard did not answer';
    result.dataset.ok = false;
  }
  loadSettings();
}

// One row per setting the dashboard offers: its name, its value, a button.
async function loadSettings() {
  let table;
  try {
    table = await (await fetch('/api/settings')).json();
  } catch (error) {
    return;
  }
  const card = $('settings-card');
  card.hidden = !table.changesAllowed;
  if (!table.changesAllowed) return;
  const form = $('settings');
  const result = $('settings-result');
  if (!takeToken()) {
    result.textContent = 'open the dashboard with the address it printed (with #token=...) to change settings';
  }
  form.replaceChildren();
  for (const setting of table.settings || []) {
    const row = text('div', '', { className: 'setting' }, form);
    const id = `setting-${setting.name.replace(/[^A-Za-z0-9]/g, '-')}`;
    text('label', setting.name, { htmlFor: id }, row);
    const input = text('input', '', { id, value: setting.value, name: setting.name }, row);
    const button = text('button', 'Set', { type: 'button' }, row);
    button.addEventListener('click', () => change(setting.name, input.value, result));
  }
}

// ---- The feed ----------------------------------------------------------------------------

let skyMarks = null;
let source = null;
let lastMessage = 0;

function showHubState(hub) {
  const banner = $('hub-state');
  const words = { notRunning: 'Hub not running', notResponding: 'Hub not responding' }[hub];
  banner.hidden = !words;
  banner.textContent = words || '';
  banner.className = hub === 'notResponding' ? 'hub-state warn' : 'hub-state';
  banner.dataset.hub = hub;
}

// The footer: whether the receiver's data reaches the hub, not only whether the page is fed.
function feedWords(snapshot, fresh) {
  if (snapshot.hub !== 'running') return snapshot.hub === 'notResponding' ? 'hub not responding' : 'hub not running';
  if (fresh.flowing) return 'receiving data';
  if (!fresh.inputOpen) return 'no data: the input is closed';
  return fresh.dataAge === null ? 'no data from the receiver' : `no data from the receiver for ${age(fresh.dataAge)}`;
}

function render(snapshot) {
  const status = snapshot.status || {};
  const fresh = freshness(snapshot, status);
  document.body.classList.remove('stale');
  document.body.dataset.hub = snapshot.hub;
  showHubState(snapshot.hub);
  $('status-line').textContent = status.statusLine || '';
  const satellites = satellitesOf(status);
  // Satellites the receiver no longer reports are what it last saw: greyed.
  for (const id of ['sky', 'bars']) $(id).closest('.card').classList.toggle('not-current', !fresh.flowing);
  drawSky(skyMarks, satellites);
  drawBars($('bars'), satellites);
  remember(status, fresh);
  drawTrack($('track'));
  drawFix(status, fresh);
  drawInput(status);
  drawPorts(status);
  drawNetwork(status);
  drawDetails(status);
  const feed = $('feed-state');
  feed.textContent = `${feedWords(snapshot, fresh)} · ${snapshot.edition || ''} edition · updated ${new Date().toLocaleTimeString()}`;
  feed.dataset.flowing = fresh.flowing;
}

function lost(words) {
  document.body.classList.add('stale');
  const banner = $('hub-state');
  banner.hidden = false;
  banner.className = 'hub-state';
  banner.textContent = words;
  banner.dataset.hub = 'unreachable';
  $('feed-state').textContent = 'trying again…';
  $('feed-state').dataset.flowing = false;
}

function connect() {
  if (source) source.close();
  source = new EventSource('/events');
  source.onmessage = (event) => {
    lastMessage = Date.now();
    let snapshot;
    try {
      snapshot = JSON.parse(event.data);
    } catch (error) {
      return; // a damaged state: the next one follows within a second
    }
    render(snapshot);
  };
  source.onerror = () => lost('Dashboard not reachable');
}

function watch() {
  // The browser reconnects by itself after a dropped connection, but gives up for good on an
  // answer that is not a feed; a feed that fell silent is started again as well.
  if (!source || source.readyState === EventSource.CLOSED || Date.now() - lastMessage > FEED_SILENCE_MS) {
    lastMessage = Date.now();
    connect();
  }
}

function start() {
  skyMarks = drawSkyGrid($('sky'));
  drawLegend($('legend'));
  connect();
  setInterval(watch, 2000);
  takeToken();
  loadSettings();
}

document.addEventListener('DOMContentLoaded', start);
