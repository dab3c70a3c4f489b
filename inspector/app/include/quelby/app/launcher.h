// The launcher: the command line, the run sequence and the console lines.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quelby/core/error_chain.h"

namespace quelby {

inline constexpr std::string_view PRINT_URL_FLAG = "--print-url";
inline constexpr std::string_view HELP_FLAG = "--help";
inline constexpr std::string_view VERSION_FLAG = "--version";
inline constexpr std::string_view TARGET_FLAG = "--target";
inline constexpr std::string_view NO_REATTACH_FLAG = "--no-reattach";
inline constexpr std::string_view USAGE =
    "usage: quelby_inspector [--print-url] <inspector-http-addr e.g. 127.0.0.1:9229>";
inline constexpr std::string_view LINE_WS_TARGET = "quelby_inspector: ws target  = ";
inline constexpr std::string_view LINE_FRONTEND = "quelby_inspector: devtools   = ";
inline constexpr std::string_view OUTPUT_FAILED =
    "could not write the addresses to standard output";

inline constexpr std::string_view SERVE_FLAG = "--serve";

// The address to serve the front end on: 127.0.0.1:0 for "--serve", ADDR for
// "--serve=ADDR"; the last such argument counts. nullopt when there is none.
std::optional<std::string> serve_address(std::span<const std::string> arguments);

// Everything after it is the command to launch.
inline constexpr std::string_view LAUNCH_SEPARATOR = "--";

// The arguments before LAUNCH_SEPARATOR: the program's own.
std::span<const std::string> own_arguments(std::span<const std::string> arguments);

struct CommandLine {
    bool print_url = false;
    // The first argument that does not begin with "--", verbatim.
    std::optional<std::string> inspector_addr;
    // Either one answers at once, with or without an address; --help wins when both are given.
    bool help = false;
    bool version = false;
    // --target=SELECTOR; the last such argument counts.
    std::optional<std::string> target = std::nullopt;
    // The window follows the debuggee across restarts unless --no-reattach is given.
    bool reattach = true;
    // What follows LAUNCH_SEPARATOR, when it is given (possibly nothing).
    std::optional<std::vector<std::string>> command = std::nullopt;

    friend bool operator==(const CommandLine&, const CommandLine&) = default;
};

// The flags and the address, from the arguments before LAUNCH_SEPARATOR, and the command after it;
// `arguments` excludes the program's name.
CommandLine parse_command_line(std::span<const std::string> arguments);

// The --help text: the usage lines, then one line per flag, one per environment variable, and
// the exit statuses.
std::string help_text();

// The --version text: the program's version, then where its embedded front end came from and
// which web-view backend it was built with (named without loading it).
std::string version_text();

// The three console lines of a run that found the debugger address, without their line feeds.
std::array<std::string, 3> console_lines(std::string_view ws_target, std::string_view frontend_url);

// The whole run for the collected arguments: the process's exit status, or the error to report.
Result<int> run(std::span<const std::string> arguments);

}  // namespace quelby
