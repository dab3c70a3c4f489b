// Checks, in the engine that runs this page, each feature of /features.json (list_features.mjs),
// and posts one JSON message through window.ipc.postMessage:
//   {"results": [{kind, name, native, effective, detail}], "error": text or absent}
// native: the engine itself has the feature (checked where no page script can help: CSS parsed
//         from a <style> element, CSS.supports, functions and accessors that are native code; a
//         member that a page script defines or wraps is not native, since page scripts run in
//         every frame before this one and leave no untouched copy to look at);
// effective: the feature works as the front end uses it, with the page scripts the program adds
//         (constructed style sheets' replaceSync and insertRule, the API present at all).
(() => {
  'use strict';

  const isNative = (fn) => typeof fn === 'function' &&
      /\{\s*\[native code\]\s*\}\s*$/.test(Function.prototype.toString.call(fn));

  // Rules the engine's own parser keeps from a <style> element (its text given as a text node: the
  // page scripts may rewrite what is set through textContent).
  const parsedRules = (text) => {
    const style = document.createElement('style');
    style.appendChild(document.createTextNode(text));
    document.head.appendChild(style);
    try {
      return style.sheet ? style.sheet.cssRules.length : 0;
    } finally {
      style.remove();
    }
  };

  // Whether a constructed sheet keeps `text` through replaceSync and accepts it through
  // insertRule, the two ways the front end gives its styles.
  const constructedKeeps = (text) => {
    const replaced = new CSSStyleSheet();
    replaced.replaceSync(text);
    if (replaced.cssRules.length !== 1) return false;
    const inserted = new CSSStyleSheet();
    try {
      inserted.insertRule(text);
    } catch (e) {
      return false;
    }
    return inserted.cssRules.length === 1;
  };

  // An API path "A.B.c" or "A.prototype.c": the holder and the member's name. Window's members
  // live on the global object itself.
  const resolve = (path) => {
    const parts = path.split('.');
    const member = parts.pop();
    let holder = globalThis;
    if (parts[0] === 'Window' && parts[1] === 'prototype') {
      parts.splice(0, 2);
    }
    for (const part of parts) {
      if (holder === null || holder === undefined) return {holder: undefined, member};
      holder = holder[part];
    }
    return {holder, member};
  };

  const checkApi = (path) => {
    const {holder, member} = resolve(path);
    if ((typeof holder !== 'object' && typeof holder !== 'function') || holder === null ||
        !(member in holder)) {
      return {native: false, effective: false, detail: 'absent'};
    }
    for (let at = holder; at; at = Object.getPrototypeOf(at)) {
      const own = Object.getOwnPropertyDescriptor(at, member);
      if (!own) continue;
      const byScript = 'defined or wrapped by a page script';
      if (own.get) {
        const native = isNative(own.get);
        return {native, effective: true, detail: native ? 'accessor' : byScript};
      }
      if (typeof own.value === 'function') {
        const native = isNative(own.value);
        return {native, effective: true, detail: native ? 'function' : byScript};
      }
      return {native: own.value !== undefined, effective: own.value !== undefined, detail: 'value'};
    }
    return {native: false, effective: true, detail: 'not found on the prototype chain'};
  };

  const checks = {
    property: (name) => {
      const native = CSS.supports(name, 'initial');
      return {native, effective: native, detail: ''};
    },
    function: (declaration) => {
      const colon = declaration.indexOf(':');
      const native = CSS.supports(declaration.slice(0, colon).trim(), declaration.slice(colon + 1).trim());
      return {native, effective: native, detail: ''};
    },
    selector: (selector) => {
      const rule = selector + ' { color: red }';
      return {native: parsedRules(rule) === 1, effective: constructedKeeps(rule), detail: ''};
    },
    'at-rule': (rule) => {
      const native = parsedRules(rule) >= 1;
      // Constructed sheets refuse @import whatever the engine: the <style> parse is the check.
      const effective = rule.startsWith('@import') ? native : constructedKeeps(rule);
      return {native, effective, detail: ''};
    },
    api: checkApi,
  };

  const post = (message) => window.ipc.postMessage(JSON.stringify(message));

  fetch('/features.json')
      .then((response) => response.json())
      .then((features) => {
        const results = features.map(({kind, name, probe}) => {
          const check = checks[kind];
          if (!check) return {kind, name, native: false, effective: false, detail: 'unknown kind'};
          try {
            return {kind, name, ...check(probe)};
          } catch (error) {
            return {kind, name, native: false, effective: false, detail: 'probe threw: ' + error};
          }
        });
        post({results});
      })
      .catch((error) => post({results: [], error: String(error)}));
})();
