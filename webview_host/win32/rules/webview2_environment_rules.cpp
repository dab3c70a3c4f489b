#include "webview2_environment_rules.h"

#include <array>
#include <cstdio>

namespace quelby::webview_host::webview2 {
namespace {

constexpr std::string_view FALLBACK_LANGUAGE = "en-US";

bool is_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Subtags of one to eight letters or digits separated by '-', the first all letters (2 to 8).
bool is_language_tag(std::string_view tag) {
    std::size_t start = 0;
    bool first = true;
    while (start <= tag.size()) {
        const std::size_t dash = tag.find('-', start);
        const std::string_view part = tag.substr(
            start, dash == std::string_view::npos ? std::string_view::npos : dash - start);
        if (part.empty() || part.size() > 8) {
            return false;
        }
        for (const char c : part) {
            if (first ? !is_alpha(c) : !is_alnum(c)) {
                return false;
            }
        }
        if (first && part.size() < 2) {
            return false;
        }
        first = false;
        if (dash == std::string_view::npos) {
            return true;
        }
        start = dash + 1;
    }
    return false;
}

}  // namespace

std::string language_tag(std::string_view locale_name) {
    const std::size_t sort_order = locale_name.find('_');
    const std::string_view tag = locale_name.substr(0, sort_order);
    if (!is_language_tag(tag)) {
        return std::string(FALLBACK_LANGUAGE);
    }
    return std::string(tag);
}

std::string client_dll_path(std::string_view runtime_folder, std::string_view architecture) {
    std::string path(runtime_folder);
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path.push_back('\\');
    }
    path += "EBWebView\\";
    path += architecture;
    path += "\\EmbeddedBrowserWebView.dll";
    return path;
}

std::vector<std::string_view> channel_search_order(bool prefer_least_stable) {
    std::vector<std::string_view> order{
        "{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}",  // WebView2 runtime
        "{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}",  // Edge beta
        "{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}",  // Edge dev
        "{65C35B14-6C1D-4122-AC46-7148CC9D6497}",  // Edge canary
    };
    if (prefer_least_stable) {
        return {order.rbegin(), order.rend()};
    }
    return order;
}

std::string clients_key(std::string_view channel_guid) {
    return "SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\" + std::string(channel_guid);
}

bool runtime_version_installed(std::string_view pv) {
    return !pv.empty() && pv != "0.0.0.0";
}

std::string folder_relative_to_executable(std::string_view folder,
                                          std::string_view executable_folder) {
    const auto is_separator = [](char c) { return c == '\\' || c == '/'; };
    const bool rooted = !folder.empty() && is_separator(folder.front());
    const bool drive = folder.size() >= 2 && is_alpha(folder[0]) && folder[1] == ':';
    if (folder.empty() || rooted || drive) {
        return std::string(folder);
    }
    return beside_executable(executable_folder, folder);
}

std::string beside_executable(std::string_view executable_folder, std::string_view file_name) {
    std::string path(executable_folder);
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path.push_back('\\');
    }
    path += file_name;
    return path;
}

std::string browser_arguments_with(std::string_view ours, std::string_view from_environment) {
    std::string arguments(ours);
    if (!from_environment.empty()) {
        if (!arguments.empty()) {
            arguments.push_back(' ');
        }
        arguments += from_environment;
    }
    return arguments;
}

std::string hresult_error_text(std::uint32_t hresult, std::string_view system_text) {
    std::array<char, 32> code{};
    std::snprintf(code.data(), code.size(), "0x%08X", static_cast<unsigned>(hresult));
    std::string text = "WebView2 error: HRESULT ";
    text += code.data();
    if (!system_text.empty()) {
        text += " (";
        text += system_text;
        text += ")";
    }
    return text;
}

}  // namespace quelby::webview_host::webview2
