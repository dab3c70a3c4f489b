// The document-start script that gives a page its window.ipc, the same on every platform; each
// backend supplies how a text reaches its engine's host and how the host's messages come back.
#pragma once

#include <string>
#include <string_view>

namespace quelby::webview_host {

// Defines a frozen window.ipc: postMessage(text) posts to the host through `post_function` (a
// JavaScript expression giving a function of one string); addMessageListener(fn) adds a listener
// for the host's messages (post_to_page), which reach the listeners through deliver(text), in order
// of addition. A listener that throws is reported (console.error) and does not keep the message
// from the others. deliver is not enumerable: it is the host's way in, not the page's.
// `host_messages` is a statement run once with `deliver` in scope that hooks the engine's own
// message event to it; empty where the host calls window.ipc.deliver itself.
std::string page_channel_script(std::string_view post_function, std::string_view host_messages);

}  // namespace quelby::webview_host
