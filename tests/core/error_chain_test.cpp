#include "quelby/core/error_chain.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace quelby {
namespace {

// Built the way errors travel: deepest first, then each context on top.
ErrorChain chain_of(const std::vector<std::string>& outermost_first) {
    ErrorChain chain = ErrorChain::from_message(outermost_first.back());
    for (auto it = outermost_first.rbegin() + 1; it != outermost_first.rend(); ++it) {
        chain = std::move(chain).with_context(*it);
    }
    return chain;
}

TEST(ErrorChainReport, FormatsEachShapeOfChain) {
    struct Case {
        const char* name;
        std::vector<std::string> links;
        std::string report;
    };
    const std::vector<Case> cases = {
        {"single link", {"usage: x"}, "Error: usage: x\n"},
        {"one cause is indented by four blanks",
         {"failed to read", "no webSocketDebuggerUrl in inspector /json: []"},
         "Error: failed to read\n\nCaused by:\n    no webSocketDebuggerUrl in inspector /json: "
         "[]\n"},
        {"several causes are numbered from zero",
         {"outer", "connect to inspector at 127.0.0.1:9229", "Connection refused (os error 111)"},
         "Error: outer\n\nCaused by:\n    0: connect to inspector at 127.0.0.1:9229\n"
         "    1: Connection refused (os error 111)\n"},
        {"multi-line single cause lines up under four blanks",
         {"outer", "body: [\n  {\n  }\n]"},
         "Error: outer\n\nCaused by:\n    body: [\n      {\n      }\n    ]\n"},
        {"multi-line numbered cause lines up under seven blanks",
         {"outer", "mid", "a\nb"},
         "Error: outer\n\nCaused by:\n    0: mid\n    1: a\n       b\n"},
        {"outermost message is printed verbatim, newlines included",
         {"two\nlines"},
         "Error: two\nlines\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ErrorChain chain = chain_of(c.links);
        EXPECT_EQ(chain.messages(), c.links);
        EXPECT_EQ(format_report(chain), c.report);
    }
}

TEST(ErrorChainReport, NumbersPastNineStayRightAligned) {
    ErrorChain chain = ErrorChain::from_message("deepest");
    for (int i = 0; i < 11; ++i) {
        chain = std::move(chain).with_context("link " + std::to_string(i));
    }
    const std::string report = format_report(chain);
    EXPECT_NE(report.find("\n    9: link 0\n   10: deepest\n"), std::string::npos) << report;
}

// A hint stays with the link it was given to, however many contexts come on top, and lines up
// under that link's message.
TEST(ErrorChainReport, AHintStaysUnderItsLink) {
    const ErrorChain alone = ErrorChain::from_message("refused").with_hint("hint: try again");
    EXPECT_EQ(format_report(alone), "Error: refused\nhint: try again\n");
    EXPECT_EQ(alone.messages(), std::vector<std::string>{"refused"});

    const ErrorChain deep = ErrorChain::from_message("refused")
                                .with_hint("hint: try again")
                                .with_context("connect to a:1")
                                .with_context("failed to read a:1");
    EXPECT_EQ(format_report(deep),
              "Error: failed to read a:1\n\nCaused by:\n"
              "    0: connect to a:1\n"
              "    1: refused\n"
              "       hint: try again\n");
    EXPECT_TRUE(deep.hints_of(0).empty());
    ASSERT_EQ(deep.hints_of(2).size(), 1U);
    EXPECT_EQ(deep.hints_of(2)[0], "hint: try again");

    const ErrorChain middle = ErrorChain::from_message("refused")
                                  .with_context("connect to a:1")
                                  .with_hint("hint: is it running?")
                                  .with_context("failed");
    EXPECT_EQ(format_report(middle),
              "Error: failed\n\nCaused by:\n    0: connect to a:1\n       hint: is it running?\n"
              "    1: refused\n");
}

TEST(ErrorChainOsError, AppendsTheCodeToTheSystemText) {
    const ErrorChain chain = ErrorChain::from_os_error(ECONNREFUSED);
    ASSERT_EQ(chain.messages().size(), 1U);
    const std::string& message = chain.messages().front();
    const std::string suffix = " (os error " + std::to_string(ECONNREFUSED) + ")";
    ASSERT_GT(message.size(), suffix.size());
    EXPECT_EQ(message.substr(message.size() - suffix.size()), suffix);
    // Never an empty description, even for a code the system does not know.
    const std::string unknown = ErrorChain::from_os_error(987654).messages().front();
    EXPECT_GT(unknown.find(" (os error 987654)"), 0U);
    EXPECT_NE(unknown.find(" (os error 987654)"), std::string::npos);
}

TEST(BacktraceSwitches, LibrarySwitchWinsAndZeroMeansOff) {
    using Opt = std::optional<std::string_view>;
    struct Case {
        Opt lib;
        Opt general;
        bool wanted;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, false},
        {std::nullopt, "1", true},
        {std::nullopt, "0", false},
        {"0", "1", false},
        {"1", "0", true},
        {"full", std::nullopt, true},
        {"", std::nullopt, true},
        {"00", std::nullopt, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(backtrace_wanted(c.lib, c.general), c.wanted)
            << "lib=" << c.lib.value_or("<unset>") << " general=" << c.general.value_or("<unset>");
    }
}

}  // namespace
}  // namespace quelby
