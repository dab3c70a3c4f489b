#include "quelby/webview_host/host.h"

namespace quelby::webview_host {

std::string_view backend_name() noexcept {
    return "Win32 + WebView2 (the installed runtime, found at run time)";
}

std::string_view webview_runtime_name() noexcept {
    return "the WebView2 runtime";
}

}  // namespace quelby::webview_host
