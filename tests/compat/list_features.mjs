#!/usr/bin/env node
// Lists the web platform features the DevTools front end uses, for the compatibility matrix test:
//   node list_features.mjs FRONT_END_DIR
// prints a JSON array of {kind, name, probe} on standard output. Kinds and their probes (what
// probe.js checks in the engine):
//   property   a CSS property; probe: the property name
//   selector   a pseudo-class or pseudo-element; probe: a sample selector using it
//   at-rule    an at-rule; probe: a sample rule
//   function   a CSS value function; probe: "property: value" using it
//   api        a DOM/CSSOM/JS API; probe: its path from the global object (A.prototype.b)
// CSS is read where the front end keeps it: string literals given to replaceSync/insertRule or
// marked with a sourceURL of a .css file, <style> elements of its HTML and JS templates, the code
// editor's style objects (camel-case keys) and the properties set through element.style. No npm
// dependencies: the scanning is deliberately simple and only has to be right for this code.
import fs from 'node:fs';
import path from 'node:path';

const root = process.argv[2];
if (!root || !fs.statSync(root, {throwIfNoEntry: false})?.isDirectory()) {
  process.stderr.write('usage: node list_features.mjs FRONT_END_DIR\n');
  process.exit(2);
}

const files = [];
const walk = (dir) => {
  for (const entry of fs.readdirSync(dir, {withFileTypes: true})) {
    const full = path.join(dir, entry.name);
    if (entry.isDirectory()) walk(full);
    else if (/\.(m?js|css|html)$/.test(entry.name)) files.push(full);
  }
};
walk(root);
files.sort();

// --- string literals ---------------------------------------------------------------------------
// The literal starting at `at` (a quote or backtick): its decoded text and the index after it.
// Template substitutions become a placeholder identifier, which keeps the CSS around them parsable.
const readLiteral = (text, at) => {
  const quote = text[at];
  let out = '';
  let i = at + 1;
  while (i < text.length) {
    const c = text[i];
    if (c === '\\') {
      const n = text[i + 1];
      const simple = {n: '\n', t: '\t', r: '\r', b: '\b', f: '\f', v: '\v', '0': '\0'};
      if (n in simple) {
        out += simple[n];
        i += 2;
      } else if (n === 'u' && text[i + 2] === '{') {
        const end = text.indexOf('}', i);
        out += String.fromCodePoint(parseInt(text.slice(i + 3, end), 16));
        i = end + 1;
      } else if (n === 'u') {
        out += String.fromCharCode(parseInt(text.slice(i + 2, i + 6), 16));
        i += 6;
      } else if (n === 'x') {
        out += String.fromCharCode(parseInt(text.slice(i + 2, i + 4), 16));
        i += 4;
      } else if (n === '\n') {
        i += 2;
      } else {
        // CSS escapes inside JS strings (content: "\\f101") stay escaped for the CSS reader.
        out += n;
        i += 2;
      }
    } else if (quote === '`' && c === '$' && text[i + 1] === '{') {
      let depth = 1;
      i += 2;
      while (i < text.length && depth > 0) {
        if (text[i] === '{') ++depth;
        else if (text[i] === '}') --depth;
        else if (text[i] === '"' || text[i] === "'" || text[i] === '`') {
          i = readLiteral(text, i).end - 1;
        }
        ++i;
      }
      out += 'x';
    } else if (c === quote) {
      return {value: out, end: i + 1};
    } else {
      out += c;
      ++i;
    }
  }
  return {value: out, end: i};
};

// The literal that is the first argument of each call to `name(`.
const literalArguments = (text, name) => {
  const found = [];
  for (let at = text.indexOf(name + '('); at >= 0; at = text.indexOf(name + '(', at + 1)) {
    const start = at + name.length + 1;
    if (`"'\``.includes(text[start])) found.push(readLiteral(text, start).value);
  }
  return found;
};

// Literals that carry a stylesheet's sourceURL (the front end's generated .css modules).
const markedStylesheets = (text) => {
  const found = [];
  for (let at = text.indexOf('sourceURL='); at >= 0; at = text.indexOf('sourceURL=', at + 1)) {
    if (!/^sourceURL=[\w./-]+\.css\b/.test(text.slice(at, at + 200))) continue;
    // Back to the opening quote: the nearest quote character that starts a literal ending after
    // the marker.
    for (let start = at; start >= 0 && start > at - 400000; --start) {
      const c = text[start];
      if (c !== '"' && c !== "'" && c !== '`') continue;
      const literal = readLiteral(text, start);
      if (literal.end > at && literal.value.includes('sourceURL=')) {
        found.push(literal.value);
        break;
      }
    }
  }
  return found;
};

const styleElements = (text) =>
    [...text.matchAll(/<style\b[^>]*>([\s\S]*?)<\/style>/g)].map((m) => m[1]);

// --- CSS ---------------------------------------------------------------------------------------
const properties = new Set();
const selectors = new Set();  // ':name', ':name(', '::name', '::name('
const atRules = new Set();
const functions = new Set();

const kebab = (name) => name.replace(/[A-Z]/g, (c) => '-' + c.toLowerCase())
                            .replace(/^(webkit|moz|ms)-/, '-$1-');

const noteSelector = (selector) => {
  // Quoted text and attribute selectors hold colons that are not pseudo-classes.
  const plain = selector.replace(/"(?:\\.|[^"\\])*"|'(?:\\.|[^'\\])*'/g, '""')
                    .replace(/\[[^\]]*\]/g, '[]');
  for (const m of plain.matchAll(/(::?)(-?[a-zA-Z][\w-]*)(\(?)/g)) {
    selectors.add(m[1] + m[2].toLowerCase() + m[3]);
  }
};

const noteValue = (value) => {
  for (const m of value.replace(/"(?:\\.|[^"\\])*"|'(?:\\.|[^'\\])*'/g, '""')
                   .matchAll(/(?<![\w-])(-?[a-zA-Z][\w-]*)\(/g)) {
    functions.add(m[1].toLowerCase());
  }
};

const noteDeclarations = (block) => {
  for (const part of block.split(';')) {
    const m = /^\s*(-?[a-zA-Z][\w-]*)\s*:([\s\S]*)$/.exec(part);
    if (!m) continue;
    properties.add(m[1].toLowerCase());
    noteValue(m[2]);
  }
};

// A stylesheet's rules, read as nested blocks: a prelude before `{` is an at-rule or a selector;
// text before `;` or `}` inside a block is a declaration. Nested style rules are taken as rules.
const readStylesheet = (css) => {
  const text = css.replace(/\/\*[\s\S]*?\*\//g, ' ');
  let buffer = '';
  const flush = (end) => {
    const piece = buffer.trim();
    buffer = '';
    if (!piece) return;
    if (end === '{') {
      if (piece.startsWith('@')) {
        const m = /^@(-?[a-zA-Z][\w-]*)([\s\S]*)$/.exec(piece);
        if (m) {
          atRules.add(m[1].toLowerCase());
          noteValue(m[2]);
        }
      } else if (/^(from|to|[\d.]+%)(\s*,\s*(from|to|[\d.]+%))*$/.test(piece)) {
        // a keyframe
      } else {
        // Declarations before a nested rule share its text up to the last ';'.
        const cut = piece.lastIndexOf(';');
        if (cut >= 0) noteDeclarations(piece.slice(0, cut));
        noteSelector(piece.slice(cut + 1));
      }
    } else if (piece.startsWith('@')) {
      const m = /^@(-?[a-zA-Z][\w-]*)/.exec(piece);
      if (m) atRules.add(m[1].toLowerCase());
    } else {
      noteDeclarations(piece);
    }
  };
  let quote = '';
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (quote) {
      buffer += c;
      if (c === '\\') buffer += text[++i] ?? '';
      else if (c === quote) quote = '';
    } else if (c === '"' || c === "'") {
      quote = c;
      buffer += c;
    } else if (c === '{' || c === '}' || c === ';') {
      if (c === ';') buffer += c;
      // A ';' only ends a declaration list here when it is not inside parentheses (url(a;b)).
      if (c === ';' && (buffer.split('(').length !== buffer.split(')').length)) continue;
      if (c === ';') buffer = buffer.slice(0, -1);
      flush(c);
    } else {
      buffer += c;
    }
  }
  flush('}');
};

// The code editor's style objects: {".cm-x": {backgroundColor: "...", "&:hover": {...}}}.
// Unquoted keys are camel-case properties; quoted keys are selectors or quoted properties.
const readStyleObject = (text, at) => {
  let depth = 0;
  let i = at;
  for (; i < text.length; ++i) {
    const c = text[i];
    if (c === '"' || c === "'" || c === '`') {
      const literal = readLiteral(text, i);
      const after = text.slice(literal.end).match(/^\s*:/);
      if (after && depth > 0) {
        if (/^-?[a-z][a-z-]*$/.test(literal.value) && !/^\s*\{/.test(text.slice(after.index + after[0].length + literal.end))) {
          properties.add(literal.value);
        } else {
          noteSelector(literal.value.replace(/&/g, 'a'));
          if (literal.value.startsWith('@')) {
            const m = /^@(-?[a-zA-Z][\w-]*)/.exec(literal.value);
            if (m) atRules.add(m[1].toLowerCase());
          }
        }
      } else if (depth > 0 && /^\s*[,}]/.test(text.slice(literal.end))) {
        noteValue(literal.value);
      }
      i = literal.end - 1;
    } else if (c === '{') {
      ++depth;
    } else if (c === '}') {
      if (--depth === 0) break;
    } else if (depth > 0 && /[a-zA-Z]/.test(c) && /[{,]\s*$/.test(text.slice(i - 2, i))) {
      // A key whose value is an object is a nested rule (a keyframe's from/to), not a property;
      // the style objects' "name_suffix" keys repeat a property with a fallback value.
      const m = /^([a-zA-Z]\w*)\s*:(\s*\{)?/.exec(text.slice(i, i + 60));
      if (m) {
        if (!m[2]) properties.add(kebab(m[1].replace(/_\w*$/, '')));
        i += m[1].length - 1;
      }
    }
  }
};

// --- APIs --------------------------------------------------------------------------------------
// Candidate APIs, each with the source patterns that show the front end using it (the patterns
// must be specific enough that a match is a use, not a coincidence of names). Only those found are
// listed.
const API_CANDIDATES = [
  ['ShadowRoot.prototype.getSelection', [/\.shadowRoot\.getSelection\(|[Rr]oot\(\)\.getSelection\(|Root\.getSelection\(/]],
  ['Selection.prototype.getComposedRanges', [/\.getComposedRanges\(/]],
  ['Element.prototype.checkVisibility', [/\.checkVisibility\(/]],
  ['Element.prototype.scrollIntoViewIfNeeded', [/\.scrollIntoViewIfNeeded\(/]],
  ['Element.prototype.computedStyleMap', [/\.computedStyleMap\(/]],
  ['Element.prototype.requestPointerLock', [/\.requestPointerLock\(/]],
  ['Element.prototype.setPointerCapture', [/\.setPointerCapture\(/]],
  ['Element.prototype.getAnimations', [/\.getAnimations\(/]],
  ['Element.prototype.animate', [/\.animate\(\[/, /\.animate\(\{/]],
  ['Element.prototype.attachShadow', [/\.attachShadow\(/]],
  ['Element.prototype.toggleAttribute', [/\.toggleAttribute\(/]],
  ['Element.prototype.replaceChildren', [/\.replaceChildren\(/]],
  ['Element.prototype.setHTMLUnsafe', [/\.setHTMLUnsafe\(/]],
  ['Element.prototype.ariaLabel', [/\.ariaLabel\b/]],
  ['HTMLElement.prototype.showPopover', [/\.showPopover\(/]],
  ['HTMLElement.prototype.hidePopover', [/\.hidePopover\(/]],
  ['HTMLElement.prototype.togglePopover', [/\.togglePopover\(/]],
  ['HTMLElement.prototype.inert', [/\.inert\s*=/]],
  ['HTMLElement.prototype.attachInternals', [/\.attachInternals\(/]],
  ['HTMLDialogElement', [/\.showModal\(/]],
  ['HTMLInputElement.prototype.showPicker', [/\.showPicker\(/]],
  ['CSSStyleSheet.prototype.replaceSync', [/\.replaceSync\(/]],
  ['Document.prototype.adoptedStyleSheets', [/document\.adoptedStyleSheets/]],
  ['ShadowRoot.prototype.adoptedStyleSheets', [/\.adoptedStyleSheets\s*=/]],
  ['Document.prototype.caretRangeFromPoint', [/\.caretRangeFromPoint\(/]],
  ['Document.prototype.caretPositionFromPoint', [/\.caretPositionFromPoint\(/]],
  ['Document.prototype.startViewTransition', [/\.startViewTransition\(/]],
  ['Document.prototype.hasFocus', [/document\.hasFocus\(/]],
  ['Document.prototype.execCommand', [/\.execCommand\(/]],
  ['Document.prototype.fonts', [/document\.fonts\b/]],
  ['ShadowRoot.prototype.elementFromPoint', [/[Rr]oot\(\)\.elementFromPoint\(/, /shadowRoot\.elementFromPoint\(/]],
  ['ShadowRoot.prototype.activeElement', [/shadowRoot\.activeElement/]],
  ['Node.prototype.getRootNode', [/\.getRootNode\(/]],
  ['Event.prototype.composedPath', [/\.composedPath\(/]],
  ['Array.prototype.findLast', [/\.findLast\(/]],
  ['Array.prototype.findLastIndex', [/\.findLastIndex\(/]],
  ['Array.prototype.at', [/\]\.at\(-?\d/, /\.at\(-1\)/]],
  ['Array.prototype.flat', [/\.flat\(\)/]],
  ['Array.prototype.flatMap', [/\.flatMap\(/]],
  ['Array.prototype.toSorted', [/\.toSorted\(/]],
  ['Array.prototype.toReversed', [/\.toReversed\(/]],
  ['Array.prototype.toSpliced', [/\.toSpliced\(/]],
  ['Array.prototype.with', [/\]\.with\(/]],
  ['Array.fromAsync', [/Array\.fromAsync\(/]],
  ['Object.hasOwn', [/Object\.hasOwn\(/]],
  ['Object.groupBy', [/Object\.groupBy\(/]],
  ['Map.groupBy', [/Map\.groupBy\(/]],
  ['Object.fromEntries', [/Object\.fromEntries\(/]],
  ['String.prototype.replaceAll', [/\.replaceAll\(/]],
  ['String.prototype.isWellFormed', [/\.isWellFormed\(/]],
  ['Promise.withResolvers', [/Promise\.withResolvers\(/]],
  ['Promise.allSettled', [/Promise\.allSettled\(/]],
  ['Promise.any', [/Promise\.any\(/]],
  ['Set.prototype.isSubsetOf', [/\.isSubsetOf\(/]],
  ['Iterator.prototype.map', [/\.values\(\)\.map\(/, /\.keys\(\)\.map\(/, /\.entries\(\)\.map\(/]],
  ['Iterator.prototype.filter', [/\.values\(\)\.filter\(/, /\.keys\(\)\.filter\(/, /\.entries\(\)\.filter\(/]],
  ['Iterator.prototype.toArray', [/\)\.toArray\(\)/]],
  ['Iterator.from', [/Iterator\.from\(/]],
  ['WeakRef', [/new WeakRef\(/]],
  ['FinalizationRegistry', [/new FinalizationRegistry\(/]],
  ['structuredClone', [/structuredClone\(/]],
  ['queueMicrotask', [/queueMicrotask\(/]],
  ['requestIdleCallback', [/requestIdleCallback\(/]],
  ['cancelIdleCallback', [/cancelIdleCallback\(/]],
  ['scheduler', [/\bscheduler\.(postTask|yield)\(/]],
  ['Intl.Segmenter', [/Intl\.Segmenter\b/]],
  ['Intl.ListFormat', [/Intl\.ListFormat\b/]],
  ['Intl.RelativeTimeFormat', [/Intl\.RelativeTimeFormat\b/]],
  ['Intl.PluralRules', [/Intl\.PluralRules\b/]],
  ['Intl.DisplayNames', [/Intl\.DisplayNames\b/]],
  ['Intl.NumberFormat', [/Intl\.NumberFormat\b/]],
  ['Intl.DurationFormat', [/Intl\.DurationFormat\b/]],
  ['EditContext', [/new EditContext\(/, /window\.EditContext\b/]],
  ['Navigator.prototype.userActivation', [/navigator\.userActivation/]],
  ['Navigator.prototype.clipboard', [/navigator\.clipboard/]],
  ['Navigator.prototype.userAgentData', [/navigator\.userAgentData(?!["\w])/]],
  ['Navigator.prototype.scheduling', [/navigator\.scheduling/]],
  ['Navigator.prototype.hardwareConcurrency', [/navigator\.hardwareConcurrency/]],
  ['Navigator.prototype.deviceMemory', [/navigator\.deviceMemory/]],
  ['Navigator.prototype.storage', [/navigator\.storage\.(estimate|persist|getDirectory)\(/]],
  ['Clipboard.prototype.writeText', [/clipboard\.writeText\(/]],
  ['Clipboard.prototype.readText', [/clipboard\.readText\(/]],
  ['ClipboardItem', [/new ClipboardItem\(/]],
  ['ResizeObserver', [/new ResizeObserver\(/]],
  ['IntersectionObserver', [/new IntersectionObserver\(/]],
  ['MutationObserver', [/new MutationObserver\(/]],
  ['PerformanceObserver', [/new PerformanceObserver\(/]],
  ['Performance.prototype.measureUserAgentSpecificMemory', [/performance\.measureUserAgentSpecificMemory\(\)(?!`)/]],
  ['Performance.prototype.memory', [/performance\.memory\b/]],
  ['Performance.prototype.mark', [/performance\.mark\(/]],
  ['AbortController', [/new AbortController\(/]],
  ['AbortSignal.timeout', [/AbortSignal\.timeout\(/]],
  ['AbortSignal.any', [/AbortSignal\.any\(/]],
  ['CompressionStream', [/new CompressionStream\(/]],
  ['DecompressionStream', [/new DecompressionStream\(/]],
  ['TextEncoderStream', [/new TextEncoderStream\(/]],
  ['TextDecoderStream', [/new TextDecoderStream\(/]],
  ['ReadableStream.from', [/ReadableStream\.from\(/]],
  ['BroadcastChannel', [/new BroadcastChannel\(/]],
  ['OffscreenCanvas', [/new OffscreenCanvas\(/]],
  ['createImageBitmap', [/createImageBitmap\(/]],
  ['CanvasRenderingContext2D.prototype.roundRect', [/\.roundRect\(/]],
  ['CanvasRenderingContext2D.prototype.letterSpacing', [/\.letterSpacing\s*=/]],
  ['Path2D', [/new Path2D\(/]],
  ['DOMMatrix', [/new DOMMatrix\(/]],
  ['FontFace', [/new FontFace\(/]],
  ['CSS.supports', [/CSS\.supports\(/]],
  ['CSS.escape', [/CSS\.escape\(/]],
  ['CSS.registerProperty', [/CSS\.registerProperty\(/]],
  ['CSS.highlights', [/CSS\.highlights/]],
  ['Highlight', [/new Highlight\(/]],
  ['CSSStyleValue', [/CSSStyleValue\./]],
  ['CSSUnitValue', [/\bCSSUnitValue\b/]],
  ['CustomStateSet', [/\.states\.add\(/]],
  ['ElementInternals.prototype.states', [/internals\.states\b/]],
  ['customElements', [/customElements\.define\(/]],
  ['CustomElementRegistry.prototype.whenDefined', [/customElements\.whenDefined\(/]],
  ['Window.prototype.showOpenFilePicker', [/showOpenFilePicker\(/]],
  ['Window.prototype.showSaveFilePicker', [/showSaveFilePicker\(/]],
  ['Window.prototype.showDirectoryPicker', [/showDirectoryPicker\(/]],
  ['Window.prototype.getScreenDetails', [/getScreenDetails\(/]],
  ['Window.prototype.launchQueue', [/launchQueue\./]],
  ['Window.prototype.documentPictureInPicture', [/documentPictureInPicture\./]],
  ['Window.prototype.visualViewport', [/visualViewport\./]],
  ['Window.prototype.matchMedia', [/matchMedia\(/]],
  ['WebAssembly', [/WebAssembly\./]],
  ['Atomics.waitAsync', [/Atomics\.waitAsync\(/]],
  ['SharedArrayBuffer', [/new SharedArrayBuffer\(/]],
  ['ArrayBuffer.prototype.transfer', [/\.transfer\(\)/]],
  ['ArrayBuffer.prototype.resize', [/\bresizable\b.*\.resize\(/]],
  ['BigInt', [/BigInt\(/]],
  ['BigInt64Array', [/BigInt64Array/]],
  ['Worker', [/new Worker\(/]],
  ['WebSocket', [/new WebSocket\(/]],
  ['TrustedTypes', [/trustedTypes\./]],
  ['URL.canParse', [/URL\.canParse\(/]],
  ['URL.parse', [/URL\.parse\(/]],
  ['URLPattern', [/new URLPattern\(/]],
  ['Blob.prototype.text', [/\.text\(\)/]],
  ['Response.prototype.bytes', [/\.bytes\(\)/]],
  ['indexedDB', [/indexedDB\.open\(/]],
  ['crypto.randomUUID', [/randomUUID\(/]],
  ['crypto.subtle', [/crypto\.subtle/]],
  ['Error.captureStackTrace', [/Error\.captureStackTrace\(/]],
  ['Error.stackTraceLimit', [/Error\.stackTraceLimit/]],
  ['Symbol.dispose', [/Symbol\.dispose\b/]],
  ['Symbol.asyncDispose', [/Symbol\.asyncDispose\b/]],
  ['RegExp.escape', [/RegExp\.escape\(/]],
  ['Window.prototype.getSelection', [/window\.getSelection\(/]],
  ['Window.prototype.requestAnimationFrame', [/requestAnimationFrame\(/]],
  ['Window.prototype.find', [/window\.find\(/]],
];

// --- scan ----------------------------------------------------------------------------------------
const sources = new Map();
for (const file of files) {
  const text = fs.readFileSync(file, 'utf8');
  sources.set(file, text);
  if (file.endsWith('.css')) {
    readStylesheet(text);
    continue;
  }
  for (const sheet of styleElements(text)) readStylesheet(sheet);
  if (file.endsWith('.html')) continue;
  const sheets = new Set([
    ...literalArguments(text, 'replaceSync'),
    ...literalArguments(text, 'insertRule'), ...markedStylesheets(text)
  ].filter((css) => css.includes('{')));
  for (const css of sheets) readStylesheet(css);
  for (const m of text.matchAll(/\b(?:theme|baseTheme)\(\{/g)) readStyleObject(text, m.index + m[0].length - 1);
  // Element styles only: a CSS rule model's "rule.style" holds the front end's own data.
  for (const m of text.matchAll(/(?<!rule)\.style\.([a-zA-Z]\w*)\s*=[^=]/g)) {
    if (m[1] !== 'cssText') properties.add(kebab(m[1]));
  }
  for (const m of text.matchAll(/\.style\.(?:setProperty|removeProperty)\(\s*["'](-?[a-z][a-z-]*)["']/g)) {
    properties.add(m[1]);
  }
}

// The console's list of the web platform's names (for completion) names APIs without using them.
const codeText = [...sources].filter(([file]) => !file.includes('javascript_metadata'))
                     .map(([, text]) => text).join('\n');
const apis = API_CANDIDATES.filter(([, patterns]) => patterns.some((p) => p.test(codeText)))
                 .map(([name]) => name);

// --evidence NAME: where the front end uses an API, for writing the expectation file.
const evidenceAt = process.argv.indexOf('--evidence');
if (evidenceAt > 0) {
  const [, patterns] = API_CANDIDATES.find(([name]) => name === process.argv[evidenceAt + 1]) ?? [, []];
  for (const [file, text] of sources) {
    if (file.includes('javascript_metadata')) continue;
    for (const p of patterns) {
      for (const m of text.matchAll(new RegExp(p.source, 'g'))) {
        const line = text.slice(Math.max(0, m.index - 100), m.index + 80).replace(/\n/g, ' ');
        process.stdout.write(`${path.relative(root, file)}: ${line}\n`);
      }
    }
  }
  process.exit(0);
}

// --- probes --------------------------------------------------------------------------------------
// A sample argument for each functional pseudo-class or pseudo-element.
const SELECTOR_ARGUMENTS = {
  ':nth-child(': '2n+1', ':nth-last-child(': '2n+1', ':nth-of-type(': '2n+1',
  ':nth-last-of-type(': '2n+1', ':lang(': 'en', ':dir(': 'ltr', '::part(': 'x',
  '::highlight(': 'x', ':state(': 'x', '::view-transition-group(': '*',
  '::view-transition-old(': '*', '::view-transition-new(': '*',
  '::view-transition-image-pair(': '*', '::picker(': 'select', ':active-view-transition-type(': 'x',
};
const selectorProbe = (name) => {
  const base = name.endsWith('(') ? name + (SELECTOR_ARGUMENTS[name] ?? 'a') + ')' : name;
  // Pseudo-elements other than the host's own go after a compound selector.
  return base.startsWith('::') ? 'a' + base : base;
};

// Sample rules for at-rules; any other at-rule gets "@name {}" and most likely fails, which is
// what the expectation file is for.
const AT_RULE_PROBES = {
  'media': '@media (min-width: 1px) { a { color: red } }',
  'supports': '@supports (display: flex) { a { color: red } }',
  'keyframes': '@keyframes probe { from { opacity: 0 } to { opacity: 1 } }',
  '-webkit-keyframes': '@-webkit-keyframes probe { from { opacity: 0 } to { opacity: 1 } }',
  'font-face': '@font-face { font-family: probe; src: local(probe) }',
  'import': '@import url(probe.css);',
  'container': '@container (min-width: 1px) { a { color: red } }',
  'layer': '@layer probe { a { color: red } }',
  'scope': '@scope (a) { b { color: red } }',
  'property': '@property --probe { syntax: "<length>"; inherits: false; initial-value: 0px }',
  'starting-style': '@starting-style { a { opacity: 0 } }',
  'page': '@page { margin: 1cm }',
  'namespace': '@namespace svg url(http://www.w3.org/2000/svg);',
  'counter-style': '@counter-style probe { system: cyclic; symbols: "*"; suffix: " " }',
  'font-feature-values': '@font-feature-values probe { @styleset { nice: 1 } }',
  'position-try': '@position-try --probe { top: anchor(bottom) }',
  'view-transition': '@view-transition { navigation: auto }',
};

// Sample declarations for value functions. Functions not in this table are not probed: they are
// either part of a property's own grammar (checked with the property) or placeholders.
const FUNCTION_PROBES = {
  'calc': 'width: calc(1px + 2px)',
  'min': 'width: min(1px, 2px)',
  'max': 'width: max(1px, 2px)',
  'clamp': 'width: clamp(1px, 2px, 3px)',
  'var': 'color: var(--probe, red)',
  'env': 'padding-top: env(safe-area-inset-top, 0px)',
  'attr': 'content: attr(title)',
  'rgb': 'color: rgb(1 2 3 / 50%)',
  'rgba': 'color: rgba(1, 2, 3, 0.5)',
  'hsl': 'color: hsl(120deg 50% 50% / 50%)',
  'hsla': 'color: hsla(120, 50%, 50%, 0.5)',
  'hwb': 'color: hwb(120 10% 10%)',
  'lab': 'color: lab(50% 10 10)',
  'lch': 'color: lch(50% 10 10)',
  'oklab': 'color: oklab(50% 0.1 0.1)',
  'oklch': 'color: oklch(50% 0.1 100)',
  'color': 'color: color(srgb 0.1 0.2 0.3)',
  'color-mix': 'color: color-mix(in srgb, red 50%, blue)',
  'light-dark': 'color: light-dark(red, blue)',
  'linear-gradient': 'background-image: linear-gradient(red, blue)',
  'radial-gradient': 'background-image: radial-gradient(red, blue)',
  'conic-gradient': 'background-image: conic-gradient(red, blue)',
  'repeating-linear-gradient': 'background-image: repeating-linear-gradient(red, blue 10px)',
  '-webkit-gradient': 'background-image: -webkit-gradient(linear, left top, left bottom, from(red), to(blue))',
  'image-set': 'background-image: image-set(url(a.png) 1x)',
  '-webkit-image-set': 'background-image: -webkit-image-set(url(a.png) 1x)',
  'url': 'background-image: url(a.png)',
  'translate': 'transform: translate(1px, 2px)',
  'translatex': 'transform: translateX(1px)',
  'translatey': 'transform: translateY(1px)',
  'translatez': 'transform: translateZ(1px)',
  'rotatex': 'transform: rotateX(1deg)',
  'rotatey': 'transform: rotateY(1deg)',
  'rotate3d': 'transform: rotate3d(1, 1, 1, 1deg)',
  'rect': 'clip: rect(1px, 2px, 3px, 4px)',
  'translate3d': 'transform: translate3d(1px, 2px, 3px)',
  'rotate': 'transform: rotate(1deg)',
  'scale': 'transform: scale(2)',
  'scalex': 'transform: scaleX(2)',
  'scaley': 'transform: scaleY(2)',
  'skew': 'transform: skew(1deg)',
  'matrix': 'transform: matrix(1, 0, 0, 1, 0, 0)',
  'cubic-bezier': 'transition-timing-function: cubic-bezier(0.1, 0.2, 0.3, 0.4)',
  'steps': 'transition-timing-function: steps(4, end)',
  'linear': 'transition-timing-function: linear(0, 1)',
  'drop-shadow': 'filter: drop-shadow(1px 1px 1px red)',
  'blur': 'filter: blur(1px)',
  'brightness': 'filter: brightness(0.5)',
  'contrast': 'filter: contrast(0.5)',
  'grayscale': 'filter: grayscale(1)',
  'invert': 'filter: invert(1)',
  'opacity': 'filter: opacity(0.5)',
  'saturate': 'filter: saturate(0.5)',
  'sepia': 'filter: sepia(1)',
  'hue-rotate': 'filter: hue-rotate(10deg)',
  'repeat': 'grid-template-columns: repeat(2, 1fr)',
  'minmax': 'grid-template-columns: minmax(1px, 1fr)',
  'fit-content': 'grid-template-columns: fit-content(10px)',
  'inset': 'clip-path: inset(1px)',
  'polygon': 'clip-path: polygon(0 0, 1px 0, 1px 1px)',
  'circle': 'clip-path: circle(1px)',
  'ellipse': 'clip-path: ellipse(1px 2px)',
  'path': 'clip-path: path("M0 0 L1 1 Z")',
  'counter': 'content: counter(probe)',
  'counters': 'content: counters(probe, ".")',
  'local': null,
  'format': null,
  'anchor': 'top: anchor(--probe bottom)',
  'anchor-size': 'width: anchor-size(--probe width)',
  'round': 'width: round(1.5px, 1px)',
  'mod': 'width: mod(5px, 2px)',
  'rem': 'width: rem(5px, 2px)',
  'abs': 'width: abs(-1px)',
  'sign': 'z-index: sign(-1)',
  'pow': 'z-index: pow(2, 2)',
  'sqrt': 'z-index: sqrt(4)',
  'sin': 'z-index: sin(1)',
  'cos': 'z-index: cos(1)',
  'if': 'color: if(style(--x: 1): red; else: blue)',
  'element': 'background-image: element(#probe)',
  'cross-fade': 'background-image: cross-fade(url(a.png) 50%, url(b.png))',
  '-webkit-cross-fade': 'background-image: -webkit-cross-fade(url(a.png), url(b.png), 50%)',
  'paint': 'background-image: paint(probe)',
  'view': 'animation-timeline: view()',
  'scroll': 'animation-timeline: scroll()',
  'selector': null,
  'style': null,
};

const entries = [];
for (const name of [...properties].sort()) {
  if (!name.startsWith('--')) entries.push({kind: 'property', name, probe: name});
}
for (const name of [...selectors].sort()) {
  entries.push({kind: 'selector', name, probe: selectorProbe(name)});
}
for (const name of [...atRules].sort()) {
  entries.push({kind: 'at-rule', name: '@' + name, probe: AT_RULE_PROBES[name] ?? `@${name} {}`});
}
for (const name of [...functions].sort()) {
  const probe = FUNCTION_PROBES[name];
  if (probe === undefined) {
    // A function new to the front end: it must be probed with a declaration that makes sense.
    process.stderr.write(`the front end uses the CSS function ${name}(), which has no sample ` +
                         'declaration: add one to FUNCTION_PROBES in list_features.mjs\n');
    process.exitCode = 1;
  }
  if (probe) entries.push({kind: 'function', name: name + '()', probe});
}
for (const name of apis.sort()) entries.push({kind: 'api', name, probe: name});

process.stdout.write(JSON.stringify(entries, null, 1) + '\n');
