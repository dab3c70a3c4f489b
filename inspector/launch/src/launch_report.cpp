#include "quelby/launch/launch_report.h"

#include <limits>

#include <nlohmann/json.hpp>

namespace quelby::launch {

std::optional<LaunchReport> parse_launch_report(std::string_view line, std::string_view secret) {
    const nlohmann::json report = nlohmann::json::parse(line, nullptr, false);
    if (!report.is_object()) {
        return std::nullopt;
    }
    const auto text = [&](const char* name) -> std::optional<std::string> {
        const auto found = report.find(name);
        if (found == report.end() || !found->is_string()) {
            return std::nullopt;
        }
        return found->get<std::string>();
    };
    const auto given_secret = text("secret");
    const auto url = text("url");
    const auto title = text("title");
    const auto pid = report.find("pid");
    if (!given_secret || *given_secret != secret || pid == report.end() ||
        !pid->is_number_integer()) {
        return std::nullopt;
    }
    const auto pid_value = pid->get<std::int64_t>();
    if (pid_value <= 0 || pid_value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    if (const auto exiting = report.find("exiting"); exiting != report.end()) {
        if (!exiting->is_boolean() || !exiting->get<bool>()) {
            return std::nullopt;
        }
        return LaunchReport{
            .pid = static_cast<int>(pid_value), .target = {}, .title = {}, .exiting = true};
    }
    if (!url) {
        return std::nullopt;
    }
    auto target = split_ws_url(*url, SchemeLetters::AnyCase);
    if (!target || target->address.empty()) {
        return std::nullopt;
    }
    return LaunchReport{.pid = static_cast<int>(pid_value),
                        .target = std::move(*target),
                        .title = printable_title(title.value_or("")),
                        .exiting = false};
}

std::string printable_title(std::string_view title) {
    std::string shown(title);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
            c = ' ';
        }
    }
    return shown;
}

}  // namespace quelby::launch
