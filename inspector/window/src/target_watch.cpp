#include "quelby/window/target_watch.h"

#include <optional>
#include <utility>

namespace quelby {

TargetWatch::TargetWatch(TargetDiscovery discovery, TargetFound found)
    : discovery_(std::move(discovery)),
      found_(std::move(found)),
      thread_([this](const std::stop_token& stop) { run(stop); }) {}

// The thread is the last member: its own destructor requests the stop and joins, before the rest
// goes.
TargetWatch::~TargetWatch() = default;

void TargetWatch::stop() {
    // Wakes the thread wherever it waits: its condition variable waits, the lookup's pauses and
    // its socket waits all read this stop token.
    thread_.request_stop();
}

void TargetWatch::connection_lost(WsTarget lost) {
    {
        const std::scoped_lock lock(mutex_);
        if (thread_.get_stop_token().stop_requested() || searching_ || lost_) {
            return;
        }
        lost_ = std::move(lost);
    }
    changed_.notify_all();
}

bool TargetWatch::pause(std::chrono::milliseconds length, const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    // Only the stop ends it early: a loss reported meanwhile is ignored anyway.
    static_cast<void>(changed_.wait_for(lock, stop, length, [] { return false; }));
    return !stop.stop_requested();
}

void TargetWatch::run(const std::stop_token& stop) {
    while (true) {
        WsTarget lost{};
        {
            std::unique_lock lock(mutex_);
            static_cast<void>(changed_.wait(lock, stop, [this] { return lost_.has_value(); }));
            if (stop.stop_requested() || !lost_) {
                return;
            }
            lost = std::move(*lost_);
            lost_.reset();
            searching_ = true;
        }
        std::optional<WsTarget> found = search(lost, stop);
        {
            // Done before the target is handed on: the new page may lose its connection as soon
            // as it is navigated to, and that loss must start the next search, not be taken for
            // this one.
            const std::scoped_lock lock(mutex_);
            searching_ = false;
        }
        if (found) {
            found_(std::move(*found));
        }
    }
}

std::optional<WsTarget> TargetWatch::search(const WsTarget& lost, const std::stop_token& stop) {
    bool seen_gone = false;
    while (true) {
        // The lookup's own pauses and socket waits end on the same stop: it then returns without
        // another attempt.
        Result<DebuggerTarget> found = discovery_(stop);
        if (stop.stop_requested()) {
            return std::nullopt;
        }
        if (found && (found->target != lost || seen_gone)) {
            return std::move(found->target);
        }
        // Seen gone: the lookup failed, or found the inspector only after failed attempts.
        seen_gone = seen_gone || !found || found->failed_attempts > 0;
        if (!pause(found ? LIVE_TARGET_PAUSE : RETRY_PAUSE, stop)) {
            return std::nullopt;
        }
    }
}

}  // namespace quelby
