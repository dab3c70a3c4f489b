#include "quelby/discovery/http_reply.h"

#include <cstdint>
#include <limits>

#include "quelby/core/ascii_text.h"
#include "quelby/core/quoted_text.h"
#include "quelby/core/utf8.h"

namespace quelby::http {

constexpr std::string_view MALFORMED_REPLY = "malformed HTTP response from inspector";

constexpr std::string_view HEAD_END = "\r\n\r\n";

std::array<std::string_view, 5> request_pieces(std::string_view path, std::string_view host,
                                               Version version) {
    return {"GET ", path,
            version == Version::Http10 ? " HTTP/1.0\r\nHost: " : " HTTP/1.1\r\nHost: ", host,
            "\r\nAccept: application/json\r\nConnection: close\r\n\r\n"};
}

std::optional<SplitReply> split_reply(std::string_view reply) {
    const std::size_t end = reply.find(HEAD_END);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return SplitReply{reply.substr(0, end), reply.substr(end + HEAD_END.size())};
}

std::string_view status_line(std::string_view head) {
    std::string_view line = head.substr(0, head.find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

std::optional<int> status_code(std::string_view line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || line.size() < blank + 4) {
        return std::nullopt;
    }
    const bool ends = line.size() == blank + 4 || line[blank + 4] == ' ';
    const auto code = parse_decimal(line.substr(blank + 1, 3), 999U);
    if (!ends || !code) {
        return std::nullopt;
    }
    return static_cast<int>(*code);
}

bool status_line_accepted(std::string_view line) {
    return line.find("200") != std::string_view::npos;
}

std::optional<std::size_t> declared_content_length(std::string_view head) {
    std::optional<std::size_t> length;
    std::size_t start = head.find('\n');  // the status line has no headers
    while (start != std::string_view::npos) {
        ++start;
        const std::size_t end = head.find('\n', start);
        std::string_view line =
            head.substr(start, end == std::string_view::npos ? end : end - start);
        start = end;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = trim_blanks(line.substr(0, colon));
        const std::string_view value = trim_blanks(line.substr(colon + 1));
        if (equals_ignoring_ascii_case(name, "transfer-encoding")) {
            return std::nullopt;  // the length is not the body's then
        }
        if (!equals_ignoring_ascii_case(name, "content-length")) {
            continue;
        }
        // At most 18 digits, however many of them are leading zeros.
        const auto parsed = value.size() > 18
                                ? std::nullopt
                                : parse_decimal(value, std::numeric_limits<std::size_t>::max());
        if (!parsed || (length && *length != *parsed)) {
            return std::nullopt;
        }
        length = *parsed;
    }
    return length;
}

bool ReplyProgress::complete(std::string_view reply) {
    if (!body_start_) {
        // Search only what is new, with three bytes of overlap for a split "\r\n\r\n".
        const std::size_t from = scanned_ >= 3 ? scanned_ - 3 : 0;
        const std::size_t end = reply.find(HEAD_END, from);
        scanned_ = reply.size();
        if (end == std::string_view::npos) {
            return false;
        }
        body_start_ = end + HEAD_END.size();
        if (const auto length = declared_content_length(reply.substr(0, end))) {
            expected_size_ = *body_start_ + *length;
        }
    }
    return expected_size_ && reply.size() >= *expected_size_;
}

Result<std::string> check_reply(std::string_view reply) {
    if (!is_valid_utf8(reply)) {
        return std::unexpected(ErrorChain::from_message(std::string(NOT_UTF8)));
    }
    const auto split = split_reply(reply);
    if (!split) {
        return std::unexpected(ErrorChain::from_message(std::string(MALFORMED_REPLY)));
    }
    const std::string_view line = status_line(split->head);
    if (!status_line_accepted(line)) {
        return std::unexpected(ErrorChain::from_message(std::string(NON_200_PREFIX) +
                                                        quote_peer_text(line, Layout::Escape)));
    }
    return std::string(split->body);
}

}  // namespace quelby::http
