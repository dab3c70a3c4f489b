// The ASCII text rules that protocol parsers share: blanks and bounded decimal numbers.
#include "quelby/core/ascii_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace quelby {
namespace {

TEST(TrimBlanks, DropsSpacesAndTabsAroundOnly) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {" \t ", ""},
        {"a", "a"},
        {" \tx y\t ", "x y"},
        {"\r\nv\r\n", "\r\nv\r\n"},  // line ends are no optional whitespace
    };
    for (const auto& [text, trimmed] : cases) {
        EXPECT_EQ(trim_blanks(text), trimmed) << text;
    }
}

TEST(ParseDecimal, TakesDigitsOnlyUpToTheBound) {
    const std::pair<std::string_view, std::optional<unsigned>> cases[] = {
        {"0", 0U},
        {"255", 255U},
        {"007", 7U},
        {"256", std::nullopt},
        {"", std::nullopt},
        {"+1", std::nullopt},
        {"-1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"0x1", std::nullopt},
        {"1.0", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(parse_decimal(text, 255U), value) << text;
    }
    // The bound holds whatever the type's width, at its very edge, and below a single digit.
    EXPECT_EQ(parse_decimal<std::uint16_t>("65535", 65535), 65535);
    EXPECT_EQ(parse_decimal<std::uint16_t>("65536", 65535), std::nullopt);
    EXPECT_EQ(parse_decimal("18446744073709551615", std::numeric_limits<std::uint64_t>::max()),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(parse_decimal("18446744073709551616", std::numeric_limits<std::uint64_t>::max()),
              std::nullopt);
    EXPECT_EQ(parse_decimal("5", 5U), 5U);
    EXPECT_EQ(parse_decimal("7", 5U), std::nullopt);
}

}  // namespace
}  // namespace quelby
