#include "webview2_page_channel.h"

#include "quelby/webview_host/page_channel_script.h"

namespace quelby::webview_host::webview2 {

std::string ipc_script() {
    return page_channel_script(
        "(s) => window.chrome.webview.postMessage(s)",
        "if (window.chrome && window.chrome.webview) {\n"
        "    window.chrome.webview.addEventListener('message', (event) => deliver(event.data));\n"
        "  }");
}

std::string top_document_script(std::string_view source) {
    std::string wrapped = "if (window === window.top) {\n";
    wrapped += source;
    wrapped += "\n}";
    return wrapped;
}

std::optional<std::string_view> diagnostic_text(std::string_view message) {
    if (!message.starts_with(DIAGNOSTIC_MESSAGE_MARKER)) {
        return std::nullopt;
    }
    return message.substr(DIAGNOSTIC_MESSAGE_MARKER.size());
}

}  // namespace quelby::webview_host::webview2
