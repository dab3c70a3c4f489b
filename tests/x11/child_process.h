// A child process for the window tests: started with a chosen environment, its standard output and
// error collected while the test waits for what it needs, killed if still running at the end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelby::x11_testing {

using Clock = std::chrono::steady_clock;

// Set the variable, or remove it (nullopt).
using EnvChange = std::pair<std::string, std::optional<std::string>>;

class ChildProcess {
  public:
    // argv[0] is a path or a name looked up in PATH. The environment is the test's own with the
    // changes applied.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<EnvChange>& env);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    [[nodiscard]] const std::string& out() const { return out_; }
    [[nodiscard]] const std::string& err() const { return err_; }

    // Collects output until `done()` holds or the deadline passes; false on time-out or when the
    // child ended first without `done()` holding.
    bool read_until(const std::function<bool()>& done, Clock::time_point deadline);
    // Collects output until the child ends; its exit status, or -(signal), or nullopt on time-out.
    std::optional<int> wait_exit(Clock::time_point deadline);

  private:
    bool pump(Clock::time_point deadline);
    void reap_if_exited();

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::optional<int> status_;
    std::string out_;
    std::string err_;
};

}  // namespace quelby::x11_testing
