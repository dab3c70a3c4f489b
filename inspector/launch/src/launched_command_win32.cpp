#include <windows.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "launch_environment.h"
#include "quelby/core/wide_text_win32.h"
#include "quelby/launch/launched_command.h"
#include "quelby/resources/random_token.h"

namespace quelby::launch {
namespace {

// What a console process ended by Ctrl+C exits with.
constexpr int CONTROL_C_EXIT_STATUS = static_cast<int>(0xC000013AU);
// A client that connected writes its line at once; one that does not is given up on.
constexpr DWORD REPORT_READ_LIMIT_MS = 2000;
constexpr DWORD PIPE_BUFFER_SIZE = 64 * 1024;

// A handle closed with its owner.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }
    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] bool valid() const { return handle_ != nullptr; }

  private:
    HANDLE handle_ = nullptr;
};

ErrorChain last_error(std::string context) {
    return ErrorChain::from_os_error(static_cast<int>(GetLastError()))
        .with_context(std::move(context));
}

// The user's interrupts (Ctrl+C, Ctrl+Break, the console closing), counted for the launcher: the
// console delivers each to the command too, which shares it.
std::atomic<int> interrupts{0};
std::atomic<HANDLE> interrupt_event{nullptr};

BOOL WINAPI on_console_event(DWORD event) {
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    // The first interrupt is the command's to decide on; a second, or the console going away,
    // ends everything.
    if (++interrupts >= 2 || closing) {
        if (const HANDLE signalled = interrupt_event.load(); signalled != nullptr) {
            SetEvent(signalled);
        }
    }
    return TRUE;
}

// An argument as the C runtime's argv parsing reads it back: quoted when it holds a blank, a tab
// or a quote, with backslashes doubled before a quote.
void append_quoted(std::wstring& line, std::wstring_view argument) {
    if (!line.empty()) {
        line += L' ';
    }
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

bool has_extension(const std::wstring& name) {
    const std::filesystem::path path(name);
    return path.has_extension();
}

// The program a shell would run for `name`: searched as CreateProcess searches, trying each of
// PATHEXT's extensions for a name without one.
std::optional<std::wstring> find_program(const std::wstring& name) {
    std::vector<std::wstring> extensions;
    if (has_extension(name)) {
        extensions.emplace_back();
    }
    const std::optional<std::wstring> pathext = environment_variable_wide(L"PATHEXT");
    std::wstring list = pathext.value_or(L".COM;.EXE;.BAT;.CMD");
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = list.find(L';', start);
        const std::wstring extension =
            list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!extension.empty()) {
            extensions.push_back(extension);
        }
        if (end == std::wstring::npos) {
            break;
        }
        start = end + 1;
    }
    for (const std::wstring& extension : extensions) {
        std::array<wchar_t, 32768> found{};
        const DWORD length =
            SearchPathW(nullptr, name.c_str(), extension.empty() ? nullptr : extension.c_str(),
                        static_cast<DWORD>(found.size()), found.data(), nullptr);
        if (length > 0 && length < found.size()) {
            const std::wstring path(found.data(), length);
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return path;
            }
        }
    }
    return std::nullopt;
}

bool is_batch_file(const std::wstring& path) {
    std::wstring extension = std::filesystem::path(path).extension().wstring();
    for (wchar_t& c : extension) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return extension == L".cmd" || extension == L".bat";
}

std::vector<std::string> inherited_environment() {
    std::vector<std::string> entries;
    wchar_t* block = GetEnvironmentStringsW();
    if (block == nullptr) {
        return entries;
    }
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        entries.push_back(wide_to_utf8(entry));
    }
    FreeEnvironmentStringsW(block);
    return entries;
}

std::wstring environment_block(const std::vector<std::string>& entries) {
    std::wstring block;
    for (const std::string& entry : entries) {
        block += utf8_to_wide(entry);
        block += L'\0';
    }
    block += L'\0';
    return block;
}

}  // namespace

struct LaunchedCommand::State {
    LaunchEvents events;
    std::filesystem::path folder;
    std::wstring pipe_name;
    std::string secret;
    Handle job;
    Handle process;  // the command's main process
    bool command_ended = false;
    Handle wake;
    Handle interrupted;
    std::map<int, Handle> reported;  // pid -> handle of each reported process still running
    EndNotices ends;
    ReportLines lines;
    std::jthread thread;

    void run(const std::stop_token& stop);
    // Waits for a client on a new pipe instance, or for anything else to happen; reads the
    // client's report when one came.
    void serve_pipe(const std::stop_token& stop, HANDLE instance, OVERLAPPED& connecting);
    void read_report(HANDLE instance);
    void on_line(std::string_view line);
    void end_everything() {
        if (job.valid()) {
            TerminateJobObject(job.get(), 1);
        }
        for (auto& [pid, handle] : reported) {
            TerminateProcess(handle.get(), 1);
        }
    }
};

void LaunchedCommand::take_interrupts() {
    if (interrupt_event.load() == nullptr) {
        interrupt_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(on_console_event, TRUE);
    }
}

std::expected<std::unique_ptr<LaunchedCommand>, StartFailure> LaunchedCommand::start(
    std::span<const std::string> command, bool hold) {
    const auto failure = [](ErrorChain error, int status = 1) {
        return std::unexpected(StartFailure{.error = std::move(error), .status = status});
    };
    if (command.empty()) {
        return failure(ErrorChain::from_message("no command to launch"));
    }
    auto state = std::make_unique<State>();
    state->secret = random_token();
    std::array<wchar_t, MAX_PATH + 1> temporary{};
    const DWORD length = GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data());
    if (length == 0 || length > temporary.size()) {
        return failure(last_error("failed to find the temporary folder"));
    }
    const std::filesystem::path folder =
        std::filesystem::path(std::wstring(temporary.data(), length)) /
        (L"quelby_inspector." + utf8_to_wide(random_token()));
    if (CreateDirectoryW(folder.c_str(), nullptr) == 0) {
        return failure(last_error("failed to make a private folder in " +
                                  wide_to_utf8(std::wstring(temporary.data(), length))));
    }
    state->folder = folder;
    // From here the destructor removes the folder whatever happens.
    std::unique_ptr<LaunchedCommand> launched(new LaunchedCommand(std::move(state)));
    State& s = *launched->state_;

    const std::filesystem::path bootloader = s.folder / BOOTLOADER_FILE_NAME;
    {
        const Handle file(CreateFileW(bootloader.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.valid() ||
            WriteFile(file.get(), BOOTLOADER_SCRIPT.data(),
                      static_cast<DWORD>(BOOTLOADER_SCRIPT.size()), &written, nullptr) == 0 ||
            written != BOOTLOADER_SCRIPT.size()) {
            return failure(last_error("failed to write " + wide_to_utf8(bootloader.wstring())));
        }
    }
    s.pipe_name = L"\\\\.\\pipe\\quelby_inspector-" + utf8_to_wide(random_token());
    s.wake = Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s.job = Handle(CreateJobObjectW(nullptr, nullptr));
    if (!s.wake.valid() || !s.job.valid()) {
        return failure(last_error("failed to prepare the launch of " + command.front()));
    }
    // Every process of the tree goes with the job: when the launcher ends, however it ends.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(s.job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (const HANDLE signalled = interrupt_event.load(); signalled != nullptr) {
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), signalled, GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        s.interrupted = Handle(copy);
    }

    const std::wstring name = utf8_to_wide(command.front());
    const std::optional<std::wstring> program = find_program(name);
    if (!program) {
        return failure(ErrorChain::from_message("command not found: " + command.front()),
                       COMMAND_NOT_FOUND_STATUS);
    }
    std::wstring line;
    append_quoted(line, *program);
    for (std::size_t i = 1; i < command.size(); ++i) {
        append_quoted(line, utf8_to_wide(command[i]));
    }
    std::wstring application = *program;
    if (is_batch_file(*program)) {
        // Batch files run in the command interpreter; /s keeps the quoted line as it is.
        std::array<wchar_t, MAX_PATH + 1> system{};
        const UINT size = GetSystemDirectoryW(system.data(), static_cast<UINT>(system.size()));
        application = std::wstring(system.data(), size) + L"\\cmd.exe";
        line = L"cmd.exe /d /s /c \"" + line + L"\"";
    }
    std::wstring environment = environment_block(
        launch_environment(inherited_environment(), wide_to_utf8(s.pipe_name),
                           wide_to_utf8(bootloader.wstring()), s.secret, hold, NameCase::Ignored));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION created{};
    if (CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr,
                       &startup, &created) == 0) {
        const DWORD error = GetLastError();
        const int status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                               ? COMMAND_NOT_FOUND_STATUS
                               : COMMAND_NOT_EXECUTABLE_STATUS;
        SetLastError(error);
        return failure(last_error("cannot run " + command.front()), status);
    }
    s.process = Handle(created.hProcess);
    const Handle thread(created.hThread);
    if (AssignProcessToJobObject(s.job.get(), s.process.get()) == 0) {
        TerminateProcess(s.process.get(), 1);
        return failure(last_error("failed to watch " + command.front()));
    }
    ResumeThread(thread.get());
    return launched;
}

void LaunchedCommand::watch(LaunchEvents events) {
    State& s = *state_;
    s.events = std::move(events);
    s.thread = std::jthread([&s](const std::stop_token& stop) { s.run(stop); });
}

LaunchedCommand::LaunchedCommand(std::unique_ptr<State> state) : state_(std::move(state)) {}

LaunchedCommand::~LaunchedCommand() {
    State& s = *state_;
    if (s.thread.joinable()) {
        s.thread.request_stop();
        SetEvent(s.wake.get());
        s.thread.join();
    }
    s.end_everything();
    if (s.process.valid()) {
        WaitForSingleObject(s.process.get(), 5000);
    }
    s.reported.clear();
    s.job.reset();
    std::error_code ignored;
    std::filesystem::remove_all(s.folder, ignored);
}

void LaunchedCommand::State::run(const std::stop_token& stop) {
    bool first_instance = true;
    while (!stop.stop_requested()) {
        // One instance waits for the next client; several processes reporting at once queue
        // behind it (the bootloader retries a busy pipe).
        const Handle instance(CreateNamedPipeW(
            pipe_name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED |
                (first_instance ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_UNLIMITED_INSTANCES, 0, PIPE_BUFFER_SIZE, 0, nullptr));
        first_instance = false;
        if (!instance.valid()) {
            return;
        }
        const Handle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED connecting{};
        connecting.hEvent = connected.get();
        serve_pipe(stop, instance.get(), connecting);
    }
}

void LaunchedCommand::State::serve_pipe(const std::stop_token& stop, HANDLE instance,
                                        OVERLAPPED& connecting) {
    bool client = false;
    if (ConnectNamedPipe(instance, &connecting) == 0) {
        const DWORD error = GetLastError();
        client = error == ERROR_PIPE_CONNECTED;
        if (!client && error != ERROR_IO_PENDING) {
            return;
        }
    } else {
        client = true;
    }
    while (!client && !stop.stop_requested()) {
        std::vector<HANDLE> waits{wake.get(), connecting.hEvent};
        if (interrupted.valid()) {
            waits.push_back(interrupted.get());
        }
        const std::size_t process_at = waits.size();
        if (!command_ended) {
            waits.push_back(process.get());
        }
        const std::size_t reported_at = waits.size();
        std::vector<int> pids;
        for (const auto& [pid, handle] : reported) {
            if (waits.size() == MAXIMUM_WAIT_OBJECTS) {
                break;  // the rest are looked at once these have gone
            }
            waits.push_back(handle.get());
            pids.push_back(pid);
        }
        const DWORD woke =
            WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
        if (woke == WAIT_FAILED || woke == WAIT_OBJECT_0) {
            CancelIo(instance);
            return;
        }
        const std::size_t index = woke - WAIT_OBJECT_0;
        if (index == 1) {
            DWORD ignored = 0;
            client = GetOverlappedResult(instance, &connecting, &ignored, FALSE) != 0;
            if (!client) {
                return;
            }
        } else if (interrupted.valid() && index == 2) {
            ResetEvent(interrupted.get());
            end_everything();
            if (events.gave_up) {
                events.gave_up(CONTROL_C_EXIT_STATUS);
            }
        } else if (!command_ended && index == process_at) {
            command_ended = true;
            DWORD status = 0;
            GetExitCodeProcess(process.get(), &status);
            if (events.command_ended) {
                events.command_ended(static_cast<int>(status));
            }
        } else if (index >= reported_at && index - reported_at < pids.size()) {
            const int pid = pids[index - reported_at];
            reported.erase(pid);
            if (ends.first(pid) && events.ended) {
                events.ended(pid);
            }
            ends.forget(pid);
        }
    }
    if (client) {
        read_report(instance);
        DisconnectNamedPipe(instance);
    }
}

void LaunchedCommand::State::read_report(HANDLE instance) {
    const Handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::array<char, 4096> buffer{};
    std::size_t total = 0;
    while (total <= ReportLines::MAX_LINE) {
        OVERLAPPED reading{};
        reading.hEvent = done.get();
        ResetEvent(done.get());
        DWORD got = 0;
        if (ReadFile(instance, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &reading) ==
            0) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return;  // the client closed its end: the report is whole
            }
            if (WaitForSingleObject(done.get(), REPORT_READ_LIMIT_MS) != WAIT_OBJECT_0) {
                CancelIo(instance);
                return;
            }
            if (GetOverlappedResult(instance, &reading, &got, FALSE) == 0) {
                return;
            }
        }
        total += got;
        lines.feed(std::string_view(buffer.data(), got),
                   [this](std::string_view line) { on_line(line); });
    }
}

void LaunchedCommand::State::on_line(std::string_view line) {
    const std::optional<LaunchReport> report = parse_launch_report(line, secret);
    if (!report) {
        return;
    }
    if (report->exiting) {
        if (reported.contains(report->pid) && ends.first(report->pid) && events.ended) {
            events.ended(report->pid);
        }
        return;
    }
    if (reported.contains(report->pid)) {
        return;
    }
    Handle handle(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                              FALSE, static_cast<DWORD>(report->pid)));
    if (events.reported) {
        events.reported(*report);
    }
    if (handle.valid()) {
        reported.emplace(report->pid, std::move(handle));
    } else if (events.ended) {
        events.ended(report->pid);  // gone already
    }
}

}  // namespace quelby::launch
