#include "quelby/core/percent_encoding.h"

namespace quelby {

std::optional<std::string> percent_decoded(std::string_view text, PlusSign plus) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+' && plus == PlusSign::Space) {
            out.push_back(' ');
            continue;
        }
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const int high = i + 1 < text.size() ? ascii_hex_value(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? ascii_hex_value(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::string percent_encoded(std::string_view text, std::string_view also_plain) {
    constexpr std::string_view HEX = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           also_plain.find(c) != std::string_view::npos;
        if (plain) {
            out.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(HEX[byte >> 4U]);
            out.push_back(HEX[byte & 0xFU]);
        }
    }
    return out;
}

}  // namespace quelby
