// The runtime is found as the official loader documents it:
//   1. WEBVIEW2_BROWSER_EXECUTABLE_FOLDER names a fixed-version runtime folder;
//   2. otherwise the EdgeUpdate registry: ClientState\{client GUID} "EBWebView" holds the runtime
//      folder, for the WebView2 runtime and then the non-stable Edge channels (reversed by
//      WEBVIEW2_RELEASE_CHANNEL_PREFERENCE=1), machine-wide (32-bit view) before per-user.
// The runtime's EBWebView\<arch>\EmbeddedBrowserWebView.dll exports
// CreateWebViewEnvironmentWithOptionsInternal(checkRunningInstance, runtimeType, userDataFolder,
// options, handler), which is what the official loader calls in the end.
// When none is found, a WebView2Loader.dll beside the exe (or on the search path) gets its say, in
// case it knows a layout we do not.
#include "webview2_loader.h"

#include <optional>
#include <string>
#include <vector>

#include "webview2_environment_rules.h"
#include "wide_text_win32.h"

namespace quelby::webview_host {
namespace {

using webview2::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;
using webview2::ICoreWebView2EnvironmentOptions;

#if defined(_M_ARM64) || defined(__aarch64__)
constexpr std::string_view ARCHITECTURE = "arm64";
#elif defined(_M_X64) || defined(__x86_64__)
constexpr std::string_view ARCHITECTURE = "x64";
#else
constexpr std::string_view ARCHITECTURE = "x86";
#endif

enum class RuntimeType : int { Installed = 0, FixedVersion = 1 };

struct Runtime {
    std::wstring client_dll;
    RuntimeType type = RuntimeType::Installed;
};

std::optional<std::wstring> environment(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
    if (length == 0 || length >= needed) {
        return std::nullopt;
    }
    value.resize(length);
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

bool is_file(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::wstring> registry_string(HKEY root, const std::wstring& key, const wchar_t* name,
                                            REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring value(MAX_PATH, L'\0');
    std::optional<std::wstring> result;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        auto bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        const LSTATUS status = RegQueryValueExW(opened, name, nullptr, &type,
                                                reinterpret_cast<BYTE*>(value.data()), &bytes);
        if (status == ERROR_MORE_DATA) {
            value.resize(bytes / sizeof(wchar_t) + 1);
            continue;
        }
        if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
            value.resize(bytes / sizeof(wchar_t));
            while (!value.empty() && value.back() == L'\0') {
                value.pop_back();
            }
            if (!value.empty()) {
                result = value;
            }
        }
        break;
    }
    RegCloseKey(opened);
    return result;
}

std::optional<Runtime> find_runtime() {
    if (const auto folder = environment(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER")) {
        const std::wstring dll =
            utf8_to_wide(webview2::client_dll_path(wide_to_utf8(*folder), ARCHITECTURE));
        if (is_file(dll)) {
            return Runtime{dll, RuntimeType::FixedVersion};
        }
        return std::nullopt;  // a folder was named: nothing else may be used instead
    }
    const auto preference = environment(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE");
    const bool least_stable_first = preference && *preference == L"1";
    const struct {
        HKEY root;
        REGSAM view;
    } places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}, {HKEY_CURRENT_USER, KEY_WOW64_32KEY}};
    for (const std::string_view guid : webview2::channel_search_order(least_stable_first)) {
        const std::wstring key =
            L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\" + utf8_to_wide(guid);
        for (const auto& place : places) {
            const auto folder = registry_string(place.root, key, L"EBWebView", place.view);
            if (!folder) {
                continue;
            }
            const std::wstring dll =
                utf8_to_wide(webview2::client_dll_path(wide_to_utf8(*folder), ARCHITECTURE));
            if (is_file(dll)) {
                return Runtime{dll, RuntimeType::Installed};
            }
        }
    }
    return std::nullopt;
}

template <class Function>
Function* export_of(HMODULE module, const char* name) {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

using CreateInternal = HRESULT STDMETHODCALLTYPE(
    bool check_running_instance, int runtime_type, LPCWSTR user_data_folder, IUnknown* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

using CreateWithOptions =
    HRESULT STDMETHODCALLTYPE(LPCWSTR browser_executable_folder, LPCWSTR user_data_folder,
                              ICoreWebView2EnvironmentOptions* options,
                              ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

HRESULT create_with_official_loader(
    ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler, bool& found) {
    found = false;
    const HMODULE loader = LoadLibraryW(L"WebView2Loader.dll");
    if (loader == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    auto* create = export_of<CreateWithOptions>(loader, "CreateCoreWebView2EnvironmentWithOptions");
    if (create == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    found = true;
    return create(nullptr, nullptr, options, handler);
}

}  // namespace

HRESULT create_environment(ICoreWebView2EnvironmentOptions* options,
                           ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    const std::optional<Runtime> runtime = find_runtime();
    if (!runtime) {
        bool found = false;
        const HRESULT result = create_with_official_loader(options, handler, found);
        if (found) {
            return result;
        }
        // The text is ASCII; the narrow call reaches every debugger (and Wine's debugstr trace,
        // which does not show the wide one).
        const std::string message = std::string(webview2::RUNTIME_NOT_FOUND_DEBUG_TEXT) + "\n";
        OutputDebugStringA(message.c_str());
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    const HMODULE client =
        LoadLibraryExW(runtime->client_dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (client == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    auto* create = export_of<CreateInternal>(client, "CreateWebViewEnvironmentWithOptionsInternal");
    if (create == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const std::optional<std::wstring> user_data = environment(L"WEBVIEW2_USER_DATA_FOLDER");
    return create(true, static_cast<int>(runtime->type), user_data ? user_data->c_str() : nullptr,
                  reinterpret_cast<IUnknown*>(options), handler);
}

}  // namespace quelby::webview_host
