// Runs the document-start scripts the Win32 host gave the runtime double, in V8 as the runtime
// would: each script, in order, at the start of every document, here a top-level document and a
// frame inside it. The scripts are the files 000.js, 001.js, ... of the folder given, written by
// fake_webview2_runtime.cpp while webview_test.cpp's
// OnRuntimeDouble.BuildZoomsThenAddsTheScriptsInOrderThenNavigates built a web view with the
// diagnostics sink, PAGE_SCRIPT and TOP_DOCUMENT_SCRIPT.
//
//   node document_scripts_check.js FOLDER
//
// Prints "ok NAME" or "FAIL NAME: detail" for each check; exits with 1 if any failed.
'use strict';

const fs = require('fs');
const path = require('path');
const vm = require('vm');

const folder = process.argv[2];
const scripts = fs.readdirSync(folder)
                    .filter((name) => /^\d{3}\.js$/.test(name))
                    .sort()
                    .map((name) => ({name, source: fs.readFileSync(path.join(folder, name), 'utf8')}));

let failed = 0;
const expect = (condition, name, detail) => {
  if (condition) {
    console.log(`ok ${name}`);
  } else {
    failed += 1;
    console.log(`FAIL ${name}: ${detail}`);
  }
};
const same = (actual, expected) => JSON.stringify(actual) === JSON.stringify(expected);

// A document's global: window, top, console, window events and, where the runtime gives one,
// chrome.webview, whose messages to the host and listeners for the host's messages are recorded.
function makeDocument(top) {
  const document = {toHost: [], hostListeners: [], errors: []};
  const global = {
    console: {error: (...args) => document.errors.push(args), log() {}, warn() {}},
    addEventListener() {},
  };
  global.window = global;
  global.self = global;
  global.top = top ? top.global : global;
  if (!top) {
    global.chrome = {
      webview: {
        postMessage: (message) => document.toHost.push(message),
        addEventListener: (type, listener) => document.hostListeners.push({type, listener}),
      },
    };
  }
  document.global = global;
  document.context = vm.createContext(global);
  document.thrown = [];
  for (const {name, source} of scripts) {
    try {
      vm.runInContext(source, document.context, {filename: name});
    } catch (e) {
      document.thrown.push(`${name}: ${e && e.stack || e}`);
    }
  }
  return document;
}

// The host's message as the runtime hands it to the page: a message event on chrome.webview. What
// escapes a listener of the event is kept, for the checks to see.
const escaped = [];
const fromHost = (document, text) => {
  for (const {type, listener} of document.hostListeners) {
    if (type === 'message') {
      try {
        listener({data: text});
      } catch (e) {
        escaped.push(String(e));
      }
    }
  }
};

expect(scripts.length === 4, 'four scripts: diagnostics, window.ipc, page, top document',
       scripts.map((s) => s.name).join(' '));

const top = makeDocument(null);
const frame = makeDocument(top);
for (const [name, document] of [['top-level document', top], ['frame', frame]]) {
  expect(document.thrown.length === 0, `${name}: every script runs`, document.thrown.join('; '));
  expect(document.global.pageScriptSaw === 'object \u2713',
         `${name}: page scripts run after window.ipc is defined`, document.global.pageScriptSaw);
}
expect(top.global.topDocumentScriptSaw === 'object', 'the top-document script runs at the top',
       top.global.topDocumentScriptSaw);
expect(!('topDocumentScriptSaw' in frame.global), 'the top-document script does not run in a frame',
       frame.global.topDocumentScriptSaw);

const ipc = top.global.ipc;
expect(Object.isFrozen(ipc) && same(Object.keys(ipc), ['postMessage', 'addMessageListener']),
       'window.ipc is frozen and shows only postMessage and addMessageListener',
       JSON.stringify(Object.keys(ipc)));
const deliverProperty = Object.getOwnPropertyDescriptor(ipc, 'deliver');
expect(deliverProperty && typeof deliverProperty.value === 'function' &&
           !deliverProperty.enumerable,
       'deliver is there, not enumerable', JSON.stringify(deliverProperty));
vm.runInContext('window.ipc = null;', top.context);
expect(top.global.ipc === ipc, 'window.ipc cannot be replaced', String(top.global.ipc));

ipc.postMessage('to the host \u2713');
expect(same(top.toHost, ['to the host \u2713']), 'postMessage reaches the host',
       JSON.stringify(top.toHost));

const received = [];
ipc.addMessageListener((text) => received.push(`first: ${text}`));
ipc.addMessageListener(() => {
  throw new Error('listener failed');
});
ipc.addMessageListener((text) => received.push(`third: ${text}`));
fromHost(top, 'from the host \u2713');
expect(same(received, ['first: from the host \u2713', 'third: from the host \u2713']),
       'the host\'s message reaches every listener, in order, past one that throws',
       JSON.stringify(received));
expect(top.toHost.some((m) => m.startsWith('\u0001host-diagnostics\u0001console.error: Error: ' +
                                           'listener failed')),
       'the listener\'s failure is reported to the host as a diagnostic', JSON.stringify(top.toHost));
received.length = 0;
try {
  ipc.deliver('delivered');
} catch (e) {
  escaped.push(String(e));
}
fromHost(top, 'second');
expect(same(received, ['first: delivered', 'third: delivered', 'first: second', 'third: second']),
       'deliver(text) reaches the listeners as the host\'s messages do', JSON.stringify(received));
expect(escaped.length === 0, 'a listener\'s exception stays inside window.ipc', escaped.join('; '));

expect(typeof frame.global.ipc === 'object' && frame.hostListeners.length === 0,
       'a frame without chrome.webview still gets window.ipc', typeof frame.global.ipc);

process.exit(failed === 0 ? 0 : 1);
