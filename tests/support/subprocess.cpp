#include "subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quelby::test_support {
namespace {

std::vector<std::string> child_environment(const std::vector<EnvChange>& changes) {
    std::vector<EnvChange> all = {{"QUELBY_INSPECTOR_LIB_BACKTRACE", std::nullopt},
                                  {"QUELBY_INSPECTOR_BACKTRACE", std::nullopt},
                                  {"QUELBY_INSPECTOR_FRONTEND", std::nullopt}};
    all.insert(all.end(), changes.begin(), changes.end());
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    for (const auto& [name, value] : all) {
        std::erase_if(env, [&](const std::string& entry) { return entry.starts_with(name + "="); });
        if (value) {
            env.push_back(name + "=" + *value);
        }
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
    std::vector<pollfd> fds;
    if (out_fd >= 0) {
        fds.push_back({out_fd, POLLIN, 0});
    }
    fds.push_back({err_fd, POLLIN, 0});
    char buffer[65536];
    while (!fds.empty()) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i < fds.size();) {
            if (fds[i].revents == 0) {
                ++i;
                continue;
            }
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (fds[i].fd == out_fd ? out : err).append(buffer, static_cast<std::size_t>(got));
                fds[i].revents = 0;
                ++i;
            } else {
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

}  // namespace

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

ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<EnvChange>& env,
                          StdoutMode stdout_mode) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
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
        ::close(out_pipe[0]);
        out_pipe[0] = -1;
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = child_environment(env);
    auto arg_ptrs = pointers(args);
    auto env_ptrs = pointers(envs);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr, arg_ptrs.data(), env_ptrs.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (rc != 0) {
        throw std::runtime_error("posix_spawn failed: " + std::string(std::strerror(rc)));
    }
    ProcessResult result;
    drain(out_pipe[0], err_pipe[0], result.out, result.err);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (out_pipe[0] >= 0) {
        ::close(out_pipe[0]);
    }
    ::close(err_pipe[0]);
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv) {
    int err_pipe[2];
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    std::vector<std::string> args = argv;
    auto arg_ptrs = pointers(args);
    const int rc =
        ::posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, arg_ptrs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(err_pipe[1]);
    if (rc != 0) {
        ::close(err_pipe[0]);
        throw std::runtime_error("posix_spawnp failed: " + std::string(std::strerror(rc)));
    }
    err_fd_ = err_pipe[0];
}

BackgroundProcess::~BackgroundProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (err_fd_ >= 0) {
        ::close(err_fd_);
    }
}

std::optional<std::string> BackgroundProcess::wait_for_stderr_line(
    const std::string& needle, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    while (true) {
        std::size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            if (line.find(needle) != std::string::npos) {
                return line;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd fd{err_fd_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t got = ::read(err_fd_, buffer, sizeof buffer);
        if (got <= 0) {
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace quelby::test_support
