// ASCII-only case folding, for the protocol texts that are case-insensitive by definition (URL
// schemes and hosts, HTTP header names): no locale can change their meaning.
#pragma once

#include <algorithm>
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

}  // namespace quelby
