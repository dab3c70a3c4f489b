// One run of the program under test as a child process (child_run_<platform>.cpp): its arguments
// and environment, its standard output captured, closed or a pipe nobody reads, and how it ended.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelby::cases {

enum class StandardOutput {
    Captured,
    Closed,      // no standard output at all
    BrokenPipe,  // a pipe whose reading end is closed before the program starts
};

struct ChildRun {
    std::vector<std::string> argv;  // argv[0] is the program's path
    // Changes to the runner's environment: set, or (nullopt) remove. The program's own switches
    // (QUELBY_INSPECTOR_*) are removed first, so that a developer's settings cannot reach a case.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    StandardOutput output = StandardOutput::Captured;
    std::chrono::milliseconds limit{60000};  // then it is killed
};

struct ChildEnd {
    std::optional<int> status;  // the exit status, when it ended by itself
    std::string how;            // otherwise, how it ended
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

ChildEnd run_child(const ChildRun& run);

// "linux" or "windows": what a case's "on ..." qualifier names.
std::string_view platform_name();

// The prefix of the variables ChildRun removes.
inline constexpr std::string_view PROGRAM_SWITCH_PREFIX = "QUELBY_INSPECTOR_";

}  // namespace quelby::cases
