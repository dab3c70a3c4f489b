// The window's settings between runs: what a missing, corrupt or unreadable file gives, that every
// change reaches the file at once and whole, and where the file lives.
#include "quelby/window/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/temporary_folder.h"

namespace quelby {
namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::TemporaryFolder;
using test_support::write_file;

class SettingsFile : public ::testing::Test {
  protected:
    SettingsStore open() {
        return SettingsStore::open(
            file_, [this](std::string_view line) { diagnostics_.emplace_back(line); });
    }
    [[nodiscard]] nlohmann::json written() const {
        return nlohmann::json::parse(read_file(file_), nullptr, false);
    }

    TemporaryFolder folder_;
    fs::path file_ = folder_.path() / "quelby_inspector" / SETTINGS_FILE_NAME;
    std::vector<std::string> diagnostics_;
};

TEST_F(SettingsFile, AMissingFileGivesFreshDefaultsAndWritesNothing) {
    const SettingsStore store = open();
    EXPECT_TRUE(store.fresh());
    EXPECT_TRUE(store.preferences().empty());
    EXPECT_EQ(store.zoom_factor(), 1.0);
    EXPECT_TRUE(diagnostics_.empty());
    EXPECT_FALSE(fs::exists(file_.parent_path()));
}

TEST_F(SettingsFile, EveryChangeIsWrittenAtOnceAndReadBack) {
    {
        SettingsStore store = open();
        ASSERT_TRUE(store.set_preference("theme", "\"dark\""));
        ASSERT_TRUE(store.set_preference("panel", "sources"));
        ASSERT_TRUE(store.set_preference("gone", "soon"));
        ASSERT_TRUE(store.remove_preference("gone"));
        ASSERT_TRUE(store.remove_preference("never-set"));
    }
    SettingsStore reopened = open();
    EXPECT_FALSE(reopened.fresh());
    EXPECT_EQ(reopened.preferences(),
              (std::map<std::string, std::string>{{"panel", "sources"}, {"theme", "\"dark\""}}));

    ASSERT_TRUE(reopened.clear_preferences());
    EXPECT_TRUE(open().preferences().empty());
    for (const auto& entry : fs::directory_iterator(file_.parent_path())) {
        EXPECT_EQ(entry.path().filename(), file_.filename()) << "left behind: " << entry.path();
    }
    EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(SettingsFile, TextFromThePageOfAnyKindIsKeptOrRepairedNeverLost) {
    const std::string awkward = "line\nbreak \"quoted\" \\ tab\t \xC3\xA9 \xF0\x9F\x98\x80";
    {
        SettingsStore store = open();
        ASSERT_TRUE(store.set_preference(awkward, awkward));
        // Broken UTF-8 must not make the write fail or throw.
        ASSERT_TRUE(store.set_preference("broken",
                                         "a\xFF"
                                         "b"));
    }
    const SettingsStore reopened = open();
    EXPECT_EQ(reopened.preferences().at(awkward), awkward);
    EXPECT_EQ(reopened.preferences().at("broken"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST_F(SettingsFile, TheZoomFactorIsKeptWithinTheFrontEndsStepsAndPersisted) {
    struct ZoomCase {
        double asked;
        double kept;
    };
    const std::vector<ZoomCase> cases = {
        {1.5, 1.5},
        {0.25, 0.25},
        {5.0, 5.0},
        {0.1, 0.25},
        {-2.0, 0.25},
        {7.0, 5.0},
        {std::numeric_limits<double>::infinity(), 1.0},
        {std::numeric_limits<double>::quiet_NaN(), 1.0},
    };
    for (const ZoomCase& c : cases) {
        SettingsStore store = open();
        ASSERT_TRUE(store.set_zoom_factor(c.asked));
        EXPECT_EQ(store.zoom_factor(), c.kept) << c.asked;
        EXPECT_EQ(open().zoom_factor(), c.kept) << c.asked;
        EXPECT_TRUE(written().is_object()) << c.asked;
    }
    // A factor out of range written by hand is brought back within range.
    write_file(file_, R"({"preferences":{},"zoomFactor":40})");
    EXPECT_EQ(open().zoom_factor(), 5.0);
    EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(SettingsFile, ACorruptFileGivesDefaultsOneLineAndIsKeptBeside) {
    const std::vector<std::string> corrupt = {
        "not json {",
        "",
        "[1, 2, 3]",
        "\"text\"",
        R"({"preferences": ["a", "b"]})",
        R"({"preferences": "dark"})",
    };
    const fs::path kept = fs::path(file_) += ".corrupt";
    for (const std::string& text : corrupt) {
        SCOPED_TRACE(text);
        diagnostics_.clear();
        fs::remove(kept);
        fs::create_directories(file_.parent_path());
        write_file(file_, text);

        SettingsStore store = open();
        EXPECT_TRUE(store.preferences().empty());
        EXPECT_EQ(store.zoom_factor(), 1.0);
        ASSERT_EQ(diagnostics_.size(), 1U);
        EXPECT_EQ(diagnostics_[0].find('\n'), std::string::npos);
        EXPECT_NE(diagnostics_[0].find(file_.string()), std::string::npos) << diagnostics_[0];
        ASSERT_TRUE(fs::exists(kept));
        EXPECT_EQ(read_file(kept), text);

        // The next change writes a valid file; the kept copy stays untouched.
        ASSERT_TRUE(store.set_preference("after", "yes"));
        EXPECT_EQ(written()["preferences"]["after"], "yes");
        EXPECT_EQ(read_file(kept), text);
        EXPECT_EQ(open().preferences().at("after"), "yes");
        EXPECT_EQ(diagnostics_.size(), 1U);
    }
}

TEST_F(SettingsFile, AnUnreadableFileGivesDefaultsAndOneLine) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root: file permissions do not stop this process";
    }
    fs::create_directories(file_.parent_path());
    write_file(file_, R"({"preferences":{"a":"1"}})");
    ASSERT_EQ(::chmod(file_.c_str(), 0), 0);
    const SettingsStore store = open();
    EXPECT_TRUE(store.preferences().empty());
    EXPECT_EQ(diagnostics_.size(), 1U);
}

TEST_F(SettingsFile, AFolderThatCannotBeCreatedFailsTheWriteAndKeepsTheValue) {
    write_file(folder_.path() / "plain", "a file, not a folder");
    file_ = folder_.path() / "plain" / "quelby_inspector" / SETTINGS_FILE_NAME;
    SettingsStore store = open();
    const Status written = store.set_preference("theme", "dark");
    ASSERT_FALSE(written);
    EXPECT_FALSE(written.error().messages().empty());
    EXPECT_EQ(store.preferences().at("theme"), "dark");
    EXPECT_FALSE(store.set_zoom_factor(2.0));
    EXPECT_EQ(store.zoom_factor(), 2.0);
}

TEST(SettingsWithoutAFile, LiveForTheRunOnly) {
    SettingsStore store = SettingsStore::open(std::nullopt, {});
    EXPECT_TRUE(store.fresh());
    ASSERT_TRUE(store.set_preference("a", "1"));
    ASSERT_TRUE(store.set_zoom_factor(2.0));
    EXPECT_EQ(store.preferences().at("a"), "1");
    EXPECT_EQ(store.zoom_factor(), 2.0);
}

// Sets (or unsets, with nullopt) a variable for one test and puts the old value back.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value)
        : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) {
            old_ = old;
        }
        set(value);
    }
    ~ScopedEnvironment() { set(old_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    void set(const std::optional<std::string>& value) const {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    std::string name_;
    std::optional<std::string> old_;
};

TEST(SettingsFolder, FollowsXdgConfigHomeWhenAbsoluteThenHome) {
    struct FolderCase {
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::optional<fs::path> folder;
    };
    const std::vector<FolderCase> cases = {
        {"/cfg", "/home/u", fs::path("/cfg/quelby_inspector")},
        {"/cfg/\xC3\xA9", std::nullopt, fs::path(u8"/cfg/\u00e9/quelby_inspector")},
        {"relative/cfg", "/home/u", fs::path("/home/u/.config/quelby_inspector")},
        {"", "/home/u", fs::path("/home/u/.config/quelby_inspector")},
        {std::nullopt, "/home/u", fs::path("/home/u/.config/quelby_inspector")},
        {"relative", std::nullopt, std::nullopt},
        {std::nullopt, "", std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const FolderCase& c : cases) {
        const ScopedEnvironment xdg("XDG_CONFIG_HOME", c.xdg);
        const ScopedEnvironment home("HOME", c.home);
        EXPECT_EQ(settings_folder(), c.folder) << "XDG_CONFIG_HOME=" << c.xdg.value_or("(unset)")
                                               << " HOME=" << c.home.value_or("(unset)");
    }
}

}  // namespace
}  // namespace quelby
