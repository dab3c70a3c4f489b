#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <stdexcept>
#include <thread>

#include "child_run.h"
#include "quelby/core/wide_text_win32.h"

namespace quelby::cases {
namespace {

using Clock = std::chrono::steady_clock;

// The command-line form CommandLineToArgvW splits back into `argument`: quoted when it is empty or
// holds blanks or quotes, with the backslashes before a quote (or before the closing quote)
// doubled.
std::wstring quoted(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

std::wstring upper(std::wstring_view text) {
    std::wstring out(text);
    std::ranges::transform(out, out.begin(),
                           [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return out;
}

// The runner's environment with the changes applied, as CreateProcessW takes it: "NAME=value"
// entries sorted by name without regard to case, each ended by a NUL, and a NUL after the last.
std::wstring environment_block(const ChildRun& run) {
    const std::wstring prefix = utf8_to_wide(PROGRAM_SWITCH_PREFIX);
    std::vector<std::wstring> entries;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring_view text = entry;
        // Names such as "=C:" start with '=': the first '=' after the first character ends it.
        const std::wstring name = upper(text.substr(0, text.find(L'=', 1)));
        bool changed = name.starts_with(prefix);
        for (const auto& [changed_name, value] : run.environment) {
            changed = changed || name == upper(utf8_to_wide(changed_name));
        }
        if (!changed) {
            entries.emplace_back(text);
        }
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : run.environment) {
        if (value) {
            entries.push_back(utf8_to_wide(name + "=" + *value));
        }
    }
    std::ranges::sort(entries, [](const std::wstring& a, const std::wstring& b) {
        return upper(a.substr(0, a.find(L'=', 1))) < upper(b.substr(0, b.find(L'=', 1)));
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

void read_to_end(HANDLE pipe, std::string& sink) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) != FALSE && got > 0) {
        sink.append(buffer, got);
    }
}

void inheritable_pipe(HANDLE& read_end, HANDLE& write_end) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (CreatePipe(&read_end, &write_end, &inherit, 0) == FALSE) {
        throw std::runtime_error("CreatePipe failed");
    }
    // Only the program's end is inherited.
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

std::string_view platform_name() {
    return "windows";
}

ChildEnd run_child(const ChildRun& run) {
    HANDLE out_read = nullptr;
    HANDLE out_write = nullptr;
    HANDLE err_read = nullptr;
    HANDLE err_write = nullptr;
    inheritable_pipe(out_read, out_write);
    inheritable_pipe(err_read, err_write);
    if (run.output != StandardOutput::Captured) {
        CloseHandle(out_read);
        out_read = nullptr;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE null_input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_input;
    // No standard output at all; Wine does not pass a null handle on unchanged.
    startup.hStdOutput = run.output == StandardOutput::Closed ? INVALID_HANDLE_VALUE : out_write;
    startup.hStdError = err_write;
    std::wstring command_line;
    for (const std::string& argument : run.argv) {
        command_line += (command_line.empty() ? L"" : L" ") + quoted(utf8_to_wide(argument));
    }
    std::wstring environment = environment_block(run);
    const std::wstring program = utf8_to_wide(run.argv.at(0));
    PROCESS_INFORMATION process{};

    const Clock::time_point start = Clock::now();
    const BOOL created = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr,
                                        TRUE, CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                                        environment.data(), nullptr, &startup, &process);
    const DWORD create_error = GetLastError();
    CloseHandle(out_write);
    CloseHandle(err_write);
    if (null_input != INVALID_HANDLE_VALUE) {
        CloseHandle(null_input);
    }
    if (created == FALSE) {
        if (out_read != nullptr) {
            CloseHandle(out_read);
        }
        CloseHandle(err_read);
        throw std::runtime_error("cannot start " + run.argv.at(0) + " (error " +
                                 std::to_string(create_error) + ")");
    }
    CloseHandle(process.hThread);

    ChildEnd end;
    std::thread out_reader;
    if (out_read != nullptr) {
        out_reader = std::thread([&] { read_to_end(out_read, end.out); });
    }
    std::thread err_reader([&] { read_to_end(err_read, end.err); });
    const DWORD waited =
        WaitForSingleObject(process.hProcess, static_cast<DWORD>(run.limit.count()));
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        end.how = "still running after " + std::to_string(run.limit.count()) + " ms, killed";
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        end.status = static_cast<int>(code);
    }
    end.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (out_reader.joinable()) {
        out_reader.join();
        CloseHandle(out_read);
    }
    err_reader.join();
    CloseHandle(err_read);
    CloseHandle(process.hProcess);
    return end;
}

}  // namespace quelby::cases
