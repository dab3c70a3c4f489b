// The search itself, over small hand-made tables, independent of the embedded front end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "quelby/assets/asset_table.h"

namespace quelby {
namespace {

// Sorted paths "k000", "k002", ...: every odd number is a gap to search for.
struct Table {
    std::vector<std::string> paths;
    std::vector<AssetEntry> entries;

    explicit Table(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            paths.push_back(key(2 * i));
        }
        for (const std::string& path : paths) {
            entries.push_back(AssetEntry{path, {}, {}, {}, {}});
        }
    }
    static std::string key(std::size_t number) {
        char text[16];
        std::snprintf(text, sizeof text, "k%03zu", number);
        return text;
    }
};

const AssetEntry* probe(std::span<const AssetEntry> entries, std::string_view key) {
    return find_asset_entry(entries, key, [](std::string_view path, std::string_view wanted) {
        return path.compare(wanted);
    });
}

TEST(AssetSearch, EmptyTableFindsNothing) {
    EXPECT_EQ(probe({}, ""), nullptr);
    EXPECT_EQ(probe({}, "js_app.html"), nullptr);
    EXPECT_EQ(lookup_asset({}, "js_app.html"), nullptr);
    EXPECT_EQ(lookup_asset({}, ""), nullptr);
}

// For every size up to 130 and every key present, between, before and after the entries, the
// search finds exactly the present ones.
TEST(AssetSearch, FindsExactlyThePresentKeys) {
    for (std::size_t n = 1; n <= 130; ++n) {
        const Table table(n);
        for (std::size_t number = 0; number <= 2 * n; ++number) {
            const std::string key = Table::key(number);
            SCOPED_TRACE("n=" + std::to_string(n) + " key=" + key);
            if (number % 2 == 0 && number / 2 < n) {
                EXPECT_EQ(probe(table.entries, key), &table.entries[number / 2]);
            } else {
                EXPECT_EQ(probe(table.entries, key), nullptr);
            }
        }
        EXPECT_EQ(probe(table.entries, "a"), nullptr);  // before the first
        EXPECT_EQ(probe(table.entries, "z"), nullptr);  // after the last
    }
}

TEST(AssetSearch, ComparesAsUnsignedBytesWithTheShorterPrefixFirst) {
    // "a-b" < "a/b" < "a0" < "ab" < "b" < "\x80" in byte order; a signed comparison would put
    // "\x80" first and lose it.
    const std::vector<std::string> paths = {"A",  "a",  "a-b", "a/b",  "a/b/c",
                                            "a0", "ab", "b",   "\x80", "\xff"};
    std::vector<AssetEntry> entries;
    for (const std::string& path : paths) {
        entries.push_back(AssetEntry{path, {}, {}, {}, {}});
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(lookup_asset(entries, paths[i]), &entries[i]) << i;
    }
    EXPECT_EQ(lookup_asset(entries, "a\\b"), &entries[3]);
    EXPECT_EQ(lookup_asset(entries, "a\\b\\c"), &entries[4]);
    EXPECT_EQ(lookup_asset(entries, "a/"), nullptr);
    EXPECT_EQ(lookup_asset(entries, "B"), nullptr);
}

TEST(AssetSearch, KeyNormalisationOnlyTurnsBackslashesIntoSlashes) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"\\", "/"},
        {"\\\\a\\b\\", "//a/b/"},
        {"/Images/../x%5C.JS", "/Images/../x%5C.JS"},
        {" a b ", " a b "},
    };
    for (const auto& [key, normalised] : cases) {
        EXPECT_EQ(normalise_asset_key(key), normalised) << key;
    }
}

}  // namespace
}  // namespace quelby
