#include "running_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quelby::test_support {

RunningProgram::RunningProgram(const std::vector<std::string>& argv,
                               const std::vector<EnvChange>& env) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<EnvChange> changes = {{"QUELBY_INSPECTOR_LIB_BACKTRACE", std::nullopt},
                                      {"QUELBY_INSPECTOR_BACKTRACE", std::nullopt},
                                      {"QUELBY_INSPECTOR_FRONTEND", std::nullopt}};
    changes.insert(changes.end(), env.begin(), env.end());
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        environment.emplace_back(*e);
    }
    for (const auto& [name, value] : changes) {
        std::erase_if(environment,
                      [&](const std::string& entry) { return entry.starts_with(name + "="); });
        if (value) {
            environment.push_back(name + "=" + *value);
        }
    }
    std::vector<std::string> args = argv;
    std::vector<char*> arg_ptrs;
    for (auto& arg : args) {
        arg_ptrs.push_back(arg.data());
    }
    arg_ptrs.push_back(nullptr);
    std::vector<char*> env_ptrs;
    for (auto& entry : environment) {
        env_ptrs.push_back(entry.data());
    }
    env_ptrs.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    const int rc =
        ::posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, arg_ptrs.data(), env_ptrs.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("posix_spawn failed: " + std::string(std::strerror(rc)));
    }
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (const int fd : {out_fd_, err_fd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool RunningProgram::read_some(int fd, std::string& into, std::chrono::milliseconds timeout) {
    if (fd < 0) {
        return false;
    }
    pollfd poll_fd{fd, POLLIN, 0};
    if (::poll(&poll_fd, 1, static_cast<int>(timeout.count())) <= 0) {
        return false;
    }
    char buffer[65536];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
}

std::optional<std::string> RunningProgram::read_line(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (const std::size_t newline = out_.find('\n'); newline != std::string::npos) {
            std::string line = out_.substr(0, newline);
            out_.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !read_some(out_fd_, out_, left)) {
            return std::nullopt;
        }
    }
}

void RunningProgram::send_signal(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

std::optional<ProcessResult> RunningProgram::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{10});
    }
    pid_ = -1;
    while (read_some(out_fd_, out_, std::chrono::milliseconds{0})) {
    }
    while (read_some(err_fd_, err_, std::chrono::milliseconds{0})) {
    }
    ProcessResult result;
    result.out = out_;
    result.err = err_;
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace quelby::test_support
