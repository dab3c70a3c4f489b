(() => {
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
})();
