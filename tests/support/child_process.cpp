#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quelby::test_support {

namespace {

std::vector<std::string> child_environment(const std::vector<EnvChange>& changes) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const char* name : {"QUELBY_INSPECTOR_LIB_BACKTRACE", "QUELBY_INSPECTOR_BACKTRACE",
                             "QUELBY_INSPECTOR_FRONTEND"}) {
        variables.erase(name);
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) {
        result.push_back(name + "=" + value);
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<EnvChange>& env,
                           StdoutMode stdout_mode) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        const int error = errno;
        close(out_pipe[0]);
        close(out_pipe[1]);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(error));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdout_mode == StdoutMode::Closed) {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    }
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    if (stdout_mode == StdoutMode::ClosedPipe) {
        close(out_pipe[0]);
        out_pipe[0] = -1;
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<std::string> args = argv;
    std::vector<std::string> environment = child_environment(env);
    const int failed = posix_spawnp(&pid_, args.at(0).c_str(), &actions, &attributes,
                                    pointers(args).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = stdout_mode == StdoutMode::Closed ? -1 : out_pipe[0];
    if (stdout_mode == StdoutMode::Closed) {
        close(out_pipe[0]);
    }
    err_fd_ = err_pipe[0];
    if (failed != 0) {
        if (out_fd_ >= 0) {
            close(out_fd_);
        }
        close(err_fd_);
        throw std::runtime_error("cannot start " + args.at(0) + ": " + std::strerror(failed));
    }
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        // Not reaped yet, so the group's number is still ours (see reap_if_exited).
        kill(-pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (const int fd : {out_fd_, err_fd_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool ChildProcess::pump(Clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (const int fd : {out_fd_, err_fd_}) {
        if (fd >= 0) {
            fds.push_back(pollfd{.fd = fd, .events = POLLIN, .revents = 0});
        }
    }
    if (fds.empty()) {
        return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return false;
    }
    const int ready = poll(fds.data(), fds.size(), static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
        return true;
    }
    if (ready <= 0) {
        return false;
    }
    for (const pollfd& entry : fds) {
        if (entry.revents == 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t got = read(entry.fd, buffer, sizeof buffer);
        if (got > 0) {
            (entry.fd == out_fd_ ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            close(entry.fd);
            (entry.fd == out_fd_ ? out_fd_ : err_fd_) = -1;
        }
    }
    return true;
}

void ChildProcess::reap_if_exited() {
    if (status_) {
        return;
    }
    // Looked at without reaping first: until the child is reaped its number cannot be given to
    // another process, so the group it leads (its helper processes, which end on their own once it
    // is gone; this makes sure of it) can be ended without hitting a stranger's group that later
    // got the same number, such as another test's X server.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != pid_) {
        return;
    }
    kill(-pid_, SIGKILL);
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
}

bool ChildProcess::read_until(const std::function<bool()>& done, Clock::time_point deadline) {
    while (!done()) {
        if (!pump(deadline)) {
            return done();
        }
    }
    return true;
}

std::optional<std::string> ChildProcess::read_line(std::chrono::milliseconds timeout) {
    std::size_t newline = std::string::npos;
    if (!read_until(
            [&] { return (newline = out_.find('\n', out_lines_taken_)) != std::string::npos; },
            Clock::now() + timeout)) {
        return std::nullopt;
    }
    std::string line = out_.substr(out_lines_taken_, newline - out_lines_taken_);
    out_lines_taken_ = newline + 1;
    return line;
}

std::optional<std::string> ChildProcess::read_err_line_containing(
    std::string_view needle, std::chrono::milliseconds timeout) {
    std::optional<std::string> found;
    const auto look = [&] {
        std::size_t newline = 0;
        while (!found && (newline = err_.find('\n', err_lines_seen_)) != std::string::npos) {
            const std::string_view line =
                std::string_view(err_).substr(err_lines_seen_, newline - err_lines_seen_);
            err_lines_seen_ = newline + 1;
            if (line.find(needle) != std::string_view::npos) {
                found = std::string(line);
            }
        }
        return found.has_value();
    };
    read_until(look, Clock::now() + timeout);
    return found;
}

void ChildProcess::send_signal(int signal) {
    if (!status_) {
        kill(pid_, signal);
    }
}

std::optional<int> ChildProcess::wait_exit(Clock::time_point deadline) {
    // Polled in short slices: helper processes may hold the pipes a moment longer than the child
    // lives, so the end of output cannot be the only sign.
    while (!status_ && Clock::now() < deadline) {
        if (!pump(std::min(deadline, Clock::now() + std::chrono::milliseconds(50))) &&
            out_fd_ < 0 && err_fd_ < 0) {
            usleep(2'000);
        }
        reap_if_exited();
    }
    // Whatever is still in the pipes was written before the end.
    const auto drain_deadline = std::min(deadline, Clock::now() + std::chrono::seconds(2));
    while ((out_fd_ >= 0 || err_fd_ >= 0) && pump(drain_deadline)) {
    }
    return status_;
}

ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<EnvChange>& env,
                          StdoutMode stdout_mode) {
    const auto start = Clock::now();
    ChildProcess child(argv, env, stdout_mode);
    const std::optional<int> status = child.wait_exit(start + std::chrono::minutes(10));
    if (!status) {
        throw std::runtime_error(argv.at(0) + " did not end within ten minutes");
    }
    ProcessResult result;
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    result.exit_code = *status >= 0 ? *status : -1;
    result.term_signal = *status < 0 ? -*status : 0;
    result.out = child.out();
    result.err = child.err();
    return result;
}

std::string inspector_binary() {
    return QUELBY_INSPECTOR_BINARY;
}

std::optional<std::string> find_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path == nullptr ? "" : path;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

namespace {

// The state letter and the process group from /proc/PID/stat, or nullopt when there is no such
// process. The command name (field 2) may hold blanks: the fields after it follow its last ')'.
std::optional<std::pair<char, pid_t>> process_state(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return std::nullopt;
    }
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(name_end + 1));
    char state = 0;
    pid_t parent = 0;
    pid_t group = 0;
    fields >> state >> parent >> group;
    return std::pair{state, group};
}

}  // namespace

bool process_runs(pid_t pid) {
    const auto state = process_state(pid);
    return state && state->first != 'Z' && state->first != 'X';
}

bool group_runs(pid_t group) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const auto state = process_state(static_cast<pid_t>(std::stol(name)));
        if (state && state->second == group && state->first != 'Z' && state->first != 'X') {
            return true;
        }
    }
    return false;
}

bool stops_within(const std::function<bool()>& runs, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (runs()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{50});
    }
    return true;
}

}  // namespace quelby::test_support
