// A child process that keeps running while the test talks to it: its standard output is read line
// by line, it can be signalled, and its end is awaited with a time-out. Killed (SIGKILL) and
// reaped on destruction if it is still running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/subprocess.h"

namespace quelby::test_support {

class RunningProgram {
  public:
    // Starts argv[0] (a path) with the test's environment plus `env`; the program's own
    // environment switches are removed unless given.
    explicit RunningProgram(const std::vector<std::string>& argv,
                            const std::vector<EnvChange>& env = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // The next line of standard output without its line feed; nullopt on time-out or end.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    void send_signal(int signal);
    // Waits for the end; exit_code and term_signal as run_process gives them, `out` the rest of
    // standard output, `err` all of standard error. nullopt on time-out.
    std::optional<ProcessResult> wait(std::chrono::milliseconds timeout);

  private:
    bool read_some(int fd, std::string& into, std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string err_;
};

}  // namespace quelby::test_support
