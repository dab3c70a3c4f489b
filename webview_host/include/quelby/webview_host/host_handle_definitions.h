// The handles' special members. A backend includes this after it has defined its EventLoopState,
// WindowState and WebViewState, since destroying a handle needs the complete state type.
#pragma once

#include "quelby/webview_host/host.h"

#define QUELBY_DEFINE_HOST_HANDLE(Handle, State)                               \
    Handle::Handle(std::unique_ptr<State> state) : state_(std::move(state)) {} \
    Handle::Handle(Handle&&) noexcept = default;                               \
    Handle& Handle::operator=(Handle&&) noexcept = default;                    \
    Handle::~Handle() = default;

#define QUELBY_DEFINE_HOST_HANDLES()                     \
    QUELBY_DEFINE_HOST_HANDLE(EventLoop, EventLoopState) \
    QUELBY_DEFINE_HOST_HANDLE(Window, WindowState)       \
    QUELBY_DEFINE_HOST_HANDLE(WebView, WebViewState)
