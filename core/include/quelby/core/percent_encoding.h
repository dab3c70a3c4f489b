// Percent-encoding of URL parts, both ways, with the one hex-digit reader the program's text rules
// share.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelby {

// 0-15 for a hex digit of either case, -1 for anything else.
constexpr int ascii_hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Whether '+' stands for a space, as in a form-encoded query, or for itself, as in a path.
enum class PlusSign { Literal, Space };

// `text` with each %XX replaced by its byte; nullopt when a '%' is not followed by two hex digits.
std::optional<std::string> percent_decoded(std::string_view text,
                                           PlusSign plus = PlusSign::Literal);

// `text` with every byte escaped as %XX (upper-case hex) except ASCII letters and digits, "-._~",
// and the bytes in `also_plain`: the characters that may stand as they are where the text goes.
std::string percent_encoded(std::string_view text, std::string_view also_plain);

}  // namespace quelby
