// Child processes for the tests that run the real program, node, a browser or a tool: started with
// a chosen environment, their output collected while the test waits for what it needs, and ended
// (with everything they started) if still running when the test is done.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelby::test_support {

using Clock = std::chrono::steady_clock;

// An environment change: set the variable, or (nullopt) remove it.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

enum class StdoutMode {
    Captured,    // a pipe that the test reads
    ClosedPipe,  // a pipe whose reading end is closed before the child starts
    Closed,      // descriptor 1 closed in the child
};

class ChildProcess {
  public:
    // argv[0] is a path or a name looked up in PATH. The environment is the test's own without the
    // program's stack-trace and front-end switches (so a developer's setting cannot leak into a
    // test), then `env` applied. Standard input is /dev/null. The child leads its own process
    // group, so that what it starts (a web engine's helper processes) is ended with it.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::vector<EnvChange>& env = {},
                          StdoutMode stdout_mode = StdoutMode::Captured);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    // Everything read so far.
    [[nodiscard]] const std::string& out() const { return out_; }
    [[nodiscard]] const std::string& err() const { return err_; }

    // Collects output until `done()` holds or the deadline passes; false on time-out or when the
    // child closed its output first without `done()` holding.
    bool read_until(const std::function<bool()>& done, Clock::time_point deadline);
    // The next line of standard output not returned before, without its line feed; nullopt on
    // time-out or end.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    // The next line of standard error not looked at before that contains `needle`.
    std::optional<std::string> read_err_line_containing(std::string_view needle,
                                                        std::chrono::milliseconds timeout);

    void send_signal(int signal);
    // Collects output until the child ends: its exit status, or -(signal), or nullopt on time-out.
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
    std::size_t out_lines_taken_ = 0;  // bytes of out_ already returned by read_line
    std::size_t err_lines_seen_ = 0;   // bytes of err_ already searched line by line
};

struct ProcessResult {
    int exit_code = -1;   // -1 when killed by a signal
    int term_signal = 0;  // the signal that ended it, or 0
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

// Runs argv to its end (at most ten minutes) with ChildProcess's environment rules.
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<EnvChange>& env = {},
                          StdoutMode stdout_mode = StdoutMode::Captured);

// The path of the program under test (a CMake-provided definition).
std::string inspector_binary();

// `name` looked up in PATH; nullopt when absent.
std::optional<std::string> find_in_path(const std::string& name);

// Whether process `pid` still runs. One that has ended counts as gone even before it is reaped: a
// killed orphan waits for whoever adopted it, which may take its time.
bool process_runs(pid_t pid);
// Whether any process of process group `group` still runs, in the same sense.
bool group_runs(pid_t group);
// Whether `runs()` stops holding within `limit`, looking every 50 ms.
bool stops_within(const std::function<bool()>& runs,
                  std::chrono::milliseconds limit = std::chrono::milliseconds{2000});

}  // namespace quelby::test_support
