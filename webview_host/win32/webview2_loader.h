// Our own WebView2 runtime loader: finds the installed runtime the documented way and asks its
// client library to create an environment, so that no loader DLL has to ship beside the exe.
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
