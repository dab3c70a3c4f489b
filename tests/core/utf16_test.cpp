// UTF-16 <-> UTF-8 at the Windows API boundary: wide command lines, environment and texts.
#include <gtest/gtest.h>

#include "quelby/core/utf16.h"

namespace quelby {
namespace {

TEST(Utf16ToUtf8, ConvertsBmpAndSupplementaryCharacters) {
    EXPECT_EQ(utf16_to_utf8(u"quelby \u2014 script inspector"),
              "quelby \xe2\x80\x94 script inspector");
    EXPECT_EQ(utf16_to_utf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(utf16_to_utf8(u""), "");
}

TEST(Utf16ToUtf8, ReplacesUnpairedSurrogates) {
    const char16_t high_alone[] = {u'a', 0xD83D, u'b', 0};
    EXPECT_EQ(utf16_to_utf8(high_alone),
              "a\xef\xbf\xbd"
              "b");
    const char16_t low_alone[] = {0xDE00, u'x', 0};
    EXPECT_EQ(utf16_to_utf8(low_alone), "\xef\xbf\xbdx");
    const char16_t high_at_end[] = {u'x', 0xD800, 0};
    EXPECT_EQ(utf16_to_utf8(high_at_end), "x\xef\xbf\xbd");
    const char16_t reversed_pair[] = {0xDC00, 0xD800, 0};
    EXPECT_EQ(utf16_to_utf8(reversed_pair), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(Utf8ToUtf16, RoundTripsValidText) {
    const std::string text = "a\xc3\xa9\xe2\x80\x94\xf0\x9f\x98\x80z";
    const std::u16string wide = utf8_to_utf16(text);
    EXPECT_EQ(wide, u"a\u00e9\u2014\U0001F600z");
    EXPECT_EQ(utf16_to_utf8(wide), text);
}

TEST(Utf8ToUtf16, ReplacesIllFormedBytes) {
    EXPECT_EQ(utf8_to_utf16("a\xff"
                            "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf8_to_utf16("\xc0\xaf"), u"\uFFFD\uFFFD");                      // overlong
    EXPECT_EQ(utf8_to_utf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
    EXPECT_EQ(utf8_to_utf16("\xe2\x80"), u"\uFFFD\uFFFD");                      // truncated
    EXPECT_EQ(utf8_to_utf16("\xf4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
}

TEST(Utf16, WellFormedOnlyWithEverySurrogatePaired) {
    EXPECT_TRUE(is_well_formed_utf16(u""));
    EXPECT_TRUE(is_well_formed_utf16(u"a\u00e9\u2014"));
    EXPECT_TRUE(is_well_formed_utf16(u"\U0001F600x"));  // a pair
    const char16_t lone_high[] = {u'a', 0xD83D, u'b'};
    const char16_t lone_low[] = {0xDE00, u'b'};
    const char16_t reversed[] = {0xDE00, 0xD83D};
    const char16_t trailing_high[] = {u'a', 0xD83D};
    for (const std::u16string_view bad :
         {std::u16string_view(lone_high, 3), std::u16string_view(lone_low, 2),
          std::u16string_view(reversed, 2), std::u16string_view(trailing_high, 2)}) {
        EXPECT_FALSE(is_well_formed_utf16(bad));
    }
}

}  // namespace
}  // namespace quelby
