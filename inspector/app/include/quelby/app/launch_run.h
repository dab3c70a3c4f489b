// Launch mode: `quelby_inspector [--print-url] -- COMMAND [ARGS...]` runs the command with every
// node process of its tree debuggable, a window per process, and ends with the command's status.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"
#include "quelby/launch/launch_report.h"

namespace quelby {

// The launch window's title: the program's own, then the process's pid and what it runs, so that
// windows can be told apart.
std::string launch_window_title(const launch::LaunchReport& report);

// Runs `command` (not empty). With print_url, each node process's addresses go to standard error
// as it appears, and it runs on at once; otherwise it gets a window and waits for it to attach.
// Ends once the command's main process has ended and no window is left, with the command's
// status; a command that cannot be started is reported here, with the status a shell gives.
Result<int> run_launch(bool print_url, std::span<const std::string> command);

}  // namespace quelby
