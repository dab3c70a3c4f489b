(() => {
  'use strict';
  try {
    new CSSStyleSheet().insertRule(':host-context(a) b {}');
    return;
  } catch (e) {
    // rejected: rewrite below
  }
  const NAME = ':host-context(';
  // The end of the parenthesised argument starting at `from`, skipping quoted text and escapes;
  // -1 when it is not closed.
  const closing = (text, from) => {
    let depth = 1;
    let quote = '';
    for (let i = from; i < text.length; ++i) {
      const c = text[i];
      if (c === '\\') {
        ++i;
      } else if (quote) {
        if (c === quote) quote = '';
      } else if (c === '"' || c === "'") {
        quote = c;
      } else if (c === '(') {
        ++depth;
      } else if (c === ')' && --depth === 0) {
        return i;
      }
    }
    return -1;
  };
  const rewrite = (text) => {
    if (typeof text !== 'string' || !text.includes(NAME)) return text;
    let out = '';
    let done = 0;
    for (let at = text.indexOf(NAME); at >= 0; at = text.indexOf(NAME, done)) {
      const end = closing(text, at + NAME.length);
      if (end < 0) break;
      const inner = text.slice(at + NAME.length, end);
      out += text.slice(done, at) + ':host(:is(' + inner + ', ' + inner + ' *))';
      done = end + 1;
    }
    return out + text.slice(done);
  };
  const proto = CSSStyleSheet.prototype;
  const replaceMethod = (name, wrap) => {
    const original = proto[name];
    if (typeof original !== 'function') return;
    Object.defineProperty(proto, name, {
      value: wrap(original), writable: true, configurable: true, enumerable: false
    });
  };
  replaceMethod('insertRule', (original) => function insertRule(rule, ...index) {
    try {
      return original.call(this, rule, ...index);
    } catch (error) {
      const rewritten = rewrite(String(rule));
      if (rewritten === String(rule)) throw error;
      return original.call(this, rewritten, ...index);
    }
  });
  replaceMethod('replaceSync', (original) => function replaceSync(text) {
    return original.call(this, rewrite(text));
  });
  replaceMethod('replace', (original) => function replace(text) {
    return original.call(this, rewrite(text));
  });
  // Styles also come as the text of <style> elements, where one rejected selector drops its whole
  // rule: a rule for `.platform-linux, :host-context(.platform-linux)` (the monospace font of code
  // and console) and the dark theme's rules were lost.
  const textContent = Object.getOwnPropertyDescriptor(Node.prototype, 'textContent');
  if (textContent && textContent.get && textContent.set && typeof HTMLStyleElement === 'function') {
    Object.defineProperty(HTMLStyleElement.prototype, 'textContent', {
      configurable: true,
      enumerable: textContent.enumerable,
      get: textContent.get,
      set(text) {
        textContent.set.call(this, rewrite(text));
      }
    });
  }
})();
