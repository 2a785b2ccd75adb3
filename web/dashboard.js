// The administration page: every request is an XML property list posted to
// the service with the user's credentials, kept in memory only.
'use strict';

const kEndpoint = '/stewardd/steward_kestrel';
const kRefreshMs = 5000;
const kHistoryMs = 10 * 60 * 1000;
// Keys of the status document; every other key of a "status" reply comes
// from the monitor's settings file (or is the reply's own "command").
const kStatusKeys = ['Sensors', 'PowerSupplies', 'ServiceLight', 'Time', 'Health',
  'ManagementController', 'command', 'clientContext'];

const state = {
  auth: null,
  session: 0,          // counts sign-ins and sign-outs; a reply of an older one is dropped
  timer: null,
  last: null,          // the last "status" reply
  history: new Map(),  // sensor id -> [[time, value]...]
  open: new Set(),     // sensor ids whose chart is shown
  rows: new Map(),     // sensor id -> its table rows
  profile: [],
  lightHeld: 0,        // until when the switch shows the user's choice, not the readings
  admin: null,         // whether the user may change the machine; null: not asked yet
};

const $ = (id) => document.getElementById(id);

function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'class') node.className = value;
    else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
    else node.setAttribute(name, value);
  }
  node.append(...children);
  return node;
}

// A property-list dictionary, as the reader makes them.
function isDictionary(value) {
  return Boolean(value) && typeof value === 'object' && value.constructor === Object;
}

function say(id, text, bad = false) {
  $(id).textContent = text;
  $(id).classList.toggle('bad', bad);
}

// --- Talking to the service ---

const kHttpWords = {
  401: 'the user name or password was not accepted',
  429: 'too many failed logins from this address; wait a minute and try again',
  413: 'the request is too large for the server',
  404: 'this server offers no administration service',
};

const kErrorWords = {
  UNEXPECTED_COMMAND: 'the service has no answer to this request (the hardware monitor not ' +
    'running, or no boot device to read)',
  CANNOT_PARSE_XML_REQUEST_ERR: 'the service could not read the request',
  CANNOT_CREATE_XML_RESPONSE_ERR: 'the service could not write its reply',
};

function errorInWords(code) {
  if (kErrorWords[code]) return `${kErrorWords[code]} (${code})`;
  if (code.startsWith('NIL_RESPONSE_ERR')) return `the command failed on the server (${code})`;
  return `the service answered with an error (${code})`;
}

function basicAuthorization(user, password) {
  const bytes = new TextEncoder().encode(`${user}:${password}`);
  return `Basic ${btoa(String.fromCharCode(...bytes))}`;
}

// Resolves to { reply } or { failure: words, status }; never rejects.
async function ask(request) {
  let response;
  try {
    // No browser credentials: the header carries them, and a 401 brings no
    // password prompt of the browser's own.
    response = await fetch(kEndpoint, {
      method: 'POST', credentials: 'omit', cache: 'no-store', body: plist.stringify(request),
      headers: { Authorization: state.auth, 'Content-Type': 'text/xml; charset=utf-8' },
    });
  } catch (error) {
    return { failure: 'the server cannot be reached' };
  }
  if (response.status !== 200) {
    const words = kHttpWords[response.status] || 'the server answered with an error';
    return { failure: `${words} (HTTP ${response.status})`, status: response.status };
  }
  let reply;
  try {
    reply = plist.parse(await response.text());
  } catch (error) {
    return { failure: `the reply could not be read (${error.message})` };
  }
  if (!isDictionary(reply)) {
    return { failure: 'the reply is not a dictionary' };
  }
  if (typeof reply.error === 'string') return { failure: errorInWords(reply.error) };
  if (reply.Message === 'CONNECT-AUTH') {
    const words = 'only administrators (the group "admin") may do this';
    return { failure: `refused: ${words} (CONNECT-AUTH)` };
  }
  if (typeof reply.OSStatus === 'number' && reply.OSStatus !== 0) {
    const missing = reply.OSStatus === -50 ? ' (a required value is missing)' : '';
    return { failure: `failed with status ${reply.OSStatus}${missing}` };
  }
  return { reply };
}

// Asks, saying on the result line what is going on and, on a failure, why;
// the reply, or null.
async function askSaying(line, request, doing, notDone) {
  say(line, doing);
  const answer = await ask(request);
  say(line, answer.failure ? `${notDone}: ${answer.failure}.` : '', Boolean(answer.failure));
  return answer.failure ? null : answer.reply;
}

// --- Signing in and out ---

async function signIn(event) {
  event.preventDefault();
  const form = event.target;
  state.auth = basicAuthorization(form.user.value, form.password.value);
  const session = ++state.session;
  form.password.value = '';
  say('login-result', 'Signing in…');
  const answer = await ask({ command: 'status' });
  if (session !== state.session) return;
  if (answer.status === 401 || answer.status === 429) {
    state.auth = null;
    say('login-result', `Not signed in: ${answer.failure}.`, true);
    return;
  }
  say('login-result', '');
  $('login').hidden = true;
  $('dashboard').hidden = false;
  $('sign-out').hidden = false;
  showStatus(answer);
  fillEmailForm();
  readPending();
  scheduleRefresh();
}

function signOut(why = '') {
  clearTimeout(state.timer);
  state.session += 1;
  Object.assign(state, { auth: null, last: null, profile: [], lightHeld: 0, admin: null });
  state.history.clear();
  state.open.clear();
  state.rows.clear();
  $('sensors').replaceChildren();
  $('supplies').replaceChildren();
  $('profile').textContent = '';
  $('profile-search').value = '';
  $('profile-search').disabled = true;
  $('profile-count').textContent = '';
  $('boot-form').hidden = true;
  $('power-pending').hidden = true;
  $('audit').querySelector('table').hidden = true;
  $('light-lease').textContent = '';
  document.querySelectorAll('#dashboard .result').forEach((line) => say(line.id, ''));
  $('dashboard').hidden = true;
  $('sign-out').hidden = true;
  $('login').hidden = false;
  say('login-result', why, Boolean(why));
}

function scheduleRefresh() {
  clearTimeout(state.timer);
  state.timer = setTimeout(refresh, kRefreshMs);
}

async function refresh() {
  if (!state.auth) return;
  const session = state.session;
  const answer = await ask({ command: 'status' });
  if (session !== state.session) return;
  if (answer.status === 401) {
    signOut(`Signed out: ${answer.failure}.`);
    return;
  }
  showStatus(answer);
  scheduleRefresh();
}

// --- Health and sensors ---

function numberOr(value, fallback) {
  return typeof value === 'number' ? value : fallback;
}

function reading(value, unit) {
  if (typeof value !== 'number') return '–';
  const digits = unit === 'RPM' || unit === '' ? 0 : unit === 'V' ? 3 : 1;
  return value.toFixed(digits);
}

function alarmed(sensor) {
  const v = sensor.value;
  if (sensor.alarm === true) return true;
  if (typeof v !== 'number') return false;
  return v >= numberOr(sensor.crit, Infinity) || v > numberOr(sensor.max, Infinity) ||
    v < numberOr(sensor.min, -Infinity);
}

function sensorId(sensor) {
  return `${sensor.chip}\u0000${sensor.kind}\u0000${sensor.label}`;
}

function showStatus(answer) {
  if (answer.failure) {
    say('notice', `The status could not be read: ${answer.failure}.`, true);
    return;
  }
  say('notice', '');
  const reply = answer.reply;
  state.last = reply;
  const health = typeof reply.Health === 'string' ? reply.Health : 'unknown';
  $('health').textContent = health;
  $('health').dataset.level = health;
  const time = reply.Time instanceof Date && !Number.isNaN(reply.Time.getTime())
    ? reply.Time : new Date();
  $('updated').textContent = time.toLocaleTimeString();
  $('updated').dateTime = time.toISOString();
  showLight(reply.ServiceLight);
  showSensors(Array.isArray(reply.Sensors) ? reply.Sensors : [], time.getTime());
  showSupplies(Array.isArray(reply.PowerSupplies) ? reply.PowerSupplies : []);
}

function kindSection(kind) {
  const id = `kind-${kind.replace(/\W+/g, '-')}`;
  let section = document.getElementById(id);
  if (!section) {
    const head = el('tr', {}, el('th', {}, 'Sensor'), el('th', {}, 'Value'),
      el('th', {}, 'Limits'));
    section = el('div', { id, class: 'kind' }, el('h3', {}, kind),
      el('table', {}, el('thead', {}, head), el('tbody')));
    $('sensors').append(section);
  }
  return section.querySelector('tbody');
}

function limitsText(sensor) {
  const parts = ['min', 'max', 'crit'].filter((key) => typeof sensor[key] === 'number')
    .map((key) => `${key} ${reading(sensor[key], sensor.unit)}`);
  return parts.length ? parts.join(' · ') : 'none';
}

function sensorRows(id, sensor, body) {
  let rows = state.rows.get(id);
  if (!rows) {
    const toggle = el('button', { type: 'button', class: 'link', 'aria-expanded': 'false',
      onclick: () => toggleChart(id) }, sensor.label || '?');
    const main = el('tr', {}, el('td', {}, toggle, el('small', {}, sensor.chip || '')),
      el('td', { class: 'value' }), el('td', { class: 'limits' }));
    const chart = el('tr', { class: 'chart', hidden: '' }, el('td', { colspan: '3' }));
    body.append(main, chart);
    rows = { main, chart, toggle };
    state.rows.set(id, rows);
  }
  return rows;
}

function showSensors(sensors, now) {
  const seen = new Set();
  for (const sensor of sensors) {
    const id = sensorId(sensor);
    seen.add(id);
    const unit = typeof sensor.unit === 'string' ? sensor.unit : '';
    const rows = sensorRows(id, sensor, kindSection(String(sensor.kind || 'other')));
    const alarm = alarmed(sensor);
    rows.main.classList.toggle('alarm', alarm);
    rows.main.cells[1].textContent = `${reading(sensor.value, unit)} ${unit}`.trim();
    if (alarm) rows.main.cells[1].append(el('strong', { class: 'flag' }, 'ALARM'));
    rows.main.cells[2].textContent = limitsText(sensor);
    const points = state.history.get(id) || [];
    // A reading served again (the monitor keeps one for a second) counts once.
    const fresh = !points.length || points[points.length - 1][0] !== now;
    if (typeof sensor.value === 'number' && fresh) points.push([now, sensor.value]);
    while (points.length && points[0][0] < now - kHistoryMs) points.shift();
    state.history.set(id, points);
    if (state.open.has(id)) drawChart(id, sensor);
  }
  for (const [id, rows] of state.rows) {
    rows.main.classList.toggle('gone', !seen.has(id));
  }
  $('no-sensors').hidden = sensors.length > 0;
}

function showSupplies(supplies) {
  if (!supplies.length) {
    $('supplies').replaceChildren();
    return;
  }
  const row = (s) => el('tr', {}, el('td', {}, s.name || '?'), el('td', {}, s.type || ''),
    el('td', {}, s.online === undefined ? '' : s.online ? 'online' : 'offline'),
    el('td', {}, [s.status, typeof s.capacity === 'number' ? `${s.capacity} %` : '']
      .filter(Boolean).join(', ')));
  $('supplies').replaceChildren(el('h3', {}, 'power supplies'),
    el('table', {}, el('tbody', {}, ...supplies.map(row))));
}

function toggleChart(id) {
  const rows = state.rows.get(id);
  const opening = !state.open.has(id);
  if (opening) state.open.add(id);
  else state.open.delete(id);
  rows.chart.hidden = !opening;
  rows.toggle.setAttribute('aria-expanded', String(opening));
  const sensor = (state.last.Sensors || []).find((s) => sensorId(s) === id);
  if (opening && sensor) drawChart(id, sensor);
}

// A line of the readings kept, from the first of them (at most the whole
// window back) to now, with the sensor's limits dashed where they fall near
// the readings.
function drawChart(id, sensor) {
  const width = 480, height = 120, pad = 4, band = 14;  // band: room for labels
  const points = state.history.get(id) || [];
  // Times are the monitor's own; the last reading is "now".
  const now = points.length ? points[points.length - 1][0] : 0;
  const shown = Math.max(now - (points.length ? points[0][0] : now), kRefreshMs);
  const period = shown < 60000 ? `${Math.round(shown / 1000)} seconds`
    : `${Math.round(shown / 60000)} minute${shown < 90000 ? '' : 's'}`;
  const unit = sensor.unit || '';
  const values = points.length ? points.map((p) => p[1]) : [0];
  let low = Math.min(...values), high = Math.max(...values);
  const span = Math.max(high - low, Math.abs(high) * 0.05, 1);
  const limits = ['min', 'max', 'crit'].filter((key) => typeof sensor[key] === 'number' &&
    sensor[key] > low - 2 * span && sensor[key] < high + 2 * span);
  for (const key of limits) {
    low = Math.min(low, sensor[key]);
    high = Math.max(high, sensor[key]);
  }
  if (high - low < span) [low, high] = [low - span / 2, high + span / 2];
  const x = (t) => (pad + (width - 2 * pad) * (1 - (now - t) / shown)).toFixed(1);
  const y = (v) => (band + (height - 2 * band) * (high - v) / (high - low)).toFixed(1);
  const ns = 'http://www.w3.org/2000/svg';
  const svg = document.createElementNS(ns, 'svg');
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  svg.setAttribute('role', 'img');
  svg.setAttribute('aria-label', `${sensor.label}, last ${period}`);
  const add = (tag, attributes, text) => {
    const node = document.createElementNS(ns, tag);
    for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
    if (text) node.textContent = text;
    svg.append(node);
  };
  for (const key of limits) {
    add('line', { x1: pad, x2: width - pad, y1: y(sensor[key]), y2: y(sensor[key]), class: key });
    add('text', { x: width - pad, y: Number(y(sensor[key])) - 2, 'text-anchor': 'end' }, key);
  }
  add('polyline', { points: points.map(([t, v]) => `${x(t)},${y(v)}`).join(' ') });
  if (points.length) {
    const [time, value] = points[points.length - 1];
    add('circle', { cx: x(time), cy: y(value), r: 2.5 });
  }
  add('text', { x: pad, y: band - 3 }, `${reading(high, unit)} ${unit}`);
  add('text', { x: pad, y: height - 2 }, `${reading(low, unit)} ${unit}`);
  const caption = el('p', { class: 'quiet' }, `Last ${period}, ` +
    `${points.length} reading${points.length === 1 ? '' : 's'} since this page opened.`);
  state.rows.get(id).chart.cells[0].replaceChildren(svg, caption);
}

// --- Service light ---

function showLight(light) {
  const box = $('light');
  if (Date.now() < state.lightHeld) return;
  const available = Boolean(light && light.Available);
  box.disabled = !available;
  box.checked = available && light.On === true;
  $('light-state').textContent = !available ? 'not on this machine' : box.checked ? 'on' : 'off';
  $('light-options').hidden = !available || box.checked;
  $('light-lease').textContent = box.checked && typeof light.SecondsLeft === 'number'
    ? [light.Owner && `lit by ${light.Owner}`, light.Reason && `“${light.Reason}”`,
      `${duration(light.SecondsLeft)} left`].filter(Boolean).join(', ') : '';
}

function duration(seconds) {
  const parts = [[Math.floor(seconds / 3600), 'h'], [Math.floor(seconds / 60) % 60, 'min']];
  return parts.filter(([n]) => n).map(([n, unit]) => `${n} ${unit}`)
    .concat(`${seconds % 60} s`).join(' ');
}

async function switchLight() {
  const box = $('light');
  state.lightHeld = Infinity;
  const request = { command: 'serviceid', state: box.checked ? 1 : 0 };
  const minutes = Number($('light-minutes').value);
  if (box.checked && minutes > 0) {
    request.seconds = Math.round(minutes * 60);
    if ($('light-reason').value) request.reason = $('light-reason').value;
  }
  const doing = `Switching the light ${box.checked ? 'on' : 'off'}…`;
  if (!await askSaying('light-result', request, doing, 'Not switched')) box.checked = !box.checked;
  // The monitor serves a reading again for a second: ask after that.
  state.lightHeld = Date.now() + 1100;
  setTimeout(refresh, 1100);
}

// --- Confirmation, boot device, power ---

// Asks, showing what `request()` (the request as the dialog's options make
// it) would do; resolves to the request to send, or null.
function confirmed(text, action, request, options = false) {
  const dialog = $('confirm');
  $('confirm-text').textContent = text;
  $('confirm-ok').textContent = action;
  $('power-options').hidden = !options;
  dialog.returnValue = '';
  let asked = 0;
  const showPlan = async () => {
    const mine = ++asked;
    $('confirm-plan').replaceChildren(el('p', { class: 'quiet' }, 'Reading the plan…'));
    const answer = await ask({ ...request(), dryRun: true });
    if (mine !== asked) return;
    const plan = answer.reply && isDictionary(answer.reply.Plan) ? answer.reply.Plan : null;
    $('confirm-plan').replaceChildren(plan ? planView(plan)
      : el('p', { class: 'bad' }, `No plan: ${answer.failure || 'the service gave none'}.`));
  };
  showPlan();
  $('power-options').onchange = showPlan;
  dialog.showModal();
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => {
      asked += 1;
      resolve(dialog.returnValue === 'ok' ? request() : null);
    }, { once: true });
  });
}

function valueText(value) {
  if (value === undefined) return '(none)';
  if (value instanceof Date) return value.toLocaleString();
  return typeof value === 'string' ? value : JSON.stringify(value);
}

function planView(plan) {
  const items = (Array.isArray(plan.Run) ? plan.Run : []).map((argv) =>
    el('li', {}, 'Runs ', el('code', {}, [].concat(argv).join(' '))));
  for (const change of Array.isArray(plan.Changes) ? plan.Changes : []) {
    if (!isDictionary(change)) continue;
    const target = el('code', {}, String(change.Target));
    items.push('Old' in change || 'New' in change
      ? el('li', {}, 'Changes ', target, ': ', el('del', {}, valueText(change.Old)), ' → ',
        el('ins', {}, valueText(change.New)))
      : el('li', {}, 'Changes ', target));
  }
  if (!items.length) items.push(el('li', {}, 'Nothing would change.'));
  const allowed = plan.Allowed === true;
  return el('div', {}, el('p', { class: allowed ? '' : 'bad' },
    allowed ? 'What this does:' : 'You are not allowed to do this. It would:'), el('ul', {}, ...items));
}

async function readBootDevice() {
  const request = { command: 'getBootPath', list: true };
  const reply = await askSaying('boot-result', request, 'Reading…', 'Not read');
  if (!reply) return;
  const value = reply.Message;
  const devices = (Array.isArray(reply.Devices) ? reply.Devices : [])
    .filter((d) => isDictionary(d) && typeof d.Name === 'string');
  const field = devices.length
    ? el('select', { name: 'bootpath' }, ...devices.map((d) => el('option',
      { value: d.Name, ...(d.Active === false ? { disabled: '' } : {}) },
      [d.Name, d.Description].filter(Boolean).join(' — '))))
    : el('input', { name: 'bootpath', required: '' });
  field.value = typeof value === 'string' ? value : '';
  $('boot-choice').replaceChildren(field);
  $('boot-form').hidden = false;
  const once = typeof reply.OnceDevice === 'string' ? reply.OnceDevice : '';
  $('boot-clear-once').hidden = !once;
  say('boot-result', typeof value === 'string' ? `The machine starts from ${value}` +
    (once ? `, the next start only from ${once}.` : '.') : '');
}

// The read-back in words, or null when there is none.
function verifiedWords(reply) {
  const v = reply.Verified;
  if (!isDictionary(v)) return null;
  if (v.Observed === undefined) return 'not read back';
  return v.Agree === true ? `checked: ${valueText(v.Observed)}`
    : `NOT as asked: ${valueText(v.Observed)} was read back`;
}

async function change(line, question, action, request, doing, done, options = false) {
  const sent = await confirmed(question, action, request, options);
  if (!sent) return null;
  const reply = await askSaying(line, sent, doing, 'Not done');
  if (!reply) return null;
  const verified = verifiedWords(reply);
  say(line, `${done}${verified ? ` (${verified})` : ''}.`, Boolean(verified?.startsWith('NOT')));
  return reply;
}

async function setBootDevice(event) {
  event.preventDefault();
  const value = event.target.bootpath.value;
  const once = event.target.once.checked;
  const request = () => ({ command: 'setBootPath', bootpath: value, ...(once ? { once } : {}) });
  const question = once ? `Start the machine from "${value}" the next time only?`
    : `Make the machine start from "${value}" from now on?`;
  await change('boot-result', question, 'Set boot device', request, 'Setting…',
    once ? `Next start from ${value}` : `Boot device set to ${value}`);
}

async function clearOnce() {
  if (await change('boot-result', 'Take back the next start\'s device?', 'Clear',
    () => ({ command: 'setBootPath', clearOnce: true }), 'Clearing…', 'Cleared')) {
    $('boot-clear-once').hidden = true;
  }
}

// The request the dialog's power options make.
function powerRequest(command) {
  const form = $('power-options');
  const request = { command };
  if (form.elements.force.checked) request.mode = 'force';
  for (const name of ['delay', 'forceAfter']) {
    const value = form.elements[name].value;
    if (value !== '' && Number(value) > 0) request[name] = Number(value);
  }
  if (form.elements.message.value) request.message = form.elements.message.value;
  return request;
}

async function power(command, question, action, done) {
  for (const input of $('power-options').querySelectorAll('input')) {
    if (input.type === 'checkbox') input.checked = false;
    else input.value = input.name === 'delay' ? '0' : '';
  }
  const reply = await change('power-result', question, action, () => powerRequest(command),
    'Asking…', done, true);
  if (reply && isDictionary(reply.Scheduled) && reply.Scheduled.At instanceof Date &&
      reply.Scheduled.At > new Date(Date.now() + 1000)) {
    say('power-result', `Scheduled for ${reply.Scheduled.At.toLocaleString()}.`);
  }
  readPending();
}

// Whether the user may change the machine, from a plan (a dry run is never
// refused, so a plain user's visit leaves no refusal in the audit log).
async function mayChange() {
  if (state.admin === null) {
    const answer = await ask({ command: 'powerSchedule', dryRun: true });
    state.admin = answer.reply?.Plan?.Allowed === true;
    $('audit').hidden = !state.admin;
  }
  return state.admin;
}

async function readPending(cancel = false) {
  if (!cancel && !await mayChange()) return;
  const answer = await ask({ command: 'powerSchedule', ...(cancel ? { cancel } : {}) });
  const pending = answer.reply && isDictionary(answer.reply.Pending) ? answer.reply.Pending : null;
  $('power-pending').hidden = !pending;
  if (pending) {
    $('power-pending').firstElementChild.textContent = `Pending: ${pending.Action} ` +
      `(${pending.Mode}) at ${valueText(pending.At)}, asked by ${pending.User || 'unknown'}.`;
  }
  if (cancel) {
    say('power-result', answer.failure ? `Not cancelled: ${answer.failure}.`
      : answer.reply.Message === 'CANCELLED' ? 'Cancelled.' : 'Nothing was pending.',
    Boolean(answer.failure));
  }
}

// --- Profile ---

async function loadProfile() {
  const reply = await askSaying('profile-result', { command: 'profile' },
    'Collecting the profile; this can take a while…', 'Not loaded');
  if (!reply) return;
  const text = typeof reply.Profile === 'string' ? reply.Profile : '';
  state.profile = text.replace(/\n$/, '').split('\n');
  say('profile-result', text ? '' : 'The profile is empty.');
  $('profile-search').disabled = false;
  showProfile();
}

function showProfile() {
  const query = $('profile-search').value.trim().toLowerCase();
  const matches = (line) => line.toLowerCase().includes(query);
  const lines = query ? state.profile.filter(matches) : state.profile;
  $('profile').textContent = lines.join('\n');
  $('profile-count').textContent = query ? `${lines.length} of ${state.profile.length} lines` : '';
}

// --- Alarm e-mail ---

function dictionaryOr(value) {
  return isDictionary(value) ? value : {};
}

function settingsOfStatus(reply) {
  const settings = {};
  for (const [key, value] of Object.entries(reply)) {
    if (!kStatusKeys.includes(key)) settings[key] = value;
  }
  return settings;
}

function fillEmailForm() {
  const form = $('email');
  const email = dictionaryOr(state.last && state.last.Email);
  const recipients = [].concat(email.Recipients ?? []).join(', ');
  form.Enabled.checked = email.Enabled !== false;
  form.Recipients.value = recipients;
  for (const name of ['Sender', 'SubjectPrefix', 'MinimumLevel', 'HoldOff', 'RetryInterval']) {
    form[name].value = email[name] === undefined ? '' : email[name];
  }
}

async function saveEmail(event) {
  event.preventDefault();
  // The request replaces the whole file: without the rest of it, no saving.
  if (!state.last) {
    say('email-result', 'Not saved: the settings could not be read yet.', true);
    return;
  }
  const form = event.target;
  const settings = settingsOfStatus(state.last);
  const email = { ...dictionaryOr(settings.Email), Enabled: form.Enabled.checked };
  const recipients = form.Recipients.value.split(',').map((r) => r.trim()).filter(Boolean);
  email.Recipients = recipients.length ? recipients : undefined;
  for (const name of ['Sender', 'SubjectPrefix', 'MinimumLevel']) {
    email[name] = form[name].value || undefined;
  }
  for (const name of ['HoldOff', 'RetryInterval']) {
    email[name] = form[name].value === '' ? undefined : Number(form[name].value);
  }
  settings.Email = email;
  const request = { command: 'email', email: settings };
  if (await askSaying('email-result', request, 'Saving…', 'Not saved')) {
    say('email-result', 'Saved.');
    clearTimeout(state.timer);
    await refresh();
    fillEmailForm();
  }
}

async function testMail() {
  const reply = await askSaying('email-result', { command: 'email', test: true },
    'Sending a test mail…', 'Not sent');
  const mail = reply && isDictionary(reply.TestMail) ? reply.TestMail : null;
  if (!reply) return;
  if (mail && mail.Accepted === true) say('email-result', 'The mail system accepted the test mail.');
  else say('email-result', `The test mail was not accepted: ${mail?.Error || 'no answer'}.`, true);
}

// --- Audit log ---

async function readAudit() {
  const request = { command: 'getAuditLog' };
  const from = $('audit-from').value;
  if (from) request.from = new Date(`${from}T00:00:00Z`);
  const reply = await askSaying('audit-result', request, 'Reading…', 'Not read');
  const table = $('audit').querySelector('table');
  table.hidden = !reply;
  if (!reply) return;
  const shown = (value) => value === undefined ? '–' : valueText(value);
  const records = (Array.isArray(reply.Records) ? reply.Records : []).filter(isDictionary);
  table.tBodies[0].replaceChildren(...records.map((r) => el('tr', {},
    ...('Unreadable' in r ? ['?', '', '', 'unreadable', '', r.Unreadable]
      : [r.time, r.user, r.command, r.result, r.old, r.new]).map((v) => el('td', {}, shown(v))))));
  say('audit-result', `${records.length} record${records.length === 1 ? '' : 's'}; ` +
    (reply.ChainIntact === true ? 'the chain is intact.'
      : `THE CHAIN IS BROKEN at ${reply.BrokenAt || 'an unknown place'}: records were altered.`),
  reply.ChainIntact !== true);
}

// --- Wiring ---

$('host').textContent = location.hostname;
$('login').addEventListener('submit', signIn);
$('sign-out').addEventListener('click', () => signOut());
$('light').addEventListener('change', switchLight);
$('boot-read').addEventListener('click', readBootDevice);
$('boot-form').addEventListener('submit', setBootDevice);
$('boot-clear-once').addEventListener('click', clearOnce);
$('power-cancel').addEventListener('click', () => readPending(true));
$('email-test').addEventListener('click', testMail);
$('audit-read').addEventListener('click', readAudit);
$('restart').addEventListener('click', () => power('restart',
  'Restart the machine? Everything running on it stops.', 'Restart', 'Restarting now'));
$('shutdown').addEventListener('click', () => power('shutdown',
  'Shut the machine down? It stays off until someone starts it.', 'Shut down',
  'Shutting down now'));
$('profile-load').addEventListener('click', loadProfile);
$('profile-search').addEventListener('input', showProfile);
$('email').addEventListener('submit', saveEmail);
$('email-reset').addEventListener('click', fillEmailForm);
