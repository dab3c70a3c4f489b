#include "node_inspector.h"

#include <regex>
#include <stdexcept>

namespace quelby::test_support {

namespace {

std::vector<std::string> node_command(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"node"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

}  // namespace

bool NodeInspector::available() {
    return find_in_path("node").has_value();
}

std::vector<std::string> NodeInspector::idle() {
    return {"--inspect=127.0.0.1:0", "-e", "setInterval(() => {}, 1000)"};
}

NodeInspector::NodeInspector(const std::vector<std::string>& arguments,
                             const std::vector<EnvChange>& env)
    : node_(node_command(arguments), env) {
    static const std::regex LISTENING(
        "Debugger listening on ws://((127\\.0\\.0\\.1:[0-9]+)/[0-9a-f-]+)");
    std::smatch match;
    const bool listening =
        node_.read_until([&] { return std::regex_search(node_.err(), match, LISTENING); },
                         Clock::now() + std::chrono::seconds(30));
    if (!listening) {
        throw std::runtime_error("node did not start its inspector: " + node_.err());
    }
    ws_target_ = match[1];
    address_ = match[2];
}

bool NodeInspector::wait_attached(std::chrono::seconds limit) {
    return node_.read_until(
        [&] { return node_.err().find("Debugger attached.") != std::string::npos; },
        Clock::now() + limit);
}

}  // namespace quelby::test_support
