// The Win32 host under a real window system (Wine on Xvfb here): the window as created, the web
// view's failure without a WebView2 runtime, and the close request ending the process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "host.h"
#include "win32_state.h"

namespace quelby::webview_host {
namespace {

constexpr char TITLE[] = "quelby \xe2\x80\x94 script inspector";
constexpr wchar_t CHILD_SWITCH[] = L"QUELBY_WINDOW_TEST_CLOSE_CHILD";

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

// Runs in a child process (below): the loop never returns, the process must end with the status
// the handler asks for when the window is asked to close. With the switch set to "early" the close
// is handled before the loop runs, as when the user closes the window while the web view is still
// being built.
TEST(Win32EventLoop, CloseChild) {
    wchar_t when[16] = {};
    if (GetEnvironmentVariableW(CHILD_SWITCH, when, 16) == 0) {
        GTEST_SKIP() << "only as the child of the close-request tests";
    }
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = TITLE});
    ASSERT_TRUE(window);
    if (std::wstring_view(when) == L"early") {
        SendMessageW(window->state().hwnd, WM_CLOSE, 0, 0);
    } else {
        PostMessageW(window->state().hwnd, WM_CLOSE, 0, 0);
    }
    run_event_loop(std::move(loop), [](const Event& event, LoopMode& mode) {
        mode = LoopMode{};
        if (event.kind == EventKind::CloseRequested) {
            mode = LoopMode{.kind = LoopMode::Kind::Exit, .exit_status = 7};
        }
    });
}

// The child's exit status, or a failure after 30 s (a lost close request leaves it running).
DWORD close_child_status(const wchar_t* mode) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=Win32EventLoop.CloseChild";
    SetEnvironmentVariableW(CHILD_SWITCH, mode);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(CHILD_SWITCH, nullptr);
    if (started == FALSE) {
        ADD_FAILURE() << "could not start the child";
        return 0;
    }
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &status);
    } else {
        ADD_FAILURE() << "the child did not end within 30 s";
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

TEST(Win32EventLoop, CloseRequestEndsTheProcessWithTheHandlersStatus) {
    EXPECT_EQ(close_child_status(L"posted"), 7U);
}

TEST(Win32EventLoop, CloseRequestBeforeTheLoopRunsIsNotLost) {
    EXPECT_EQ(close_child_status(L"early"), 7U);
}

}  // namespace
}  // namespace quelby::webview_host
