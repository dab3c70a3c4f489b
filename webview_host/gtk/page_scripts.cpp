#include "page_scripts.h"

namespace quelby::webview_host::gtk {

const char* const HOST_CONTEXT_POLYFILL = R"js((() => {
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
})();)js";

const char* const SHADOW_SELECTION_POLYFILL = R"js((() => {
  'use strict';
  if (typeof ShadowRoot === 'undefined' || 'getSelection' in ShadowRoot.prototype) return;
  const inShadowTree = (node) => !!node && node.getRootNode() instanceof ShadowRoot;
  const nativeAddRange = Selection.prototype.addRange;
  Object.defineProperty(Selection.prototype, 'addRange', {
    value: function addRange(range) {
      if (range && inShadowTree(range.startContainer)) {
        this.setBaseAndExtent(range.startContainer, range.startOffset, range.endContainer,
                              range.endOffset);
        return;
      }
      return nativeAddRange.call(this, range);
    },
    writable: true,
    configurable: true
  });
  const composedRange = (selection, root) => {
    if (!selection.rangeCount || typeof selection.getComposedRanges !== 'function') return null;
    let ranges = null;
    try {
      ranges = selection.getComposedRanges({ shadowRoots: [root] });
    } catch (e) {
      try {
        ranges = selection.getComposedRanges(root);  // the form of older engines
      } catch (e2) {
        return null;
      }
    }
    return ranges && ranges.length ? ranges[0] : null;
  };
  const liveRange = (r) => {
    const live = new Range();
    live.setStart(r.startContainer, r.startOffset);
    live.setEnd(r.endContainer, r.endOffset);
    return live;
  };
  Object.defineProperty(ShadowRoot.prototype, 'getSelection', {
    value: function getSelection() {
      const selection = this.ownerDocument.getSelection();
      if (!selection) return selection;
      const root = this;
      return new Proxy(selection, {
        get(target, name) {
          const range = composedRange(target, root);
          if (range) {
            const backward = target.direction === 'backward';
            switch (name) {
              case 'anchorNode': return backward ? range.endContainer : range.startContainer;
              case 'anchorOffset': return backward ? range.endOffset : range.startOffset;
              case 'focusNode': return backward ? range.startContainer : range.endContainer;
              case 'focusOffset': return backward ? range.startOffset : range.endOffset;
              case 'getRangeAt':
                return (index) => (index === 0 ? liveRange(range) : target.getRangeAt(index));
              case 'containsNode': return (node, partly) => {
                const live = liveRange(range);
                if (partly) return live.intersectsNode(node);
                const whole = new Range();
                whole.selectNode(node);
                return live.compareBoundaryPoints(Range.START_TO_START, whole) <= 0 &&
                    live.compareBoundaryPoints(Range.END_TO_END, whole) >= 0;
              };
              default: break;
            }
          }
          const value = Reflect.get(target, name, target);
          return typeof value === 'function' ? value.bind(target) : value;
        }
      });
    },
    writable: true,
    configurable: true
  });
})();)js";

}  // namespace quelby::webview_host::gtk
