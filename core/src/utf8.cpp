#include "quelby/core/utf8.h"

#include <cstdint>

namespace quelby {
Utf8Sequence next_utf8_sequence(std::string_view text, std::size_t pos) noexcept {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    Utf8Sequence sequence;
    if (lead < 0x80) {
        sequence.length = 1;
        sequence.code_point = lead;
        return sequence;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    char32_t code_point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;  // no overlong forms
        } else if (lead == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;  // no overlong forms
        } else if (lead == 0xF4) {
            high = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        return sequence;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (pos + i >= text.size()) {
            return sequence;
        }
        const std::uint8_t next = byte(pos + i);
        const std::uint8_t lo = i == 1 ? low : 0x80;
        const std::uint8_t hi = i == 1 ? high : 0xBF;
        if (next < lo || next > hi) {
            return sequence;
        }
        code_point = (code_point << 6) | (next & 0x3F);
        sequence.valid_prefix = i + 1;
    }
    sequence.length = length;
    sequence.code_point = code_point;
    return sequence;
}

bool is_valid_utf8(std::string_view text) noexcept {
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Fast path for runs of ASCII.
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const std::size_t length = next_utf8_sequence(text, pos).length;
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
        const Utf8Sequence sequence = next_utf8_sequence(text, pos);
        if (sequence.length == 0) {
            out += "\xEF\xBF\xBD";
            pos += sequence.valid_prefix;
        } else {
            out.append(text.substr(pos, sequence.length));
            pos += sequence.length;
        }
    }
    return out;
}

}  // namespace quelby
