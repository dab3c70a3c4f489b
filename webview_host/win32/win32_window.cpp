// The top-level window: registered class, UTF-16 title, an 800 x 600 client area in physical
// pixels, shown on creation. Closing only reports the request; the window is never destroyed by it.
#include <windows.h>

#include "quelby/core/wide_text_win32.h"
#include "win32_state.h"

namespace quelby::webview_host {
namespace {

constexpr int CLIENT_WIDTH = 800;
constexpr int CLIENT_HEIGHT = 600;
constexpr DWORD WINDOW_STYLE = WS_OVERLAPPEDWINDOW;
constexpr DWORD WINDOW_EX_STYLE = 0;

WindowState* state_of(HWND hwnd) {
    return reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void fit_web_view(WindowState& state) {
    if (state.controller == nullptr) {
        return;
    }
    RECT bounds{};
    GetClientRect(state.hwnd, &bounds);
    state.controller->lpVtbl->put_Bounds(state.controller, bounds);
}

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        auto* state = static_cast<WindowState*>(create->lpCreateParams);
        state->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
    WindowState* state = state_of(hwnd);
    if (state == nullptr) {
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
    switch (message) {
        case WM_CLOSE:
            // Not passed on: DefWindowProc would destroy the window.
            report_event(*state->loop, EventKind::CloseRequested, state);
            return 0;
        case WM_SIZE:
            fit_web_view(*state);
            report_event(*state->loop, EventKind::Other);
            return 0;
        case WM_MOVE:
            if (state->controller != nullptr) {
                state->controller->lpVtbl->NotifyParentWindowPositionChanged(state->controller);
            }
            report_event(*state->loop, EventKind::Other);
            return 0;
        case WM_SETFOCUS:
            // The page, not the bare frame, takes the keyboard.
            if (state->controller != nullptr) {
                state->controller->lpVtbl->MoveFocus(state->controller,
                                                     webview2::MOVE_FOCUS_PROGRAMMATIC);
            }
            return 0;
        case WM_DPICHANGED: {
            // Take the size the system suggests for the new monitor's scale.
            const auto* suggested = reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

Status register_window_class(HINSTANCE instance) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = WINDOW_CLASS_NAME;
    if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return std::unexpected(ErrorChain::from_os_error(static_cast<int>(GetLastError())));
    }
    return {};
}

// The outer size that gives the window an 800 x 600 client area at the DPI of its monitor.
SIZE outer_size(HWND hwnd) {
    RECT rect{0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    using GetDpi = UINT(WINAPI*)(HWND);
    using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto get_dpi = reinterpret_cast<GetDpi>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
    const auto adjust_for_dpi = reinterpret_cast<AdjustForDpi>(
        reinterpret_cast<void*>(GetProcAddress(user32, "AdjustWindowRectExForDpi")));
    if (get_dpi != nullptr && adjust_for_dpi != nullptr) {
        adjust_for_dpi(&rect, WINDOW_STYLE, FALSE, WINDOW_EX_STYLE, get_dpi(hwnd));
    } else {
        AdjustWindowRectEx(&rect, WINDOW_STYLE, FALSE, WINDOW_EX_STYLE);
    }
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

WindowState::~WindowState() {
    if (hwnd != nullptr) {
        // Detached first, so that the messages of the destruction find no state.
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
    }
}

Result<Window> create_window(EventLoop& loop, const WindowAttributes& attributes) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (auto registered = register_window_class(instance); !registered) {
        return std::unexpected(std::move(registered).error());
    }
    auto state = std::make_unique<WindowState>();
    state->loop = &loop.state();
    const std::wstring title = utf8_to_wide(attributes.title);
    const HWND hwnd = CreateWindowExW(WINDOW_EX_STYLE, WINDOW_CLASS_NAME, title.c_str(),
                                      WINDOW_STYLE, CW_USEDEFAULT, CW_USEDEFAULT, CLIENT_WIDTH,
                                      CLIENT_HEIGHT, nullptr, nullptr, instance, state.get());
    if (hwnd == nullptr) {
        return std::unexpected(ErrorChain::from_os_error(static_cast<int>(GetLastError())));
    }
    // Sized once the window knows its monitor, so that the client area is exact at any scale.
    const SIZE size = outer_size(hwnd);
    SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd, SW_SHOWDEFAULT);
    UpdateWindow(hwnd);
    return Window(std::move(state));
}

}  // namespace quelby::webview_host
