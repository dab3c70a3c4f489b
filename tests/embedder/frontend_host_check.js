// Checks the front end's embedder script (inspector/resources/src/frontend_host.js) in a stand-in page:
// which documents get a host, that it has every method of the front end's own host interface, and
// what each kind of method sends to and takes from the program. Run by node:
//   node frontend_host_check.js path/to/frontend_host.js path/to/front_end/core/host/host.js
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const vm = require('node:vm');

const [scriptPath, stubPath] = process.argv.slice(2);
const script = fs.readFileSync(scriptPath, 'utf8').trimEnd();

class Storage {
  constructor(entries = {}) {
    this.map = new Map(Object.entries(entries));
  }
  get length() {
    return this.map.size;
  }
  key(i) {
    return [...this.map.keys()][i] ?? null;
  }
  getItem(k) {
    return this.map.has(k) ? this.map.get(k) : null;
  }
  setItem(k, v) {
    this.map.set(k, String(v));
  }
  removeItem(k) {
    this.map.delete(k);
  }
  clear() {
    this.map.clear();
  }
}

// A page with window.ipc recording what is posted; `deliver` plays the program's answers.
function page({protocol = 'devtools:', top = true, ipc = true, local = {}, session = {}, search = ''} = {}) {
  const posted = [];
  const listeners = [];
  const timers = [];
  const context = {
    console,
    JSON,
    Map,
    Object,
    Number,
    String,
    Boolean,
    Promise,
    URLSearchParams,
    queueMicrotask,
    location: {protocol, search},
    localStorage: new Storage(local),
    sessionStorage: new Storage(session),
    navigator: {userAgent: 'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15'},
    setTimeout: (fn, ms, ...args) => timers.push(() => fn(...args)),
  };
  context.window = context;
  context.globalThis = context;
  context.top = top ? context : {};
  if (ipc) {
    context.ipc = {
      postMessage: (text) => posted.push(JSON.parse(text)),
      addMessageListener: (fn) => listeners.push(fn),
    };
  }
  vm.createContext(context);
  return {
    context,
    posted,
    deliver: (message) => listeners.forEach((fn) => fn(JSON.stringify(message))),
    runTimers: () => timers.splice(0).forEach((fn) => fn()),
  };
}

function install(p, config) {
  vm.runInContext(`${script}(${JSON.stringify(config)});`, p.context);
  return p.context.InspectorFrontendHost;
}

const CONFIG = {token: 'secret-token', zoomFactor: 1, protocol: 'devtools:'};
const checks = [];
const check = (name, fn) => checks.push([name, fn]);

check('only the top-level document of the front end gets a host', () => {
  assert.equal(install(page({top: false}), CONFIG), undefined);
  assert.equal(install(page({protocol: 'https:'}), CONFIG), undefined);
  assert.equal(install(page({ipc: false}), CONFIG), undefined);
  assert.equal(typeof install(page(), CONFIG), 'object');
});

check('every method of the front end\'s host interface is there', () => {
  const stub = fs.readFileSync(stubPath, 'utf8');
  // The stub class whose methods the front end fills in where an embedder lacks them.
  const start = stub.indexOf('recordedPerformanceHistograms=[];constructor(');
  assert.notEqual(start, -1, 'the stub class is not where it was: read the new host.js');
  const end = stub.indexOf('}let ', start);
  let depth = 0;
  const names = [];
  const body = stub.slice(stub.lastIndexOf('{', start) + 1, end);
  for (let i = 0; i < body.length; ++i) {
    if (depth === 0) {
      const m = /^(?:async\s*)?([A-Za-z_]\w*)\([^)]*\)\{/.exec(body.slice(i));
      if (m) {
        names.push(m[1]);
        i += m[0].length - 1;
        depth = 1;
        continue;
      }
    }
    if (body[i] === '{') depth++;
    if (body[i] === '}') depth--;
  }
  assert.ok(names.length > 50, `only ${names.length} methods found in the stub`);
  const host = install(page(), CONFIG);
  const missing = names.filter((n) => n !== 'constructor' && typeof host[n] !== 'function');
  assert.deepEqual(missing, []);
});

check('requests carry the token; answers reach the callback once', () => {
  const p = page();
  const host = install(p, CONFIG);
  const got = [];
  const load = host.loadNetworkResource;  // the front end calls some methods unbound
  load('file:///a.map', '', 7, (status) => got.push(status));
  assert.equal(p.posted.length, 1);
  const request = p.posted[0];
  assert.equal(request.token, 'secret-token');
  assert.equal(request.method, 'loadNetworkResource');
  assert.deepEqual(request.args, ['file:///a.map', '', 7]);
  const streamed = [];
  p.context.InspectorFrontendAPI = {streamWrite: (id, chunk) => streamed.push([id, chunk])};
  p.deliver({stream: 7, chunk: 'abc'});
  p.deliver({id: request.id, result: {statusCode: 200}});
  p.deliver({id: request.id, result: {statusCode: 500}});
  assert.deepEqual(streamed, [[7, 'abc']]);
  assert.deepEqual(got, [{statusCode: 200}]);
});

check('the program\'s events reach the front end\'s dispatcher', () => {
  const p = page();
  install(p, CONFIG);
  const saved = [];
  p.context.InspectorFrontendAPI = {savedURL: (url, path) => saved.push([url, path])};
  p.deliver({event: 'savedURL', args: ['snap.heapsnapshot', '/home/u/snap.heapsnapshot']});
  p.deliver({event: 'noSuchEvent', args: []});
  assert.deepEqual(saved, [['snap.heapsnapshot', '/home/u/snap.heapsnapshot']]);
});

check('zoom steps through the same levels as a DevTools window and is remembered', () => {
  const p = page();
  const host = install(p, CONFIG);
  const {zoomIn, zoomOut, resetZoom, zoomFactor} = host;
  zoomIn();
  zoomIn();
  assert.equal(zoomFactor(), 1.25);
  zoomOut();
  assert.equal(zoomFactor(), 1.1);
  resetZoom();
  zoomOut();
  assert.equal(zoomFactor(), 0.9);
  for (let i = 0; i < 20; ++i) zoomOut();
  assert.equal(zoomFactor(), 0.25);
  const sent = p.posted.filter((m) => m.method === 'setZoomFactor').map((m) => m.args[0]);
  assert.deepEqual(sent.slice(0, 5), [1.1, 1.25, 1.1, 1, 0.9]);
  assert.equal(sent.at(-1), 0.25);
  // A reload of the window's page (a re-attach) keeps the level; a new run starts from the program's.
  const again = install(page({session: {'quelby-inspector-zoom': '1.5'}}), {...CONFIG, zoomFactor: 2});
  assert.equal(again.zoomFactor(), 1.5);
  assert.equal(install(page(), {...CONFIG, zoomFactor: 2}).zoomFactor(), 2);
});

check('the first run with a settings file keeps what local storage held', () => {
  const p = page({local: {theme: '"dark"', panel: 'sources'}});
  const host = install(p, CONFIG);
  let preferences;
  host.getPreferences((prefs) => (preferences = prefs));
  const ask = p.posted.find((m) => m.method === 'getPreferences');
  p.deliver({id: ask.id, result: {preferences: {panel: 'console'}, fresh: true}});
  // Objects of the page's realm compare by their text.
  assert.equal(JSON.stringify(preferences), JSON.stringify({panel: 'console', theme: '"dark"'}));
  const moved = p.posted.filter((m) => m.method === 'setPreference').map((m) => m.args);
  assert.deepEqual(moved, [['theme', '"dark"']]);

  // Later runs take the file as it is.
  const later = page({local: {theme: '"dark"'}});
  const laterHost = install(later, CONFIG);
  laterHost.getPreferences((prefs) => (preferences = prefs));
  later.deliver({id: later.posted[0].id, result: {preferences: {}, fresh: false}});
  assert.equal(JSON.stringify(preferences), '{}');
  assert.equal(later.posted.length, 1);

  // Unbound, as the front end's settings storage calls them.
  const {setPreference, removePreference, getPreference} = host;
  setPreference('a', 1);
  removePreference('panel');
  let value = 'unset';
  getPreference('a', (v) => (value = v));
  p.runTimers();
  assert.equal(value, '1');
  assert.deepEqual(p.posted.slice(-2).map((m) => [m.method, m.args]),
                   [['setPreference', ['a', '1']], ['removePreference', ['panel']]]);
});

check('the front end is told to use its own menus', () => {
  const host = install(page(), CONFIG);
  const heard = [];
  const hub = {addEventListener: () => {}};
  host.events = hub;
  hub.addEventListener('setUseSoftMenu', (event) => heard.push(event.data));
  hub.addEventListener('savedURL', () => heard.push('wrong'));
  return Promise.resolve().then(() => assert.deepEqual(heard, [true]));
});

check('in a browser, local files come from the server with the secret', async () => {
  const p = page({protocol: 'http:', ipc: false, search: '?ws=x&host=s3cret'});
  const requests = [];
  p.context.fetch = async (url) => {
    requests.push(url);
    if (url.includes('missing')) {
      return {ok: false, status: 404, headers: {get: () => '-6 net::ERR_FILE_NOT_FOUND'}};
    }
    const chunks = [Buffer.from('{"version":'), Buffer.from('3}')];
    return {
      ok: true,
      status: 200,
      body: {getReader: () => ({read: async () => chunks.length ? {done: false, value: chunks.shift()} : {done: true}})},
    };
  };
  p.context.TextDecoder = TextDecoder;
  const host = vm.runInContext(
      `${script}({served: true, protocol: location.protocol, zoomFactor: 1, ` +
          `token: new URLSearchParams(location.search).get('host') || ''}); InspectorFrontendHost`,
      p.context);
  assert.equal(host.isHostedMode(), true);
  const streamed = [];
  p.context.InspectorFrontendAPI = {streamWrite: (id, chunk) => streamed.push(chunk)};
  const result = await new Promise((resolve) => host.loadNetworkResource('file:///a b.map', '', 1, resolve));
  assert.equal(requests[0], '/quelby-host/file?host=s3cret&url=file%3A%2F%2F%2Fa+b.map');
  assert.equal(streamed.join(''), '{"version":3}');
  assert.equal(result.statusCode, 200);
  const failed = await new Promise((resolve) => host.loadNetworkResource('file:///missing.map', '', 2, resolve));
  assert.deepEqual([failed.statusCode, failed.netError, failed.netErrorName], [404, -6, 'net::ERR_FILE_NOT_FOUND']);
});

(async () => {
  let failed = 0;
  for (const [name, fn] of checks) {
    try {
      await fn();
      console.log(`ok: ${name}`);
    } catch (error) {
      failed++;
      console.log(`FAILED: ${name}\n${error.stack}`);
    }
  }
  console.log(`${checks.length - failed} passed, ${failed} failed`);
  process.exitCode = failed ? 1 : 0;
})();
