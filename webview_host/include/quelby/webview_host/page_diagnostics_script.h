// The document-start script that reports a page's own failures to its host: uncaught errors,
// unhandled promise rejections and console.error calls, with their stack where there is one. The
// page's own behaviour is unchanged. Each backend supplies the channel its engine offers.
#pragma once

#include <string>
#include <string_view>

namespace quelby::webview_host {

// `channel` is a JavaScript expression giving a function that posts one string to the host (or
// anything else, where the host cannot be reached: the script then does nothing).
std::string page_diagnostics_script(std::string_view channel);

}  // namespace quelby::webview_host
