#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string.h>
#include <cerrno>
#include <stdexcept>

#include "child_run.h"

extern char** environ;

namespace quelby::cases {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> child_environment(const ChildRun& run) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        bool changed = text.starts_with(PROGRAM_SWITCH_PREFIX);
        for (const auto& [name, value] : run.environment) {
            changed = changed || text.starts_with(name + "=");
        }
        if (!changed) {
            entries.emplace_back(text);
        }
    }
    for (const auto& [name, value] : run.environment) {
        if (value) {
            entries.push_back(name + "=" + *value);
        }
    }
    return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void make_pipe(int ends[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
}

}  // namespace

std::string_view platform_name() {
    return "linux";
}

ChildEnd run_child(const ChildRun& run) {
    // Everything the child needs is made before fork: between fork and exec only system calls.
    std::vector<std::string> argv_texts = run.argv;
    std::vector<std::string> env_texts = child_environment(run);
    const std::vector<char*> argv = pointers_to(argv_texts);
    const std::vector<char*> envp = pointers_to(env_texts);
    int out[2];
    int err[2];
    make_pipe(out);
    make_pipe(err);
    if (run.output == StandardOutput::BrokenPipe) {
        ::close(out[0]);
        out[0] = -1;
    }
    const int null_input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // Its own process group, so that anything it starts is killed with it.
        ::setpgid(0, 0);
        ::dup2(null_input, 0);
        if (run.output == StandardOutput::Closed) {
            ::close(1);
        } else {
            ::dup2(out[1], 1);
        }
        ::dup2(err[1], 2);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(null_input);
    ::close(out[1]);
    ::close(err[1]);
    if (run.output != StandardOutput::Captured && out[0] >= 0) {
        ::close(out[0]);
        out[0] = -1;
    }

    ChildEnd end;
    const Clock::time_point deadline = start + run.limit;
    std::string* sinks[2] = {&end.out, &end.err};
    int fds[2] = {out[0], err[0]};
    bool killed = false;
    while (fds[0] >= 0 || fds[1] >= 0) {
        pollfd entries[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            ::kill(-pid, SIGKILL);
            killed = true;
            break;
        }
        const int ready = ::poll(entries, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i] >= 0 && (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char buffer[65536];
                const ssize_t got = ::read(fds[i], buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    ::close(fds[i]);
                    fds[i] = -1;
                }
            }
        }
    }
    for (const int fd : fds) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int status = 0;
    while (true) {
        const pid_t reaped = ::waitpid(pid, &status, killed ? 0 : WNOHANG);
        if (reaped == pid) {
            break;
        }
        if (reaped < 0 && errno != EINTR) {
            break;
        }
        if (reaped == 0) {
            if (Clock::now() >= deadline) {
                ::kill(-pid, SIGKILL);
                killed = true;
            } else {
                ::usleep(2000);
            }
        }
    }
    end.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (killed) {
        end.how = "still running after " + std::to_string(run.limit.count()) + " ms, killed";
    } else if (WIFEXITED(status)) {
        end.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.how = std::string("killed by signal ") + ::strsignal(WTERMSIG(status));
    }
    return end;
}

}  // namespace quelby::cases
