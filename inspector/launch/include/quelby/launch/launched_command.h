// Launch mode's process side: runs the user's command with the bootloader in every node process
// of its tree, hears each process report its inspector, notices when each ends, forwards the
// user's interrupts, and leaves no process of the tree behind.
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"
#include "quelby/launch/launch_report.h"

namespace quelby {
// The bootloader's source (bootloader.js), embedded by the build.
extern const std::string_view BOOTLOADER_SCRIPT;
}  // namespace quelby

namespace quelby::launch {

// The environment variables the bootloader reads.
inline constexpr std::string_view CHANNEL_ENV = "QUELBY_INSPECTOR_LAUNCH_CHANNEL";
inline constexpr std::string_view SECRET_ENV = "QUELBY_INSPECTOR_LAUNCH_SECRET";
inline constexpr std::string_view HOLD_ENV = "QUELBY_INSPECTOR_LAUNCH_HOLD";
inline constexpr std::string_view NODE_OPTIONS_ENV = "NODE_OPTIONS";
// The bootloader's file name in the run's private folder.
inline constexpr std::string_view BOOTLOADER_FILE_NAME = "bootloader.js";

// As shells report them: a command that could not be found, or found but not run.
inline constexpr int COMMAND_NOT_FOUND_STATUS = 127;
inline constexpr int COMMAND_NOT_EXECUTABLE_STATUS = 126;
// A process ended by signal N reports SIGNAL_STATUS_BASE + N.
inline constexpr int SIGNAL_STATUS_BASE = 128;

// Called on the launcher's own thread, in the order things happened.
struct LaunchEvents {
    // A node process of the tree has its inspector open; with hold, it waits for a debugger.
    std::function<void(const LaunchReport&)> reported;
    // A process that reported has ended.
    std::function<void(int pid)> ended;
    // The command's main process has ended, with the status a shell would give for it.
    std::function<void(int status)> command_ended;
    // The user interrupted (SIGINT, SIGTERM, SIGHUP) for the second time: everything was ended;
    // the status is SIGNAL_STATUS_BASE + that signal.
    std::function<void(int status)> gave_up;
};

// Why the command could not be started, with the status a shell would exit with.
struct StartFailure {
    ErrorChain error;
    int status = COMMAND_NOT_FOUND_STATUS;
};

class LaunchedCommand {
  public:
    // Must be called before the process starts any other thread, so that every thread leaves
    // the user's interrupts to the launcher: blocks SIGINT, SIGTERM and SIGHUP in the caller.
    static void take_interrupts();

    // Starts `command` (its first word found on PATH as a shell does) in a process group of its
    // own, with the bootloader required by NODE_OPTIONS; each node process waits for its
    // debugger when `hold`. What happens is told from watch on: reports wait in the channel
    // until then, so the caller can ready itself (load its GUI) while the command starts.
    static std::expected<std::unique_ptr<LaunchedCommand>, StartFailure> start(
        std::span<const std::string> command, bool hold);

    // Starts the launcher's thread, which calls `events` from now on. Once.
    void watch(LaunchEvents events);

    // Both at once.
    static std::expected<std::unique_ptr<LaunchedCommand>, StartFailure> start(
        std::span<const std::string> command, bool hold, LaunchEvents events) {
        auto launched = start(command, hold);
        if (launched) {
            (*launched)->watch(std::move(events));
        }
        return launched;
    }

    LaunchedCommand(const LaunchedCommand&) = delete;
    LaunchedCommand& operator=(const LaunchedCommand&) = delete;
    // Ends every process of the tree still running (and every process that reported, wherever
    // it went), stops the launcher's thread and removes the private folder. No event is called
    // once this has begun.
    ~LaunchedCommand();

    struct State;

  private:
    explicit LaunchedCommand(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace quelby::launch
