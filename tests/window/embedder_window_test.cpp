// The window as the front end's embedder, driven as a user drives it (real keys on a private X
// server) against real node: TypeScript debugged through its source maps, whichever way the map
// reaches the front end; zoom that changes what is drawn and survives a restart.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/node_inspector.h"
#include "support/temporary_folder.h"
#include "x11/desktop_session.h"

namespace quelby::x11_testing {
namespace {

using test_support::ChildProcess;
using test_support::NodeInspector;
using test_support::read_file;
using namespace std::chrono_literals;

// Line 15 of the TypeScript source is `total = add(...)`, between the two prints. The compiled
// file has no line 15 (tsc) or another statement there (the bundle): only a front end that read
// the map puts the breakpoint where the test wants it.
constexpr const char* TS_BREAKPOINT_LINE = "15";

std::filesystem::path npm_tool(const std::string& name) {
    return std::filesystem::path(QUELBY_NPM_TOOLS_DIR) / "node_modules" / ".bin" / name;
}

void run_tool(const std::vector<std::string>& command, const std::filesystem::path& folder) {
    std::vector<std::string> in_folder = {"sh", "-c", "cd \"$0\" && exec \"$@\"", folder.string()};
    in_folder.insert(in_folder.end(), command.begin(), command.end());
    ChildProcess tool(in_folder);
    ASSERT_EQ(tool.wait_exit(Clock::now() + 120s), std::optional<int>(0))
        << command.front() << " failed: " << tool.err() << tool.out();
}

// A project folder holding src/app.ts.
std::filesystem::path new_project(const std::filesystem::path& home) {
    const std::filesystem::path project = home / "project";
    std::filesystem::create_directories(project / "src");
    std::filesystem::copy_file(std::filesystem::path(QUELBY_EMBEDDER_TEST_DIR) / "app.ts",
                               project / "src" / "app.ts");
    return project;
}

// The usual TypeScript build: dist/app.js beside dist/app.js.map.
const std::vector<std::string> TSC_WITH_MAP = {"tsc",      "--sourceMap", "--target",  "es2020",
                                               "--outDir", "dist",        "src/app.ts"};

void build_with(std::vector<std::string> command, const std::filesystem::path& project) {
    command.front() = npm_tool(command.front()).string();
    run_tool(command, project);
}

// How the project is built, and so how its map reaches the front end.
struct Build {
    const char* name;
    std::vector<std::string> command;  // run in the project folder; npm tools by bare name
    const char* script;                // what node runs
    // The script names its map by an http:// URL of a loopback server instead of a file name.
    bool map_over_http = false;
};

void PrintTo(const Build& build, std::ostream* out) {
    *out << build.name;
}

class TypeScriptProject : public ::testing::TestWithParam<Build> {
  protected:
    void SetUp() override {
        project_ = new_project(desktop_.home());
        ASSERT_NO_FATAL_FAILURE(build_with(GetParam().command, project_));
        if (GetParam().map_over_http) {
            ASSERT_NO_FATAL_FAILURE(serve_map_over_http());
        }
    }

    // A dev server for dist/ on a free loopback port, and the script's map comment pointing at it.
    void serve_map_over_http() {
        const std::filesystem::path dist = project_ / "dist";
        map_server_.emplace(
            std::vector<std::string>{"python3", "-u", "-m", "http.server", "--bind", "127.0.0.1",
                                     "--directory", dist.string(), "0"},
            desktop_.env());
        const auto line = map_server_->read_line(10s);
        ASSERT_TRUE(line.has_value()) << map_server_->err();
        const std::size_t port_at = line->find(" port ");
        ASSERT_NE(port_at, std::string::npos) << *line;
        const std::string port =
            line->substr(port_at + 6, line->find(' ', port_at + 6) - port_at - 6);
        const std::filesystem::path script = project_ / GetParam().script;
        std::string text = read_file(script);
        const std::size_t comment = text.rfind("//# sourceMappingURL=");
        ASSERT_NE(comment, std::string::npos);
        text.replace(comment, std::string::npos,
                     "//# sourceMappingURL=http://127.0.0.1:" + port + "/" +
                         script.filename().string() + ".map\n");
        std::ofstream(script, std::ios::trunc) << text;
    }

    DesktopSession desktop_;
    std::filesystem::path project_;
    std::optional<ChildProcess> map_server_;
};

TEST_P(TypeScriptProject, StopsAtATypeScriptLineSetFromTheKeyboard) {
    NodeInspector node({"--inspect-brk=127.0.0.1:0", (project_ / GetParam().script).string()},
                       desktop_.env());
    ChildProcess program({test_support::inspector_binary(), node.address()},
                         desktop_.env_with_page_diagnostics());
    ASSERT_TRUE(node.wait_attached(60s)) << "program stderr:\n" << program.err();
    ASSERT_NE(wait_for_window_titled(desktop_.display(), WINDOW_TITLE, Clock::now() + 10s), 0u);
    ASSERT_TRUE(desktop_.screen_shows(shows_paused_line, 60s))
        << "the paused line is not highlighted; program stderr:\n"
        << program.err();

    // Open the TypeScript source by name, go to the line, set a breakpoint, resume.
    desktop_.open_file("app.ts");
    desktop_.toggle_breakpoint_at(TS_BREAKPOINT_LINE);
    ASSERT_TRUE(desktop_.screen_shows(shows_breakpoint_marker, 20s))
        << "no breakpoint marker; program stderr:\n"
        << program.err();
    desktop_.press({"F8"});

    EXPECT_EQ(output_after_resuming(node.process(), "before 1\n"), "before 1\n")
        << "the debuggee did not stop at app.ts:" << TS_BREAKPOINT_LINE;
    // The front end found a host with every method it asks for.
    EXPECT_EQ(program.err().find("Incompatible embedder"), std::string::npos) << program.err();

    desktop_.close_window();
    EXPECT_EQ(program.wait_exit(Clock::now() + 20s), std::optional<int>(0));
}

INSTANTIATE_TEST_SUITE_P(
    SourceMaps, TypeScriptProject,
    ::testing::Values(
        // The usual build, its map read from disk.
        Build{"TscExternalMap", TSC_WITH_MAP, "dist/app.js"},
        // A bundle with its map beside it.
        Build{"EsbuildExternalMap",
              {"esbuild", "src/app.ts", "--bundle", "--platform=node", "--sourcemap",
               "--outfile=dist/bundle.js"},
              "dist/bundle.js"},
        // The map inside the script, without the sources: they are read from disk.
        Build{"InlineMapWithoutSources",
              {"tsc", "--inlineSourceMap", "--target", "es2020", "--outDir", "dist", "src/app.ts"},
              "dist/app.js"},
        // The map from a dev server (its sources embedded, as a dev server's bundles have them).
        Build{"MapFromALoopbackServer",
              {"esbuild", "src/app.ts", "--bundle", "--platform=node", "--sourcemap",
               "--outfile=dist/bundle.js"},
              "dist/bundle.js",
              true}),
    [](const ::testing::TestParamInfo<Build>& param) { return std::string(param.param.name); });

// How far the panel tabs reach across the window: the rightmost dark pixel of the tab labels' rows
// (below the title bar, in the left part where only the tabs are). Zoom scales it with the factor.
int tab_strip_extent(const Screenshot& shot) {
    constexpr int FIRST_ROW = 22;
    constexpr int LAST_ROW = 45;
    constexpr int DARK = 100;
    int extent = 0;
    for (int y = FIRST_ROW; y < LAST_ROW && y < shot.height; ++y) {
        for (int x = 0; x < shot.width * 6 / 10; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * shot.width + x) * 3;
            if (shot.rgb[i] < DARK && shot.rgb[i + 1] < DARK && shot.rgb[i + 2] < DARK) {
                extent = std::max(extent, x);
            }
        }
    }
    return extent;
}

// A script whose map is missing: the front end is told why, and the compiled script still debugs.
TEST(MissingMap, IsReportedAndTheCompiledScriptStillStopsAtItsBreakpoint) {
    DesktopSession desktop;
    const std::filesystem::path project = new_project(desktop.home());
    ASSERT_NO_FATAL_FAILURE(build_with(TSC_WITH_MAP, project));
    std::filesystem::remove(project / "dist" / "app.js.map");

    NodeInspector node({"--inspect-brk=127.0.0.1:0", (project / "dist" / "app.js").string()},
                       desktop.env());
    ChildProcess program({test_support::inspector_binary(), node.address()},
                         desktop.env_with_page_diagnostics());
    ASSERT_TRUE(node.wait_attached(60s)) << program.err();
    const std::string reason = "cannot load file://" + (project / "dist" / "app.js.map").string() +
                               ": net::ERR_FILE_NOT_FOUND";
    ASSERT_TRUE(program.read_until([&] { return program.err().find(reason) != std::string::npos; },
                                   Clock::now() + 30s))
        << program.err();
    ASSERT_TRUE(desktop.screen_shows(shows_paused_line, 60s));
    // app.js line 9 is `total = add(...)`, between the two prints.
    desktop.open_file("app.js");
    desktop.toggle_breakpoint_at("9");
    ASSERT_TRUE(desktop.screen_shows(shows_breakpoint_marker, 20s));
    desktop.press({"F8"});
    EXPECT_EQ(output_after_resuming(node.process(), "before 1\n"), "before 1\n");
    desktop.close_window();
    EXPECT_EQ(program.wait_exit(Clock::now() + 20s), std::optional<int>(0));
}

// The same project through --serve in headless Chromium: the map and the TypeScript source come
// from disk through the server, with the run's secret from the printed URL.
TEST(ServedFrontEnd, ChromiumShowsTheTypeScriptSourceReadThroughTheServer) {
    const auto chromium = test_support::find_in_path("chromium");
    if (!chromium) {
        GTEST_SKIP() << "chromium is not installed (scripts/install_dependencies.sh)";
    }
    TemporaryHome home;
    const std::filesystem::path project = new_project(home.path());
    ASSERT_NO_FATAL_FAILURE(build_with(TSC_WITH_MAP, project));
    NodeInspector node({"--inspect-brk=127.0.0.1:0", (project / "dist" / "app.js").string()},
                       home.environment());
    ChildProcess program({test_support::inspector_binary(), "--serve", node.address()},
                         home.environment());
    std::string url;
    for (int i = 0; i < 3; ++i) {
        const auto line = program.read_line(10s);
        ASSERT_TRUE(line.has_value()) << program.err();
        if (const std::size_t at = line->find("http://"); at != std::string::npos) {
            url = line->substr(at);
        }
    }
    ASSERT_NE(url.find("&host="), std::string::npos) << url;

    std::vector<EnvChange> env = home.environment();
    env.emplace_back("QUELBY_PLAYWRIGHT",
                     std::string(QUELBY_NPM_TOOLS_DIR) + "/node_modules/playwright-core");
    ChildProcess browser({"node", std::string(QUELBY_EMBEDDER_TEST_DIR) + "/served_source.mjs",
                          *chromium, url, "app.ts", "interface Point"},
                         env);
    EXPECT_EQ(browser.wait_exit(Clock::now() + 120s), std::optional<int>(0))
        << browser.out() << browser.err();
    EXPECT_NE(browser.out().find("shown: interface Point"), std::string::npos) << browser.err();
    program.send_signal(SIGINT);
    EXPECT_EQ(program.wait_exit(Clock::now() + 5s), std::optional<int>(0));
}

// The fraction of pixels that are the same in both shots.
double same_pixels(const Screenshot& a, const Screenshot& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) {
        return 0.0;
    }
    std::size_t same = 0;
    for (std::size_t i = 0; i + 2 < a.rgb.size(); i += 3) {
        same +=
            a.rgb[i] == b.rgb[i] && a.rgb[i + 1] == b.rgb[i + 1] && a.rgb[i + 2] == b.rgb[i + 2];
    }
    return static_cast<double>(same) / static_cast<double>(a.rgb.size() / 3);
}

class Zoom : public ::testing::Test {
  protected:
    // The window on a node that idles, once it shows the front end's chrome.
    std::unique_ptr<ChildProcess> open_window(NodeInspector& node) {
        auto program = std::make_unique<ChildProcess>(
            std::vector<std::string>{test_support::inspector_binary(), node.address()},
            desktop_.env_with_page_diagnostics());
        EXPECT_TRUE(node.wait_attached(60s)) << program->err();
        EXPECT_NE(wait_for_window_titled(desktop_.display(), WINDOW_TITLE, Clock::now() + 10s), 0u);
        std::this_thread::sleep_for(3s);  // the front end's first layout
        return program;
    }
    void close_window(ChildProcess& program) {
        const unsigned long window =
            wait_for_window_titled(desktop_.display(), WINDOW_TITLE, Clock::now() + 5s);
        ASSERT_TRUE(request_window_close(desktop_.display(), window));
        EXPECT_EQ(program.wait_exit(Clock::now() + 20s), std::optional<int>(0));
    }
    // A shot once the screen has stopped changing.
    // The screen once the front end shows its tab strip and stops changing: a window not painted
    // yet is as still as a settled one, so stillness alone is not enough (a slow start under the
    // sanitizers took it for the restarted window's rendering).
    Screenshot settled_shot() {
        Screenshot last = capture_screen(desktop_.display());
        for (int i = 0; i < 60; ++i) {
            std::this_thread::sleep_for(500ms);
            Screenshot next = capture_screen(desktop_.display());
            if (same_pixels(last, next) == 1.0 && tab_strip_extent(next) > 0) {
                return next;
            }
            last = std::move(next);
        }
        return last;
    }

    DesktopSession desktop_;
};

TEST_F(Zoom, KeysZoomTheFrontEndAndTheLevelSurvivesARestart) {
    const std::filesystem::path script = desktop_.home() / "idle.js";
    std::ofstream(script) << "setInterval(() => {}, 1000);\n";
    NodeInspector node({"--inspect=127.0.0.1:0", script.string()}, desktop_.env());

    auto program = open_window(node);
    const Screenshot normal = settled_shot();
    desktop_.press({"ctrl+equal"});
    desktop_.press({"ctrl+equal"});
    const Screenshot zoomed = settled_shot();
    EXPECT_GT(tab_strip_extent(zoomed), tab_strip_extent(normal) * 1.15)
        << "Ctrl+= twice did not enlarge the rendering; program stderr:\n"
        << program->err();
    desktop_.press({"ctrl+0"});
    const Screenshot reset = settled_shot();
    EXPECT_NEAR(tab_strip_extent(reset), tab_strip_extent(normal), 3)
        << "Ctrl+0 did not restore it";

    desktop_.press({"ctrl+equal"});
    desktop_.press({"ctrl+equal"});
    const Screenshot zoomed_again = settled_shot();
    close_window(*program);
    const std::string settings =
        read_file(desktop_.xdg_folder("XDG_CONFIG_HOME") / "quelby_inspector" / "settings.json");
    EXPECT_NE(settings.find("\"zoomFactor\": 1.25"), std::string::npos) << settings;

    // A new run opens at the level the last one ended with.
    program = open_window(node);
    EXPECT_NEAR(tab_strip_extent(settled_shot()), tab_strip_extent(zoomed_again), 3)
        << "the zoom level did not survive a restart";
    close_window(*program);
}

// The window on an idle node whose script runs `prelude` first.
class DesktopUse : public ::testing::Test {
  protected:
    void start(const std::string& prelude) {
        const std::filesystem::path script = desktop_.home() / "debuggee.js";
        std::ofstream(script) << prelude << "\nsetInterval(() => {}, 1000);\n";
        node_.emplace(std::vector<std::string>{"--inspect=127.0.0.1:0", script.string()},
                      desktop_.env());
        program_.emplace(
            std::vector<std::string>{test_support::inspector_binary(), node_->address()},
            desktop_.env_with_page_diagnostics());
        ASSERT_TRUE(node_->wait_attached(60s)) << program_->err();
        ASSERT_NE(wait_for_window_titled(desktop_.display(), WINDOW_TITLE, Clock::now() + 10s), 0u);
    }
    void TearDown() override {
        if (program_) {
            const unsigned long window =
                wait_for_window_titled(desktop_.display(), WINDOW_TITLE, Clock::now() + 5s);
            EXPECT_TRUE(request_window_close(desktop_.display(), window));
            EXPECT_EQ(program_->wait_exit(Clock::now() + 20s), std::optional<int>(0));
        }
    }

    DesktopSession desktop_;
    std::optional<NodeInspector> node_;
    std::optional<ChildProcess> program_;
};

TEST_F(DesktopUse, ALinkInTheConsoleOpensInTheDefaultBrowser) {
    // A browser of the test's own, the default for http and https in this private desktop: it
    // writes down what it was asked to open.
    const std::filesystem::path opened = desktop_.home() / "opened.txt";
    const std::filesystem::path applications =
        desktop_.xdg_folder("XDG_DATA_HOME") / "applications";
    std::filesystem::create_directories(applications);
    std::ofstream(applications / "test-browser.desktop")
        << "[Desktop Entry]\nType=Application\nName=Test browser\nNoDisplay=true\n"
        << "Exec=/bin/sh -c 'printf \"%%s\\\\n\" \"$1\" >> " << opened.string() << "' sh %u\n"
        << "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n";
    std::filesystem::create_directories(desktop_.xdg_folder("XDG_CONFIG_HOME"));
    std::ofstream(desktop_.xdg_folder("XDG_CONFIG_HOME") / "mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/https=test-browser.desktop\n"
        << "x-scheme-handler/http=test-browser.desktop\n";

    ASSERT_NO_FATAL_FAILURE(start("console.log('see https://example.com/quelby-link?a=1&b=2');"));
    constexpr Colour LINK{.red = 11, .green = 87, .blue = 208};
    PixelRun link;
    ASSERT_TRUE(desktop_.screen_shows(
        [&](const Screenshot& shot) {
            // The underline is far longer than any other mark in the link colour.
            link = longest_run_of(shot, LINK, 8);
            return link.length >= 40;
        },
        30s))
        << "no link in the console; program stderr:\n"
        << program_->err();
    // Just above the middle of the underline: on the link's text.
    ChildProcess click({"xdotool", "mousemove", std::to_string(link.x + link.length / 2),
                        std::to_string(link.y - 5), "click", "1"},
                       desktop_.env());
    ASSERT_EQ(click.wait_exit(Clock::now() + 10s), std::optional<int>(0));

    const auto deadline = Clock::now() + 10s;
    while (read_file(opened).empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(read_file(opened), "https://example.com/quelby-link?a=1&b=2\n") << "program stderr:\n"
                                                                              << program_->err();
}

TEST_F(DesktopUse, AHeapSnapshotIsSavedWhereTheSaveDialogSays) {
    ASSERT_NO_FATAL_FAILURE(
        start("globalThis.kept = Array.from({length: 1000}, (_, i) => ({i}));"));
    std::this_thread::sleep_for(3s);  // the front end's first layout
    // Memory panel, take a snapshot, save it.
    desktop_.press({"ctrl+shift+p"});
    std::this_thread::sleep_for(700ms);
    desktop_.type("Show Memory");
    std::this_thread::sleep_for(800ms);
    desktop_.press({"Return"});
    std::this_thread::sleep_for(1500ms);
    desktop_.press({"ctrl+e"});
    std::this_thread::sleep_for(5s);
    desktop_.press({"ctrl+s"});
    ASSERT_NE(wait_for_window_titled(desktop_.display(), "Save File", Clock::now() + 10s), 0u)
        << "no Save dialog; program stderr:\n"
        << program_->err();
    std::this_thread::sleep_for(500ms);
    const std::filesystem::path target = desktop_.home() / "saved" / "snapshot.heapsnapshot";
    std::filesystem::create_directories(target.parent_path());
    desktop_.press({"ctrl+a"});
    desktop_.type(target.string());
    desktop_.press({"Return"});

    // The snapshot arrives in appends; it is whole when it is a complete JSON document.
    std::string saved;
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline) {
        saved = read_file(target);
        if (saved.size() > 1000 && saved.ends_with("]}")) {
            break;
        }
        std::this_thread::sleep_for(250ms);
    }
    ASSERT_TRUE(saved.starts_with("{\"snapshot\":")) << saved.substr(0, 200);
    EXPECT_TRUE(saved.ends_with("]}")) << "the snapshot is cut short: " << saved.size() << " bytes";
    EXPECT_NE(saved.find("\"strings\":"), std::string::npos);
}

}  // namespace
}  // namespace quelby::x11_testing
