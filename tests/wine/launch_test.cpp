// Launch mode's Windows side under Wine, with a stand-in for node (fake_node_process.exe beside
// this test): reports over the pipe, a held process released, statuses, and the job object
// leaving no process of the tree behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quelby/launch/held_process_release.h"
#include "quelby/launch/launched_command.h"

namespace quelby::launch {
namespace {

using namespace std::chrono_literals;

std::string stand_in() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return (std::filesystem::path(path).parent_path() / "fake_node_process.exe").string();
}

class Events {
  public:
    LaunchEvents events() {
        return {
            .reported = [this](const LaunchReport& report) { add(report); },
            .ended = [this](int pid) { add_text("ended " + std::to_string(pid)); },
            .command_ended = [this](int status) { add_text("status " + std::to_string(status)); },
            .gave_up = nullptr};
    }
    // Whether an entry reads exactly `text`.
    bool has(const std::string& text) {
        const std::scoped_lock lock(mutex_);
        return std::find(entries_.begin(), entries_.end(), text) != entries_.end();
    }
    bool wait_for(const std::string& prefix, std::chrono::seconds limit = 30s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const std::string& entry : entries_) {
                if (entry.starts_with(prefix)) {
                    return true;
                }
            }
            return false;
        });
    }
    std::vector<LaunchReport> reports() {
        const std::scoped_lock lock(mutex_);
        return reports_;
    }
    std::vector<std::string> entries() {
        const std::scoped_lock lock(mutex_);
        return entries_;
    }

  private:
    void add(const LaunchReport& report) {
        {
            const std::scoped_lock lock(mutex_);
            reports_.push_back(report);
            entries_.push_back("reported " + std::to_string(report.pid) + " " + report.title);
        }
        changed_.notify_all();
    }
    void add_text(std::string text) {
        {
            const std::scoped_lock lock(mutex_);
            entries_.push_back(std::move(text));
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LaunchReport> reports_;
    std::vector<std::string> entries_;
};

bool running(int pid) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return false;
    }
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

bool ends_soon(int pid) {
    for (int i = 0; i < 50; ++i) {
        if (!running(pid)) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

TEST(LaunchOnWindows, AProcessReportsOverThePipeAndItsStatusIsTheCommands) {
    Events log;
    auto launched =
        LaunchedCommand::start(std::vector<std::string>{stand_in(), "3"}, false, log.events());
    ASSERT_TRUE(launched) << format_report(launched.error().error);
    ASSERT_TRUE(log.wait_for("status"));
    const auto reports = log.reports();
    ASSERT_EQ(reports.size(), 1U) << testing::PrintToString(log.entries());
    EXPECT_EQ(reports[0].title, "fake_node_process 3");
    EXPECT_TRUE(reports[0].target.address.starts_with("127.0.0.1:"));
    EXPECT_TRUE(log.has("status 3")) << testing::PrintToString(log.entries());
}

TEST(LaunchOnWindows, AHeldProcessWaitsForItsDebuggerAndIsLetGo) {
    Events log;
    auto launched =
        LaunchedCommand::start(std::vector<std::string>{stand_in(), "0"}, true, log.events());
    ASSERT_TRUE(launched) << format_report(launched.error().error);
    ASSERT_TRUE(log.wait_for("reported"));
    const LaunchReport report = log.reports().front();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(running(report.pid)) << "the process did not wait for its debugger";
    // The stand-in takes the connection for an attach; it speaks no WebSocket, so the release
    // itself ends in an error, within its limit.
    static_cast<void>(release_held_process(report.target, 1000ms));
    ASSERT_TRUE(log.wait_for("status"));
    EXPECT_TRUE(log.has("status 0")) << testing::PrintToString(log.entries());
}

TEST(LaunchOnWindows, ACommandNotFoundGetsTheShellsStatus) {
    Events log;
    const auto missing = LaunchedCommand::start(
        std::vector<std::string>{"quelby_no_such_command_here"}, false, log.events());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().status, COMMAND_NOT_FOUND_STATUS);
}

// A process the command started, still running when the launch ends, goes with the job; so does
// the private folder.
TEST(LaunchOnWindows, NoProcessOfTheTreeOutlivesTheLaunch) {
    const std::filesystem::path pid_file =
        std::filesystem::temp_directory_path() /
        ("quelby_launch_pid_" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove(pid_file);
    Events log;
    int grandchild = 0;
    std::filesystem::path bootloader_folder;
    {
        auto launched = LaunchedCommand::start(
            std::vector<std::string>{stand_in(), "0", "spawn", pid_file.string()}, false,
            log.events());
        ASSERT_TRUE(launched) << format_report(launched.error().error);
        ASSERT_TRUE(log.wait_for("status"));
        for (int i = 0; i < 100 && grandchild == 0; ++i) {
            std::ifstream(pid_file) >> grandchild;
            Sleep(50);
        }
        ASSERT_NE(grandchild, 0);
        EXPECT_TRUE(running(grandchild));
    }
    EXPECT_TRUE(ends_soon(grandchild));
    std::filesystem::remove(pid_file);
}

}  // namespace
}  // namespace quelby::launch
