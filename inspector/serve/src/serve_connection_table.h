// The --serve server's connections that count against its limit, the one that has gone longest
// without completing a request first: when the table is full, that one is closed to make room.
// Touched on the io thread only.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <utility>

namespace quelby::serve {

class Session;

class ConnectionTable {
  public:
    explicit ConnectionTable(std::size_t capacity) : capacity_(capacity) {}

    [[nodiscard]] bool full() const { return !entries_.empty() && entries_.size() >= capacity_; }
    // The one to close for room; only when the table is not empty.
    [[nodiscard]] Session& longest_waiting() const { return *entries_.front(); }

    // A connection's place in the table, from its creation (as the newest) until it is destroyed
    // or leaves for room. A seat shares the table, so a connection destroyed late (with the
    // io_context's pending handlers) still finds it.
    class Seat {
      public:
        Seat(std::shared_ptr<ConnectionTable> table, Session& session) : table_(std::move(table)) {
            place_ = table_->entries_.insert(table_->entries_.end(), &session);
        }
        ~Seat() { leave(); }
        Seat(const Seat&) = delete;
        Seat& operator=(const Seat&) = delete;

        // The connection completed a request: it is the last to be closed for room.
        void completed_request() {
            if (table_) {
                table_->entries_.splice(table_->entries_.end(), table_->entries_, place_);
            }
        }
        // Gives the place up at once (a connection closed for room may still have operations to
        // end after the next accept).
        void leave() {
            if (table_) {
                table_->entries_.erase(place_);
                table_.reset();
            }
        }

      private:
        std::shared_ptr<ConnectionTable> table_;  // null once left
        std::list<Session*>::iterator place_;
    };

  private:
    std::size_t capacity_;
    std::list<Session*> entries_;
};

}  // namespace quelby::serve
