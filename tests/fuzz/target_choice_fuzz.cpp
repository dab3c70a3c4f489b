// The target --target chooses, read without a tree, against a choice made on nlohmann::json's tree
// of the same body. The input is the selector, a line feed, then the body (no line feed: no
// selector).
#include <cstddef>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "quelby/discovery/target_list_json.h"
#include "reference_utf8.h"

namespace {

using namespace quelby;
using json = nlohmann::json;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return out;
}

std::optional<std::string> string_member(const json& target, const char* name) {
    const auto found = target.find(name);
    if (found == target.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

// A whole run of ASCII digits that fits in size_t.
std::optional<std::size_t> as_index(std::string_view text) {
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::size_t>(c - '0');
        if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

// The choice on the tree: by index, else by id, else by text in the title or url.
const json* chosen_in(const json& list, const std::optional<std::string>& selector) {
    if (!list.is_array() || list.empty()) {
        return nullptr;
    }
    if (!selector) {
        return list[0].is_object() ? &list[0] : nullptr;
    }
    if (const auto index = as_index(*selector);
        index && *index < list.size() && list[*index].is_object()) {
        return &list[*index];
    }
    for (const json& target : list) {
        if (target.is_object() && string_member(target, "id") == *selector) {
            return &target;
        }
    }
    const std::string wanted = lower(*selector);
    for (const json& target : list) {
        if (!target.is_object()) {
            continue;
        }
        for (const char* name : {"title", "url"}) {
            const auto text = string_member(target, name);
            if (text && lower(*text).find(wanted) != std::string::npos) {
                return &target;
            }
        }
    }
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    std::optional<std::string> selector;
    std::string_view body = input;
    if (newline != std::string_view::npos) {
        body = input.substr(newline + 1);
        if (newline != 0) {
            selector = std::string(input.substr(0, newline));
        }
    }

    const auto selected = select_target(body, selector);
    if (!selected) {
        for (const std::string& message : selected.error().messages()) {
            QUELBY_FUZZ_CHECK(fuzz::fit_for_terminal(message, true));
        }
    }

    const json tree = json::parse(body.begin(), body.end(), nullptr, false);
    if (tree.is_discarded() || body.find('\0') != std::string_view::npos) {
        QUELBY_FUZZ_CHECK(!selected && selected.error().messages().front() == NOT_JSON_CONTEXT);
        return 0;
    }
    const json* chosen = chosen_in(tree, selector);
    if (chosen == nullptr && selector) {
        QUELBY_FUZZ_CHECK(!selected &&
                          selected.error().messages().front().starts_with("no target matches "));
        return 0;
    }
    const std::optional<std::string> url =
        chosen == nullptr ? std::nullopt : string_member(*chosen, std::string(WS_URL_KEY).c_str());
    if (!url) {
        QUELBY_FUZZ_CHECK(!selected &&
                          selected.error().messages().front().starts_with(NO_WS_URL_PREFIX));
        return 0;
    }
    if (!fuzz::fit_for_terminal(*url, false)) {
        QUELBY_FUZZ_CHECK(!selected);
        return 0;
    }
    QUELBY_FUZZ_CHECK(selected.has_value());
    const bool secure = url->starts_with("wss://");
    const std::size_t scheme = url->starts_with("ws://") ? 5 : secure ? 6 : 0;
    QUELBY_FUZZ_CHECK(selected->address == url->substr(scheme));
    QUELBY_FUZZ_CHECK(selected->secure == secure);
    return 0;
}
