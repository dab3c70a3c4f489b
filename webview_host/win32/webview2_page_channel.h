// What the page can say to the host through WebView2's one message channel, and how the host tells
// the messages apart. No Windows types, so the rules are unit-tested natively as well as under
// Wine.
#pragma once

#include <optional>
#include <string_view>

namespace quelby::webview_host::webview2 {

// Runs in every document before its own scripts: the page's one way to post to the host.
inline constexpr std::string_view IPC_SCRIPT =
    "Object.defineProperty(window, 'ipc', { value: Object.freeze({ postMessage: s=> "
    "window.chrome.webview.postMessage(s) }) });";

// The page's diagnostics share the page's one channel to the host with window.ipc: their messages
// begin with a marker no text message of the page's own is expected to start with.
inline constexpr std::string_view DIAGNOSTIC_MESSAGE_MARKER = "\x01host-diagnostics\x01";
inline constexpr std::string_view DIAGNOSTICS_CHANNEL =
    "window.chrome && window.chrome.webview && "
    "((text) => window.chrome.webview.postMessage('\\u0001host-diagnostics\\u0001' + text))";

// The diagnostic text of a message from the page, or nullopt for any other message.
std::optional<std::string_view> diagnostic_text(std::string_view message);

}  // namespace quelby::webview_host::webview2
