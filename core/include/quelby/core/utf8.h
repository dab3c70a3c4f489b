// UTF-8 decoding, validation and lossy repair, shared by the reply check, the environment, the
// arguments and the UTF-16 conversions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quelby {

// The sequence that starts at text[pos]: its length and code point when it is well-formed (RFC
// 3629: no overlong forms, no surrogates, nothing above U+10FFFF, not truncated); otherwise length
// 0, and `valid_prefix` is the length of the longest prefix that could still have begun one.
struct Utf8Sequence {
    std::size_t length = 0;
    std::size_t valid_prefix = 1;
    char32_t code_point = 0;
};
Utf8Sequence next_utf8_sequence(std::string_view text, std::size_t pos) noexcept;

// True when `text` is well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view text) noexcept;

// `text` with every ill-formed sequence replaced by U+FFFD (one per maximal invalid subpart, as
// Unicode recommends); valid text comes back unchanged.
std::string to_utf8_lossy(std::string_view text);

}  // namespace quelby
