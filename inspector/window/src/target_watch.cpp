#include "quelby/window/target_watch.h"

#include <optional>
#include <utility>

namespace quelby {

TargetWatch::TargetWatch(TargetDiscovery discovery, TargetFound found)
    : discovery_(std::move(discovery)), found_(std::move(found)), thread_([this] { run(); }) {}

TargetWatch::~TargetWatch() {
    stop();
    thread_.join();
}

void TargetWatch::stop() {
    {
        const std::scoped_lock lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

void TargetWatch::connection_lost(WsTarget lost) {
    {
        const std::scoped_lock lock(mutex_);
        if (stopped_ || searching_ || lost_) {
            return;
        }
        lost_ = std::move(lost);
    }
    changed_.notify_all();
}

bool TargetWatch::pause(std::chrono::milliseconds length) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, length, [this] { return stopped_; });
}

void TargetWatch::run() {
    // The lookup's own deadline, pauses and socket waits follow the watch: once stopped, time is
    // up, pauses end at once and an attempt waiting on the socket ends within a slice, so the
    // lookup returns without another attempt.
    FetchClock clock = FetchClock::until([this] {
        const std::scoped_lock lock(mutex_);
        return stopped_;
    });
    // The lookup pauses only after a failed attempt; the watch's own pause wakes the moment it is
    // stopped.
    clock.pause = [this](std::chrono::milliseconds length) {
        attempt_failed_ = true;
        static_cast<void>(pause(length));
    };
    while (true) {
        WsTarget lost{};
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopped_ || lost_; });
            if (stopped_ || !lost_) {
                return;
            }
            lost = std::move(*lost_);
            lost_.reset();
            searching_ = true;
        }
        std::optional<WsTarget> found = search(lost, clock);
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

std::optional<WsTarget> TargetWatch::search(const WsTarget& lost, const FetchClock& clock) {
    bool seen_gone = false;
    while (true) {
        attempt_failed_ = false;
        Result<WsTarget> target = discovery_(clock);
        {
            const std::scoped_lock lock(mutex_);
            if (stopped_) {
                return std::nullopt;
            }
        }
        if (target && (*target != lost || seen_gone)) {
            return std::move(*target);
        }
        seen_gone = seen_gone || !target || attempt_failed_;
        if (!pause(target ? LIVE_TARGET_PAUSE : RETRY_PAUSE)) {
            return std::nullopt;
        }
    }
}

}  // namespace quelby
