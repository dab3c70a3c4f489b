// What both platforms' launchers share: the command's environment, and the channel's bytes cut
// into report lines.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quelby::launch {

// `inherited` ("NAME=value" entries, UTF-8) with the bootloader's variables set and NODE_OPTIONS
// extended by its --require (after the user's own options). Windows compares names without
// regard to case, as its environment does.
enum class NameCase { Exact, Ignored };
std::vector<std::string> launch_environment(const std::vector<std::string>& inherited,
                                            std::string_view channel, std::string_view bootloader,
                                            std::string_view secret, bool hold, NameCase names);

// Each process's end is told once: when it says it is ending (it then waits for its debugger to
// go), or when it has ended, whichever comes first.
class EndNotices {
  public:
    // True for the first notice of `pid`.
    bool first(int pid) { return told_.insert(pid).second; }
    // The process is gone: a later one with its number starts afresh.
    void forget(int pid) { told_.erase(pid); }

  private:
    std::set<int> told_;
};

// The channel's bytes, as they come, cut into lines; a line longer than MAX_LINE is no report and
// is dropped whole.
class ReportLines {
  public:
    static constexpr std::size_t MAX_LINE = std::size_t{64} * 1024;

    void feed(std::string_view bytes, const std::function<void(std::string_view line)>& on_line);

  private:
    std::string pending_;
    bool dropping_ = false;  // inside a line that ran over MAX_LINE
};

}  // namespace quelby::launch
