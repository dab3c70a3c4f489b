#include <windows.h>
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

#include <array>
#include <cstdio>
#include <mutex>
#include <string>

#include "quelby/core/stack_trace.h"

namespace quelby {
namespace {

// DbgHelp is single-threaded and its symbol handler is initialised once per process.
std::mutex& dbghelp_mutex() {
    static std::mutex mutex;
    return mutex;
}

bool symbols_ready() {
    static const bool ready = [] {
        SymSetOptions(SymGetOptions() | SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS);
        return SymInitialize(GetCurrentProcess(), nullptr, TRUE) != FALSE;
    }();
    return ready;
}

std::string module_name(DWORD64 address) {
    HMODULE module = nullptr;
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(address)), &module) == FALSE) {
        return {};
    }
    std::array<char, MAX_PATH> path{};
    const DWORD length = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
    std::string name(path.data(), length);
    const auto slash = name.find_last_of("\\/");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

std::string capture_stack_trace() {
    std::array<void*, 62> frames{};
    // Skip this function and the error constructor that called it.
    const USHORT count =
        RtlCaptureStackBackTrace(2, static_cast<DWORD>(frames.size()), frames.data(), nullptr);

    const std::lock_guard lock(dbghelp_mutex());
    const bool have_symbols = symbols_ready();
    alignas(SYMBOL_INFO) std::array<char, sizeof(SYMBOL_INFO) + 256> storage{};
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(storage.data());

    std::string out;
    for (USHORT i = 0; i < count; ++i) {
        const auto address = reinterpret_cast<DWORD64>(frames[i]);
        std::array<char, 64> head{};
        std::snprintf(head.data(), head.size(), "%4u: 0x%016llx", static_cast<unsigned>(i),
                      static_cast<unsigned long long>(address));
        out += head.data();
        symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
        symbol->MaxNameLen = 255;
        DWORD64 displacement = 0;
        if (have_symbols && SymFromAddr(GetCurrentProcess(), address, &displacement, symbol)) {
            out += ' ';
            out.append(symbol->Name, symbol->NameLen);
            std::array<char, 32> offset{};
            std::snprintf(offset.data(), offset.size(), " + 0x%llx",
                          static_cast<unsigned long long>(displacement));
            out += offset.data();
        }
        if (const std::string module = module_name(address); !module.empty()) {
            out += " (" + module + ")";
        }
        out += '\n';
    }
    return out;
}

}  // namespace quelby
