// The launcher: the command line, the run sequence and the console lines.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "error_chain.h"

namespace quelby {

inline constexpr std::string_view PRINT_URL_FLAG = "--print-url";
inline constexpr std::string_view USAGE =
    "usage: quelby_inspector [--print-url] <inspector-http-addr e.g. 127.0.0.1:9229>";
inline constexpr std::string_view LINE_WS_TARGET = "quelby_inspector: ws target  = ";
inline constexpr std::string_view LINE_FRONTEND = "quelby_inspector: devtools   = ";
inline constexpr std::string_view OUTPUT_FAILED =
    "could not write the addresses to standard output";
inline constexpr std::string_view LINE_EMBEDDED_NOTE =
    "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)";

struct CommandLine {
    bool print_url = false;
    // The first argument that does not begin with "--", verbatim.
    std::optional<std::string> inspector_addr;

    friend bool operator==(const CommandLine&, const CommandLine&) = default;
};

// Steps 2 and 3 of the run: `arguments` excludes the program's name.
CommandLine parse_command_line(std::span<const std::string> arguments);

// The three lines of step 7, without their line feeds.
std::array<std::string, 3> console_lines(std::string_view ws_target, std::string_view frontend_url);

// Steps 2 to 9 for the collected arguments. Success only with --print-url; otherwise the window
// step either never returns or returns its error.
Status run(std::span<const std::string> arguments);

}  // namespace quelby
