// The WebView2 runtime loader: Microsoft's loader when it sits beside the exe, otherwise our own
// discovery of the installed runtime (webview2_loader.cpp says which of its rules are documented
// and which rest on observed behaviour), so that no loader DLL has to ship beside the exe.
#pragma once

#include <windows.h>

#include "webview2_api.h"

namespace quelby::webview_host {

// Starts creating an environment; `handler` is invoked on this thread, from its message queue,
// once the runtime has one. With no runtime installed it writes the loader's message to the
// debugger output and returns HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) without calling `handler`.
HRESULT create_environment(
    webview2::ICoreWebView2EnvironmentOptions* options,
    webview2::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

}  // namespace quelby::webview_host
