#include "launcher.h"

#include "console.h"
#include "debugger_address.h"
#include "inspector_window.h"

namespace quelby {

CommandLine parse_command_line(std::span<const std::string> arguments) {
    CommandLine command_line;
    for (const std::string& argument : arguments) {
        if (argument == PRINT_URL_FLAG) {
            command_line.print_url = true;
        }
        if (!command_line.inspector_addr && !argument.starts_with("--")) {
            command_line.inspector_addr = argument;
        }
    }
    return command_line;
}

std::array<std::string, 3> console_lines(std::string_view ws_target,
                                         std::string_view frontend_url) {
    return {std::string(LINE_WS_TARGET) + std::string(ws_target),
            std::string(LINE_FRONTEND) + std::string(frontend_url),
            std::string(LINE_EMBEDDED_NOTE)};
}

Status run(std::span<const std::string> arguments) {
    const CommandLine command_line = parse_command_line(arguments);
    if (!command_line.inspector_addr) {
        return std::unexpected(ErrorChain::from_message(std::string(USAGE)));
    }
    auto ws_target = discover_ws_target(*command_line.inspector_addr);
    if (!ws_target) {
        return std::unexpected(std::move(ws_target.error()));
    }
    auto url = frontend_url(*ws_target);
    if (!url) {
        return std::unexpected(std::move(url.error()));
    }
    // Without --print-url a console that cannot be written (a closed pipe) does not stop the run:
    // the lines are only informative and the window is the answer. With it the lines are the
    // answer, so losing them is an error.
    bool written = true;
    for (const std::string& line : console_lines(*ws_target, *url)) {
        written = console::write_line(line) && written;
    }
    if (command_line.print_url) {
        if (!written) {
            return std::unexpected(ErrorChain::from_message(std::string(OUTPUT_FAILED)));
        }
        return {};
    }
    return run_inspector_window(*url);
}

}  // namespace quelby
