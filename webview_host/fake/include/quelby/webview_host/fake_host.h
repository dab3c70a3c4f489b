// A third backend, for tests: no window system and no web engine, only a record of what the
// program asked of the host, in order, and a script of what the host does in return (fail, deliver
// events to the loop, send the page's requests to a registered scheme, report page diagnostics).
// The build links it instead of a real backend into the programs that test the window step
// in-process.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quelby/webview_host/host.h"

namespace quelby::webview_host::fake {

// One answer a scheme handler gave, copied out of the responder.
struct Answer {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

// What the loop does while it runs: deliver an event to the handler, send a request to a
// registered scheme (its answer is recorded), report a page diagnostic, post a page message
// (window.ipc), or run the tasks posted from other threads until the web view has been navigated
// once more (or until AWAIT_LIMIT has passed, which the record shows as a missing navigation).
struct Step {
    enum class Kind { Event, Request, PageDiagnostic, PageMessage, AwaitNavigation };
    Kind kind = Kind::Event;
    EventKind event = EventKind::Other;
    // Event: the window it concerns, by order of creation (a released one gives no window).
    std::size_t window = 0;
    std::string scheme;  // Request: the registered scheme's name
    std::string text;    // Request: the URI; PageDiagnostic, PageMessage: the page's text
};

inline constexpr std::chrono::milliseconds AWAIT_LIMIT{10000};

struct Script {
    std::optional<std::string> window_failure;   // create_window fails with this message
    std::optional<std::string> webview_failure;  // build fails with this message
    std::vector<Step> steps;                     // run in order while the loop runs
};

struct Record {
    // "create_event_loop", "create_window", "build", "run_event_loop", "navigate", and the
    // releases: "release web view", "release window", "release event loop".
    std::vector<std::string> calls;
    std::string title;                      // of the last window created
    std::vector<std::string> titles;        // of every window, in order of creation
    std::vector<std::string> schemes;       // registered, in order
    std::string url;                        // the start URL the web view was given
    bool page_diagnostics = false;          // a diagnostics sink was given
    std::vector<std::string> page_scripts;  // added, in order
    std::vector<std::string> top_document_scripts;
    std::vector<double> zoom_factors;           // the start factor, then each set_zoom_factor
    std::vector<std::string> to_page;           // post_to_page texts, in order
    std::vector<std::string> opened;            // open_with_default_application URIs
    std::vector<std::string> save_suggestions;  // the names each Save dialog proposed
    std::vector<std::string> navigations;       // navigate() calls after the start URL, in order
    std::vector<Answer> answers;                // of the Request steps, in order
    std::vector<LoopMode::Kind> modes;          // what the handler asked after each event
};

// What run_event_loop returns when the script ran out without the handler asking to exit (a real
// loop would still be running).
inline constexpr int LOOP_NEVER_ENDED = -1;

// Starts a new test: the script to follow, and an empty record.
void reset(Script script);
const Record& record();
// What every Save dialog of the current test answers: a path, or nullopt for a cancel (the
// default).
void answer_save_dialogs_with(std::optional<std::filesystem::path> answer);
// For tests that drive the program's side directly instead of through a script: runs the tasks
// posted to `loop` as they arrive until `done` holds or `limit` has passed. True when `done` held.
bool run_posted_tasks_until(EventLoop& loop, const std::function<bool()>& done,
                            std::chrono::milliseconds limit = AWAIT_LIMIT);

}  // namespace quelby::webview_host::fake
