// What the page and the host say to each other through WebView2's one message channel, and how the
// host tells the messages apart. No Windows types, so the rules are unit-tested natively as well as
// under Wine.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelby::webview_host::webview2 {

// window.ipc (see page_channel_script.h) over WebView2's channel: postMessage goes to
// chrome.webview.postMessage, and the host's messages arrive as chrome.webview message events
// (PostWebMessageAsString reaches the top-level document). A document without chrome.webview
// still gets window.ipc.
std::string ipc_script();

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
