// The portable rules of how the WebView2 environment is set up and found: the options given to
// the runtime, the language tag, where the runtime's client library lives, and the wording of
// failures. No Windows types, so they are unit-tested natively as well as under Wine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelby::webview_host::webview2 {

inline constexpr std::string_view BROWSER_ARGUMENTS =
    "--disable-features=msWebOOUI,msPdfOOUI,msSmartScreenProtection "
    "--autoplay-policy=no-user-gesture-required";

// The oldest runtime whose interfaces this backend relies on (ICoreWebView2_4); newer ones are
// probed for with QueryInterface.
inline constexpr std::string_view TARGET_COMPATIBLE_BROWSER_VERSION = "86.0.616.0";

// A BCP 47 tag for the runtime's UI language from a Windows locale name: "de-DE_phoneb" (a sort
// order) -> "de-DE"; an empty, invariant or malformed name -> "en-US", which every runtime knows.
std::string language_tag(std::string_view locale_name);

// The runtime's client library inside a runtime folder (the folder of msedgewebview2.exe).
std::string client_dll_path(std::string_view runtime_folder, std::string_view architecture);

// The EdgeUpdate client GUIDs to search, in order: the WebView2 runtime first, then the
// non-stable Edge channels (beta, dev, canary); reversed when the user prefers the least stable
// (WEBVIEW2_RELEASE_CHANNEL_PREFERENCE=1).
std::vector<std::string_view> channel_search_order(bool prefer_least_stable);

// Microsoft's own loader, looked for beside the executable and nowhere else.
inline constexpr std::string_view OFFICIAL_LOADER_DLL = "WebView2Loader.dll";

// The EdgeUpdate key whose "pv" value tells whether a channel is installed, and which version.
std::string clients_key(std::string_view channel_guid);

// Whether a "pv" value names an installed runtime. Documented: an empty value or "0.0.0.0" means
// it is not (uninstalling can leave the key behind).
bool runtime_version_installed(std::string_view pv);

// A folder named by WEBVIEW2_BROWSER_EXECUTABLE_FOLDER or WEBVIEW2_USER_DATA_FOLDER: documented as
// relative to the executable's folder when relative, never to the current directory. Absolute
// forms ("C:\x", "\\server\x", "\x") and drive-relative ones ("C:x") are kept as they are.
std::string folder_relative_to_executable(std::string_view folder,
                                          std::string_view executable_folder);

// A file in the executable's folder.
std::string beside_executable(std::string_view executable_folder, std::string_view file_name);

// Our additional browser arguments with WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS appended, as the
// documentation says the loader does; for a switch given twice the later one wins, so the user's
// value prevails over ours.
std::string browser_arguments_with(std::string_view ours, std::string_view from_environment);

// "WebView2 error: HRESULT 0x80070002 (The system cannot find the file specified.)"
std::string hresult_error_text(std::uint32_t hresult, std::string_view system_text);

inline constexpr std::string_view RUNTIME_NOT_FOUND_DEBUG_TEXT =
    "WebView2: Failed to find an installed WebView2 runtime or non-stable Microsoft Edge "
    "installation.";

}  // namespace quelby::webview_host::webview2
