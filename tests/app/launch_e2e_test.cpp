// The real program in launch mode without windows: --print-url, exit statuses, the command's own
// input and output, interrupts, and what is left behind (nothing).
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/temporary_folder.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::Clock;
using test_support::inspector_binary;
using test_support::run_process;
using test_support::TemporaryFolder;
using test_support::write_file;

bool node_installed() {
    return test_support::find_in_path("node").has_value();
}

bool gone_soon(pid_t pid) {
    return test_support::stops_within([pid] { return test_support::process_runs(pid); });
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

TEST(LaunchEndToEnd, TheCommandsStatusIsTheProgramsAndNoWindowOpensWithoutNode) {
    // No display at all: a command that starts no node process needs none.
    const auto five = run_process({inspector_binary(), "--", "sh", "-c", "exit 5"},
                                  {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    EXPECT_EQ(five.exit_code, 5) << five.err;
    EXPECT_EQ(five.err, "");

    const auto missing = run_process({inspector_binary(), "--", "quelby_no_such_command_here"});
    EXPECT_EQ(missing.exit_code, 127);
    EXPECT_NE(missing.err.find("command not found: quelby_no_such_command_here"), std::string::npos)
        << missing.err;

    const TemporaryFolder folder;
    const std::filesystem::path data = folder.path() / "notes.txt";
    write_file(data, "echo should not run\n");
    std::filesystem::permissions(
        data, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto not_executable = run_process({inspector_binary(), "--", data.string()});
    EXPECT_EQ(not_executable.exit_code, 126) << not_executable.err;
    EXPECT_EQ(not_executable.out, "");

    const auto nothing = run_process({inspector_binary(), "--"});
    EXPECT_EQ(nothing.exit_code, 1);
    EXPECT_NE(nothing.err.find("no command after --"), std::string::npos) << nothing.err;

    const auto both = run_process({inspector_binary(), "127.0.0.1:9229", "--", "true"});
    EXPECT_EQ(both.exit_code, 1);
    EXPECT_NE(both.err.find("not both"), std::string::npos) << both.err;

    const auto served = run_process({inspector_binary(), "--serve", "--", "true"});
    EXPECT_EQ(served.exit_code, 1);
    EXPECT_NE(served.err.find("--serve cannot be combined"), std::string::npos) << served.err;

    const auto targeted = run_process({inspector_binary(), "--target=1", "--", "true"});
    EXPECT_EQ(targeted.exit_code, 1);
    EXPECT_NE(targeted.err.find("--target cannot be combined"), std::string::npos) << targeted.err;

    // The command's own flags are its own, even the program's names.
    const auto flags = run_process({inspector_binary(), "--", "sh", "-c", "echo \"$@\"", "sh",
                                    "--print-url", "--serve", "--help"});
    EXPECT_EQ(flags.exit_code, 0) << flags.err;
    EXPECT_EQ(flags.out, "--print-url --serve --help\n");
}

TEST(LaunchEndToEnd, PrintUrlPrintsTheParentsAndTheChildsAddresses) {
    if (!node_installed()) {
        GTEST_SKIP() << "node is not installed";
    }
    const TemporaryFolder folder;
    write_file(folder.path() / "parent.js",
               "const { fork } = require('child_process');\n"
               "console.log('parent ran');\n"
               "fork(__dirname + '/child.js').on('exit', () => { process.exitCode = 3; });\n");
    write_file(folder.path() / "child.js", "console.log('child ran');\n");
    const auto result = run_process(
        {inspector_binary(), "--print-url", "--", "node", (folder.path() / "parent.js").string()});
    EXPECT_EQ(result.exit_code, 3) << result.err;
    // Standard output is the command's alone.
    EXPECT_EQ(result.out, "parent ran\nchild ran\n");
    std::size_t ws_lines = 0;
    std::size_t devtools_lines = 0;
    for (std::size_t at = 0; (at = result.err.find("quelby_inspector: ws target  = 127.0.0.1:",
                                                   at)) != std::string::npos;
         ++at) {
        ++ws_lines;
    }
    for (std::size_t at = 0;
         (at = result.err.find("quelby_inspector: devtools   = http://devtools.localhost/"
                               "js_app.html?ws=127.0.0.1:",
                               at)) != std::string::npos;
         ++at) {
        ++devtools_lines;
    }
    EXPECT_EQ(ws_lines, 2U) << result.err;
    EXPECT_EQ(devtools_lines, 2U) << result.err;
}

// Every byte value, and a long line without a line feed, arrive as the command wrote them; what
// the program is given on standard input reaches the command.
TEST(LaunchEndToEnd, TheCommandsInputAndOutputPassThroughUnchanged) {
    if (!node_installed()) {
        GTEST_SKIP() << "node is not installed";
    }
    const TemporaryFolder folder;
    write_file(folder.path() / "bytes.js",
               "let input = '';\n"
               "process.stdin.setEncoding('latin1');\n"
               "process.stdin.on('data', (d) => { input += d; });\n"
               "process.stdin.on('end', () => {\n"
               "  const all = Buffer.alloc(256); for (let i = 0; i < 256; i++) all[i] = i;\n"
               "  process.stdout.write(all);\n"
               "  process.stdout.write('x'.repeat(200000));\n"
               "  process.stdout.write('[' + input + ']');\n"
               "});\n");
    const auto result =
        run_process({"sh", "-c",
                     "printf 'typed input' | " + quoted(inspector_binary()) +
                         " --print-url -- node " + quoted((folder.path() / "bytes.js").string())});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::string expected;
    for (int i = 0; i < 256; ++i) {
        expected += static_cast<char>(i);
    }
    expected += std::string(200000, 'x') + "[typed input]";
    EXPECT_EQ(result.out.size(), expected.size());
    EXPECT_TRUE(result.out == expected);
}

class LaunchInterrupts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!node_installed()) {
            GTEST_SKIP() << "node is not installed";
        }
        // Traps SIGINT the way a program with its own clean-up does; on the first it prints and
        // ends with 130, unless told to ignore interrupts.
        write_file(folder_.path() / "trap.js",
                   "const ignore = process.argv[2] === 'ignore';\n"
                   "process.on('SIGINT', () => {\n"
                   "  console.log('got SIGINT');\n"
                   "  if (!ignore) process.exit(130);\n"
                   "});\n"
                   "console.log('pid ' + process.pid + ' ' + "
                   "process.env.QUELBY_INSPECTOR_LAUNCH_CHANNEL);\n"
                   "setInterval(() => {}, 1000);\n");
    }

    // Starts the program on trap.js; the node process's pid and the channel's path, once it runs.
    std::pair<pid_t, std::filesystem::path> start(ChildProcess& program) {
        const auto line = program.read_line(20s);
        EXPECT_TRUE(line) << program.err();
        if (!line) {
            return {0, {}};
        }
        std::istringstream words(*line);
        std::string word;
        pid_t pid = 0;
        std::string channel;
        words >> word >> pid >> channel;
        return {pid, channel};
    }

    TemporaryFolder folder_;
};

TEST_F(LaunchInterrupts, AnInterruptReachesTheCommandWhichDecidesTheStatus) {
    ChildProcess program(
        {inspector_binary(), "--print-url", "--", "node", (folder_.path() / "trap.js").string()});
    const auto [pid, channel] = start(program);
    ASSERT_GT(pid, 0);
    program.send_signal(SIGINT);
    const auto status = program.wait_exit(Clock::now() + 20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 130) << program.err();
    EXPECT_NE(program.out().find("got SIGINT"), std::string::npos);
    EXPECT_TRUE(gone_soon(pid));
    EXPECT_FALSE(std::filesystem::exists(channel.parent_path()));
}

TEST_F(LaunchInterrupts, ASecondInterruptEndsEverything) {
    ChildProcess program({inspector_binary(), "--print-url", "--", "node",
                          (folder_.path() / "trap.js").string(), "ignore"});
    const auto [pid, channel] = start(program);
    ASSERT_GT(pid, 0);
    program.send_signal(SIGINT);
    ASSERT_TRUE(program.read_until(
        [&] { return program.out().find("got SIGINT") != std::string::npos; }, Clock::now() + 10s));
    program.send_signal(SIGINT);
    const auto status = program.wait_exit(Clock::now() + 20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 130);
    EXPECT_TRUE(gone_soon(pid));
    EXPECT_FALSE(std::filesystem::exists(channel.parent_path()));
}

// A termination the command does not trap ends it; the program follows with the shell's status,
// and its private folder is gone.
TEST_F(LaunchInterrupts, TerminationLeavesNoFileBehind) {
    ChildProcess program(
        {inspector_binary(), "--print-url", "--", "node", (folder_.path() / "trap.js").string()});
    const auto [pid, channel] = start(program);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(std::filesystem::exists(channel));
    program.send_signal(SIGTERM);
    const auto status = program.wait_exit(Clock::now() + 20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 128 + SIGTERM);
    EXPECT_TRUE(gone_soon(pid));
    EXPECT_FALSE(std::filesystem::exists(channel.parent_path()));
}

// Even a launcher killed outright (nothing of it runs any more) leaves no process of the command
// and no file behind.
TEST_F(LaunchInterrupts, AKilledLauncherTakesTheCommandAlong) {
    ChildProcess program(
        {inspector_binary(), "--print-url", "--", "node", (folder_.path() / "trap.js").string()});
    const auto [pid, channel] = start(program);
    ASSERT_GT(pid, 0);
    program.send_signal(SIGKILL);
    EXPECT_TRUE(gone_soon(pid));
    // Its private folder too.
    for (int i = 0; i < 40 && std::filesystem::exists(channel.parent_path()); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_FALSE(std::filesystem::exists(channel.parent_path()));
}

}  // namespace
}  // namespace quelby
