#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "launch_environment.h"
#include "quelby/launch/launched_command.h"
#include "quelby/resources/random_token.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX declares it nowhere

namespace quelby::launch {
namespace {

// The interrupts the launcher forwards to the command instead of dying of them.
constexpr std::array INTERRUPTS = {SIGINT, SIGTERM, SIGHUP};
constexpr std::string_view CHANNEL_FILE_NAME = "channel";

// A descriptor closed with its owner.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Through the system calls themselves: the C library's wrappers are missing or undeclared for C++
// in some versions.
int open_pidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0U));
}

void signal_pidfd(int pidfd, int signal) {
    static_cast<void>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U));
}

ErrorChain errno_error(std::string context) {
    return ErrorChain::from_os_error(errno).with_context(std::move(context));
}

sigset_t interrupt_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : INTERRUPTS) {
        sigaddset(&set, signal);
    }
    return set;
}

// The status a shell gives for a process that ended as `info` says.
int shell_status(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) {
        return info.si_status;
    }
    return SIGNAL_STATUS_BASE + info.si_status;
}

// The run's private folder: only the user can read, write or list it; removed with what it holds.
std::filesystem::path temporary_root() {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir != nullptr && *tmpdir == '/' ? std::filesystem::path(tmpdir)
                                               : std::filesystem::path("/tmp");
}

Result<std::filesystem::path> make_private_folder() {
    std::string pattern = (temporary_root() / "quelby_inspector.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return std::unexpected(
            errno_error("failed to make a private folder in " + temporary_root().string()));
    }
    return std::filesystem::path(pattern);
}

Status write_private_file(const std::filesystem::path& path, std::string_view text) {
    const Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return std::unexpected(errno_error("failed to write " + path.string()));
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t got = ::write(fd.get(), text.data() + written, text.size() - written);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::unexpected(errno_error("failed to write " + path.string()));
        }
        written += static_cast<std::size_t>(got);
    }
    return {};
}

// The command's environment: the launcher's own, with the bootloader's variables set.
std::vector<std::string> command_environment(const std::filesystem::path& channel,
                                             const std::filesystem::path& bootloader,
                                             const std::string& secret, bool hold) {
    std::vector<std::string> inherited;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        inherited.emplace_back(*entry);
    }
    return launch_environment(inherited, channel.string(), bootloader.string(), secret, hold,
                              NameCase::Exact);
}

std::vector<char*> c_strings(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Gives the terminal's foreground to `group` (tcsetpgrp from a background group would stop us
// with SIGTTOU, which is blocked around the call).
void hand_terminal_to(pid_t group) {
    sigset_t ttou;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &ttou, &previous);
    static_cast<void>(::tcsetpgrp(STDIN_FILENO, group));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// The most processes the watchdog keeps track of besides the command's group.
constexpr std::size_t WATCHED_LIMIT = 1024;
// What the launcher writes to its watchdog last when it has ended the tree itself.
constexpr std::int32_t ALL_ENDED = 0;

// A process of its own, in a process group of its own, that ends the command's tree should the
// launcher die without doing so (killed with SIGKILL, say): it reads the command's process group,
// then each reported pid, from `watch`, and when the pipe ends without ALL_ENDED it kills them
// all and removes the run's private files. Forked from a process that may have threads: only
// system calls from here on.
// The run's private files, which the watchdog removes in the launcher's place.
struct PrivateFiles {
    const char* bootloader;
    const char* channel;
    const char* folder;
};

[[noreturn]] void run_watchdog(int watch, const PrivateFiles& files) {
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_RDWR);
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        ::dup2(null, stream);
    }
    // Nothing of the launcher's stays open here (a pipe a caller waits on to end, for one) but
    // the watch, moved to descriptor 3.
    ::dup2(watch, 3);
    watch = 3;
    ::syscall(SYS_close_range, 4U, ~0U, 0U);
    std::array<int, WATCHED_LIMIT> pidfds{};
    std::size_t count = 0;
    pid_t group = 0;
    while (true) {
        std::int32_t value = 0;
        const ssize_t got = ::read(watch, &value, sizeof value);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != sizeof value) {
            break;  // the launcher is gone
        }
        if (value == ALL_ENDED) {
            ::_exit(0);
        }
        if (group == 0) {
            group = value;
        } else if (count < pidfds.size()) {
            const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, value, 0U));
            if (pidfd >= 0) {
                pidfds.at(count++) = pidfd;
            }
        }
    }
    if (group > 0) {
        ::killpg(group, SIGKILL);
    }
    for (std::size_t i = 0; i < count; ++i) {
        ::syscall(SYS_pidfd_send_signal, pidfds.at(i), SIGKILL, nullptr, 0U);
    }
    ::unlink(files.bootloader);
    ::unlink(files.channel);
    ::rmdir(files.folder);
    ::_exit(0);
}

}  // namespace

struct LaunchedCommand::State {
    LaunchEvents events;
    std::filesystem::path folder;
    std::string secret;
    pid_t pid = -1;  // the command's main process, which leads its process group
    bool reaped = false;
    bool terminal_handed = false;
    Fd channel;
    Fd main_pidfd;
    Fd signals;
    Fd wake;
    std::map<int, Fd> reported;  // pid -> pidfd of each reported process still running
    EndNotices ends;
    pid_t watchdog = -1;
    Fd watch;  // the watchdog's pipe: the command's group, then each reported pid
    ReportLines lines;
    int interrupts = 0;
    std::jthread thread;

    void run(const std::stop_token& stop);
    void read_channel();
    void on_line(std::string_view line);
    void on_interrupt();
    void take_terminal_back() {
        if (terminal_handed) {
            terminal_handed = false;
            hand_terminal_to(::getpgrp());
        }
    }
    // SIGKILL to the command's process group and to every reported process, wherever it is.
    void tell_watchdog(std::int32_t value) const {
        if (watch.valid()) {
            static_cast<void>(::write(watch.get(), &value, sizeof value));
        }
    }
    void end_everything() {
        if (!reaped) {
            ::killpg(pid, SIGKILL);
        }
        for (auto& [reported_pid, pidfd] : reported) {
            signal_pidfd(pidfd.get(), SIGKILL);
        }
    }
};

void LaunchedCommand::take_interrupts() {
    const sigset_t set = interrupt_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::expected<std::unique_ptr<LaunchedCommand>, StartFailure> LaunchedCommand::start(
    std::span<const std::string> command, bool hold) {
    const auto failure = [](ErrorChain error, int status = 1) {
        return std::unexpected(StartFailure{.error = std::move(error), .status = status});
    };
    if (command.empty()) {
        return failure(ErrorChain::from_message("no command to launch"));
    }
    auto state = std::make_unique<State>();
    state->secret = random_token();
    auto folder = make_private_folder();
    if (!folder) {
        return failure(std::move(folder.error()));
    }
    state->folder = *folder;
    // From here the destructor removes the folder whatever happens.
    std::unique_ptr<LaunchedCommand> launched(new LaunchedCommand(std::move(state)));
    State& s = *launched->state_;

    const std::filesystem::path bootloader = s.folder / BOOTLOADER_FILE_NAME;
    const std::filesystem::path channel = s.folder / CHANNEL_FILE_NAME;
    if (auto written = write_private_file(bootloader, BOOTLOADER_SCRIPT); !written) {
        return failure(std::move(written.error()));
    }
    if (::mkfifo(channel.c_str(), 0600) != 0) {
        return failure(errno_error("failed to make " + channel.string()));
    }
    // Read and write: the channel never reads as ended between two processes' reports.
    s.channel = Fd(::open(channel.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    const sigset_t interrupts = interrupt_set();
    s.signals = Fd(::signalfd(-1, &interrupts, SFD_NONBLOCK | SFD_CLOEXEC));
    s.wake = Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!s.channel.valid() || !s.signals.valid() || !s.wake.valid()) {
        return failure(errno_error("failed to prepare the launch of " + command.front()));
    }

    std::vector<std::string> arguments(command.begin(), command.end());
    std::vector<std::string> environment = command_environment(channel, bootloader, s.secret, hold);
    std::vector<char*> argv = c_strings(arguments);
    std::vector<char*> envp = c_strings(environment);
    std::array<int, 2> exec_report{};
    if (::pipe2(exec_report.data(), O_CLOEXEC) != 0) {
        return failure(errno_error("failed to start " + command.front()));
    }
    Fd report_read(exec_report[0]);
    Fd report_write(exec_report[1]);
    const bool own_terminal =
        ::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();

    const pid_t pid = ::fork();
    if (pid < 0) {
        return failure(errno_error("failed to start " + command.front()));
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::setpgid(0, 0);
        for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGTTOU, SIGTTIN, SIGTSTP}) {
            ::signal(signal, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execvpe(argv[0], argv.data(), envp.data());
        const int error = errno;
        static_cast<void>(::write(report_write.get(), &error, sizeof error));
        ::_exit(COMMAND_NOT_FOUND_STATUS);
    }
    s.pid = pid;
    ::setpgid(pid, pid);  // also here: whichever runs first, the group exists before we use it
    report_write.reset();
    int exec_error = 0;
    ssize_t got = 0;
    do {
        got = ::read(report_read.get(), &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    if (got == sizeof exec_error) {
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
        s.reaped = true;
        if (exec_error == ENOENT) {
            return failure(ErrorChain::from_message("command not found: " + command.front()),
                           COMMAND_NOT_FOUND_STATUS);
        }
        errno = exec_error;
        return failure(errno_error("cannot run " + command.front()), COMMAND_NOT_EXECUTABLE_STATUS);
    }
    s.main_pidfd = Fd(open_pidfd(pid));
    std::array<int, 2> watch{};
    const std::string folder_text = s.folder.string();
    const std::string bootloader_text = bootloader.string();
    const std::string channel_text = channel.string();
    const PrivateFiles files{.bootloader = bootloader_text.c_str(),
                             .channel = channel_text.c_str(),
                             .folder = folder_text.c_str()};
    if (::pipe2(watch.data(), O_CLOEXEC) == 0) {
        const pid_t watchdog = ::fork();
        if (watchdog == 0) {
            ::close(watch[1]);
            run_watchdog(watch[0], files);
        }
        ::close(watch[0]);
        s.watch = Fd(watch[1]);
        if (watchdog > 0) {
            s.watchdog = watchdog;
            s.tell_watchdog(pid);
        } else {
            s.watch.reset();
        }
    }
    if (!s.main_pidfd.valid()) {
        return failure(errno_error("failed to watch " + command.front()));
    }
    if (own_terminal) {
        // As a shell runs a foreground job: the command reads the terminal and takes its Ctrl+C.
        s.terminal_handed = true;
        hand_terminal_to(pid);
    }
    return launched;
}

void LaunchedCommand::watch(LaunchEvents events) {
    State& s = *state_;
    s.events = std::move(events);
    s.thread = std::jthread([&s](const std::stop_token& stop) { s.run(stop); });
}

LaunchedCommand::LaunchedCommand(std::unique_ptr<State> state) : state_(std::move(state)) {}

LaunchedCommand::~LaunchedCommand() {
    State& s = *state_;
    if (s.thread.joinable()) {
        s.thread.request_stop();
        const std::uint64_t one = 1;
        static_cast<void>(::write(s.wake.get(), &one, sizeof one));
        s.thread.join();
    }
    if (s.pid > 0) {
        s.end_everything();
        if (!s.reaped) {
            int ignored = 0;
            while (::waitpid(s.pid, &ignored, 0) < 0 && errno == EINTR) {
            }
        }
    }
    if (s.watchdog > 0) {
        s.tell_watchdog(ALL_ENDED);
        s.watch.reset();
        int ignored_status = 0;
        while (::waitpid(s.watchdog, &ignored_status, 0) < 0 && errno == EINTR) {
        }
    }
    s.take_terminal_back();
    std::error_code ignored;
    std::filesystem::remove_all(s.folder, ignored);
}

void LaunchedCommand::State::run(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
        std::vector<pollfd> watched;
        watched.push_back({.fd = wake.get(), .events = POLLIN, .revents = 0});
        watched.push_back({.fd = signals.get(), .events = POLLIN, .revents = 0});
        watched.push_back({.fd = channel.get(), .events = POLLIN, .revents = 0});
        watched.push_back({.fd = main_pidfd.get(), .events = POLLIN, .revents = 0});
        std::vector<int> pids;
        for (const auto& [reported_pid, pidfd] : reported) {
            watched.push_back({.fd = pidfd.get(), .events = POLLIN, .revents = 0});
            pids.push_back(reported_pid);
        }
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[0].revents != 0 || stop.stop_requested()) {
            return;
        }
        if (watched[1].revents != 0) {
            on_interrupt();
        }
        if (watched[2].revents != 0) {
            read_channel();
        }
        // Reports are heard before ends: a process that reported and ended at once shows both.
        for (std::size_t i = 0; i < pids.size(); ++i) {
            if (watched[4 + i].revents != 0) {
                reported.erase(pids[i]);
                if (ends.first(pids[i]) && events.ended) {
                    events.ended(pids[i]);
                }
                ends.forget(pids[i]);
            }
        }
        if (main_pidfd.valid() && watched[3].revents != 0) {
            // Looked at without reaping: the process stays a zombie, so its group's number cannot
            // be taken by another process before the group is ended with the launch.
            siginfo_t info{};
            if (::waitid(P_PIDFD, static_cast<id_t>(main_pidfd.get()), &info, WEXITED | WNOWAIT) ==
                0) {
                main_pidfd.reset();
                take_terminal_back();
                if (events.command_ended) {
                    events.command_ended(shell_status(info));
                }
            }
        }
    }
}

void LaunchedCommand::State::read_channel() {
    std::array<char, 4096> buffer{};
    while (true) {
        const ssize_t got = ::read(channel.get(), buffer.data(), buffer.size());
        if (got <= 0) {
            return;  // drained (EAGAIN); the channel never ends, we hold it open for writing
        }
        lines.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)),
                   [this](std::string_view line) { on_line(line); });
    }
}

void LaunchedCommand::State::on_line(std::string_view line) {
    const std::optional<LaunchReport> report = parse_launch_report(line, secret);
    if (!report) {
        return;
    }
    if (report->exiting) {
        if (reported.contains(report->pid) && ends.first(report->pid) && events.ended) {
            events.ended(report->pid);
        }
        return;
    }
    if (reported.contains(report->pid)) {
        return;
    }
    Fd pidfd(open_pidfd(report->pid));
    if (events.reported) {
        events.reported(*report);
    }
    if (pidfd.valid()) {
        tell_watchdog(report->pid);
        reported.emplace(report->pid, std::move(pidfd));
    } else if (events.ended) {
        events.ended(report->pid);  // gone already
    }
}

void LaunchedCommand::State::on_interrupt() {
    signalfd_siginfo info{};
    while (::read(signals.get(), &info, sizeof info) == sizeof info) {
        const auto signal = static_cast<int>(info.ssi_signo);
        if (++interrupts == 1) {
            // The first goes to the command, which decides what it means; so does any reported
            // process that left the command's group.
            if (!reaped) {
                ::killpg(pid, signal);
            }
            for (auto& [reported_pid, pidfd] : reported) {
                if (::getpgid(reported_pid) != pid) {
                    signal_pidfd(pidfd.get(), signal);
                }
            }
            continue;
        }
        end_everything();
        if (events.gave_up) {
            events.gave_up(SIGNAL_STATUS_BASE + signal);
        }
        return;
    }
}

}  // namespace quelby::launch
