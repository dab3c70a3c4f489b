#include "quelby/app/launch_run.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "quelby/app/console.h"
#include "quelby/app/launcher.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/launch/held_process_release.h"
#include "quelby/launch/launched_command.h"
#include "quelby/webview_host/host.h"
#include "quelby/window/inspector_window.h"
#include "user_window_options.h"

namespace quelby {
namespace {

namespace host = webview_host;
using launch::LaunchedCommand;
using launch::LaunchEvents;
using launch::LaunchReport;

// The program's own lines go to standard error in launch mode: standard output is the command's.
void write_error_line(const std::string& line) {
    static_cast<void>(console::write_to(console::Stream::Error, line + "\n"));
}

void write_error_report(const ErrorChain& error) {
    static_cast<void>(console::write_to(console::Stream::Error, format_report(error)));
}

// Starts the command, or reports why it could not start: the shell's status then.
std::expected<std::unique_ptr<LaunchedCommand>, int> start_command(
    std::span<const std::string> command, bool hold) {
    auto launched = LaunchedCommand::start(command, hold);
    if (!launched) {
        write_error_report(launched.error().error);
        return std::unexpected(launched.error().status);
    }
    return std::move(*launched);
}

// --print-url: the addresses of each process as it reports; the command runs as it would alone.
Result<int> run_printing(std::span<const std::string> command) {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<int> status;
    const auto finish = [&](int final_status) {
        {
            const std::scoped_lock lock(mutex);
            if (!status) {
                status = final_status;
            }
        }
        changed.notify_all();
    };
    LaunchEvents events{
        .reported =
            [](const LaunchReport& report) {
                auto url = frontend_url(report.target);
                write_error_line(std::string(LINE_WS_TARGET) + report.target.address);
                if (url) {
                    write_error_line(std::string(LINE_FRONTEND) + *url);
                } else {
                    write_error_report(url.error());
                }
            },
        .ended = nullptr,
        .command_ended = finish,
        .gave_up = finish,
    };
    auto launched = start_command(command, false);
    if (!launched) {
        return launched.error();
    }
    (*launched)->watch(std::move(events));
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return status.has_value(); });
    const int final_status = *status;
    lock.unlock();
    launched->reset();  // ends what is left of the tree
    return final_status;
}

// The windows of the launched processes, on the loop's thread.
class LaunchWindows {
  public:
    explicit LaunchWindows(host::EventLoop& loop) : loop_(loop), options_(user_window_options()) {}

    void open(const LaunchReport& report) {
        if (ending_) {
            return;
        }
        auto url = frontend_url(report.target);
        if (!url) {
            // No window can show it: the process runs on without a debugger.
            write_error_report(url.error());
            let_go(report.target);
            return;
        }
        write_error_line(std::string(LINE_WS_TARGET) + report.target.address);
        WindowOptions options = options_;
        options.title = launch_window_title(report);
        auto window = InspectorWindow::open(loop_, *url, std::move(options));
        if (!window) {
            // The process would wait for a window that never comes: nothing can go on.
            write_error_report(window.error());
            end(EXIT_FAILURE);
            return;
        }
        windows_[report.pid] = Opened{.window = std::move(*window), .target = report.target};
    }

    void process_ended(int pid) {
        windows_.erase(pid);
        end_when_done();
    }

    void command_ended(int status) {
        command_status_ = status;
        end_when_done();
    }

    // The process whose window an event names, while that window is open.
    [[nodiscard]] std::optional<int> process_of(const host::WindowState* window) const {
        for (const auto& [pid, opened] : windows_) {
            if (opened.window->window_state() == window) {
                return pid;
            }
        }
        return std::nullopt;
    }

    // The user closed a window: the process runs on without its debugger, also when the window
    // went before its front end had attached (the process would wait for it forever otherwise).
    void close(int pid) {
        if (const auto it = windows_.find(pid); it != windows_.end()) {
            let_go(it->second.target);
            windows_.erase(it);
        }
        end_when_done();
    }

    void end(int status) {
        ending_ = true;
        windows_.clear();
        host::end_event_loop(loop_, status);
    }

    // Released before the loop.
    void release() { windows_.clear(); }

  private:
    // Lets a process that may still wait for its debugger run on, off the loop's thread.
    void let_go(const WsTarget& target) {
        releases_.emplace_back(
            [target] { static_cast<void>(launch::release_held_process(target)); });
    }

    void end_when_done() {
        if (command_status_ && windows_.empty()) {
            end(*command_status_);
        }
    }

    struct Opened {
        std::unique_ptr<InspectorWindow> window;
        WsTarget target;
    };

    host::EventLoop& loop_;
    WindowOptions options_;
    std::map<int, Opened> windows_;
    // Each ends within its time limit; joined when the windows go.
    std::vector<std::jthread> releases_;
    std::optional<int> command_status_;
    bool ending_ = false;
};

Result<int> run_with_windows(std::span<const std::string> command) {
    // The command first: the GUI libraries load while it starts (its reports wait meanwhile).
    auto launched = start_command(command, true);
    if (!launched) {
        return launched.error();
    }
    host::EventLoop loop = host::create_event_loop();
    LaunchWindows windows(loop);
    const host::LoopPoster poster = host::loop_poster(loop);
    // Everything is done on the loop's thread; a task posted once the loop has ended is dropped.
    LaunchEvents events{
        .reported =
            [poster, &windows](const LaunchReport& report) {
                static_cast<void>(poster.post([&windows, report] { windows.open(report); }));
            },
        .ended =
            [poster, &windows](int pid) {
                static_cast<void>(poster.post([&windows, pid] { windows.process_ended(pid); }));
            },
        .command_ended =
            [poster, &windows](int status) {
                static_cast<void>(
                    poster.post([&windows, status] { windows.command_ended(status); }));
            },
        .gave_up =
            [poster, &windows](int status) {
                static_cast<void>(poster.post([&windows, status] { windows.end(status); }));
            },
    };
    (*launched)->watch(std::move(events));
    const int status =
        host::run_event_loop(loop, [&windows, poster](const host::Event& event, host::LoopMode&) {
            if (event.kind != host::EventKind::CloseRequested) {
                return;
            }
            // Not within the window's own signal: the window goes once it has returned. Named by
            // its process, which a window opened meanwhile cannot take for its own.
            if (const auto pid = windows.process_of(event.window)) {
                static_cast<void>(poster.post([&windows, pid = *pid] { windows.close(pid); }));
            }
        });
    windows.release();
    launched->reset();  // ends what is left of the tree, before the loop goes
    return status;
}

}  // namespace

std::string launch_window_title(const LaunchReport& report) {
    std::string title = std::string(WINDOW_TITLE) + " \u2014 " + std::to_string(report.pid);
    if (!report.title.empty()) {
        title += " " + report.title;
    }
    return title;
}

Result<int> run_launch(bool print_url, std::span<const std::string> command) {
    // Before any thread exists, so that none of them dies of the user's interrupts.
    LaunchedCommand::take_interrupts();
    return print_url ? run_printing(command) : run_with_windows(command);
}

}  // namespace quelby
