// Peer text as reports quote it: escaped control characters, valid UTF-8, a bounded size.
#include "quelby/core/quoted_text.h"

#include <gtest/gtest.h>

#include "quelby/core/utf8.h"

namespace quelby {
namespace {

TEST(QuotePeerText, EscapesWhatSteersATerminalAndKeepsTheLayout) {
    struct Case {
        std::string text;
        std::string quoted;
    };
    const std::vector<Case> cases = {
        {"[]", "[]"},
        {"[\n  {\"a\": 1}\n]", "[\n  {\"a\": 1}\n]"},
        {"a\tb\r\nc", "a\tb\r\nc"},
        {"ws://x\n", "ws://x\n"},
        {"\x1B]0;pwned\a\x1B[2J", "<U+001B>]0;pwned<U+0007><U+001B>[2J"},
        {std::string("a\0b", 3), "a<U+0000>b"},
        {"a\rb", "a<U+000D>b"},  // a lone CR would overwrite the line
        {"a\r", "a<U+000D>"},
        {"\x7F", "<U+007F>"},
        {"\xC2\x9B"
         "31m",
         "<U+009B>31m"},  // C1 CSI
        {"caf\xC3\xA9 \xE2\x80\xA6", "caf\xC3\xA9 \xE2\x80\xA6"},
        {"tru\xC3", "tru\xEF\xBF\xBD"},
        {"\xFF\xFE", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\\u001b", "\\u001b"},  // JSON escapes are text, quoted as they are
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(quote_peer_text(c.text), c.quoted);
    }
    EXPECT_EQ(quote_peer_text("a\nb\tc\r\n", Layout::Escape),
              "a<U+000A>b<U+0009>c<U+000D><U+000A>");
}

TEST(QuotePeerText, CapsLongTextBetweenCharacters) {
    const std::string exact(QUOTE_LIMIT, 'x');
    EXPECT_EQ(quote_peer_text(exact), exact);

    const std::string longer(15 * 1024 * 1024, 'x');
    EXPECT_EQ(quote_peer_text(longer),
              std::string(QUOTE_LIMIT, 'x') + "\xE2\x80\xA6 (15728640 bytes in all)");

    // A two-byte character straddling the limit is kept whole.
    const std::string straddling = std::string(QUOTE_LIMIT - 1, 'x') + "\xC3\xA9" + "tail";
    const std::string quoted = quote_peer_text(straddling);
    EXPECT_EQ(quoted, std::string(QUOTE_LIMIT - 1, 'x') + "\xC3\xA9\xE2\x80\xA6 (" +
                          std::to_string(straddling.size()) + " bytes in all)");
    EXPECT_TRUE(is_valid_utf8(quoted));

    // Escapes grow the text at most eightfold: the quote stays bounded.
    const std::string controls(QUOTE_LIMIT * 2, '\x1B');
    EXPECT_LE(quote_peer_text(controls).size(), QUOTE_LIMIT * 8 + 64);
}

TEST(FindControlCharacter, FindsTheFirstWithItsOffset) {
    EXPECT_FALSE(find_control_character("127.0.0.1:9229/abc").has_value());
    EXPECT_FALSE(find_control_character("h\xC3\xA9/\xF0\x9F\x98\x80").has_value());
    const auto newline = find_control_character("ab\ncd\x1B");
    ASSERT_TRUE(newline.has_value());
    EXPECT_EQ(newline->offset, 2U);
    EXPECT_EQ(newline->code_point, U'\n');
    const auto c1 = find_control_character("\xC3\xA9\xC2\x85");
    ASSERT_TRUE(c1.has_value());
    EXPECT_EQ(c1->offset, 2U);
    EXPECT_EQ(c1->code_point, U'\x85');
    EXPECT_EQ(find_control_character(std::string_view("\0", 1))->code_point, U'\0');
    EXPECT_EQ(code_point_name(U'\x1B'), "U+001B");
    EXPECT_EQ(code_point_name(U'\x1F600'), "U+1F600");
}

}  // namespace
}  // namespace quelby
