#include "quelby/webview_host/host.h"

namespace quelby::webview_host {

std::string_view backend_name() noexcept {
    return "GTK 3 + WebKitGTK (webkit2gtk-4.1, opened at run time)";
}

std::string_view webview_runtime_name() noexcept {
    return "WebKitGTK 4.1";
}

}  // namespace quelby::webview_host
