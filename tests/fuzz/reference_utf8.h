// A second UTF-8 decoder for the fuzz targets, written from the definition rather than from the
// byte table the program uses: a sequence is its lead's length in bytes, each continuation is
// 10xxxxxx, and the value must be the shortest form, not a surrogate and at most U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quelby::fuzz {

// The length a lead byte announces (0: not a lead byte).
inline std::size_t announced_length(std::uint8_t lead) {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        return 4;
    }
    return 0;
}

inline char32_t smallest_for_length(std::size_t length) {
    return length == 1 ? 0 : length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
}

// Whether some code point in [low, high] is a scalar value allowed for `length` bytes.
inline bool range_allows(char32_t low, char32_t high, std::size_t length) {
    const char32_t min = smallest_for_length(length);
    const char32_t max = 0x10FFFF;
    const auto overlaps = [&](char32_t a, char32_t b) { return low <= b && high >= a; };
    return overlaps(min, std::min<char32_t>(max, 0xD7FF)) ||
           overlaps(std::max<char32_t>(min, 0xE000), max);
}

// The well-formed sequence at text[pos]: its length (0 when there is none) and its value.
struct Decoded {
    std::size_t length = 0;
    char32_t value = 0;
};
inline Decoded decode_at(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<std::uint8_t>(text[pos]);
    const std::size_t length = announced_length(lead);
    if (length == 0 || pos + length > text.size()) {
        return {};
    }
    char32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return {};
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (!range_allows(value, value, length)) {
        return {};
    }
    return {length, value};
}

// The longest prefix of text[pos...] that some continuation could still make well-formed (at
// least 1): the maximal subpart that one U+FFFD replaces.
inline std::size_t maximal_subpart(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<std::uint8_t>(text[pos]);
    const std::size_t length = announced_length(lead);
    if (length < 2) {
        return 1;
    }
    std::size_t best = 1;
    char32_t bits = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length && pos + k < text.size(); ++k) {
        const auto next = static_cast<std::uint8_t>(text[pos + k]);
        if ((next & 0xC0) != 0x80) {
            break;
        }
        bits = (bits << 6) | (next & 0x3F);
        const std::size_t missing = length - k - 1;
        const char32_t low = bits << (6 * missing);
        const char32_t high = low | ((char32_t{1} << (6 * missing)) - 1);
        if (!range_allows(low, high, length)) {
            break;
        }
        best = k + 1;
    }
    // The lead alone must also allow some value, or it stands alone.
    return best;
}

inline void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

inline bool reference_valid(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded decoded = decode_at(text, pos);
        if (decoded.length == 0) {
            return false;
        }
        pos += decoded.length;
    }
    return true;
}

// Whether well-formed `text` is fit for a terminal: no C0 or C1 control and no DEL, except, with
// `layout`, line feeds, tabs and the CR of a CR LF.
inline bool fit_for_terminal(std::string_view text, bool layout) {
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded decoded = decode_at(text, pos);
        if (decoded.length == 0) {
            return false;
        }
        const char32_t c = decoded.value;
        const bool kept = layout && (c == '\n' || c == '\t' ||
                                     (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n'));
        if ((c <= 0x1F || (c >= 0x7F && c <= 0x9F)) && !kept) {
            return false;
        }
        pos += decoded.length;
    }
    return true;
}

}  // namespace quelby::fuzz
