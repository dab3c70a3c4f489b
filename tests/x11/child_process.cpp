#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

extern char** environ;

namespace quelby::x11_testing {

namespace {

std::vector<std::string> merged_environment(const std::vector<EnvChange>& changes) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
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

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<EnvChange>& env) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    // Its own process group, so that the browser's helper processes can be found and ended too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<std::string> args = argv;
    std::vector<std::string> environment = merged_environment(env);
    const int failed = posix_spawnp(&pid_, args.at(0).c_str(), &actions, &attributes,
                                    pointers(args).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    if (failed != 0) {
        close(out_fd_);
        close(err_fd_);
        throw std::runtime_error("cannot start " + args.at(0) + ": " + std::strerror(failed));
    }
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        // Not reaped yet, so the group's number is still ours (see reap_if_exited).
        kill(-pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (out_fd_ >= 0)
        close(out_fd_);
    if (err_fd_ >= 0)
        close(err_fd_);
}

bool ChildProcess::pump(Clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (int fd : {out_fd_, err_fd_}) {
        if (fd >= 0)
            fds.push_back(pollfd{.fd = fd, .events = POLLIN, .revents = 0});
    }
    if (fds.empty()) {
        return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return false;
    }
    if (poll(fds.data(), fds.size(), static_cast<int>(left)) <= 0) {
        return false;
    }
    for (const pollfd& entry : fds) {
        if (entry.revents == 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(entry.fd, buffer, sizeof buffer);
        std::string& sink = entry.fd == out_fd_ ? out_ : err_;
        if (got > 0) {
            sink.append(buffer, static_cast<std::size_t>(got));
        } else {
            close(entry.fd);
            (entry.fd == out_fd_ ? out_fd_ : err_fd_) = -1;
        }
    }
    return true;
}

void ChildProcess::reap_if_exited() {
    if (status_)
        return;
    // Looked at without reaping first: until the child is reaped its number cannot be given to
    // another process, so the group it leads (the program and its helper processes, which end on
    // their own once it is gone; this makes sure of it) can be ended without hitting a stranger's
    // group that later got the same number, such as another test's X server.
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

std::optional<int> ChildProcess::wait_exit(Clock::time_point deadline) {
    // Polled in short slices: the browser's helper processes may hold the pipes a moment longer
    // than the program lives, so the end of output cannot be the only sign.
    while (!status_ && Clock::now() < deadline) {
        if (!pump(std::min(deadline, Clock::now() + std::chrono::milliseconds(50))) &&
            out_fd_ < 0 && err_fd_ < 0) {
            usleep(10'000);
        }
        reap_if_exited();
    }
    // Whatever is still in the pipes was written before the end.
    const auto drain_deadline = std::min(deadline, Clock::now() + std::chrono::seconds(2));
    while ((out_fd_ >= 0 || err_fd_ >= 0) && pump(drain_deadline)) {
    }
    return status_;
}

}  // namespace quelby::x11_testing
