// Finding the debugger again after the front end lost its connection (the debuggee restarted, with
// a new target id): the target list is looked up on a thread of its own, so the window stays
// responsive, until a usable target appears or the watch is stopped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/discovery.h"
#include "quelby/discovery/ws_target.h"

namespace quelby {

// One lookup of the debugger's target, with its own retries, which `stop` ends early: the watch
// gives its thread's stop token. Its DebuggerTarget::failed_attempts tells whether the inspector
// was seen gone during a lookup that found a target.
using TargetDiscovery = std::function<Result<DebuggerTarget>(const std::stop_token& stop)>;
// The pause after a lookup that found the inspector up but still listing the lost target: nothing
// failed, so the retry cadence does not apply, and polling a live inspector that fast for as long
// as the window is open would be waste.
inline constexpr std::chrono::milliseconds LIVE_TARGET_PAUSE{1000};

// Called on the watch's thread with each target found.
using TargetFound = std::function<void(WsTarget target)>;

class TargetWatch {
  public:
    TargetWatch(TargetDiscovery discovery, TargetFound found);
    TargetWatch(const TargetWatch&) = delete;
    TargetWatch& operator=(const TargetWatch&) = delete;
    // Stops and joins. A search ends at once between attempts and during a pause, and an attempt
    // waiting on the socket (a peer that never accepts or never answers) within net::WAIT_SLICE.
    ~TargetWatch();

    // The connection to `lost` ended: look the target up again, RETRY_PAUSE apart, until a target
    // other than the lost one appears (the same address under the other scheme is another one),
    // or the lost one again after the inspector has been seen gone, i.e. after any failed attempt
    // (restarted with the same id). A live inspector that still lists the lost target (it refused
    // or dropped the front end) gets no new navigation: that would only repeat the failure.
    // Ignored while a search is under way.
    void connection_lost(WsTarget lost);

    // Ends any search promptly (a stop request to the watch's thread); later losses are ignored.
    void stop();

  private:
    void run(const std::stop_token& stop);
    // The new target, or nullopt when the watch was stopped first.
    std::optional<WsTarget> search(const WsTarget& lost, const std::stop_token& stop);
    // False when the watch was stopped, at once, before `length` passed.
    bool pause(std::chrono::milliseconds length, const std::stop_token& stop);

    TargetDiscovery discovery_;
    TargetFound found_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::optional<WsTarget> lost_;  // the search asked for, until the thread takes it
    bool searching_ = false;
    // Last: started once the rest exists; destroyed first, which stops and joins it.
    std::jthread thread_;
};

}  // namespace quelby
