// What the program asks of the Windows shell while the page runs: an address opened with its
// default application, and the Save dialog.
#include <windows.h>
// After windows.h, which they need first.
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>

#include "com_object.h"
#include "quelby/core/os_error.h"
#include "quelby/core/quoted_text.h"
#include "quelby/core/wide_text_win32.h"
#include "shell_open_rules.h"
#include "win32_state.h"

namespace quelby::webview_host {
namespace {

ErrorChain hresult_error(HRESULT result) {
    const auto code = static_cast<std::uint32_t>(result);
    char number[16] = {};
    std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(code));
    return ErrorChain::from_message(os_error_text(static_cast<int>(code)) + " (HRESULT " + number +
                                    ")");
}

// COM on this thread while the object lives: every CoInitializeEx that succeeds (S_FALSE, already
// initialised, included) is balanced; a thread in the other apartment model keeps it.
class ComApartment {
  public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }

  private:
    HRESULT result_;
};

// Where the dialog opens when it has no folder of its own to remember: the user's downloads, as on
// the other platforms. Nothing is lost without it.
void propose_downloads_folder(IFileSaveDialog* dialog) {
    ComPtr<IShellItem> downloads;
    if (SUCCEEDED(SHCreateItemInKnownFolder(FOLDERID_Downloads, 0, nullptr, IID_IShellItem,
                                            reinterpret_cast<void**>(downloads.put()))) &&
        downloads) {
        dialog->lpVtbl->SetDefaultFolder(dialog, downloads.get());
    }
}

Result<std::filesystem::path> chosen_path(IFileSaveDialog* dialog) {
    ComPtr<IShellItem> item;
    if (const HRESULT got = dialog->lpVtbl->GetResult(dialog, item.put()); FAILED(got) || !item) {
        return std::unexpected(hresult_error(FAILED(got) ? got : E_POINTER));
    }
    LPWSTR path = nullptr;
    if (const HRESULT named = item->lpVtbl->GetDisplayName(item.get(), SIGDN_FILESYSPATH, &path);
        FAILED(named) || path == nullptr) {
        return std::unexpected(hresult_error(FAILED(named) ? named : E_POINTER));
    }
    std::filesystem::path chosen(path);
    CoTaskMemFree(path);
    return chosen;
}

}  // namespace

Status open_with_default_application(Window& window, const std::string& uri) {
    const ShellTarget target = shell_target(uri);
    if (target.kind == ShellTarget::Kind::Refused) {
        return std::unexpected(ErrorChain::from_message(target.text));
    }
    const std::wstring wide = utf8_to_wide(target.text);
    if (target.kind == ShellTarget::Kind::Folder) {
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            std::string message =
                "a file: URI is opened only when it names a folder (the shell would run a program "
                "or a script): \"";
            message += quote_peer_text(target.text, Layout::Escape);
            message += '"';
            return std::unexpected(ErrorChain::from_message(std::move(message)));
        }
    }
    // Some schemes' handlers are shell extensions, which need COM on the calling thread.
    const ComApartment apartment;
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(window.state().hwnd, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) {
        return std::unexpected(ErrorChain::from_os_error(shell_execute_error_code(result)));
    }
    return {};
}

Result<std::optional<std::filesystem::path>> ask_save_path(Window& window,
                                                           const std::string& suggested_name) {
    const ComApartment apartment;
    ComPtr<IFileSaveDialog> dialog;
    if (const HRESULT created =
            CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IFileSaveDialog, reinterpret_cast<void**>(dialog.put()));
        FAILED(created)) {
        return std::unexpected(hresult_error(created).with_context("no Save dialog"));
    }
    FILEOPENDIALOGOPTIONS options = 0;
    HRESULT result = dialog->lpVtbl->GetOptions(dialog.get(), &options);
    if (SUCCEEDED(result)) {
        // A path the program can write to; replacing a file only once the user has said so; and
        // the process's current directory left alone.
        result = dialog->lpVtbl->SetOptions(
            dialog.get(), options | FOS_OVERWRITEPROMPT | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR);
    }
    if (SUCCEEDED(result)) {
        result = dialog->lpVtbl->SetFileName(dialog.get(), utf8_to_wide(suggested_name).c_str());
    }
    if (FAILED(result)) {
        return std::unexpected(hresult_error(result).with_context("the Save dialog failed"));
    }
    propose_downloads_folder(dialog.get());
    // Modal: the dialog's own loop dispatches this thread's messages, posted tasks included.
    result = dialog->lpVtbl->Show(dialog.get(), window.state().hwnd);
    if (result == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
        return std::nullopt;
    }
    if (FAILED(result)) {
        return std::unexpected(hresult_error(result).with_context("the Save dialog failed"));
    }
    auto chosen = chosen_path(dialog.get());
    if (!chosen) {
        return std::unexpected(std::move(chosen).error().with_context("the Save dialog failed"));
    }
    return std::optional<std::filesystem::path>(std::move(*chosen));
}

}  // namespace quelby::webview_host
