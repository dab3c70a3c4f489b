// The program's side of the front end's embedder over the recording fake backend: which page
// messages are served, what goes back to the page (replies, streamed resources, events), and what
// reaches the settings file, the zoom, the desktop and the Save dialog.
#include "quelby/window/frontend_host_services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "quelby/resources/file_url.h"
#include "quelby/webview_host/fake_host.h"
#include "support/temporary_folder.h"

namespace quelby {
namespace {

namespace fake = webview_host::fake;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using test_support::read_file;
using test_support::TemporaryFolder;
using test_support::write_file;

constexpr std::string_view TOKEN = "00112233445566778899aabbccddeeff";

std::string request(long long id, std::string_view method, json args,
                    json token = json(std::string(TOKEN))) {
    return json{
        {"token", std::move(token)}, {"id", id}, {"method", method}, {"args", std::move(args)}}
        .dump();
}

class HostServices : public ::testing::Test {
  protected:
    HostServices() {
        fake::reset({});
        loop_.emplace(webview_host::create_event_loop());
        window_.emplace(webview_host::create_window(*loop_, {.title = "test"}).value());
        web_view_.emplace(webview_host::WebViewBuilder().build(*window_).value());
    }

    // The services over the settings file as it is now; small chunks, so that a few kilobytes
    // make many and the bound on chunks in flight is reached.
    void start() {
        services_.emplace(
            *window_, webview_host::loop_poster(*loop_),
            SettingsStore::open(settings_file_,
                                [this](std::string_view line) { diagnostics_.emplace_back(line); }),
            std::string(TOKEN), [this](std::string_view line) { diagnostics_.emplace_back(line); },
            LoadLimits{.max_bytes = 1U << 20U, .chunk_bytes = 5});
        services_->attach(*web_view_);
    }

    void page_sends(const std::string& text) { services_->on_page_message(text); }

    [[nodiscard]] static std::vector<json> to_page() {
        std::vector<json> messages;
        for (const std::string& text : fake::record().to_page) {
            messages.push_back(json::parse(text));  // throws, failing the test, if not JSON
        }
        return messages;
    }

    // Runs the loop's posted tasks until the page has a message that `match` accepts.
    std::optional<json> await_page_message(const std::function<bool(const json&)>& match) {
        std::optional<json> found;
        fake::run_posted_tasks_until(
            *loop_,
            [&] {
                for (const json& message : to_page()) {
                    if (match(message)) {
                        found = message;
                        return true;
                    }
                }
                return false;
            },
            5s);
        return found;
    }
    std::optional<json> await_reply(long long id) {
        return await_page_message(
            [id](const json& m) { return m.contains("id") && m["id"] == id; });
    }
    std::optional<json> await_event(std::string_view name) {
        return await_page_message(
            [name](const json& m) { return m.contains("event") && m["event"] == name; });
    }

    [[nodiscard]] json settings_written() const {
        return json::parse(read_file(settings_file_), nullptr, false);
    }

    TemporaryFolder folder_;
    fs::path settings_file_ = folder_.path() / "config" / SETTINGS_FILE_NAME;
    std::vector<std::string> diagnostics_;
    std::optional<webview_host::EventLoop> loop_;
    std::optional<webview_host::Window> window_;
    std::optional<webview_host::WebView> web_view_;
    std::optional<FrontendHostServices> services_;  // last: gone before the web view and loop
};

TEST_F(HostServices, AMessageWithoutTheTokenIsIgnoredWithOneDiagnostic) {
    start();
    const std::vector<std::string> foreign = {
        "not json",
        "[1,2]",
        R"({"id":1,"method":"getPreferences","args":[]})",
        request(1, "getPreferences", json::array(), "ffffffffffffffffffffffffffffffff"),
        request(2, "setPreference", {"theme", "dark"}, std::string(TOKEN.substr(1))),
        request(3, "setPreference", {"theme", "dark"}, std::string(TOKEN) + "0"),
        request(4, "openInNewTab", {"https://example.com/"}, ""),
        request(5, "setZoomFactor", {2.0}, 12345),
        request(6, "getPreferences", json::array(), nullptr),
    };
    for (std::size_t i = 0; i < foreign.size(); ++i) {
        page_sends(foreign[i]);
        EXPECT_EQ(diagnostics_.size(), i + 1) << foreign[i];
    }
    EXPECT_TRUE(fake::record().to_page.empty());
    EXPECT_TRUE(fake::record().opened.empty());
    EXPECT_EQ(fake::record().zoom_factors, std::vector<double>{1.0});  // the build's start factor
    EXPECT_FALSE(fs::exists(settings_file_));
}

TEST_F(HostServices, ATokenedMessageOfTheWrongShapeIsDroppedNotThrown) {
    start();
    const std::vector<std::string> malformed = {
        R"({"token":")" + std::string(TOKEN) + R"(","id":"seven","method":"getPreferences"})",
        R"({"token":")" + std::string(TOKEN) + R"(","id":1,"method":42})",
        R"({"token":")" + std::string(TOKEN) +
            R"(","id":1,"method":"openInNewTab","args":{"0":"https://a/"}})",
        R"({"token":")" + std::string(TOKEN) +
            R"(","id":1,"method":"setPreference","args":"theme"})",
    };
    for (const std::string& text : malformed) {
        const std::size_t before = diagnostics_.size();
        EXPECT_NO_THROW(page_sends(text)) << text;
        EXPECT_EQ(diagnostics_.size(), before + 1) << text;
    }
    EXPECT_TRUE(fake::record().to_page.empty());
    EXPECT_TRUE(fake::record().opened.empty());
    EXPECT_FALSE(fs::exists(settings_file_));
}

TEST_F(HostServices, PreferencesAreServedFromAndWrittenToTheSettingsFile) {
    fs::create_directories(settings_file_.parent_path());
    write_file(settings_file_, R"({"preferences":{"theme":"\"dark\"","old":"1"},"zoomFactor":1})");
    start();
    page_sends(request(7, "getPreferences", json::array()));
    EXPECT_EQ(to_page(), std::vector<json>{json::parse(
                             R"({"id":7,"result":{"preferences":{"theme":"\"dark\"","old":"1"},)"
                             R"("fresh":false}})")});

    page_sends(request(0, "setPreference", {"panel", "sources"}));
    page_sends(request(0, "removePreference", {"old"}));
    EXPECT_EQ(settings_written()["preferences"],
              json::parse(R"({"theme":"\"dark\"","panel":"sources"})"));
    page_sends(request(8, "getPreferences", json::array()));
    EXPECT_EQ(to_page().back(),
              json::parse(R"({"id":8,"result":{"preferences":{"theme":"\"dark\"",)"
                          R"("panel":"sources"},"fresh":false}})"));

    page_sends(request(0, "clearPreferences", json::array()));
    EXPECT_EQ(settings_written()["preferences"], json::object());
    EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(HostServices, TheFirstRunWithoutASettingsFileIsFresh) {
    start();
    page_sends(request(1, "getPreferences", json::array()));
    EXPECT_EQ(to_page(), std::vector<json>{
                             json::parse(R"({"id":1,"result":{"preferences":{},"fresh":true}})")});
}

TEST_F(HostServices, ALocalFileIsStreamedThenAnswered) {
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += "line " + std::to_string(i) + " \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n";
    }
    const fs::path map = folder_.path() / "app one.js.map";
    write_file(map, text);
    start();
    page_sends(request(3, "loadNetworkResource", {file_url_of(map), "", 11}));
    const auto answer = await_reply(3);
    ASSERT_TRUE(answer) << "no reply";
    EXPECT_EQ((*answer)["result"], json::parse(R"({"statusCode":200,"headers":{}})"));

    std::string streamed;
    bool after_reply = false;
    for (const json& message : to_page()) {
        if (message.contains("id")) {
            after_reply = true;
        } else {
            ASSERT_EQ(message["stream"], 11);
            EXPECT_FALSE(after_reply) << "a chunk arrived after the reply";
            streamed += message["chunk"].get<std::string>();
        }
    }
    EXPECT_EQ(streamed, text);
    EXPECT_GT(fake::record().to_page.size(), 100U) << "streamed in chunks, not whole";
    EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(HostServices, LoadsUnderWayAtTheSameTimeKeepTheirStreamsApart) {
    const fs::path first = folder_.path() / "first.map";
    const fs::path second = folder_.path() / "second.map";
    write_file(first, std::string(3000, 'a'));
    write_file(second, std::string(2000, 'b'));
    start();
    page_sends(request(1, "loadNetworkResource", {file_url_of(first), "", 21}));
    page_sends(request(2, "loadNetworkResource", {file_url_of(second), "", 22}));
    ASSERT_TRUE(await_reply(1));
    ASSERT_TRUE(await_reply(2));
    std::map<int, std::string> streams;
    for (const json& message : to_page()) {
        if (message.contains("stream")) {
            streams[message["stream"].get<int>()] += message["chunk"].get<std::string>();
        }
    }
    EXPECT_EQ(streams[21], std::string(3000, 'a'));
    EXPECT_EQ(streams[22], std::string(2000, 'b'));
}

TEST_F(HostServices, AMissingFileIsAnsweredWithItsNetworkErrorAndNoContent) {
    start();
    page_sends(
        request(4, "loadNetworkResource", {file_url_of(folder_.path() / "none.map"), "", 12}));
    const auto answer = await_reply(4);
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["result"], json::parse(R"({"statusCode":404,"headers":{},"netError":-6,)"
                                               R"("netErrorName":"net::ERR_FILE_NOT_FOUND"})"));
    EXPECT_EQ(fake::record().to_page.size(), 1U);
    fake::run_posted_tasks_until(
        *loop_, [&] { return !diagnostics_.empty(); }, 2s);
    EXPECT_EQ(diagnostics_.size(), 1U);
}

TEST_F(HostServices, ALoadThePageNeverTakesDoesNotHoldTheWindowsEnd) {
    const fs::path big = folder_.path() / "big.map";
    write_file(big, std::string(1U << 19U, 'x'));
    start();
    page_sends(request(5, "loadNetworkResource", {file_url_of(big), "", 13}));
    std::this_thread::sleep_for(50ms);  // the load fills its chunks in flight and waits
    const auto begin = std::chrono::steady_clock::now();
    services_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
}

TEST_F(HostServices, OnlyWebLinksOpenInTheBrowser) {
    start();
    const std::vector<std::string> opened = {"https://example.com/docs", "http://127.0.0.1:9/x",
                                             "HTTPS://EXAMPLE.COM/"};
    const std::vector<std::string> refused = {"javascript:alert(1)",
                                              "file:///etc/passwd",
                                              "file:///tmp/run.desktop",
                                              "devtools://localhost/js_app.html",
                                              "",
                                              "data:text/html,<b>x</b>"};
    for (const std::string& url : opened) {
        page_sends(request(0, "openInNewTab", {url}));
    }
    EXPECT_TRUE(diagnostics_.empty());
    for (const std::string& url : refused) {
        page_sends(request(0, "openInNewTab", {url}));
    }
    EXPECT_EQ(fake::record().opened, opened);
    EXPECT_EQ(diagnostics_.size(), refused.size());

    // The folder of a file the front end shows opens in the file manager.
    page_sends(request(0, "showItemInFolder", {"/tmp/project/app.js"}));
    page_sends(request(0, "showItemInFolder", {"relative/app.js"}));
    ASSERT_EQ(fake::record().opened.size(), opened.size() + 1);
    EXPECT_EQ(fake::record().opened.back(), "file:///tmp/project");
    EXPECT_TRUE(fake::record().to_page.empty());
}

TEST_F(HostServices, SaveThenAppendWriteTheChosenFileAndTellThePage) {
    const fs::path chosen = folder_.path() / "saved log.txt";
    fake::answer_save_dialogs_with(chosen);
    start();
    const std::string url = "http://host/logs/console.log?x=1";
    page_sends(request(0, "save", {url, "first", false, false}));
    const auto saved = await_event("savedURL");
    ASSERT_TRUE(saved);
    EXPECT_EQ((*saved)["args"], json::array({url, chosen.string()}));
    EXPECT_EQ(read_file(chosen), "first");
    EXPECT_EQ(fake::record().save_suggestions, std::vector<std::string>{"console.log"});

    page_sends(request(0, "append", {url, " second"}));
    EXPECT_EQ(read_file(chosen), "first second");
    EXPECT_EQ(to_page().back(),
              json::parse(R"({"event":"appendedToURL","args":[")" + url + R"("]})"));

    // The same URL saved again goes to the same file without asking, unless asked to.
    page_sends(request(0, "save", {url, "again", false, false}));
    ASSERT_TRUE(fake::run_posted_tasks_until(
        *loop_, [] { return fake::record().to_page.size() == 3; }, 5s));
    EXPECT_EQ(read_file(chosen), "again");
    EXPECT_EQ(fake::record().save_suggestions.size(), 1U);
    page_sends(request(0, "save", {url, "as", true, false}));
    ASSERT_TRUE(fake::run_posted_tasks_until(
        *loop_, [] { return fake::record().to_page.size() == 4; }, 5s));
    EXPECT_EQ(fake::record().save_suggestions.size(), 2U);
    EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(HostServices, BinarySavesAreDecodedFromBase64AndBadBase64LeavesTheFileAlone) {
    const fs::path chosen = folder_.path() / "profile.bin";
    fake::answer_save_dialogs_with(chosen);
    start();
    page_sends(request(0, "save", {"trace.bin", "AP8AaGVsbG8=", false, true}));
    ASSERT_TRUE(await_event("savedURL"));
    EXPECT_EQ(read_file(chosen), std::string("\x00\xFF\x00hello", 8));

    page_sends(request(0, "save", {"other.bin", "not base64!", false, true}));
    const auto canceled = await_event("canceledSaveURL");
    ASSERT_TRUE(canceled);
    EXPECT_EQ((*canceled)["args"], json::array({"other.bin"}));
    EXPECT_EQ(read_file(chosen), std::string("\x00\xFF\x00hello", 8))
        << "a failed save destroyed what the file held";
    bool alerted = false;
    for (const json& message : to_page()) {
        alerted = alerted || message.contains("alert");
    }
    EXPECT_TRUE(alerted);
}

TEST_F(HostServices, ACancelledOrFailedSaveIsReportedToThePage) {
    start();  // the dialog answers "cancel" unless told otherwise
    page_sends(request(0, "save", {"http://h/a.json", "{}", false, false}));
    const auto canceled = await_event("canceledSaveURL");
    ASSERT_TRUE(canceled);
    EXPECT_EQ((*canceled)["args"], json::array({"http://h/a.json"}));
    EXPECT_EQ(fake::record().save_suggestions, std::vector<std::string>{"a.json"});

    // Appending to what was never saved writes nothing.
    page_sends(request(0, "append", {"http://h/a.json", "more"}));
    EXPECT_EQ(fake::record().to_page.size(), 1U);
    EXPECT_EQ(diagnostics_.size(), 1U);

    // A path that cannot be written: the page is told, and nothing is remembered for appends.
    fake::answer_save_dialogs_with(folder_.path() / "no such folder" / "b.json");
    page_sends(request(0, "save", {"http://h/b.json", "{}", false, false}));
    ASSERT_TRUE(fake::run_posted_tasks_until(
        *loop_, [] { return fake::record().to_page.size() >= 3; }, 5s));
    const auto messages = to_page();
    EXPECT_TRUE(messages[1].contains("alert"));
    EXPECT_EQ(messages[2],
              json::parse(R"({"event":"canceledSaveURL","args":["http://h/b.json"]})"));
    page_sends(request(0, "append", {"http://h/b.json", "more"}));
    EXPECT_EQ(fake::record().to_page.size(), 3U);
}

TEST_F(HostServices, TheZoomFactorReachesTheWebViewAndTheSettingsFile) {
    start();
    page_sends(request(0, "setZoomFactor", {1.25}));
    page_sends(request(0, "setZoomFactor", {9}));        // beyond the front end's last step
    page_sends(request(0, "setZoomFactor", {"large"}));  // not a factor: nothing happens
    EXPECT_EQ(fake::record().zoom_factors, (std::vector<double>{1.0, 1.25, 5.0}));
    EXPECT_EQ(services_->zoom_factor(), 5.0);
    EXPECT_EQ(settings_written()["zoomFactor"], 5.0);
    EXPECT_EQ(SettingsStore::open(settings_file_, {}).zoom_factor(), 5.0);
}

TEST_F(HostServices, AnUnknownRequestIsReported) {
    start();
    page_sends(request(9, "launchMissiles", json::array()));
    EXPECT_EQ(diagnostics_.size(), 1U);
    EXPECT_TRUE(fake::record().to_page.empty());
}

TEST(DecodedBase64, DecodesWhatTheFrontEndEncodesAndRefusesTheRest) {
    struct Case {
        std::string_view text;
        std::optional<std::string> bytes;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"aGVsbG8=", "hello"},
        {"aGVsbA==", "hell"},
        {"aGVsbG8h", "hello!"},
        {"aGVsbG8", "hello"},  // padding left out
        {"QQ", "A"},
        {"AP8A", std::string("\x00\xFF\x00", 3)},
        {"+/+/", "\xFB\xFF\xBF"},
        {"aGVs bG8=", std::nullopt},
        {"aGVsbG8=\n", std::nullopt},
        {"aGVsbG8=QQ", std::nullopt},  // data after the padding
        {"QQ=A", std::nullopt},
        {"Q===", std::nullopt},
        {"Q", std::nullopt},  // six bits make no byte
        {"QUJD\x80", std::nullopt},
        {"-_-_", std::nullopt},  // the URL-safe alphabet is another encoding
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decoded_base64(c.text), c.bytes) << c.text;
    }
}

TEST(SuggestedSaveName, TheLastSegmentWithoutWhatNoFileSystemTakes) {
    struct Case {
        std::string_view url;
        std::string_view name;
    };
    const std::vector<Case> cases = {
        {"http://host/dir/app.log", "app.log"},
        {"http://host/dir/app.log?x=1#top", "app.log"},
        {"Heap-20260101T120000.heapsnapshot", "Heap-20260101T120000.heapsnapshot"},
        {"C:\\Users\\u\\trace.json", "trace.json"},
        {"file:///tmp/\xC3\xA9t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9.txt"},
        {"http://host/a:b*c|d<e>f\".txt", "abcdef.txt"},
        {"http://host/tab\there\x01\x7F.txt", "tabhere.txt"},
        {"http://host/dir/", "download"},
        {"http://host/..", "download"},
        {"http://host/.", "download"},
        {"http://host/:*", "download"},
        {"", "download"},
        {"?only=query", "download"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(suggested_save_name(c.url), c.name) << c.url;
    }
}

}  // namespace
}  // namespace quelby
