// The web platform features the embedded front end uses, checked in a real WebKitGTK web view with
// the page scripts the program adds: every feature the engine lacks must be in the expectation
// file, as polyfilled (and then working) or unfixed (with a reason), and every entry of the file
// must still be used by the front end and still be missing, so that the file stays true.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quelby/core/byte_text.h"
#include "quelby/webview_host/host.h"
#include "support/child_process.h"
#include "x11/desktop_session.h"
#include "x11/gtk_loop.h"

// Sanitizer builds: LeakSanitizer crashes while scanning the dynamic TLS of WebKit's threads at
// exit, so leak checking is off in this process; address errors are still caught. (Read only by
// sanitizer runtimes.)
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}

namespace quelby {
namespace {

namespace host = webview_host;
using nlohmann::json;
using test_support::Clock;
using x11_testing::pump_until;

const std::filesystem::path COMPAT_DIR = QUELBY_COMPAT_DIR;
const std::filesystem::path FRONTEND_DIR = QUELBY_TEST_FRONTEND_DIR;
const std::filesystem::path SOURCE_DIR = QUELBY_SOURCE_DIR;

std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// What the scheme handler serves. Response bodies must outlive every request, so they live here
// for the rest of the process.
struct Served {
    std::string page;
    std::string script;
    std::string features;
};
Served& served() {
    static Served files;
    return files;
}

void serve(std::string_view /*webview_id*/, const host::Request& request,
           host::Responder responder) {
    const std::string path = request.uri.substr(0, request.uri.find('?'));
    const auto answer = [&](std::string_view type, const std::string& body) {
        const host::ResponseHeader headers[] = {{"content-type", type}};
        responder.respond(
            host::Response{.status = 200, .headers = headers, .body = text_bytes(body)});
    };
    if (path == "devtools://localhost/probe.html") {
        answer("text/html; charset=utf-8", served().page);
    } else if (path == "devtools://localhost/probe.js") {
        answer("text/javascript; charset=utf-8", served().script);
    } else if (path == "devtools://localhost/features.json") {
        answer("application/json", served().features);
    } else {
        static const std::string not_found = "Not Found";
        const host::ResponseHeader headers[] = {{"content-type", "text/plain"}};
        responder.respond(
            host::Response{.status = 404, .headers = headers, .body = text_bytes(not_found)});
    }
}

std::string key(const json& entry) {
    return entry.at("kind").get<std::string>() + " " + entry.at("name").get<std::string>();
}

class CompatMatrix : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session_.emplace();
        // The web view runs in this process: it takes the session's display, home and locale.
        for (const auto& [name, value] : session_->env()) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    static void TearDownTestSuite() { session_.reset(); }

    static inline std::optional<x11_testing::DesktopSession> session_;
};

TEST_F(CompatMatrix, EveryFeatureTheFrontEndUsesWorksInWebKitGtkOrIsAnExpectedGap) {
    // The features the front end uses.
    const test_support::ProcessResult generated = test_support::run_process(
        {"node", (COMPAT_DIR / "list_features.mjs").string(), FRONTEND_DIR.string()});
    ASSERT_EQ(generated.exit_code, 0) << generated.err;
    const json features = json::parse(generated.out);
    ASSERT_TRUE(features.is_array());
    std::map<std::string, int> per_kind;
    for (const json& feature : features) {
        ++per_kind[feature.at("kind").get<std::string>()];
    }
    for (const char* kind : {"property", "selector", "at-rule", "function", "api"}) {
        EXPECT_GT(per_kind[kind], 0) << "the generator found no feature of kind " << kind;
    }

    // Each checked in the real web view, with the program's own page scripts.
    served() = {read_file(COMPAT_DIR / "probe.html"), read_file(COMPAT_DIR / "probe.js"),
                generated.out};
    ASSERT_FALSE(served().page.empty());
    ASSERT_FALSE(served().script.empty());
    // The program's compatibility script, as it embeds it, runs after the backend's own scripts.
    const std::string frontend_compat =
        read_file(SOURCE_DIR / "inspector/window/src/frontend_compat.js");
    ASSERT_FALSE(frontend_compat.empty());
    host::EventLoop loop = host::create_event_loop();
    auto window = host::create_window(loop, host::WindowAttributes{.title = "compat matrix"});
    ASSERT_TRUE(window) << window.error().messages().front();
    std::optional<std::string> message;
    auto view = host::WebViewBuilder()
                    .register_scheme("devtools", serve)
                    .add_page_script(frontend_compat)
                    .on_page_message([&](std::string_view text) { message.emplace(text); })
                    .set_url("devtools://localhost/probe.html")
                    .build(*window);
    ASSERT_TRUE(view) << view.error().messages().front();
    ASSERT_TRUE(pump_until([&] { return message.has_value(); }, std::chrono::seconds(40)))
        << "the probe page posted no results";
    const json report = json::parse(*message);
    ASSERT_FALSE(report.contains("error")) << report.at("error");
    const json& results = report.at("results");
    ASSERT_EQ(results.size(), features.size()) << "the probe page skipped features";

    const json expectations = json::parse(read_file(COMPAT_DIR / "webkitgtk_expectations.json"));
    std::map<std::string, const json*> expected;
    std::vector<std::string> problems;
    for (const json& entry : expectations.at("features")) {
        if (!expected.emplace(key(entry), &entry).second) {
            problems.push_back(key(entry) + ": listed twice in the expectations");
        }
    }

    std::vector<std::string> used;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const json& result = results[i];
        const std::string name = key(result);
        if (name != key(features[i])) {
            problems.push_back(name + ": reported in place of " + key(features[i]));
            continue;
        }
        used.push_back(name);
        const bool native = result.at("native").get<bool>();
        const bool effective = result.at("effective").get<bool>();
        const std::string detail = result.value("detail", "");
        const auto found = expected.find(name);
        if (native) {
            if (found != expected.end()) {
                problems.push_back(name +
                                   ": WebKitGTK has it now; remove it from the expectations");
            }
            continue;
        }
        if (found == expected.end()) {
            problems.push_back(name + ": missing in WebKitGTK" +
                               (effective ? " (a page script provides it)" : "") +
                               " and not in the expectations" +
                               (detail.empty() ? "" : " [" + detail + "]"));
            continue;
        }
        const std::string status = found->second->value("status", "");
        if (status == "polyfilled" && !effective) {
            problems.push_back(name + ": expected to be polyfilled by " +
                               found->second->value("polyfill", "?") + ", but it does not work" +
                               (detail.empty() ? "" : " [" + detail + "]"));
        } else if (status == "unfixed" && effective) {
            problems.push_back(name +
                               ": listed as unfixed, but a page script makes it work; "
                               "mark it polyfilled");
        }
    }

    for (const auto& [name, entry] : expected) {
        if (std::find(used.begin(), used.end(), name) == used.end()) {
            problems.push_back(name + ": in the expectations, but the front end no longer uses it");
        }
        const std::string status = entry->value("status", "");
        if (status == "polyfilled") {
            // "path/in/the/tree [NAME]": the polyfill's file, and the name it has there, must
            // still exist.
            const std::string polyfill = entry->value("polyfill", "");
            const std::size_t space = polyfill.find(' ');
            const std::string source = read_file(SOURCE_DIR / polyfill.substr(0, space));
            if (polyfill.empty() || source.empty() ||
                (space != std::string::npos &&
                 source.find(polyfill.substr(space + 1)) == std::string::npos)) {
                problems.push_back(name + ": its polyfill \"" + polyfill + "\" is not in the tree");
            }
        } else if (status == "unfixed") {
            if (entry->value("reason", "").size() < 20) {
                problems.push_back(name + ": unfixed without a reason");
            }
        } else {
            problems.push_back(name + ": status \"" + status +
                               "\" is neither polyfilled nor unfixed");
        }
    }

    std::ostringstream list;
    for (const std::string& problem : problems) {
        list << "\n  " << problem;
    }
    EXPECT_TRUE(problems.empty())
        << problems.size()
        << " features disagree with tests/compat/webkitgtk_expectations.json:" << list.str();
}

}  // namespace
}  // namespace quelby
