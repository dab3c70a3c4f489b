#include "host.h"

namespace quelby::webview_host {

std::string_view backend_name() noexcept {
    return "Win32 + WebView2 (the installed runtime, found at run time)";
}

}  // namespace quelby::webview_host
