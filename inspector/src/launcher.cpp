#include "launcher.h"

#include "console.h"
#include "debugger_address.h"
#include "frontend_server.h"
#include "inspector_window.h"
#include "serve_rules.h"

namespace quelby {
namespace {

// The lines of a console that cannot be written (a closed pipe) are dropped: they are only
// informative, and the window, the server or the exit status is the program's real answer.
void write_console_lines(std::string_view ws_target, std::string_view url) {
    for (const std::string& line : console_lines(ws_target, url)) {
        static_cast<void>(console::write_line(line));
    }
}

// --serve: the embedded front end over HTTP until the user stops the process. The printed URL is
// the served start page, so the front-end template does not apply.
Status serve_front_end(const std::string& address, const std::string& ws_target) {
    auto server = FrontendServer::listen(address, FrontendServer::StopOn::CallOrInterrupt);
    if (!server) {
        return std::unexpected(std::move(server.error()));
    }
    std::string target = serve::frontend_target(ws_target);
    write_console_lines(ws_target, (*server)->origin() + target);
    return (*server)->run(std::move(target));
}

}  // namespace

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
    if (const auto address = serve_address(arguments)) {
        return serve_front_end(*address, *ws_target);
    }
    const std::string url = frontend_url(*ws_target);
    write_console_lines(*ws_target, url);
    if (command_line.print_url) {
        return {};
    }
    return run_inspector_window(url);
}

}  // namespace quelby
