// The first target's address, read without a tree, against nlohmann::json's tree parse of the same
// body; and every message it gives is fit for a terminal.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "quelby/core/quoted_text.h"
#include "quelby/discovery/discovery.h"
#include "reference_utf8.h"

namespace {

using namespace quelby;

bool fit_for_terminal(const std::string& message) {
    return message.size() <= 8 * (QUOTE_LIMIT + 4) + 512 && fuzz::fit_for_terminal(message, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto target = extract_ws_target(body);
    if (!target) {
        for (const std::string& message : target.error().messages()) {
            QUELBY_FUZZ_CHECK(fit_for_terminal(message));
        }
    }

    // The tree parser reads the same iterators; a NUL ends its input too, so the program's own
    // refusal of anything after one is modelled here.
    const nlohmann::json tree = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (tree.is_discarded() || body.find('\0') != std::string_view::npos) {
        QUELBY_FUZZ_CHECK(!target.has_value());
        QUELBY_FUZZ_CHECK(target.error().messages().front() == NOT_JSON_CONTEXT);
        return 0;
    }
    const nlohmann::json* url = nullptr;
    if (tree.is_array() && !tree.empty() && tree[0].is_object()) {
        const auto found = tree[0].find(std::string(WS_URL_KEY));
        if (found != tree[0].end() && found->is_string()) {
            url = &*found;
        }
    }
    if (url == nullptr) {
        QUELBY_FUZZ_CHECK(!target.has_value());
        QUELBY_FUZZ_CHECK(target.error().messages().front().starts_with(NO_WS_URL_PREFIX));
        return 0;
    }
    std::string_view expected = url->get_ref<const std::string&>();
    if (!fuzz::fit_for_terminal(expected, false)) {
        QUELBY_FUZZ_CHECK(!target.has_value());
        return 0;
    }
    if (expected.starts_with("ws://")) {
        expected.remove_prefix(5);
    } else if (expected.starts_with("wss://")) {
        expected.remove_prefix(6);
    }
    QUELBY_FUZZ_CHECK(target.has_value());
    QUELBY_FUZZ_CHECK(*target == expected);
    return 0;
}
