// What the page and the host say to each other through WebView2's one message channel, and how the
// host tells the messages apart. No Windows types, so the rules are unit-tested natively as well as
// under Wine.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelby::webview_host::webview2 {

// Runs in every document before its own scripts and defines a frozen window.ipc, as on every
// platform: postMessage posts to the host; addMessageListener(fn) adds a listener for the host's
// messages (post_to_page), which reach them through deliver(text), in order of addition. A
// listener that throws is reported (console.error) and does not keep the message from the others.
// deliver is not enumerable: it is the host's way in, not the page's. The host's messages arrive as
// chrome.webview message events (PostWebMessageAsString reaches the top-level document); a
// document without chrome.webview still gets window.ipc.
inline constexpr std::string_view IPC_SCRIPT = R"js((() => {
  const webview = window.chrome && window.chrome.webview;
  const listeners = [];
  const ipc = {
    postMessage: (s) => window.chrome.webview.postMessage(s),
    addMessageListener: (listener) => { listeners.push(listener); },
  };
  const deliver = (text) => {
    for (let i = 0; i < listeners.length; i++) {
      try { listeners[i](text); } catch (e) { console.error(e); }
    }
  };
  Object.defineProperty(ipc, 'deliver', { value: deliver });
  Object.defineProperty(window, 'ipc', { value: Object.freeze(ipc) });
  if (webview) {
    webview.addEventListener('message', (event) => deliver(event.data));
  }
})();)js";

// `source` (a document-start script) made to run only in the top-level document: the runtime runs
// its document-start scripts in every frame. The script becomes a statement inside a block: fine
// for an expression statement, not for declarations or a 'use strict' prologue. The line break
// before the brace keeps a final line comment from swallowing it.
std::string top_document_script(std::string_view source);

// The page's diagnostics share the page's one channel to the host with window.ipc: their messages
// begin with a marker no text message of the page's own is expected to start with.
inline constexpr std::string_view DIAGNOSTIC_MESSAGE_MARKER = "\x01host-diagnostics\x01";
inline constexpr std::string_view DIAGNOSTICS_CHANNEL =
    "window.chrome && window.chrome.webview && "
    "((text) => window.chrome.webview.postMessage('\\u0001host-diagnostics\\u0001' + text))";

// The diagnostic text of a message from the page, or nullopt for any other message.
std::optional<std::string_view> diagnostic_text(std::string_view message);

}  // namespace quelby::webview_host::webview2
