// The GTK backend's pure rules: the language it gives WebKit, the response headers it lets through,
// where downloads go, which schemes it can serve, and how a missing library or function is
// reported.
#include <gtest/gtest.h>

#include <set>

#include "download_rules.h"
#include "gtk_api.h"
#include "gtk_scheme.h"
#include "language_tag.h"
#include "quelby/webview_host/response_header_rules.h"
#include "quelby/webview_host/scheme_rules.h"

namespace quelby::webview_host::gtk {
namespace {

TEST(LanguageTag, ConvertsPosixLocalesAndFallsBackForAnythingElse) {
    const std::pair<const char*, const char*> cases[] = {
        {"de_DE.UTF-8", "de-DE"},
        {"en_GB", "en-GB"},
        {"fr", "fr"},
        {"pt_BR@euro", "pt-BR"},
        {"es_419.UTF-8", "es-419"},
        {"DE_de", "de-DE"},
        {"fil_PH.UTF-8", "fil-PH"},
        {"C", "en-US"},
        {"C.UTF-8", "en-US"},
        {"POSIX", "en-US"},
        {"", "en-US"},
        {"english", "en-US"},
        {"de_DEU", "en-US"},
        {"d1_DE", "en-US"},
        {"de_", "en-US"},
        {"de-DE", "en-US"},
        {"_DE", "en-US"},
        {"de_DE_x", "en-US"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(language_tag_for_locale(in), out) << "for \"" << in << "\"";
    }
}

TEST(LanguageTag, TakesTheLocaleVariablesInTheCLibrarysOrder) {
    const char* saved[3] = {};
    const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string copies[3];
    for (int i = 0; i < 3; ++i) {
        if (const char* value = std::getenv(names[i])) {
            copies[i] = value;
            saved[i] = copies[i].c_str();
        }
    }
    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "de_AT.UTF-8", 1);
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(user_interface_locale(), "de_AT.UTF-8");
    setenv("LC_ALL", "it_IT", 1);
    EXPECT_EQ(user_interface_locale(), "it_IT");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(user_interface_locale(), "fr_FR.UTF-8");
    unsetenv("LANG");
    EXPECT_EQ(user_interface_locale(), "");
    for (int i = 0; i < 3; ++i) {
        if (saved[i] != nullptr)
            setenv(names[i], saved[i], 1);
    }
}

TEST(HeaderFilter, LetsThroughOnlyTabAndVisibleAsciiInValuesAndTokensInNames) {
    EXPECT_TRUE(is_sendable_header_value(""));
    EXPECT_TRUE(is_sendable_header_value("text/html; charset=utf-8"));
    EXPECT_TRUE(is_sendable_header_value("a\tb ~!"));
    for (const char* bad : {"a\rb", "a\nSet-Cookie: x=1", "\x7f", "caf\xc3\xa9", "\x1f"}) {
        EXPECT_FALSE(is_sendable_header_value(bad)) << "value with a byte outside tab/0x20..0x7E";
    }
    EXPECT_FALSE(is_sendable_header_value(std::string_view("a\0b", 3)));
    EXPECT_TRUE(is_header_name_token("content-type"));
    EXPECT_TRUE(is_header_name_token("X-Custom_1.~"));
    for (const char* bad : {"", "content type", "a:b", "a\r\nb", "caf\xc3\xa9", "(x)"}) {
        EXPECT_FALSE(is_header_name_token(bad)) << "name \"" << bad << "\"";
    }
    EXPECT_TRUE(is_sendable_header(ResponseHeader{.name = "x-ok", .value = "1"}));
    EXPECT_FALSE(is_sendable_header(ResponseHeader{.name = "x-bad", .value = "1\r\n2"}));
    EXPECT_FALSE(is_sendable_header(ResponseHeader{.name = "x bad", .value = "1"}));
}

TEST(DownloadPath, KeepsTheSuggestedNameInsideTheFolderAndNeverOverwrites) {
    EXPECT_EQ(download_file_name("trace.json"), "trace.json");
    EXPECT_EQ(download_file_name("../../etc/passwd"), "passwd");
    EXPECT_EQ(download_file_name("..\\..\\evil.bat"), "evil.bat");
    EXPECT_EQ(download_file_name("dir/"), "download");
    EXPECT_EQ(download_file_name(".."), "download");
    EXPECT_EQ(download_file_name(""), "download");
    EXPECT_EQ(download_file_name("a\nb\x01.txt"), "ab.txt");

    const std::filesystem::path folder = "/home/u/Downloads";
    std::set<std::filesystem::path> taken;
    auto exists = [&](const std::filesystem::path& p) { return taken.count(p) > 0; };
    EXPECT_EQ(download_destination(folder, "profile.cpuprofile", exists),
              folder / "profile.cpuprofile");
    taken = {folder / "profile.cpuprofile", folder / "profile (1).cpuprofile"};
    EXPECT_EQ(download_destination(folder, "profile.cpuprofile", exists),
              folder / "profile (2).cpuprofile");
    taken = {folder / "README"};
    EXPECT_EQ(download_destination(folder, "../README", exists), folder / "README (1)");
}

TEST(SchemeNames, AcceptsPrivateSchemesAndRefusesTheEnginesOwn) {
    for (const char* ok : {"devtools", "app", "my-app+x.v2"}) {
        EXPECT_TRUE(is_registrable_scheme(ok)) << ok;
    }
    for (const char* bad : {"", "http", "https", "file", "data", "blob", "about", "ws", "1app",
                            "Devtools", "dev tools", "dev:tools"}) {
        EXPECT_FALSE(is_registrable_scheme(bad)) << bad;
    }
}

TEST(LibraryLoading, ReportsAMissingLibraryOrFunctionByName) {
    auto missing = open_library("libquelby-no-such-library.so.0");
    ASSERT_FALSE(missing);
    ASSERT_EQ(missing.error().messages().size(), 2u);
    EXPECT_EQ(missing.error().messages()[0], "could not load libquelby-no-such-library.so.0");
    EXPECT_NE(missing.error().messages()[1].find("libquelby-no-such-library.so.0"),
              std::string::npos);

    auto libc = open_library("libc.so.6");
    ASSERT_TRUE(libc) << libc.error().messages().front();
    EXPECT_TRUE(find_symbol(*libc, "libc.so.6", "strlen"));
    auto absent = find_symbol(*libc, "libc.so.6", "webkit_web_view_new");
    ASSERT_FALSE(absent);
    EXPECT_EQ(absent.error().messages(),
              std::vector<std::string>{"libc.so.6 has no function webkit_web_view_new"});
}

}  // namespace
}  // namespace quelby::webview_host::gtk
