#include <windows.h>

#include <string>
#include <string_view>

#include "quelby/core/os_error.h"
#include "quelby/core/wide_text_win32.h"

namespace quelby {
namespace {

// Windows' own wording for the socket and resolver errors the program meets, for systems whose
// message tables lack them (Wine has no text for several of these).
std::string_view known_text(DWORD code) {
    switch (code) {
        case 2:
            return "The system cannot find the file specified.";
        case 10013:
            return "An attempt was made to access a socket in a way forbidden by its access "
                   "permissions.";
        case 10047:
            return "An address incompatible with the requested protocol was used.";
        case 10049:
            return "The requested address is not valid in its context.";
        case 10050:
            return "A socket operation encountered a dead network.";
        case 10051:
            return "A socket operation was attempted to an unreachable network.";
        case 10053:
            return "An established connection was aborted by the software in your host machine.";
        case 10054:
            return "An existing connection was forcibly closed by the remote host.";
        case 10060:
            return "A connection attempt failed because the connected party did not properly "
                   "respond "
                   "after a period of time, or established connection failed because connected "
                   "host "
                   "has failed to respond.";
        case 10061:
            return "No connection could be made because the target machine actively refused it.";
        case 10065:
            return "A socket operation was attempted to an unreachable host.";
        case 10093:
            return "Either the application has not called WSAStartup, or WSAStartup failed.";
        case 11001:
            return "No such host is known.";
        case 11002:
            return "This is usually a temporary error during hostname resolution and means that "
                   "the "
                   "local server did not receive a response from an authoritative server.";
        case 11003:
            return "A non-recoverable error occurred during a database lookup.";
        case 11004:
            return "The requested name is valid, but no data of the requested type was found.";
        default:
            return {};
    }
}

std::string system_text(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr) {
        text.assign(buffer, length);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    // System texts end in CR LF, some in a blank before it; the period stays, as Windows shows it.
    const auto end = text.find_last_not_of(L" \t\r\n");
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    return wide_to_utf8(text);
}

}  // namespace

std::string os_error_text(int code) {
    const auto value = static_cast<DWORD>(code);
    std::string text = system_text(value);
    if (text.empty()) {
        text = known_text(value);
    }
    // An HRESULT wrapping a Win32 code (0x8007xxxx) reads as that code when the system has no
    // text for the HRESULT itself.
    if (text.empty() && HRESULT_FACILITY(value) == FACILITY_WIN32 && (value & 0x80000000U) != 0) {
        const DWORD win32 = HRESULT_CODE(value);
        text = system_text(win32);
        if (text.empty()) {
            text = known_text(win32);
        }
    }
    if (text.empty()) {
        text = "Unknown error";
    }
    return text;
}

}  // namespace quelby
