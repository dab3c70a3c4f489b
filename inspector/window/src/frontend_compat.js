// The front end is written for Chromium. Where another engine lays out or behaves differently on a
// path a user reaches, this script, run at the start of every document before the front end's own,
// makes it behave as in Chromium. Every change is keyed on what the front end does, so that it is
// a no-op where the engine already agrees.
(() => {
  'use strict';

  // The front end's source editors are told to fill their host element (height: 100%). The host is
  // a flex item sized by its content, so the percentage is indefinite by the letter of the flex
  // rules; WebKit then gives the editor its whole document's height. The editor lays out every line
  // of a long script (minutes for 60,000 lines), its scroller never scrolls, so a revealed line
  // stays off screen, and the bars below it are pushed out of the window. As a column flex
  // container the host lets the editor shrink to the host's height, which the percentage means;
  // editors sized by their content (the console prompt) keep that size.
  const FILLING_EDITOR_HOST = 'devtools-text-editor';
  const FILLING_EDITOR_RULES =
      ':host { display: flex; flex-direction: column; } .cm-editor { min-height: 0; }';
  const fillEditorHosts = () => {
    if (typeof ShadowRoot === 'undefined' || typeof CSSStyleSheet !== 'function') return;
    const adopted = Object.getOwnPropertyDescriptor(ShadowRoot.prototype, 'adoptedStyleSheets');
    if (!adopted || !adopted.get || !adopted.set) return;
    let sheet;
    try {
      sheet = new CSSStyleSheet();
      sheet.replaceSync(FILLING_EDITOR_RULES);
    } catch (e) {
      return;
    }
    // The editor sets its shadow root's sheets by assignment (its own, then the code editor's),
    // each time keeping what was there: the rules go last, after the editor's own :host rules.
    Object.defineProperty(ShadowRoot.prototype, 'adoptedStyleSheets', {
      configurable: true,
      enumerable: adopted.enumerable,
      get: adopted.get,
      set(sheets) {
        if (this.host && this.host.localName === FILLING_EDITOR_HOST && sheets &&
            !Array.prototype.includes.call(sheets, sheet)) {
          sheets = [...sheets, sheet];
        }
        adopted.set.call(this, sheets);
      }
    });
  };

  // When a dialog closes, the front end gives the focus back to the editor with a plain focus().
  // Chromium scrolls an element into view on focus only when it is out of view; WebKit, for an
  // editable element, puts the caret at the element's start and reveals it: the editor jumps to
  // line 1 after every Ctrl+P or Ctrl+G. For editable elements, focus() scrolls as in Chromium.
  const focusEditableAsChromium = () => {
    const proto = HTMLElement.prototype;
    const focus = proto.focus;
    if (typeof focus !== 'function') return;
    const outOfView = (element) => {
      const box = element.getBoundingClientRect();
      return box.bottom <= 0 || box.right <= 0 || box.top >= window.innerHeight ||
          box.left >= window.innerWidth;
    };
    Object.defineProperty(proto, 'focus', {
      configurable: true,
      writable: true,
      enumerable: false,
      value: function focusAsChromium(options) {
        if (!this.isContentEditable || (options && options.preventScroll)) {
          return focus.call(this, options);
        }
        const result = focus.call(this, {...options, preventScroll: true});
        if (outOfView(this)) this.scrollIntoView({block: 'nearest', inline: 'nearest'});
        return result;
      }
    });
  };

  fillEditorHosts();
  focusEditableAsChromium();
})();
