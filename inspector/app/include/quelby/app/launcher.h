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
inline constexpr std::string_view LINE_EMBEDDED_NOTE =
    "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)";

// What --help prints after its usage lines: one line per flag, one per environment variable.
// help2man builds the manual page from this text, so its layout (headings ending in ':', entries
// indented by two blanks with their descriptions aligned) matters.
inline constexpr std::string_view HELP_BODY = R"(
Opens a DevTools window on a running V8 inspector (for example node --inspect). The address is
the inspector's HTTP listener: 127.0.0.1:9229, [::1]:9229, host:port or http://host:port/...
The program reads the target list at http://ADDRESS/json (retrying for 5 seconds), prints the
debugger's WebSocket address and the front end's URL, and opens a window whose content is the
DevTools front end, compiled into the program, connected to the first target. The address may
also be a debugger's WebSocket as node prints it (ws://host:port/ID, wss://..., or host:port/ID):
the front end then connects to it directly.

With -- COMMAND [ARGS...] instead of an address, the program runs the command with every node
process it starts debuggable: each gets a window of its own, titled with its pid and command, and
waits for it before its first line. The program ends once the command has ended and no window is
left, with the command's exit status; its own lines go to standard error. With --print-url each
process's addresses are printed as it starts, and it runs on at once.

Options:
  --print-url   print the addresses and exit without opening a window
  --target=SELECTOR
                the target to debug: its zero-based index in the list, its id, or text found
                in its title or url (default: the first target)
  --no-reattach
                leave the window on the first target; by default, when the front end's
                connection drops (the debuggee restarted), the window reads the target list
                again until a new target appears, attaches to it and prints its ws target line;
                with --serve, / leads to the current target
  --help        print this help and exit
  --version     print the version, the embedded front end and the web-view backend, and exit
  --serve[=ADDR]
                serve the embedded front end over HTTP on ADDR (default 127.0.0.1:0) for any
                browser, print its URL, and run until interrupted; no window

Environment:
  QUELBY_INSPECTOR_FRONTEND       front-end URL template used instead of the embedded front
                                  end; every {ws} is replaced by the debugger address
  QUELBY_INSPECTOR_LIB_BACKTRACE  any value but 0 adds a stack backtrace to error reports;
                                  0 turns it off whatever the next variable says
  QUELBY_INSPECTOR_BACKTRACE      the same switch, consulted when the previous one is unset
  QUELBY_INSPECTOR_PAGE_DIAGNOSTICS
                                  any value but 0: the front end's own errors and the files
                                  it asks for but the program lacks go to standard error;
                                  "requests": also every file served

Exit status:
  0  after --print-url, --help or --version, when the window is closed, and when --serve
     is interrupted
  1  after an error, which is reported on standard error
  with -- COMMAND: the command's status (128 + N after signal N); 127 when it is not found,
     126 when it cannot be run
)";

inline constexpr std::string_view SERVE_FLAG = "--serve";
inline constexpr std::string_view DEFAULT_SERVE_ADDRESS = "127.0.0.1:0";

// The address to serve the front end on: DEFAULT_SERVE_ADDRESS for "--serve", ADDR for
// "--serve=ADDR"; the last such argument counts. nullopt when there is none.
std::optional<std::string> serve_address(std::span<const std::string> arguments);

// Everything after it is the command to launch.
inline constexpr std::string_view LAUNCH_SEPARATOR = "--";
inline constexpr std::string_view ADDRESS_AND_COMMAND =
    "give an inspector address or a command after --, not both";
inline constexpr std::string_view SERVE_AND_COMMAND =
    "--serve cannot be combined with a command to launch: use --print-url to get each process's "
    "address, or --serve with one process's address";
inline constexpr std::string_view NO_COMMAND = "no command after --";

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

// The --help text: the usage lines, then HELP_BODY.
std::string help_text();

// The --version text: the program's version, then where its embedded front end came from and
// which web-view backend it was built with (named without loading it).
std::string version_text();

// The three console lines of a run that found the debugger address, without their line feeds.
std::array<std::string, 3> console_lines(std::string_view ws_target, std::string_view frontend_url);

// The whole run for the collected arguments: the process's exit status, or the error to report.
Result<int> run(std::span<const std::string> arguments);

}  // namespace quelby
