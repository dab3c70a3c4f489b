#include "quelby/webview_host/post_queue.h"

#include <utility>

namespace quelby::webview_host {

PostQueue::~PostQueue() {
    close();
}

bool PostQueue::push(LoopTask task) {
    {
        const std::scoped_lock lock(mutex_);
        if (!closed_) {
            tasks_.push_back(std::move(task));
            if (tasks_.size() == 1) {
                wake_(weak_from_this());
            }
            return true;
        }
    }
    // Destroyed outside the lock: its captures may post or close in their destructors.
    task = nullptr;
    return false;
}

void PostQueue::run_queued() {
    std::deque<LoopTask> ready;
    {
        const std::scoped_lock lock(mutex_);
        ready.swap(tasks_);
    }
    for (LoopTask& task : ready) {
        task();
        task = nullptr;  // its captures go before the next task runs
    }
}

void PostQueue::close() {
    std::deque<LoopTask> dropped;
    {
        const std::scoped_lock lock(mutex_);
        closed_ = true;
        dropped.swap(tasks_);
    }
}

bool LoopPoster::post(LoopTask task) const {
    if (!queue_ || (bound_ && owner_.expired())) {
        return false;
    }
    if (!bound_) {
        return queue_->push(std::move(task));
    }
    // Checked again on the loop's thread, where the owner is released.
    return queue_->push([owner = owner_, task = std::move(task)]() mutable {
        if (!owner.expired()) {
            task();
        }
    });
}

LoopPoster LoopPoster::bound_to(std::weak_ptr<const void> owner) const {
    LoopPoster bound(queue_);
    bound.owner_ = std::move(owner);
    bound.bound_ = true;
    return bound;
}

}  // namespace quelby::webview_host
