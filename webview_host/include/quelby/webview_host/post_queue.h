// The queue behind LoopPoster, shared by every backend: tasks from any thread, run on the loop's
// thread. Each backend supplies how its loop is woken.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "quelby/webview_host/host.h"

namespace quelby::webview_host {

class PostQueue : public std::enable_shared_from_this<PostQueue> {
  public:
    // Called, under the queue's lock, when a task arrives on an empty open queue: it must only
    // signal the loop (thread-safe, never running tasks itself), which then calls run_queued on
    // the queue it is given, if that still exists.
    using Wake = std::function<void(const std::weak_ptr<PostQueue>&)>;

    explicit PostQueue(Wake wake) : wake_(std::move(wake)) {}
    PostQueue(const PostQueue&) = delete;
    PostQueue& operator=(const PostQueue&) = delete;
    ~PostQueue();

    // Any thread. False, with the task destroyed before returning, once the queue is closed.
    bool push(LoopTask task);
    // The loop's thread: runs the tasks queued so far, in order. Tasks posted by these tasks wait
    // for the next wake.
    void run_queued();
    // The loop's thread: refuses later tasks and destroys the queued ones without running them.
    void close();

  private:
    std::mutex mutex_;
    std::deque<LoopTask> tasks_;
    bool closed_ = false;
    Wake wake_;
};

// The loop's own reference to its queue: releasing the loop closes the queue, whoever else still
// holds it (a LoopPoster on another thread).
class LoopPosts {
  public:
    explicit LoopPosts(PostQueue::Wake wake)
        : queue_(std::make_shared<PostQueue>(std::move(wake))) {}
    LoopPosts(const LoopPosts&) = delete;
    LoopPosts& operator=(const LoopPosts&) = delete;
    ~LoopPosts() { queue_->close(); }

    [[nodiscard]] PostQueue& queue() const { return *queue_; }
    [[nodiscard]] LoopPoster poster() const { return LoopPoster(queue_); }

  private:
    std::shared_ptr<PostQueue> queue_;
};

}  // namespace quelby::webview_host
