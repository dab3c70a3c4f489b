// Turning the GTK main loop from a test that drives a real web view on the test's own thread.
#pragma once

#include <chrono>

#include "gtk_api.h"
#include "x11/x_display.h"

namespace quelby::x11_testing {

// Runs the loop's turns until `done` or the deadline; a periodic source keeps the check going.
template <class Done>
bool pump_until(Done done, std::chrono::seconds limit) {
    const webview_host::gtk::WindowApi& api = **webview_host::gtk::load_window_api();
    const guint tick = api.g_timeout_add(
        100, [](gpointer) -> gboolean { return TRUE; }, nullptr);
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline) {
        api.g_main_context_iteration(nullptr, TRUE);
    }
    api.g_source_remove(tick);
    return done();
}

}  // namespace quelby::x11_testing
