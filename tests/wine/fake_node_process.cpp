// A stand-in for a node process under Wine, where there is no node: it does what the bootloader
// does in a node process that the launcher started. It opens a listener on 127.0.0.1 for its
// "inspector", reports it over the launcher's pipe as the bootloader would, and when told to hold,
// waits for the first connection to that listener (a debugger attaching) before it runs on.
//
//   fake_node_process.exe STATUS [spawn PID_FILE | sleep]
//     STATUS   the exit status once done
//     spawn    also starts a copy of itself that sleeps, and writes that copy's pid to PID_FILE
//     sleep    sleeps a minute after reporting (a process the launch must end)
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace {

std::optional<std::string> variable(const char* name) {
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) {
        return std::nullopt;
    }
    std::string value(size, '\0');
    value.resize(GetEnvironmentVariableA(name, value.data(), size));
    return value;
}

bool report(const std::string& channel, const std::string& line) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const HANDLE pipe =
            CreateFileA(channel.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            const BOOL ok =
                WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(pipe);
            return ok != 0 && written == line.size();
        }
        Sleep(20);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: fake_node_process STATUS [spawn PID_FILE | sleep]\n", stderr);
        return 2;
    }
    const int status = std::atoi(argv[1]);
    const std::string mode = argc > 2 ? argv[2] : "";
    const auto channel = variable("QUELBY_INSPECTOR_LAUNCH_CHANNEL");
    const auto secret = variable("QUELBY_INSPECTOR_LAUNCH_SECRET");
    const bool hold = variable("QUELBY_INSPECTOR_LAUNCH_HOLD") == "1";

    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fputs("fake_node_process: no listener\n", stderr);
        return 2;
    }
    const DWORD pid = GetCurrentProcessId();
    if (channel && secret) {
        const std::string line =
            "{\"secret\":\"" + *secret + "\",\"pid\":" + std::to_string(pid) +
            ",\"url\":\"ws://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/fake-" +
            std::to_string(pid) + "\",\"title\":\"fake_node_process " + argv[1] + "\"}\n";
        if (!report(*channel, line)) {
            std::fputs("fake_node_process: no report\n", stderr);
            return 2;
        }
        if (hold) {
            const SOCKET attached = accept(listener, nullptr, nullptr);
            if (attached != INVALID_SOCKET) {
                closesocket(attached);
            }
        }
    }
    std::printf("ran %lu\n", static_cast<unsigned long>(pid));
    std::fflush(stdout);
    if (mode == "spawn" && argc > 3) {
        std::string line(1, '"');
        line.append(argv[0]).append("\" 0 sleep");
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &created) != 0) {
            std::ofstream(argv[3]) << created.dwProcessId << "\n";
            CloseHandle(created.hThread);
            CloseHandle(created.hProcess);
        }
    }
    if (mode == "sleep") {
        Sleep(60000);
    }
    return status;
}
