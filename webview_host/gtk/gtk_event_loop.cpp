#include <cstdlib>

#include "gtk_event_loop.h"
#include "gtk_state.h"

namespace quelby::webview_host {

namespace {

// The idle source of one wake: it holds the queue weakly, so that a wake still pending when the
// loop is released keeps nothing alive.
using WakeData = std::weak_ptr<PostQueue>;

gboolean run_posted(gpointer data) {
    if (const auto queue = static_cast<WakeData*>(data)->lock()) {
        queue->run_queued();
    }
    return G_SOURCE_REMOVE;
}

void delete_wake_data(gpointer data) {
    delete static_cast<WakeData*>(data);
}

}  // namespace

EventLoop create_event_loop() {
    // The GUI libraries are opened here, at the start of the window step, and never earlier: the
    // runs that open no window must not pay for them.
    auto state = std::make_unique<EventLoopState>(gtk::load_window_api());
    const gtk::WindowApi* api = state->api ? *state->api : nullptr;
    // g_idle_add_full is thread-safe and attaches to the default main context, which the loop
    // runs; the callback runs there, never on the posting thread. Without the GUI libraries
    // there is no loop to wake: tasks wait until the loop is released.
    state->posts = std::make_unique<LoopPosts>([api](const std::weak_ptr<PostQueue>& queue) {
        if (api != nullptr) {
            api->g_idle_add_full(G_PRIORITY_DEFAULT, run_posted, new WakeData(queue),
                                 delete_wake_data);
        }
    });
    return EventLoop(std::move(state));
}

LoopPoster loop_poster(EventLoop& loop) {
    return loop.state().posts->poster();
}

namespace gtk {

void dispatch_event(EventLoopState& state, EventKind kind, const WindowState* window) {
    if (!state.handler || state.mode.kind == LoopMode::Kind::Exit) {
        return;  // not running yet, or ending with the status already asked for
    }
    state.handler(Event{.kind = kind, .window = window}, state.mode);
    if (state.mode.kind == LoopMode::Kind::Exit && state.main_loop != nullptr) {
        loaded_window_api().g_main_loop_quit(state.main_loop);
    }
}

}  // namespace gtk

void end_event_loop(EventLoop& loop, int exit_status) {
    EventLoopState& state = loop.state();
    if (!state.handler || state.mode.kind == LoopMode::Kind::Exit) {
        return;
    }
    state.mode = LoopMode{.kind = LoopMode::Kind::Exit, .exit_status = exit_status};
    if (state.main_loop != nullptr) {
        gtk::loaded_window_api().g_main_loop_quit(state.main_loop);
    }
}

int run_event_loop(EventLoop& loop, EventHandler handler) {
    EventLoopState& state = loop.state();
    if (!state.api) {
        // Only reachable by skipping create_window's failure: with no GUI nothing could ever end
        // the loop.
        return EXIT_FAILURE;
    }
    const gtk::WindowApi& api = **state.api;
    state.handler = std::move(handler);
    state.mode = LoopMode{};
    if (state.main_loop == nullptr) {
        state.main_loop = api.g_main_loop_new(nullptr, FALSE);
    }
    // The loop's start is an event like any other: the handler sets the mode it wants.
    gtk::dispatch_event(state, EventKind::Other);
    if (state.mode.kind != LoopMode::Kind::Exit) {
        // Sleeps in poll() until a source is ready; GLib wakes it for timers and X events alike.
        api.g_main_loop_run(state.main_loop);
    }
    state.handler = nullptr;
    api.g_main_loop_unref(state.main_loop);
    state.main_loop = nullptr;
    // Tasks refer to what the loop served; none runs once it has ended.
    state.posts->queue().close();
    return state.mode.exit_status;
}

}  // namespace quelby::webview_host
