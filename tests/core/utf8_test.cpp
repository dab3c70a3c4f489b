#include "quelby/core/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace quelby {
namespace {

TEST(Utf8, ValidatesStrictlyAndRepairsLossily) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},
        {"ascii", true},
        {"\xC2\xA9", true},
        {"\xE2\x80\x94", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\x80", false},
        {"\xC0\xAF", false},
        {"\xC1\xBF", false},
        {"\xE0\x80\xAF", false},
        {"\xED\xA0\x80", false},
        {"\xF4\x90\x80\x80", false},
        {"\xF5\x80\x80\x80", false},
        {"\xE2\x80", false},
        {"\xFF", false},
        {std::string("a\0b", 3), true},
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(is_valid_utf8(text), valid);
        EXPECT_TRUE(is_valid_utf8(to_utf8_lossy(text)));
        if (valid) {
            EXPECT_EQ(to_utf8_lossy(text), text);
        }
    }
    EXPECT_EQ(to_utf8_lossy("a\xFF"
                            "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(to_utf8_lossy("\xE2\x80"
                            "x"),
              "\xEF\xBF\xBD"
              "x");
}

}  // namespace
}  // namespace quelby
