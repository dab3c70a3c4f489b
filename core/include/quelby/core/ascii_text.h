// ASCII-only text rules for protocol texts: case folding for what is case-insensitive by
// definition (URL schemes and hosts, HTTP header names), blanks and decimal numbers. No locale can
// change their meaning.
#pragma once

#include <algorithm>
#include <concepts>
#include <optional>
#include <string_view>

namespace quelby {

constexpr char ascii_lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool is_ascii_alpha(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ascii_lower(x) == ascii_lower(y);
           });
}

constexpr bool starts_with_ignoring_ascii_case(std::string_view text,
                                               std::string_view prefix) noexcept {
    return text.size() >= prefix.size() &&
           equals_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

// `text` without the spaces and tabs around it (HTTP's optional whitespace).
constexpr std::string_view trim_blanks(std::string_view text) noexcept {
    constexpr std::string_view BLANKS = " \t";
    const std::size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(BLANKS) - first + 1);
}

// A number of decimal digits only (no sign, no blank; leading zeros allowed) whose value is at
// most `max`; nullopt for anything else, an empty text included.
template <std::unsigned_integral T>
constexpr std::optional<T> parse_decimal(std::string_view text, T max) noexcept {
    if (text.empty()) {
        return std::nullopt;
    }
    T value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<T>(c - '0');
        if (digit > max || value > (max - digit) / 10) {
            return std::nullopt;
        }
        value = static_cast<T>(value * 10 + digit);
    }
    return value;
}

}  // namespace quelby
