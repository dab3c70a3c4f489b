// The reply's split, status test, Content-Length and completion, against a model written from the
// rules: the bytes arrive in chunks whose sizes the input itself chooses.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "quelby/core/quoted_text.h"
#include "quelby/core/utf8.h"
#include "quelby/discovery/http_reply.h"
#include "reference_utf8.h"

namespace {

using namespace quelby;

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return out;
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Content-Length as the rules read it: every header line after the status line, names without
// case, values of 1 to 18 digits that agree; any Transfer-Encoding makes it unusable.
std::optional<std::size_t> model_content_length(std::string_view head) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = head.find('\n', start);
        lines.push_back(head.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    std::optional<std::size_t> length;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string name = lower(trim_blanks(line.substr(0, colon)));
        const std::string_view value = trim_blanks(line.substr(colon + 1));
        if (name == "transfer-encoding") {
            return std::nullopt;
        }
        if (name != "content-length") {
            continue;
        }
        if (value.empty() || value.size() > 18 ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        const std::size_t parsed = std::stoull(std::string(value));
        if (length && *length != parsed) {
            return std::nullopt;
        }
        length = parsed;
    }
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::size_t head_end = input.find("\r\n\r\n");
    const auto split = http::split_reply(input);
    QUELBY_FUZZ_CHECK(split.has_value() == (head_end != std::string_view::npos));
    std::optional<std::size_t> complete_at;
    if (split) {
        QUELBY_FUZZ_CHECK(split->head == input.substr(0, head_end));
        QUELBY_FUZZ_CHECK(split->body == input.substr(head_end + 4));
        const auto length = http::declared_content_length(split->head);
        QUELBY_FUZZ_CHECK(length == model_content_length(split->head));
        if (length) {
            complete_at = head_end + 4 + *length;
        }
    }

    // Completion, fed in chunks of 1 to 17 bytes chosen by the input's bytes.
    http::ReplyProgress progress;
    std::size_t fed = 0;
    std::size_t previous = 0;
    std::optional<std::size_t> completed;
    for (std::size_t i = 0; fed < size; ++i) {
        previous = fed;
        fed = std::min(size, fed + 1 + static_cast<std::uint8_t>(input[i % size]) % 17);
        if (progress.complete(input.substr(0, fed))) {
            completed = fed;
            break;
        }
    }
    if (complete_at && *complete_at <= size) {
        QUELBY_FUZZ_CHECK(completed.has_value());
        QUELBY_FUZZ_CHECK(*completed >= *complete_at && previous < *complete_at);
    } else {
        QUELBY_FUZZ_CHECK(!completed.has_value());
    }

    // The check: UTF-8, then the head, then "200" in the status line; the body when it passes.
    const auto body = http::check_reply(input);
    const bool accepted = is_valid_utf8(input) && split &&
                          http::status_line(split->head).find("200") != std::string_view::npos;
    QUELBY_FUZZ_CHECK(body.has_value() == accepted);
    if (body) {
        QUELBY_FUZZ_CHECK(*body == split->body);
    } else {
        // The message reaches the terminal: valid UTF-8, no control character, bounded.
        const std::string& message = body.error().messages().front();
        QUELBY_FUZZ_CHECK(fuzz::fit_for_terminal(message, false));
        QUELBY_FUZZ_CHECK(message.size() <= 8 * (QUOTE_LIMIT + 4) + 64);
    }
    return 0;
}
