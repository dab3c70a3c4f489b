// What each node process of a launched command reports over the launcher's channel, one JSON line
// each: {"secret": ..., "pid": ..., "url": "ws://127.0.0.1:PORT/ID", "title": ...} once its
// inspector is open, and {"secret": ..., "pid": ..., "exiting": true} when it comes to its end.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "quelby/discovery/ws_target.h"

namespace quelby::launch {

struct LaunchReport {
    int pid = 0;
    WsTarget target;
    std::string title;  // the program and its arguments, as the process shows them
    // The process is ending (and waits for its debuggers to go); no target or title then.
    bool exiting = false;

    friend bool operator==(const LaunchReport&, const LaunchReport&) = default;
};

// The report a line holds, or nullopt for anything else: not JSON, another run's secret, a pid
// that is not a positive number, an address that is not a WebSocket's (unless it says it is
// exiting). The line is whatever a
// process of the user's wrote, so nothing in it is trusted.
std::optional<LaunchReport> parse_launch_report(std::string_view line, std::string_view secret);

// A title as the window shows it: control characters (a line break in an argument) become blanks.
std::string printable_title(std::string_view title);

}  // namespace quelby::launch
