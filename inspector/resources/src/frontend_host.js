// The front end's embedder: the host object it looks for before its own modules run. The program
// appends the call with its configuration: (installFrontendHost)({token, zoomFactor, protocol,
// served}). Every method of the front end's host interface is here, either served by the program
// or a deliberate no-op; none relies on `this`, since the front end passes some of them around
// unbound.
//
// In the window the program answers through window.ipc. In a browser (`served`, from the program's
// HTTP server) the browser keeps its own zoom, links, downloads and storage, and only local files
// come from the server, for requests that carry the run's secret (`token`, from the page's URL).
(function installFrontendHost(config) {
  'use strict';
  const served = Boolean(config.served);
  // Only the front end's own top-level document gets a host: a frame, or a page the window was
  // sent to by mistake, must not reach the program's services.
  if (window !== window.top || location.protocol !== config.protocol || (!served && !window.ipc)) {
    return;
  }
  const token = config.token;

  let nextCallId = 1;
  const pendingCalls = new Map();
  const send = (method, args, callback) => {
    const id = callback ? nextCallId++ : 0;
    if (callback) {
      pendingCalls.set(id, callback);
    }
    window.ipc.postMessage(JSON.stringify({token, id, method, args}));
  };
  // The front end's dispatcher exists only once its host module has run.
  const frontendApi = () => globalThis.InspectorFrontendAPI;
  const dispatchToFrontend = (name, args) => {
    const api = frontendApi();
    if (api && typeof api[name] === 'function') {
      api[name](...args);
    }
  };

  const onHostMessage = (text) => {
    let message;
    try {
      message = JSON.parse(text);
    } catch (e) {
      return;
    }
    if (typeof message.stream === 'number') {
      dispatchToFrontend('streamWrite', [message.stream, message.chunk]);
    } else if (typeof message.alert === 'string') {
      window.alert(message.alert);
    } else if (typeof message.event === 'string') {
      dispatchToFrontend(message.event, message.args || []);
    } else if (typeof message.id === 'number' && pendingCalls.has(message.id)) {
      const callback = pendingCalls.get(message.id);
      pendingCalls.delete(message.id);
      callback(message.result);
    }
  };
  if (!served) {
    window.ipc.addMessageListener(onHostMessage);
  }

  // Zoom: the factor is this page's to answer at once, so the steps are taken here and the program
  // applies and remembers them. Kept across the window's own reloads (a re-attach) in
  // sessionStorage.
  const ZOOM_STEPS = [0.25, 1 / 3, 0.5, 2 / 3, 0.75, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 1.75, 2, 2.5, 3, 4, 5];
  const ZOOM_KEY = 'quelby-inspector-zoom';
  let zoom = Number(sessionStorage.getItem(ZOOM_KEY)) || config.zoomFactor || 1;
  const setZoom = (factor) => {
    zoom = factor;
    try {
      sessionStorage.setItem(ZOOM_KEY, String(factor));
    } catch (e) {
      // the program still remembers it
    }
    send('setZoomFactor', [factor]);
  };
  const stepZoom = (direction) => {
    const epsilon = 0.001;
    const next = direction > 0 ? ZOOM_STEPS.find((step) => step > zoom + epsilon) :
                                 ZOOM_STEPS.slice().reverse().find((step) => step < zoom - epsilon);
    if (next !== undefined) {
      setZoom(next);
    }
  };

  // Preferences live in the program's settings file. The first run with that file moves what
  // this window kept in its local storage before, so nothing a user had set is lost.
  let preferences = {};
  const fromLocalStorage = () => {
    const found = {};
    try {
      for (let i = 0; i < localStorage.length; ++i) {
        const key = localStorage.key(i);
        found[key] = localStorage.getItem(key);
      }
    } catch (e) {
      // no storage: nothing to move
    }
    return found;
  };

  const copyWithSelection = (text) => {
    const area = document.createElement('textarea');
    area.value = text;
    area.style.position = 'fixed';
    area.style.opacity = '0';
    document.body.appendChild(area);
    area.select();
    try {
      document.execCommand('copy');
    } finally {
      area.remove();
    }
  };

  const noop = () => {};
  const soon = (callback, value) => window.setTimeout(() => callback(value), 0);
  const NOT_AVAILABLE = 'Adding a folder to the workspace is not available in this window.';

  // In a browser: what the browser does itself, and local files through the server.
  const servedInBrowser = () => {
    const saves = new Map();
    const netErrorOf = (response) => {
      const [number, name] = (response.headers.get('X-Net-Error') || '').split(' ');
      return {netError: Number(number) || -2, netErrorName: name || 'net::ERR_FAILED'};
    };
    const fromStorage = (name) => {
      try {
        return localStorage.getItem(name);
      } catch (e) {
        return null;
      }
    };
    const toStorage = (action) => {
      try {
        action();
      } catch (e) {
        // no storage: the setting lasts for this page only
      }
    };
    return {
      isHostedMode: () => true,
      openInNewTab: (url) => window.open(String(url), '_blank'),
      showItemInFolder: noop,
      zoomFactor: () => 1,
      zoomIn: noop,
      zoomOut: noop,
      resetZoom: noop,
      // Saves become one download when the front end closes them.
      save: (url, content) => {
        saves.set(url, [String(content ?? '')]);
        soon(() => dispatchToFrontend('savedURL', [url, url]));
      },
      append: (url, content) => {
        const parts = saves.get(url);
        if (parts) {
          parts.push(String(content ?? ''));
          soon(() => dispatchToFrontend('appendedToURL', [url]));
        }
      },
      close: (url) => {
        const parts = saves.get(url) || [];
        saves.delete(url);
        const link = document.createElement('a');
        link.download = String(url).split(/[\\/]/).pop().split(/[?#]/)[0] || 'download';
        const address = URL.createObjectURL(new Blob(parts, {type: 'text/plain'}));
        link.href = address;
        link.click();
        URL.revokeObjectURL(address);
      },
      getPreferences: (callback) => soon(callback, fromLocalStorage()),
      getPreference: (name, callback) => soon(callback, fromStorage(name) ?? undefined),
      setPreference: (name, value) => toStorage(() => localStorage.setItem(name, value)),
      removePreference: (name) => toStorage(() => localStorage.removeItem(name)),
      clearPreferences: () => toStorage(() => localStorage.clear()),
      loadNetworkResource: (url, headers, streamId, callback) => {
        const address = String(url);
        const local = address.toLowerCase().startsWith('file:');
        const request = local ?
            '/quelby-host/file?' + new URLSearchParams({host: token, url: address}).toString() :
            address;
        fetch(request)
            .then(async (response) => {
              if (!response.ok) {
                callback(Object.assign({statusCode: response.status}, local ? netErrorOf(response) : {
                  netError: -379,
                  netErrorName: 'net::ERR_HTTP_RESPONSE_CODE_FAILURE',
                }));
                return;
              }
              const reader = response.body.getReader();
              const decoder = new TextDecoder();
              for (;;) {
                const {done, value} = await reader.read();
                const text = decoder.decode(value, {stream: !done});
                if (text) {
                  dispatchToFrontend('streamWrite', [streamId, text]);
                }
                if (done) {
                  break;
                }
              }
              callback({statusCode: response.status, headers: {}});
            })
            .catch(() => callback({statusCode: 404, netError: -2, netErrorName: 'net::ERR_FAILED'}));
      },
    };
  };

  // The front end assigns its event hub here. It asks for soft (in-page) context menus by event;
  // the window has no native menus, so every listener for that event hears "yes" as it is added.
  let eventHub;
  const host = {
    get events() {
      return eventHub;
    },
    set events(hub) {
      eventHub = hub;
      const add = hub.addEventListener.bind(hub);
      hub.addEventListener = (type, listener, thisObject) => {
        const result = add(type, listener, thisObject);
        if (type === 'setUseSoftMenu') {
          queueMicrotask(() => listener.call(thisObject, {data: true}));
        }
        return result;
      };
    },

    platform: () => {
      const agent = navigator.userAgent;
      return agent.includes('Windows NT') ? 'windows' : agent.includes('Mac OS X') ? 'mac' : 'linux';
    },
    isHostedMode: () => false,

    // Window management: the window is the program's; the front end cannot dock or close it.
    loadCompleted: noop,
    bringToFront: noop,
    closeWindow: noop,
    setIsDocked: (docked, callback) => soon(callback),
    setInspectedPageBounds: noop,
    inspectElementCompleted: noop,
    setInjectedScriptForOrigin: noop,
    inspectedURLChanged: noop,
    setWhitelistedShortcuts: noop,
    setEyeDropperActive: noop,
    showCertificateViewer: noop,
    reattach: (callback) => soon(callback),
    readyForTest: noop,
    connectionReady: noop,
    setOpenNewWindowForPopups: noop,
    setAddExtensionCallback: noop,
    initialTargetId: async () => null,
    // Everything goes through the front end's own WebSocket, never through the embedder.
    sendMessageToBackend: noop,
    // Soft menus only (see events above).
    showContextMenuAtPoint: noop,

    // No remote devices, surveys, AI or metrics: none of them leaves this machine.
    setDevicesDiscoveryConfig: noop,
    setDevicesUpdatesEnabled: noop,
    performActionOnRemotePage: noop,
    openRemotePage: noop,
    openNodeFrontend: noop,
    showSurvey: (trigger, callback) => soon(callback, {surveyShown: false}),
    canShowSurvey: (trigger, callback) => soon(callback, {canShowSurvey: false}),
    doAidaConversation: (request, streamId, callback) => soon(callback, {error: 'not available'}),
    recordCountHistogram: noop,
    recordEnumeratedHistogram: noop,
    recordPerformanceHistogram: noop,
    recordUserMetricsAction: noop,
    recordImpression: noop,
    recordClick: noop,
    recordHover: noop,
    recordDrag: noop,
    recordChange: noop,
    recordKeyDown: noop,

    copyText: (text) => {
      if (text === null || text === undefined) {
        return;
      }
      const value = String(text);
      if (navigator.clipboard && navigator.clipboard.writeText) {
        navigator.clipboard.writeText(value).catch(() => copyWithSelection(value));
      } else {
        copyWithSelection(value);
      }
    },
    openInNewTab: (url) => send('openInNewTab', [String(url)]),
    showItemInFolder: (path) => send('showItemInFolder', [String(path)]),

    // Files: the program asks where to save and streams appends to the file.
    save: (url, content, forceSaveAs, isBase64) =>
        send('save', [String(url), String(content ?? ''), Boolean(forceSaveAs), Boolean(isBase64)]),
    append: (url, content) => send('append', [String(url), String(content ?? '')]),
    close: (url) => send('close', [String(url)]),

    loadNetworkResource: (url, headers, streamId, callback) =>
        send('loadNetworkResource', [String(url), String(headers ?? ''), streamId], callback),

    registerPreference: noop,
    getPreferences: (callback) => {
      send('getPreferences', [], (result) => {
        preferences = Object.assign({}, result && result.preferences);
        if (result && result.fresh) {
          const old = fromLocalStorage();
          for (const [name, value] of Object.entries(old)) {
            if (!(name in preferences)) {
              preferences[name] = value;
              send('setPreference', [name, String(value)]);
            }
          }
        }
        callback(Object.assign({}, preferences));
      });
    },
    getPreference: (name, callback) => soon(callback, preferences[name]),
    setPreference: (name, value) => {
      preferences[name] = String(value);
      send('setPreference', [String(name), String(value)]);
    },
    removePreference: (name) => {
      delete preferences[name];
      send('removePreference', [String(name)]);
    },
    clearPreferences: () => {
      preferences = {};
      send('clearPreferences', []);
    },
    getSyncInformation: (callback) => soon(callback, {isSyncActive: false, arePreferencesSynced: false}),

    zoomFactor: () => zoom,
    zoomIn: () => stepZoom(1),
    zoomOut: () => stepZoom(-1),
    resetZoom: () => setZoom(1),

    // Workspace folders are not offered: the front end is told so, and it tells the user.
    requestFileSystems: () => dispatchToFrontend('fileSystemsLoaded', [[]]),
    addFileSystem: () => dispatchToFrontend('fileSystemAdded', [NOT_AVAILABLE, undefined]),
    removeFileSystem: noop,
    isolatedFileSystem: () => null,
    upgradeDraggedFileSystemPermissions: noop,
    indexPath: (requestId, path) => dispatchToFrontend('indexingDone', [requestId, path]),
    stopIndexing: noop,
    searchInPath: (requestId, path) => dispatchToFrontend('searchCompleted', [requestId, path, []]),
  };
  if (served) {
    Object.assign(host, servedInBrowser());
  }
  Object.defineProperty(globalThis, 'InspectorFrontendHost', {value: host, writable: true, configurable: true});
})
