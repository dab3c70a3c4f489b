// The listing of a list too long to show whole (the target list's other cases are table cases:
// tests/cases/discovery/target_list.md).
#include "quelby/discovery/target_list_json.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quelby {
namespace {

TEST(SelectTarget, BoundsTheListingOfAHugeList) {
    std::string body = "[";
    const std::string long_title(300, 't');
    for (int i = 0; i < 150; ++i) {
        body += std::string(i == 0 ? "" : ",") + R"({"id":")" + std::to_string(i) +
                R"(","title":")" + long_title + R"("})";
    }
    body += "]";
    const auto none = select_target(body, "nothing");
    ASSERT_FALSE(none.has_value());
    const std::string& message = none.error().messages().front();
    EXPECT_EQ(std::ranges::count(message, '\n'), 101);
    EXPECT_TRUE(message.ends_with("\n… and 50 more")) << message.substr(message.size() - 100);
    // Each text is cut after 200 bytes.
    EXPECT_NE(message.find("title \"" + std::string(200, 't') + "…\", url"), std::string::npos);
    EXPECT_EQ(message.find(std::string(201, 't')), std::string::npos);
}

}  // namespace
}  // namespace quelby
