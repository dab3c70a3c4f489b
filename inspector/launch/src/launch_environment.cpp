#include "launch_environment.h"

#include <optional>

#include "quelby/core/ascii_text.h"
#include "quelby/launch/launched_command.h"
#include "quelby/launch/node_options.h"

namespace quelby::launch {
namespace {

// Whether `entry` sets the variable `name`.
bool sets(std::string_view entry, std::string_view name, NameCase names) {
    if (entry.size() <= name.size() || entry[name.size()] != '=') {
        return false;
    }
    const std::string_view entry_name = entry.substr(0, name.size());
    return names == NameCase::Ignored ? equals_ignoring_ascii_case(entry_name, name)
                                      : entry_name == name;
}

}  // namespace

std::vector<std::string> launch_environment(const std::vector<std::string>& inherited,
                                            std::string_view channel, std::string_view bootloader,
                                            std::string_view secret, bool hold, NameCase names) {
    std::optional<std::string> node_options;
    std::vector<std::string> entries;
    for (const std::string& entry : inherited) {
        if (sets(entry, NODE_OPTIONS_ENV, names)) {
            node_options = entry.substr(NODE_OPTIONS_ENV.size() + 1);
            continue;
        }
        if (sets(entry, CHANNEL_ENV, names) || sets(entry, SECRET_ENV, names) ||
            sets(entry, HOLD_ENV, names)) {
            continue;
        }
        entries.push_back(entry);
    }
    entries.push_back(std::string(CHANNEL_ENV) + "=" + std::string(channel));
    entries.push_back(std::string(SECRET_ENV) + "=" + std::string(secret));
    entries.push_back(std::string(HOLD_ENV) + "=" + (hold ? "1" : "0"));
    entries.push_back(std::string(NODE_OPTIONS_ENV) + "=" +
                      node_options_with_require(node_options, bootloader));
    return entries;
}

void ReportLines::feed(std::string_view bytes,
                       const std::function<void(std::string_view line)>& on_line) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!dropping_) {
            pending_.append(piece);
        }
        if (pending_.size() > MAX_LINE) {
            pending_.clear();
            dropping_ = true;
        }
        if (end == std::string_view::npos) {
            return;
        }
        if (!dropping_) {
            on_line(pending_);
        }
        pending_.clear();
        dropping_ = false;
        bytes.remove_prefix(end + 1);
    }
}

}  // namespace quelby::launch
