// The Win32 host under a real window system (Wine on Xvfb here): the window as created, the web
// view's failure without a WebView2 runtime, the close request ending the loop, and tasks posted
// to the loop from another thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "quelby/webview_host/host.h"
#include "win32_state.h"

namespace quelby::webview_host {
namespace {

constexpr char TITLE[] = "quelby \xe2\x80\x94 script inspector";

TEST(Win32Window, TitledShownAndSizedOnCreation) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = TITLE});
    ASSERT_TRUE(window) << window.error().messages().back();
    const HWND hwnd = window->state().hwnd;
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    EXPECT_EQ(std::wstring(title), L"quelby \u2014 script inspector");
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right - client.left, 800);
    EXPECT_EQ(client.bottom - client.top, 600);
}

TEST(Win32Window, CloseRequestDoesNotDestroyTheWindow) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = TITLE});
    ASSERT_TRUE(window);
    SendMessageW(window->state().hwnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window->state().hwnd));
}

TEST(Win32WebView, RefusesSchemesTheEngineServesItselfBeforeStartingTheRuntime) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = TITLE});
    ASSERT_TRUE(window);
    auto webview = WebViewBuilder()
                       .register_scheme("http", [](std::string_view, const Request&, Responder) {})
                       .set_url("http://x/")
                       .build(*window);
    ASSERT_FALSE(webview);
    EXPECT_EQ(webview.error().messages(),
              std::vector<std::string>{
                  "WebView2 cannot serve the URI scheme \"http\" through the program"});
}

TEST(Win32WebView, WithoutARuntimeBuildFailsWithTheLoadersHresult) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = TITLE});
    ASSERT_TRUE(window);
    auto webview =
        WebViewBuilder()
            .register_scheme("devtools", [](std::string_view, const Request&, Responder) {})
            .set_url("devtools://localhost/js_app.html")
            .build(*window);
    ASSERT_FALSE(webview);
    ASSERT_EQ(webview.error().messages().size(), 1U);
    EXPECT_TRUE(webview.error().messages()[0].starts_with("WebView2 error: HRESULT 0x80070002 ("))
        << webview.error().messages()[0];
}

// Closes the window (before the loop runs, as when the user closes it while the web view is still
// being built, or once it runs) and gives the status the loop returns. A lost close request would
// leave the loop running: a timer ends it after 30 s with a status of its own.
int status_after_close(bool before_the_loop) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = TITLE});
    if (!window) {
        ADD_FAILURE() << window.error().messages().front();
        return -1;
    }
    if (before_the_loop) {
        SendMessageW(window->state().hwnd, WM_CLOSE, 0, 0);
    } else {
        PostMessageW(window->state().hwnd, WM_CLOSE, 0, 0);
    }
    const UINT_PTR guard =
        SetTimer(nullptr, 0, 30000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });
    const int status = run_event_loop(loop, [](const Event& event, LoopMode& mode) {
        mode = LoopMode{};
        if (event.kind == EventKind::CloseRequested) {
            mode = LoopMode{.kind = LoopMode::Kind::Exit, .exit_status = 7};
        }
    });
    KillTimer(nullptr, guard);
    return status;
}

TEST(Win32EventLoop, CloseRequestEndsTheLoopWithTheHandlersStatus) {
    EXPECT_EQ(status_after_close(false), 7);
}

TEST(Win32EventLoop, CloseRequestBeforeTheLoopRunsIsNotLost) {
    EXPECT_EQ(status_after_close(true), 7);
}

// Tasks posted from another thread run on the loop's thread, in order, and wake the loop by
// themselves; once the loop has ended a post is refused and its task destroyed at once.
TEST(Win32EventLoop, PostedTasksRunOnTheLoopThreadAndNoneAfterItEnded) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = TITLE});
    ASSERT_TRUE(window);
    const LoopPoster poster = loop_poster(loop);
    const DWORD loop_thread = GetCurrentThreadId();
    const HWND hwnd = window->state().hwnd;
    std::vector<int> order;
    bool on_loop_thread = true;
    std::thread other([&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(poster.post([&, i] {
                order.push_back(i);
                on_loop_thread = on_loop_thread && GetCurrentThreadId() == loop_thread;
                if (i == 2) {
                    // Ends the loop the way the user would.
                    PostMessageW(hwnd, WM_CLOSE, 0, 0);
                }
            }));
        }
    });
    const UINT_PTR guard =
        SetTimer(nullptr, 0, 30000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });
    const int status = run_event_loop(loop, [](const Event& event, LoopMode& mode) {
        mode = LoopMode{};
        if (event.kind == EventKind::CloseRequested) {
            mode = LoopMode{.kind = LoopMode::Kind::Exit, .exit_status = 5};
        }
    });
    KillTimer(nullptr, guard);
    other.join();
    EXPECT_EQ(status, 5);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(on_loop_thread);

    auto witness = std::make_shared<int>(0);
    EXPECT_FALSE(poster.post([witness] { ++*witness; }));
    EXPECT_EQ(witness.use_count(), 1);
}

// A poster that outlives its loop: refused, nothing leaks and nothing reaches a released window.
TEST(Win32EventLoop, APostAfterTheLoopIsReleasedIsRefused) {
    std::optional<LoopPoster> poster;
    {
        EventLoop loop = create_event_loop();
        poster = loop_poster(loop);
        EXPECT_TRUE(poster->post([] {}));  // queued, then dropped unrun with the loop
    }
    auto witness = std::make_shared<int>(0);
    EXPECT_FALSE(poster->post([witness] { ++*witness; }));
    EXPECT_EQ(witness.use_count(), 1);
}

}  // namespace
}  // namespace quelby::webview_host
