// The inspectors a program case puts at the program's address: one that answers as scripted, one
// whose port refuses connections, and one that never accepts them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peer_socket.h"

namespace quelby::cases {

// What one connection gets once its request has been read (up to its blank line).
struct Answer {
    std::string bytes;       // sent at once; nothing at all closes without an answer
    bool keep_open = false;  // the connection stays open until the peer is destroyed
    // Non-zero: `bytes` are sent one at a time, this far apart, and with `forever` again and
    // again until the program goes away.
    std::chrono::milliseconds trickle{0};
    bool forever = false;
};

// Serves connections one after another from a thread of its own: the n-th gets the n-th answer,
// and the last answer repeats. It listens from construction on (its port is known, and answers may
// name it); connections wait in the queue until start().
class AnsweringPeer {
  public:
    AnsweringPeer();
    ~AnsweringPeer();
    AnsweringPeer(const AnsweringPeer&) = delete;
    AnsweringPeer& operator=(const AnsweringPeer&) = delete;

    void start(std::vector<Answer> answers);
    [[nodiscard]] std::uint16_t port() const { return port_; }
    // The requests received so far, one per connection.
    [[nodiscard]] std::vector<std::string> requests() const;

  private:
    void serve();
    void answer(sockets::Socket client, const Answer& answer);

    std::vector<Answer> answers_;
    sockets::Socket listener_ = sockets::INVALID;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<sockets::Socket> held_;
    std::thread thread_;
};

// A bound port nobody listens on: connections to it are refused.
class RefusingPeer {
  public:
    RefusingPeer();
    ~RefusingPeer();
    RefusingPeer(const RefusingPeer&) = delete;
    RefusingPeer& operator=(const RefusingPeer&) = delete;
    [[nodiscard]] std::uint16_t port() const { return port_; }

  private:
    sockets::Socket socket_ = sockets::INVALID;
    std::uint16_t port_ = 0;
};

// A listener whose accept queue is already full: the system drops further connection requests,
// so a connect to it neither succeeds nor fails for minutes.
class StuckPeer {
  public:
    StuckPeer();
    ~StuckPeer();
    StuckPeer(const StuckPeer&) = delete;
    StuckPeer& operator=(const StuckPeer&) = delete;
    [[nodiscard]] std::uint16_t port() const { return port_; }

  private:
    sockets::Socket listener_ = sockets::INVALID;
    std::uint16_t port_ = 0;
    std::vector<sockets::Socket> fillers_;
};

}  // namespace quelby::cases
