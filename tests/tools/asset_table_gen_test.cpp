// The generator's directory walk and the literals it writes, on a small directory of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "asset_emit.h"
#include "asset_scan.h"

namespace quelby::asset_gen {
namespace {

namespace fs = std::filesystem;

class AssetScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("quelby_asset_scan_" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const std::string& relative, const std::string& content) {
        const fs::path file = root_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }

    fs::path root_;
};

TEST_F(AssetScanTest, TakesEveryFileVerbatimSortedByteWiseSkippingDotNamesAndLinks) {
    write("b.js", "b");
    write("a/b.js", std::string("\0\r\n\xff", 4));
    write("a-b.js", "x");
    write("a0.js", "y");
    write("A.js", "");
    write("Z/deep/er/file.md", "z");
    write(".hidden", "h");
    write("a/.git/config", "c");
    write("dir.with.dots/chunk", "d");
    fs::create_symlink(root_ / "b.js", root_ / "link.js");
    fs::create_directory_symlink(root_ / "a", root_ / "linked_dir");

    const auto assets = scan_asset_directory(root_);
    ASSERT_TRUE(assets.has_value()) << assets.error();
    std::vector<std::string> paths;
    for (const ScannedAsset& asset : *assets) {
        paths.push_back(asset.path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"A.js", "Z/deep/er/file.md", "a-b.js", "a/b.js",
                                               "a0.js", "b.js", "dir.with.dots/chunk"}));
    const ScannedAsset& binary = (*assets)[3];
    EXPECT_EQ(binary.bytes, (std::vector<std::uint8_t>{0x00, 0x0d, 0x0a, 0xff}));
    EXPECT_TRUE((*assets)[0].bytes.empty());
    // SHA-256("b"), a published test vector away from the empty string's.
    const std::array<std::uint8_t, 32> sha_of_b = {0x3e, 0x23, 0xe8, 0x16, 0x00, 0x39, 0x59, 0x4a,
                                                   0x33, 0x89, 0x4f, 0x65, 0x64, 0xe1, 0xb1, 0x34,
                                                   0x8b, 0xbd, 0x7a, 0x00, 0x88, 0xd4, 0x2c, 0x4a,
                                                   0xcb, 0x73, 0xee, 0xae, 0xd5, 0x9c, 0x00, 0x9d};
    EXPECT_EQ((*assets)[5].sha256, sha_of_b);

    const auto modified = std::chrono::floor<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(fs::last_write_time(root_ / "b.js")));
    EXPECT_EQ((*assets)[5].last_modified,
              static_cast<std::uint64_t>(modified.time_since_epoch().count()));
}

TEST_F(AssetScanTest, RefusesWhatCouldNeverBeLookedUp) {
    write("ok.js", "1");
    write("bad\\name.js", "2");
    const auto with_backslash = scan_asset_directory(root_);
    ASSERT_FALSE(with_backslash.has_value());
    EXPECT_NE(with_backslash.error().find("bad\\name.js"), std::string::npos);

    EXPECT_FALSE(scan_asset_directory(root_ / "missing").has_value());
    EXPECT_FALSE(scan_asset_directory(root_ / "ok.js").has_value());
}

TEST(AssetEmit, LiteralsKeepEveryByteOfAPath) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Images/3d-center.svg", "\"Images/3d-center.svg\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\b", "\"a\\\\b\""},
        {"a\nb", "\"a\\012b\""},
        {"\xc3\xa9"
         "1",
         "\"\\303\\2511\""},          // octal stays three digits before a digit
        {"?\?=", "\"\\077\\077=\""},  // never a trigraph in generated code
    };
    for (const auto& [bytes, literal] : cases) {
        EXPECT_EQ(cpp_string_literal(bytes), literal);
    }
}

}  // namespace
}  // namespace quelby::asset_gen
