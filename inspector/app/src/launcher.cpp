#include "quelby/app/launcher.h"

#include <algorithm>
#include <cstdlib>
#include <stop_token>

#include "quelby/app/build_info.h"
#include "quelby/app/console.h"
#include "quelby/app/launch_run.h"
#include "quelby/assets/asset_table.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/core/environment.h"
#include "quelby/discovery/discovery.h"
#include "quelby/serve/frontend_server.h"
#include "quelby/serve/serve_rules.h"
#include "quelby/webview_host/host.h"
#include "quelby/window/inspector_window.h"
#include "quelby/window/page_diagnostics.h"
#include "quelby/window/settings_store.h"
#include "user_window_options.h"

namespace quelby {
namespace {

constexpr std::string_view LINE_EMBEDDED_NOTE =
    "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)";

constexpr std::string_view DEFAULT_SERVE_ADDRESS = "127.0.0.1:0";

// What --help prints after its usage lines: one line per flag, one per environment variable.
// help2man builds the manual page from this text, so its layout (headings ending in ':', entries
// indented by two blanks with their descriptions aligned) matters.
constexpr std::string_view HELP_BODY = R"(
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

constexpr std::string_view SERVE_AND_COMMAND =
    "--serve cannot be combined with a command to launch: use --print-url to get each process's "
    "address, or --serve with one process's address";

constexpr std::string_view TARGET_AND_COMMAND =
    "--target cannot be combined with a command to launch: every node process of the command "
    "gets a window of its own";

constexpr std::string_view NO_COMMAND = "no command after --";

constexpr std::string_view ADDRESS_AND_COMMAND =
    "give an inspector address or a command after --, not both";

// Writes every line even when one is lost; false when any could not be written (a closed pipe).
bool write_console_lines(std::string_view ws_target, std::string_view url) {
    bool written = true;
    for (const std::string& line : console_lines(ws_target, url)) {
        written = console::write_line(line) && written;
    }
    return written;
}

// --serve: the embedded front end over HTTP until the user stops the process. The printed URL is
// the served start page, so the front-end template does not apply.
// The lookup, if any, is made once the server exists: the pages it leads to carry its secret.
Status serve_front_end(
    const std::string& address, const DebuggerTarget& debugger,
    const std::function<FrontendServer::FrontEndLookup(const std::string& secret)>& make_lookup) {
    auto server = FrontendServer::listen(address, FrontendServer::StopOn::CallOrInterrupt);
    if (!server) {
        return std::unexpected(std::move(server.error()));
    }
    const std::string& secret = (*server)->secret();
    FrontendServer::FrontEndLookup lookup = make_lookup ? make_lookup(secret) : nullptr;
    std::string target = serve::frontend_target(debugger.target, secret);
    // The server is the answer here: lines lost to a closed pipe do not stop it.
    static_cast<void>(write_console_lines(debugger.target.address, (*server)->origin() + target));
    return (*server)->run(std::move(target), std::move(lookup));
}

// The debuggee looked up again after a restart: the same listener and selector as at the start; a
// WebSocket address is looked up again at the listener it belongs to, where a restarted debuggee
// lists its new target. `stop` ends the lookup early.
TargetDiscovery rediscovery(const InspectorAddress& address,
                            const std::optional<std::string>& selector) {
    return [listener = listener_of(address), selector](const std::stop_token& stop) {
        return discover_target(listener, selector, stop);
    };
}

// One line per target found after the start, as at the start; a lost line stops nothing.
void write_new_target_line(const WsTarget& target) {
    static_cast<void>(console::write_line(std::string(LINE_WS_TARGET) + target.address));
}

// Where the served "/" leads after the debuggee restarted. A failed lookup keeps the last target.
FrontendServer::FrontEndLookup current_target_lookup(const InspectorAddress& address,
                                                     const std::optional<std::string>& selector,
                                                     std::string ws_address, std::string secret) {
    return [discover = rediscovery(address, selector), current = std::move(ws_address),
            secret = std::move(secret)](
               const std::stop_token& stop) mutable -> std::optional<std::string> {
        auto found = discover(stop);
        if (!found) {
            return std::nullopt;
        }
        // The line shows the address alone, so only a new address is worth a line.
        if (found->target.address != current) {
            current = found->target.address;
            write_new_target_line(found->target);
        }
        return serve::frontend_target(found->target, secret);
    };
}

}  // namespace

WindowOptions user_window_options() {
    WindowOptions options{.diagnostics_level = page_diagnostics_level(
                              environment_variable_utf8(PAGE_DIAGNOSTICS_ENV)),
                          .diagnostics = {},
                          .reattach = std::nullopt,
                          .settings_file = std::nullopt};
    if (const auto folder = settings_folder()) {
        options.settings_file = *folder / SETTINGS_FILE_NAME;
    }
    if (options.diagnostics_level != PageDiagnostics::Off) {
        options.diagnostics = [](std::string_view text) {
            static_cast<void>(
                console::write_to(console::Stream::Error, format_page_diagnostic(text)));
        };
    }
    return options;
}

std::optional<std::string> serve_address(std::span<const std::string> arguments) {
    std::optional<std::string> address;
    for (const std::string& argument : arguments) {
        if (argument == SERVE_FLAG) {
            address = std::string(DEFAULT_SERVE_ADDRESS);
        } else if (argument.starts_with(SERVE_FLAG) && argument[SERVE_FLAG.size()] == '=') {
            address = argument.substr(SERVE_FLAG.size() + 1);
        }
    }
    return address;
}

std::span<const std::string> own_arguments(std::span<const std::string> arguments) {
    const auto separator = std::find(arguments.begin(), arguments.end(), LAUNCH_SEPARATOR);
    return arguments.first(static_cast<std::size_t>(separator - arguments.begin()));
}

CommandLine parse_command_line(std::span<const std::string> arguments) {
    CommandLine command_line;
    const auto separator = std::find(arguments.begin(), arguments.end(), LAUNCH_SEPARATOR);
    if (separator != arguments.end()) {
        command_line.command = std::vector<std::string>(separator + 1, arguments.end());
    }
    for (const std::string& argument : own_arguments(arguments)) {
        if (argument == PRINT_URL_FLAG) {
            command_line.print_url = true;
        }
        if (argument == HELP_FLAG) {
            command_line.help = true;
        }
        if (argument == VERSION_FLAG) {
            command_line.version = true;
        }
        if (argument.starts_with(TARGET_FLAG) && argument.size() > TARGET_FLAG.size() &&
            argument[TARGET_FLAG.size()] == '=') {
            command_line.target = argument.substr(TARGET_FLAG.size() + 1);
        }
        if (argument == NO_REATTACH_FLAG) {
            command_line.reattach = false;
        }
        if (!command_line.inspector_addr && !argument.starts_with("--")) {
            command_line.inspector_addr = argument;
        }
    }
    return command_line;
}

std::string help_text() {
    // The usage line as the error report has it, but capitalised and with the second form of
    // the command: the manual page's synopsis is read from these lines.
    return "Usage" + std::string(USAGE.substr(USAGE.find(':'))) +
           "\n  or:  quelby_inspector --help | --version"
           "\n  or:  quelby_inspector --serve[=ADDR] <inspector-http-addr>"
           "\n  or:  quelby_inspector [--print-url] -- COMMAND [ARGS...]\n" +
           std::string(HELP_BODY);
}

std::string version_text() {
    return "quelby_inspector " + std::string(PROGRAM_VERSION) + "\n\nBuilt with:\n  front end  " +
           std::string(FRONTEND_ORIGIN) + " (" + std::to_string(AssetTable::entries().size()) +
           " files embedded)\n  web view   " + std::string(webview_host::backend_name()) + "\n";
}

std::array<std::string, 3> console_lines(std::string_view ws_target,
                                         std::string_view frontend_url) {
    return {std::string(LINE_WS_TARGET) + std::string(ws_target),
            std::string(LINE_FRONTEND) + std::string(frontend_url),
            std::string(LINE_EMBEDDED_NOTE)};
}

Result<int> run(std::span<const std::string> arguments) {
    const CommandLine command_line = parse_command_line(arguments);
    // Answered before any address is looked for. If the console cannot take the text there is
    // nothing else to do, so the run succeeds all the same, as with the three lines below.
    if (command_line.help || command_line.version) {
        static_cast<void>(console::write_to(console::Stream::Output,
                                            command_line.help ? help_text() : version_text()));
        return EXIT_SUCCESS;
    }
    if (command_line.command) {
        if (command_line.inspector_addr) {
            return std::unexpected(ErrorChain::from_message(std::string(ADDRESS_AND_COMMAND)));
        }
        if (serve_address(own_arguments(arguments))) {
            return std::unexpected(ErrorChain::from_message(std::string(SERVE_AND_COMMAND)));
        }
        if (command_line.target) {
            return std::unexpected(ErrorChain::from_message(std::string(TARGET_AND_COMMAND)));
        }
        if (command_line.command->empty()) {
            return std::unexpected(ErrorChain::from_message(std::string(NO_COMMAND)));
        }
        return run_launch(command_line.print_url, *command_line.command);
    }
    if (!command_line.inspector_addr) {
        return std::unexpected(ErrorChain::from_message(std::string(USAGE)));
    }
    const auto inspector_address = parse_inspector_address(*command_line.inspector_addr);
    if (!inspector_address) {
        return std::unexpected(inspector_address.error());
    }
    auto debugger = discover_target(*inspector_address, command_line.target);
    if (!debugger) {
        return std::unexpected(std::move(debugger.error()));
    }
    if (const auto address = serve_address(own_arguments(arguments))) {
        std::function<FrontendServer::FrontEndLookup(const std::string&)> make_lookup;
        if (command_line.reattach) {
            make_lookup = [&](const std::string& secret) {
                return current_target_lookup(*inspector_address, command_line.target,
                                             debugger->target.address, secret);
            };
        }
        if (auto served = serve_front_end(*address, *debugger, make_lookup); !served) {
            return std::unexpected(std::move(served.error()));
        }
        return EXIT_SUCCESS;
    }
    auto url = frontend_url(debugger->target);
    if (!url) {
        return std::unexpected(std::move(url.error()));
    }
    // Without --print-url a console that cannot be written (a closed pipe) does not stop the run:
    // the lines are only informative and the window is the answer. With it the lines are the
    // answer, so losing them is an error.
    const bool written = write_console_lines(debugger->target.address, *url);
    if (command_line.print_url) {
        if (!written) {
            return std::unexpected(ErrorChain::from_message(std::string(OUTPUT_FAILED)));
        }
        return EXIT_SUCCESS;
    }
    WindowOptions options = user_window_options();
    if (command_line.reattach) {
        // Each target's URL by its own scheme: the debuggee may come back under the other one.
        options.reattach =
            Reattach{.target = debugger->target,
                     .discover = rediscovery(*inspector_address, command_line.target),
                     .frontend_url = frontend_url,
                     .attached = write_new_target_line};
    }
    return run_inspector_window(*url, options);
}

}  // namespace quelby
