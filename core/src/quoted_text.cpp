#include "quelby/core/quoted_text.h"

#include <algorithm>
#include <cstdint>

#include "quelby/core/utf8.h"

namespace quelby {

std::string code_point_name(char32_t code_point) {
    constexpr std::string_view DIGITS = "0123456789ABCDEF";
    std::string hex;
    for (auto value = static_cast<std::uint32_t>(code_point); value != 0 || hex.size() < 4;
         value >>= 4) {
        hex.insert(hex.begin(), DIGITS[value & 0xF]);
    }
    return "U+" + hex;
}

std::string quote_peer_text(std::string_view text, Layout layout) {
    std::string out;
    out.reserve(std::min(text.size(), QUOTE_LIMIT) + 32);
    std::size_t pos = 0;
    while (pos < text.size() && pos < QUOTE_LIMIT) {
        const Utf8Sequence sequence = next_utf8_sequence(text, pos);
        if (sequence.length == 0) {
            out += "\xEF\xBF\xBD";
            pos += sequence.valid_prefix;
            continue;
        }
        const char32_t c = sequence.code_point;
        const bool kept = layout == Layout::Keep &&
                          (c == '\n' || c == '\t' ||
                           (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n'));
        if (is_control_character(c) && !kept) {
            out += '<';
            out += code_point_name(c);
            out += '>';
        } else {
            out.append(text.substr(pos, sequence.length));
        }
        pos += sequence.length;
    }
    if (pos < text.size()) {
        out += "\xE2\x80\xA6 (" + std::to_string(text.size()) + " bytes in all)";
    }
    return out;
}

std::optional<ControlCharacter> find_control_character(std::string_view text) noexcept {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const Utf8Sequence sequence = next_utf8_sequence(text, pos);
        if (sequence.length == 0) {
            pos += sequence.valid_prefix;
            continue;
        }
        if (is_control_character(sequence.code_point)) {
            return ControlCharacter{pos, sequence.code_point};
        }
        pos += sequence.length;
    }
    return std::nullopt;
}

}  // namespace quelby
