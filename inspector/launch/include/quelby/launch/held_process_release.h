// Letting a held process run when no front end will: a window closed before its front end had
// attached would otherwise leave the process waiting for a debugger forever.
#pragma once

#include <chrono>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/ws_target.h"

namespace quelby::launch {

inline constexpr std::chrono::milliseconds RELEASE_TIME_LIMIT{2000};

// Connects to the process's inspector at `target` (a plain ws:// address), asks it to run if it
// waits for a debugger (Runtime.runIfWaitingForDebugger, which changes nothing for a process that
// runs already), waits for the answer and disconnects; within `limit` in all.
Status release_held_process(const WsTarget& target,
                            std::chrono::milliseconds limit = RELEASE_TIME_LIMIT);

}  // namespace quelby::launch
