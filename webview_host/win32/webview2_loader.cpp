// How the runtime is found, in this order:
//
// 1. Microsoft's WebView2Loader.dll when it sits beside the executable: the documented way. It is
//    loaded by its full path only, never from the current directory or the search path (a DLL
//    planted there would run inside the program), and it applies every WEBVIEW2_* variable and
//    registry rule itself.
// 2. Otherwise our own discovery, so that the exe needs nothing beside it.
//
// What our discovery takes from Microsoft's documentation:
//   - WEBVIEW2_BROWSER_EXECUTABLE_FOLDER names a fixed-version runtime folder and
//     WEBVIEW2_USER_DATA_FOLDER the user data folder; a relative path is relative to the
//     executable's folder, not the current directory;
//   - WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS is appended to the options' arguments;
//   - the channels are searched WebView2 runtime, beta, dev, canary (reversed by
//     WEBVIEW2_RELEASE_CHANNEL_PREFERENCE=1), machine-wide before per user; a channel is
//     installed when EdgeUpdate\Clients\{guid} has a "pv" value (its version) that is neither
//     empty nor "0.0.0.0".
// What rests only on observed behaviour of the official loader and runtime (undocumented, may
// change with any runtime release):
//   - the runtime folder is the "EBWebView" value of EdgeUpdate\ClientState\{guid};
//   - the runtime's client library is <folder>\EBWebView\<arch>\EmbeddedBrowserWebView.dll,
//     and its export CreateWebViewEnvironmentWithOptionsInternal(checkRunningInstance,
//     runtimeType, userDataFolder, options, handler) is what the official loader calls in the end.
#include "webview2_loader.h"

#include <optional>
#include <string>
#include <vector>

#include "quelby/core/wide_text_win32.h"
#include "webview2_environment_rules.h"

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

// An unset variable and one set to nothing mean the same to the loader.
std::optional<std::wstring> environment(const wchar_t* name) {
    std::optional<std::wstring> value = environment_variable_wide(name);
    if (value && value->empty()) {
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

// The folder of the running executable, without a final separator; empty if unknown.
std::wstring executable_folder() {
    std::wstring path(MAX_PATH, L'\0');
    while (path.size() <= 32768) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            const std::size_t separator = path.find_last_of(L"\\/");
            return separator == std::wstring::npos ? std::wstring{} : path.substr(0, separator);
        }
        path.resize(path.size() * 2);  // truncated: try a larger buffer
    }
    return {};
}

// A WEBVIEW2_* folder variable, a relative value taken relative to the executable's folder.
std::optional<std::wstring> folder_variable(const wchar_t* name) {
    const auto value = environment(name);
    if (!value) {
        return std::nullopt;
    }
    return utf8_to_wide(webview2::folder_relative_to_executable(wide_to_utf8(*value),
                                                                wide_to_utf8(executable_folder())));
}

std::optional<Runtime> find_runtime() {
    if (const auto folder = folder_variable(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER")) {
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
            const auto version = registry_string(
                place.root, utf8_to_wide(webview2::clients_key(guid)), L"pv", place.view);
            if (!version || !webview2::runtime_version_installed(wide_to_utf8(*version))) {
                continue;
            }
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

// Microsoft's loader beside the executable, if there is one with the documented export.
HRESULT create_with_official_loader(
    ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler, bool& found) {
    found = false;
    const std::wstring path = utf8_to_wide(webview2::beside_executable(
        wide_to_utf8(executable_folder()), webview2::OFFICIAL_LOADER_DLL));
    if (executable_folder().empty() || !is_file(path)) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    // Its own dependencies are system libraries.
    const HMODULE loader = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (loader == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    auto* create = export_of<CreateWithOptions>(loader, "CreateCoreWebView2EnvironmentWithOptions");
    if (create == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    found = true;
    return create(nullptr, nullptr, options, handler);
}

// What the official loader would do with WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS: append it to the
// options' arguments before the runtime reads them.
HRESULT apply_additional_arguments(ICoreWebView2EnvironmentOptions* options) {
    const auto extra = environment(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS");
    if (!extra) {
        return S_OK;
    }
    LPWSTR ours = nullptr;
    if (const HRESULT got = options->lpVtbl->get_AdditionalBrowserArguments(options, &ours);
        FAILED(got)) {
        return got;
    }
    const std::string combined = webview2::browser_arguments_with(
        ours != nullptr ? wide_to_utf8(ours) : std::string{}, wide_to_utf8(*extra));
    CoTaskMemFree(ours);
    return options->lpVtbl->put_AdditionalBrowserArguments(options, utf8_to_wide(combined).c_str());
}

}  // namespace

HRESULT create_environment(ICoreWebView2EnvironmentOptions* options,
                           ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    bool found = false;
    const HRESULT official = create_with_official_loader(options, handler, found);
    if (found) {
        return official;
    }
    const std::optional<Runtime> runtime = find_runtime();
    if (!runtime) {
        // The text is ASCII; the narrow call reaches every debugger (and Wine's debugstr trace,
        // which does not show the wide one).
        const std::string message = std::string(webview2::RUNTIME_NOT_FOUND_DEBUG_TEXT) + "\n";
        OutputDebugStringA(message.c_str());
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    // By full path; its dependencies from its own folder and the system's, never the current
    // directory.
    const HMODULE client =
        LoadLibraryExW(runtime->client_dll.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (client == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    auto* create = export_of<CreateInternal>(client, "CreateWebViewEnvironmentWithOptionsInternal");
    if (create == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (const HRESULT applied = apply_additional_arguments(options); FAILED(applied)) {
        return applied;
    }
    const std::optional<std::wstring> user_data = folder_variable(L"WEBVIEW2_USER_DATA_FOLDER");
    return create(true, static_cast<int>(runtime->type), user_data ? user_data->c_str() : nullptr,
                  reinterpret_cast<IUnknown*>(options), handler);
}

}  // namespace quelby::webview_host
