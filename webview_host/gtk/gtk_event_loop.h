// How the backend's signal handlers hand events to the program's event handler.
#pragma once

#include "quelby/webview_host/host.h"

namespace quelby::webview_host::gtk {

// Calls the handler with the event and the current mode (nothing before run_event_loop), and ends
// the running loop when the handler asks for Exit.
void dispatch_event(EventLoopState& state, EventKind kind, const WindowState* window = nullptr);

}  // namespace quelby::webview_host::gtk
