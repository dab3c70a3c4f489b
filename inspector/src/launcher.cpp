#include "launcher.h"

#include <cstdlib>

#include "asset_table.h"
#include "build_info.h"
#include "console.h"
#include "debugger_address.h"
#include "environment.h"
#include "host.h"
#include "inspector_window.h"
#include "page_diagnostics.h"

namespace quelby {

CommandLine parse_command_line(std::span<const std::string> arguments) {
    CommandLine command_line;
    for (const std::string& argument : arguments) {
        if (argument == PRINT_URL_FLAG) {
            command_line.print_url = true;
        }
        if (argument == HELP_FLAG) {
            command_line.help = true;
        }
        if (argument == VERSION_FLAG) {
            command_line.version = true;
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
           "\n  or:  quelby_inspector --help | --version\n" + std::string(HELP_BODY);
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
    if (!command_line.inspector_addr) {
        return std::unexpected(ErrorChain::from_message(std::string(USAGE)));
    }
    auto ws_target = discover_ws_target(*command_line.inspector_addr);
    if (!ws_target) {
        return std::unexpected(std::move(ws_target.error()));
    }
    const std::string url = frontend_url(*ws_target);
    // A console that cannot be written (a closed pipe) does not stop the run: the lines are only
    // informative, and the window (or the exit status) is the program's real answer.
    for (const std::string& line : console_lines(*ws_target, url)) {
        static_cast<void>(console::write_line(line));
    }
    if (command_line.print_url) {
        return EXIT_SUCCESS;
    }
    const PageDiagnostics diagnostics =
        page_diagnostics_level(environment_variable_utf8(PAGE_DIAGNOSTICS_ENV));
    if (diagnostics == PageDiagnostics::Off) {
        return run_inspector_window(url);
    }
    return run_inspector_window(url, diagnostics, [](std::string_view text) {
        static_cast<void>(console::write_to(console::Stream::Error, format_page_diagnostic(text)));
    });
}

}  // namespace quelby
