#include "quelby/webview_host/page_diagnostics_script.h"

#include "quelby/core/script_call.h"

namespace quelby {
// page_diagnostics.js, embedded by the build.
extern const std::string_view PAGE_DIAGNOSTICS_FUNCTION;
}  // namespace quelby

namespace quelby::webview_host {

std::string page_diagnostics_script(std::string_view channel) {
    return script_call(PAGE_DIAGNOSTICS_FUNCTION, channel);
}

}  // namespace quelby::webview_host
