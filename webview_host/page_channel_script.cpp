#include "quelby/webview_host/page_channel_script.h"

namespace quelby::webview_host {

std::string page_channel_script(std::string_view post_function, std::string_view host_messages) {
    std::string script = R"js((() => {
  const listeners = [];
  const ipc = {
    postMessage: )js";
    script += post_function;
    script += R"js(,
    addMessageListener: (listener) => { listeners.push(listener); },
  };
  const deliver = (text) => {
    for (const listener of listeners) {
      try { listener(text); } catch (e) { console.error(e); }
    }
  };
  Object.defineProperty(ipc, 'deliver', { value: deliver });
  Object.defineProperty(window, 'ipc', { value: Object.freeze(ipc) });
  )js";
    script += host_messages;
    script += "\n})();";
    return script;
}

}  // namespace quelby::webview_host
