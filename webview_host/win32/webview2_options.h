// The environment options object the runtime reads when it starts: our own implementation of
// ICoreWebView2EnvironmentOptions (the SDK's ready-made one is C++ header code we do not have).
#pragma once

#include <string>

#include "webview2_api.h"

namespace quelby::webview_host {

struct EnvironmentSettings {
    std::wstring additional_browser_arguments;
    std::wstring language;
    std::wstring target_compatible_browser_version;
};

// A new options object with one reference, owned by the caller.
webview2::ICoreWebView2EnvironmentOptions* make_environment_options(EnvironmentSettings settings);

}  // namespace quelby::webview_host
