// Reports the page's uncaught errors, unhandled rejections and console errors to `channel`, a
// function of one text (or nothing, in a page with no way to the host).
((channel) => {
  'use strict';
  if (typeof channel !== 'function') return;
  const post = (text) => {
    try {
      channel(String(text));
    } catch (e) {
      // a report must never become an error of its own
    }
  };
  const describe = (value) => {
    try {
      if (value instanceof Error || (value && typeof value.stack === 'string')) {
        const head = String(value);
        const stack = String(value.stack || '');
        return stack.startsWith(head) ? stack : head + (stack ? '\n' + stack : '');
      }
      return typeof value === 'string' ? value : JSON.stringify(value) ?? String(value);
    } catch (e) {
      return String(value);
    }
  };
  window.addEventListener('error', (event) => {
    if (event.error !== undefined && event.error !== null) {
      post('uncaught ' + describe(event.error));
    } else if (event.message) {
      post('uncaught ' + event.message + ' (' + event.filename + ':' + event.lineno + ':' +
           event.colno + ')');
    }
  });
  window.addEventListener('unhandledrejection', (event) => {
    post('unhandled rejection: ' + describe(event.reason));
  });
  const consoleError = console.error;
  console.error = function error(...args) {
    post('console.error: ' + args.map(describe).join(' '));
    return consoleError.apply(this, args);
  };
})
