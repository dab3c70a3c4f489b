// Reports every closed WebSocket of the page through window.ipc, as `closedMessage` + its URL.
((closedMessage) => {
  'use strict';
  const Native = window.WebSocket;
  if (typeof Native !== 'function') return;
  const report = (url) => {
    try {
      window.ipc.postMessage(closedMessage + url);
    } catch (e) {
      // no host to tell
    }
  };
  // A subclass keeps the constants, instanceof and every method of the engine's own class.
  class WebSocket extends Native {
    constructor(...args) {
      super(...args);
      const url = this.url;
      this.addEventListener('close', () => report(url));
    }
  }
  window.WebSocket = WebSocket;
})
