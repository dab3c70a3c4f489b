// The launched command with real processes: what it reports, when, with which status, and that
// nothing of it outlives the launch: no process of its tree, no private file.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quelby/launch/held_process_release.h"
#include "quelby/launch/launched_command.h"
#include "support/child_process.h"
#include "support/temporary_folder.h"

namespace quelby::launch {
namespace {

using namespace std::chrono_literals;
using test_support::read_file;
using test_support::TemporaryFolder;
using test_support::write_file;

// Everything the launch told, in order, as text: "reported PID TITLE", "ended PID", "status N".
class EventLog {
  public:
    LaunchEvents events() {
        return LaunchEvents{
            .reported =
                [this](const LaunchReport& report) {
                    add("reported " + std::to_string(report.pid) + " " + report.title, report);
                },
            .ended = [this](int pid) { add("ended " + std::to_string(pid)); },
            .command_ended = [this](int status) { add("status " + std::to_string(status)); },
            .gave_up = [this](int status) { add("gave up " + std::to_string(status)); },
        };
    }

    // Waits until an entry starts with `prefix`; the entries so far.
    bool wait_for(const std::string& prefix, std::chrono::seconds limit = 20s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            return std::any_of(entries_.begin(), entries_.end(),
                               [&](const std::string& entry) { return entry.starts_with(prefix); });
        });
    }
    std::vector<std::string> entries() {
        const std::scoped_lock lock(mutex_);
        return entries_;
    }
    std::vector<LaunchReport> reports() {
        const std::scoped_lock lock(mutex_);
        return reports_;
    }

  private:
    void add(std::string entry, const std::optional<LaunchReport>& report = std::nullopt) {
        {
            const std::scoped_lock lock(mutex_);
            entries_.push_back(std::move(entry));
            if (report) {
                reports_.push_back(*report);
            }
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
    std::vector<LaunchReport> reports_;
};

using test_support::group_runs;
using test_support::process_runs;
using test_support::stops_within;

bool node_installed() {
    return test_support::find_in_path("node").has_value();
}

class LaunchedCommandTest : public ::testing::Test {
  protected:
    TemporaryFolder folder_;
    EventLog log_;
};

TEST_F(LaunchedCommandTest, ACommandThatIsNotNodeOnlyEndsWithItsShellStatus) {
    auto launched =
        LaunchedCommand::start(std::vector<std::string>{"sh", "-c", "exit 5"}, true, log_.events());
    ASSERT_TRUE(launched) << format_report(launched.error().error);
    ASSERT_TRUE(log_.wait_for("status"));
    EXPECT_EQ(log_.entries(), std::vector<std::string>{"status 5"});

    EventLog killed;
    auto by_signal = LaunchedCommand::start(std::vector<std::string>{"sh", "-c", "kill -TERM $$"},
                                            true, killed.events());
    ASSERT_TRUE(by_signal);
    ASSERT_TRUE(killed.wait_for("status"));
    EXPECT_EQ(killed.entries(), std::vector<std::string>{"status 143"});
}

TEST_F(LaunchedCommandTest, ACommandThatCannotStartGetsTheShellsStatus) {
    const auto missing = LaunchedCommand::start(
        std::vector<std::string>{"quelby_no_such_command_here"}, true, log_.events());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().status, COMMAND_NOT_FOUND_STATUS);
    EXPECT_NE(format_report(missing.error().error).find("quelby_no_such_command_here"),
              std::string::npos);

    const std::filesystem::path not_executable = folder_.path() / "data.txt";
    write_file(not_executable, "#!/bin/sh\nexit 0\n");
    const auto refused = LaunchedCommand::start(std::vector<std::string>{not_executable.string()},
                                                true, log_.events());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().status, COMMAND_NOT_EXECUTABLE_STATUS);
    EXPECT_TRUE(log_.entries().empty());
}

// The private folder: only the user's, its files too, and gone with the launch.
TEST_F(LaunchedCommandTest, TheBootloaderLivesInAPrivateFolderThatGoesWithTheLaunch) {
    const std::filesystem::path seen = folder_.path() / "seen";
    std::filesystem::path channel;
    {
        auto launched = LaunchedCommand::start(
            std::vector<std::string>{"sh", "-c",
                                     "echo \"$QUELBY_INSPECTOR_LAUNCH_CHANNEL\" > '" +
                                         seen.string() + "'; echo \"$NODE_OPTIONS\" >> '" +
                                         seen.string() + "'; sleep 30"},
            true, log_.events());
        ASSERT_TRUE(launched);
        for (int i = 0; i < 100 && read_file(seen).find('\n') == std::string::npos; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        std::this_thread::sleep_for(100ms);
        const std::string text = read_file(seen);
        channel = text.substr(0, text.find('\n'));
        ASSERT_FALSE(channel.empty());
        const std::filesystem::path private_folder = channel.parent_path();
        struct stat info {};
        ASSERT_EQ(::stat(private_folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700U);
        ASSERT_EQ(::stat((private_folder / BOOTLOADER_FILE_NAME).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600U);
        ASSERT_EQ(::stat(channel.c_str(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600U);
        EXPECT_NE(text.find("--require \"" + (private_folder / BOOTLOADER_FILE_NAME).string()),
                  std::string::npos)
            << text;
        // Destroyed while the command still runs.
    }
    EXPECT_FALSE(std::filesystem::exists(channel.parent_path()));
}

TEST_F(LaunchedCommandTest, NoProcessOfTheTreeOutlivesTheLaunch) {
    const std::filesystem::path pids = folder_.path() / "pids";
    pid_t shell = 0;
    pid_t grandchild = 0;
    {
        auto launched = LaunchedCommand::start(
            std::vector<std::string>{"sh", "-c",
                                     "sleep 60 & echo $$ $! > '" + pids.string() + "'; wait"},
            true, log_.events());
        ASSERT_TRUE(launched);
        for (int i = 0; i < 100 && read_file(pids).empty(); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        std::istringstream(read_file(pids)) >> shell >> grandchild;
        ASSERT_GT(shell, 0);
        ASSERT_GT(grandchild, 0);
        EXPECT_TRUE(process_runs(grandchild));
        EXPECT_EQ(::getpgid(grandchild), shell) << "the command leads a process group of its own";
    }
    EXPECT_TRUE(stops_within([&] { return process_runs(grandchild); }));
    EXPECT_TRUE(stops_within([&] { return group_runs(shell); }));
}

// Without holding, each node process reports and runs on; a child forked with an --inspect of
// its own reports too, and every end is heard.
TEST_F(LaunchedCommandTest, EveryNodeProcessOfTheTreeReportsAndItsEndIsHeard) {
    if (!node_installed()) {
        GTEST_SKIP() << "node is not installed";
    }
    write_file(folder_.path() / "parent.js",
               "const { fork } = require('child_process');\n"
               "const child = fork(__dirname + '/child.js', [], { execArgv: ['--inspect=0'] });\n"
               "child.on('exit', () => { process.exitCode = 3; });\n");
    write_file(folder_.path() / "child.js", "setTimeout(() => {}, 300);\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    auto launched =
        LaunchedCommand::start(std::vector<std::string>{"node", "parent.js"}, false, log_.events());
    std::filesystem::current_path(previous);
    ASSERT_TRUE(launched) << format_report(launched.error().error);
    ASSERT_TRUE(log_.wait_for("status"));
    const std::vector<LaunchReport> reports = log_.reports();
    ASSERT_EQ(reports.size(), 2U) << testing::PrintToString(log_.entries());
    EXPECT_EQ(reports[0].title, "node parent.js");
    EXPECT_EQ(reports[1].title, "node child.js");
    for (const LaunchReport& report : reports) {
        EXPECT_TRUE(report.target.address.starts_with("127.0.0.1:")) << report.target.address;
    }
    const std::vector<std::string> entries = log_.entries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), "status 3"), entries.end());
    // Each end is told once: when the process says it is ending, or when it has ended.
    for (const LaunchReport& report : reports) {
        EXPECT_EQ(std::count(entries.begin(), entries.end(), "ended " + std::to_string(report.pid)),
                  1)
            << testing::PrintToString(entries);
    }
}

// Holding: the process waits before its first line until a debugger attaches; none comes here,
// so the end of the launch must still end it.
TEST_F(LaunchedCommandTest, AHeldProcessRunsNothingUntilAttachedAndIsEndedWithTheLaunch) {
    if (!node_installed()) {
        GTEST_SKIP() << "node is not installed";
    }
    const std::filesystem::path ran = folder_.path() / "ran";
    int pid = 0;
    {
        auto launched = LaunchedCommand::start(
            std::vector<std::string>{"node", "-e",
                                     "require('fs').writeFileSync('" + ran.string() + "', 'x')"},
            true, log_.events());
        ASSERT_TRUE(launched);
        ASSERT_TRUE(log_.wait_for("reported"));
        pid = log_.reports().front().pid;
        std::this_thread::sleep_for(1s);
        EXPECT_FALSE(std::filesystem::exists(ran)) << "the script ran before a debugger attached";
        EXPECT_TRUE(process_runs(pid));
    }
    EXPECT_TRUE(stops_within([&] { return process_runs(pid); }));
}

// A window closed before its front end attached: the process is let go, and runs its script. Asked
// at once, as soon as the report is heard: the process must already be waiting by then, or the
// request would be lost and the process held for good.
TEST_F(LaunchedCommandTest, AHeldProcessCanBeLetGoWithoutADebugger) {
    if (!node_installed()) {
        GTEST_SKIP() << "node is not installed";
    }
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        EventLog log;
        const std::filesystem::path ran = folder_.path() / ("ran" + std::to_string(round));
        auto launched = LaunchedCommand::start(
            std::vector<std::string>{"node", "-e",
                                     "require('fs').writeFileSync('" + ran.string() + "', 'x')"},
            true, log.events());
        ASSERT_TRUE(launched);
        ASSERT_TRUE(log.wait_for("reported"));
        const auto released = release_held_process(log.reports().front().target);
        EXPECT_TRUE(released) << format_report(released.error());
        ASSERT_TRUE(log.wait_for("status"));
        const auto entries = log.entries();
        EXPECT_NE(std::find(entries.begin(), entries.end(), "status 0"), entries.end())
            << testing::PrintToString(entries);
        EXPECT_TRUE(std::filesystem::exists(ran));
        if (round == 0) {
            // Nobody listens there any more: an error within the limit, not a wait.
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(release_held_process(log.reports().front().target, 500ms));
            EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        }
    }
}

// A process told to wait whose launcher is not there to hear it (gone, or never there) runs on.
TEST_F(LaunchedCommandTest, AHeldProcessWithNobodyToReportToRunsOn) {
    if (!node_installed()) {
        GTEST_SKIP() << "node is not installed";
    }
    const std::filesystem::path bootloader = folder_.path() / "bootloader.js";
    write_file(bootloader, BOOTLOADER_SCRIPT);
    const auto result = test_support::run_process(
        {"node", "-e", "console.log('ran')"},
        {{std::string(CHANNEL_ENV), (folder_.path() / "no_channel").string()},
         {std::string(SECRET_ENV), "s"},
         {std::string(HOLD_ENV), "1"},
         {std::string(NODE_OPTIONS_ENV), "--require " + bootloader.string()}});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "ran\n");
    EXPECT_LT(result.elapsed, 10s);
}

}  // namespace
}  // namespace quelby::launch
