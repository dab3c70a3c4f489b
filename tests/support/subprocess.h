// Runs the real program (or node) as a child process for the end-to-end tests.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelby::test_support {

// An environment change: set the variable, or (nullopt) remove it.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

enum class StdoutMode {
    Captured,    // a pipe that the test reads
    ClosedPipe,  // a pipe whose reading end is closed before the child starts
    Closed,      // descriptor 1 closed in the child
};

struct ProcessResult {
    int exit_code = -1;   // -1 when killed by a signal
    int term_signal = 0;  // the signal that ended it, or 0
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

// Runs argv[0] (a path) with the arguments, the test's environment plus the changes, and waits.
// Every stack-trace switch is removed unless given in `env`, so a developer's setting cannot leak
// into a test.
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<EnvChange>& env = {},
                          StdoutMode stdout_mode = StdoutMode::Captured);

// The path of the program under test (a CMake-provided definition).
std::string inspector_binary();

// `name` looked up in PATH; nullopt when absent.
std::optional<std::string> find_in_path(const std::string& name);

// A background child (node) whose standard error is read line by line; killed (SIGKILL) and
// reaped on destruction.
class BackgroundProcess {
  public:
    explicit BackgroundProcess(const std::vector<std::string>& argv);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // Reads standard error until a line contains `needle`; that line, or nullopt on time-out/EOF.
    std::optional<std::string> wait_for_stderr_line(const std::string& needle,
                                                    std::chrono::milliseconds timeout);

  private:
    pid_t pid_ = -1;
    int err_fd_ = -1;
    std::string pending_;
};

}  // namespace quelby::test_support
