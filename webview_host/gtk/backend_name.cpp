#include "host.h"

namespace quelby::webview_host {

std::string_view backend_name() noexcept {
    return "GTK 3 + WebKitGTK (webkit2gtk-4.1, opened at run time)";
}

}  // namespace quelby::webview_host
