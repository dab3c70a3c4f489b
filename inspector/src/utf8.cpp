#include "utf8.h"

#include <cstdint>

namespace quelby {
namespace {

// The length of the well-formed sequence that starts at `pos`, or 0 when the bytes there are not
// one; `*valid_prefix` receives the length of the longest prefix that could still begin one.
std::size_t sequence_length(std::string_view text, std::size_t pos, std::size_t* valid_prefix) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    *valid_prefix = 1;
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;  // no overlong forms
        } else if (lead == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;  // no overlong forms
        } else if (lead == 0xF4) {
            high = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (pos + i >= text.size()) {
            return 0;
        }
        const std::uint8_t next = byte(pos + i);
        const std::uint8_t lo = i == 1 ? low : 0x80;
        const std::uint8_t hi = i == 1 ? high : 0xBF;
        if (next < lo || next > hi) {
            return 0;
        }
        *valid_prefix = i + 1;
    }
    return length;
}

}  // namespace

bool is_valid_utf8(std::string_view text) noexcept {
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Fast path for runs of ASCII.
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        std::size_t prefix = 0;
        const std::size_t length = sequence_length(text, pos, &prefix);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

std::string to_utf8_lossy(std::string_view text) {
    if (is_valid_utf8(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t prefix = 0;
        const std::size_t length = sequence_length(text, pos, &prefix);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            pos += prefix;
        } else {
            out.append(text.substr(pos, length));
            pos += length;
        }
    }
    return out;
}

}  // namespace quelby
