// The table as generated from the pinned front-end build, checked against that build on disk.
#include "quelby/assets/asset_table.h"
#include "quelby/core/byte_text.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace quelby {
namespace {

namespace fs = std::filesystem;

std::array<std::uint8_t, SHA256_SIZE> sha256_of(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, SHA256_SIZE> digest{};
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr),
              1);
    EXPECT_EQ(length, SHA256_SIZE);
    return digest;
}

TEST(AssetTableContents, HoldsTheFrontEndInStrictByteWiseOrder) {
    const auto entries = AssetTable::entries();
    ASSERT_FALSE(entries.empty());
    ASSERT_NE(AssetTable::lookup("js_app.html"), nullptr);
    std::size_t total = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const AssetEntry& entry = entries[i];
        SCOPED_TRACE(std::string(entry.path));
        total += entry.bytes.size();
        EXPECT_FALSE(entry.bytes.empty());
        EXPECT_EQ(sha256_of(entry.bytes), entry.sha256);
        EXPECT_FALSE(entry.path.empty());
        EXPECT_NE(entry.path.front(), '/');
        EXPECT_EQ(entry.path.find('\\'), std::string_view::npos);
        // Every file system reports a modification time; a creation time is optional.
        EXPECT_TRUE(entry.last_modified.has_value());
        if (i > 0) {
            // string_view compares through char_traits<char>: unsigned bytes, shorter first.
            EXPECT_LT(entries[i - 1].path, entry.path);
        }
    }
    if (QUELBY_TEST_PINNED_FRONTEND == 0) {
        return;  // a front-end directory of the builder's own: only the rules above hold
    }
    // The pinned npm build, stored with LF line ends (920 bytes for js_app.html with CRLF).
    EXPECT_EQ(entries.size(), 640u);
    EXPECT_EQ(total, 12'534'363u);
    EXPECT_EQ(AssetTable::lookup("js_app.html")->bytes.size(), 892u);
    EXPECT_EQ(entries.front().path, "Images/3d-center.svg");
    EXPECT_EQ(entries.back().path, "worker_app.html");
    // Upper case sorts before lower case.
    const auto position = [&](std::string_view path) {
        return std::find_if(entries.begin(), entries.end(),
                            [&](const AssetEntry& e) { return e.path == path; }) -
               entries.begin();
    };
    EXPECT_LT(position("Tests.js"), position("chii_app.html"));
}

TEST(AssetTableContents, EveryFileOfTheFrontEndDirectoryIsEmbeddedVerbatim) {
    const fs::path root = QUELBY_TEST_FRONTEND_DIR;
    std::map<std::string, fs::path> on_disk;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->is_regular_file() && !it->is_symlink()) {
            on_disk.emplace(fs::relative(it->path(), root).generic_string(), it->path());
        }
    }
    ASSERT_EQ(on_disk.size(), AssetTable::entries().size());
    for (const auto& [path, file] : on_disk) {
        SCOPED_TRACE(path);
        const AssetEntry* entry = AssetTable::lookup(path);
        ASSERT_NE(entry, nullptr);
        std::ifstream in(file, std::ios::binary);
        const std::string content{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
        EXPECT_EQ(as_text(entry->bytes), content);
        const auto modified = std::chrono::floor<std::chrono::seconds>(
            std::chrono::file_clock::to_sys(fs::last_write_time(file)));
        EXPECT_EQ(entry->last_modified,
                  static_cast<std::uint64_t>(modified.time_since_epoch().count()));
    }
}

TEST(AssetTableLookup, FindsOnlyExactPathsAfterBackslashConversion) {
    struct Case {
        std::string_view key;
        std::string_view found;  // empty: nothing found
    };
    const Case cases[] = {
        {"js_app.html", "js_app.html"},
        {"Images/3d-center.svg", "Images/3d-center.svg"},
        {"worker_app.html", "worker_app.html"},
        {"Images\\3d-center.svg", "Images/3d-center.svg"},
        {"core\\i18n\\locales\\en-US.json", "core/i18n/locales/en-US.json"},
        {"/js_app.html", ""},   // no leading '/' is removed
        {"\\js_app.html", ""},  // ... nor one written as a backslash
        {"js_app.html/", ""},   // nor a trailing one
        {"images/3d-center.svg", ""},
        {"JS_APP.HTML", ""},
        {"", ""},  // no default document here
        {"Images", ""},
        {"Images/", ""},
        {"js_app.htm", ""},
        {"js_app.html5", ""},
        {"Images/../js_app.html", ""},
        {"./js_app.html", ""},
        {"js%5Fapp.html", ""},
        {"Images%2F3d-center.svg", ""},
        {"!", ""},  // sorts before the first entry
        {"Images/3d-center.sv", ""},
        {"zzz", ""},  // after the last entry
        {"worker_app.html0", ""},
        {"\xff", ""},  // high bytes sort last, unsigned
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key));
        const AssetEntry* entry = AssetTable::lookup(c.key);
        if (c.found.empty()) {
            EXPECT_EQ(entry, nullptr);
        } else {
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->path, c.found);
        }
    }
    // A NUL inside the key is part of it, not its end.
    EXPECT_EQ(AssetTable::lookup(std::string_view("js_app.html\0", 12)), nullptr);
}

TEST(AssetTableLookup, EveryEntryIsFoundAtItsOwnAddress) {
    for (const AssetEntry& entry : AssetTable::entries()) {
        EXPECT_EQ(AssetTable::lookup(entry.path), &entry) << entry.path;
    }
}

}  // namespace
}  // namespace quelby
