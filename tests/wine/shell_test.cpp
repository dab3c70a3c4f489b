// The Win32 host's shell services: what may be handed to the shell, and under a real window system
// (Wine on Xvfb here) an address opened with the application registered for its scheme
// (uri_recorder.exe stands in for it), and the modal Save dialog, answered as a user would while
// the loop keeps dispatching.
#include <windows.h>
// After windows.h, which they need first.
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quelby/core/wide_text_win32.h"
#include "quelby/webview_host/host.h"
#include "shell_open_rules.h"
#include "win32_state.h"

namespace quelby::webview_host {
namespace {

std::string last_message(const ErrorChain& error) {
    return error.messages().empty() ? std::string{} : error.messages().back();
}

// ---- what goes to the shell
// -------------------------------------------------------------------------

struct TargetCase {
    std::string uri;
    ShellTarget::Kind kind;
    std::string text;  // the address or the folder's path; empty for a refusal
};

TEST(ShellTarget, AddressesAsTheyAreFileUrisAsTheirFolderPathsAndNothingElse) {
    using Kind = ShellTarget::Kind;
    const std::vector<TargetCase> cases = {
        {"https://example.com/a?b=1#c", Kind::Address, "https://example.com/a?b=1#c"},
        {"mailto:someone@example.com", Kind::Address, "mailto:someone@example.com"},
        {"https://example.com/caf\xc3\xa9", Kind::Address, "https://example.com/caf\xc3\xa9"},
        // Paths are not URIs, and a drive letter is no scheme.
        {"C:\\windows\\system32\\winver.exe", Kind::Refused, ""},
        {"C:/x.js", Kind::Refused, ""},
        {"winver.exe", Kind::Refused, ""},
        {"\\\\server\\share\\x.js", Kind::Refused, ""},
        {"", Kind::Refused, ""},
        {"1http://x/", Kind::Refused, ""},
        // What could end the quoted argument of the application's command line.
        {"https://x/\" --flag", Kind::Refused, ""},
        {"https://x/a b", Kind::Refused, ""},
        {"https://x/a\tb", Kind::Refused, ""},
        {"https://x/a\nb", Kind::Refused, ""},
        {"https://x/a\x7f", Kind::Refused, ""},
        // file: URIs: the folder's path in Windows' form, for the backend to check.
        {"file:///C:/Users/me/project", Kind::Folder, "C:\\Users\\me\\project"},
        {"FILE://localhost/d:/a%20b/caf%C3%A9/", Kind::Folder, "d:\\a b\\caf\xc3\xa9\\"},
        {"file:///C:/dir?query#fragment", Kind::Folder, "C:\\dir"},
        {"file:///C:", Kind::Folder, "C:\\"},
        {"file:///C:/", Kind::Folder, "C:\\"},
        {"file://server/share/dir", Kind::Folder, "\\\\server\\share\\dir"},
        {"file:///etc/passwd", Kind::Refused, ""},
        {"file:///C:x", Kind::Refused, ""},
        {"file://server", Kind::Refused, ""},
        {"file:///C:/a%2", Kind::Refused, ""},
        {"file:///C:/a%zz", Kind::Refused, ""},
        {"file:///C:/a%00b", Kind::Refused, ""},
        {"file:///C:/a%0Ab", Kind::Refused, ""},
    };
    for (const TargetCase& c : cases) {
        const ShellTarget target = shell_target(c.uri);
        EXPECT_EQ(target.kind, c.kind) << c.uri << " -> " << target.text;
        if (c.kind != Kind::Refused) {
            EXPECT_EQ(target.text, c.text) << c.uri;
        }
    }
}

TEST(ShellTarget, ARefusalQuotesTheAddressWithoutItsControlCharacters) {
    const ShellTarget target = shell_target("https://x/a\x1b[2Jb");
    ASSERT_EQ(target.kind, ShellTarget::Kind::Refused);
    EXPECT_EQ(target.text,
              "a URI holds no space, double quote or control character: "
              "\"https://x/a<U+001B>[2Jb\"");
}

std::filesystem::path own_folder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

std::filesystem::path fresh_temporary_file(const wchar_t* prefix) {
    wchar_t folder[MAX_PATH] = {};
    wchar_t file[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, prefix, 0, file);
    DeleteFileW(file);
    return file;
}

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A URL scheme registered to uri_recorder.exe, which appends each address it is given to the file
// named by QUELBY_OPENED_REPORT; unregistered again at the end. In HKEY_CLASSES_ROOT itself: Wine's
// shell does not read the per-user classes.
class RecordedScheme {
  public:
    explicit RecordedScheme(std::wstring scheme)
        : key_(std::move(scheme)), report_(fresh_temporary_file(L"uri")) {
        const std::wstring command =
            L"\"" + (own_folder() / L"uri_recorder.exe").wstring() + L"\" \"%1\"";
        set(key_, nullptr, L"URL:quelby test");
        set(key_, L"URL Protocol", L"");
        set(key_ + L"\\shell\\open\\command", nullptr, command);
        SetEnvironmentVariableW(L"QUELBY_OPENED_REPORT", report_.c_str());
    }
    RecordedScheme(const RecordedScheme&) = delete;
    RecordedScheme& operator=(const RecordedScheme&) = delete;
    ~RecordedScheme() {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, key_.c_str());
        std::error_code ignored;
        std::filesystem::remove(report_, ignored);
    }

    // The addresses the application was given, once `count` have arrived or after 10 s.
    std::vector<std::string> opened(std::size_t count) const {
        std::vector<std::string> lines;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        do {
            lines.clear();
            std::istringstream text(contents(report_));
            for (std::string line; std::getline(text, line);) {
                lines.push_back(line);
            }
            if (lines.size() >= count) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < deadline);
        return lines;
    }

  private:
    static void set(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
        const LSTATUS status =
            RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        EXPECT_EQ(status, ERROR_SUCCESS) << wide_to_utf8(key);
    }

    std::wstring key_;
    std::filesystem::path report_;
};

class Shell : public ::testing::Test {
  protected:
    void SetUp() override {
        auto created = create_window(loop_, WindowAttributes{.title = "shell test"});
        ASSERT_TRUE(created) << last_message(created.error());
        window_.emplace(std::move(*created));
    }

    EventLoop loop_ = create_event_loop();
    std::optional<Window> window_;
};

TEST_F(Shell, AnAddressGoesToTheApplicationOfItsSchemeAsItIs) {
    const RecordedScheme scheme(L"quelby-test-open");
    const std::string uri = "quelby-test-open://host/caf\xc3\xa9/\xe2\x82\xac?q=1&r=%20#end";
    const Status opened = open_with_default_application(*window_, uri);
    ASSERT_TRUE(opened) << last_message(opened.error());
    EXPECT_EQ(scheme.opened(1), std::vector<std::string>{uri});
}

TEST_F(Shell, ASchemeWithoutAnApplicationIsTheSystemsError) {
    const Status opened = open_with_default_application(*window_, "quelby-test-unregistered:x");
    ASSERT_FALSE(opened);
    EXPECT_TRUE(last_message(opened.error()).ends_with("(os error 1155)"))
        << last_message(opened.error());
}

// The file: URI of a local path, its bytes other than unreserved ones percent-encoded.
std::string file_uri_of(const std::filesystem::path& path) {
    std::string uri = "file:///";
    for (const char c : wide_to_utf8(path.wstring())) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 ||
            std::string_view("-._~:").find(c) != std::string_view::npos) {
            uri += c;
        } else if (c == '\\') {
            uri += '/';
        } else {
            char escape[4] = {};
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            uri += escape;
        }
    }
    return uri;
}

// Given a file, the shell's "open" runs programs and scripts; and a quote or a blank in an address
// could end the quoted argument of the scheme's command line.
TEST_F(Shell, PathsFilesAndAddressesThatCouldLeaveTheirQuotesNeverReachTheShell) {
    const RecordedScheme scheme(L"quelby-test-open");
    for (const std::string uri :
         {"C:\\windows\\system32\\winver.exe", "winver.exe", "\\\\server\\share\\x.js",
          "file:///C:/windows/system32/winver.exe", "FILE:C:/x.js", "quelby-test-open:x\" --flag",
          "quelby-test-open:a b", "quelby-test-open:a\tb", "quelby-test-open:a\nb", ""}) {
        const Status opened = open_with_default_application(*window_, uri);
        ASSERT_FALSE(opened) << uri;
        EXPECT_EQ(opened.error().messages().size(), 1U) << uri;
    }
    // Nothing reached the shell: the one address allowed through is the first to arrive.
    ASSERT_TRUE(open_with_default_application(*window_, "quelby-test-open:allowed"));
    EXPECT_EQ(scheme.opened(1), std::vector<std::string>{"quelby-test-open:allowed"});
}

// The process numbers of the running explorer.exe instances.
std::vector<DWORD> explorer_processes() {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return found;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"explorer.exe") == 0) {
            found.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

// Ends the folder windows a test opened: under Wine each is an explorer.exe of its own, which would
// outlive the test holding its output open (and the test runner waiting on it).
void close_new_explorers(const std::vector<DWORD>& before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool ended_one = false;
    while (!ended_one && std::chrono::steady_clock::now() < deadline) {
        for (const DWORD id : explorer_processes()) {
            if (std::find(before.begin(), before.end(), id) != before.end()) {
                continue;
            }
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id); process != nullptr) {
                TerminateProcess(process, 0);
                CloseHandle(process);
                ended_one = true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

TEST_F(Shell, AFileUriOpensAFolderAndNeverAFile) {
    const std::vector<DWORD> explorers = explorer_processes();
    const std::filesystem::path folder = fresh_temporary_file(L"dir") / L"d\u00e9j\u00e0 vu";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / L"run.bat") << "@echo off\r\n";
    const Status folder_opened = open_with_default_application(*window_, file_uri_of(folder));
    EXPECT_TRUE(folder_opened) << last_message(folder_opened.error());
    if (folder_opened) {
        close_new_explorers(explorers);
    }
    for (const std::filesystem::path& not_a_folder : {folder / L"run.bat", folder / L"missing"}) {
        const Status opened = open_with_default_application(*window_, file_uri_of(not_a_folder));
        ASSERT_FALSE(opened) << not_a_folder;
        EXPECT_TRUE(last_message(opened.error()).starts_with("a file: URI is opened only when"))
            << last_message(opened.error());
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder.parent_path(), ignored);
}

// ---- the Save dialog
// --------------------------------------------------------------------------------

enum class Answer { Save, Cancel, Replace, KeepExisting };

// Answers this thread's modal windows as a user would, one answer per window, from a timer that
// the dialogs' own loops dispatch. The click itself goes through the loop's posted tasks, so each
// answer also shows that they still run while the dialog is open. After 20 s the dialog is
// cancelled directly, and the test fails.
class User {
  public:
    User(EventLoop& loop, HWND owner, std::vector<Answer> answers)
        : poster_(loop_poster(loop)), owner_(owner), answers_(std::move(answers)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) { current_->look(); });
    }
    User(const User&) = delete;
    User& operator=(const User&) = delete;
    ~User() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }

    [[nodiscard]] std::size_t answered() const { return progress_->answered; }
    [[nodiscard]] bool gave_up() const { return gave_up_; }
    // The text of the file name box when the dialog was first seen.
    [[nodiscard]] const std::wstring& proposed_name() const { return proposed_name_; }

  private:
    // The window a modal loop of this thread is waiting on: enabled, visible, not the owner.
    HWND modal_window() const {
        struct Search {
            HWND owner;
            HWND found;
        } search{owner_, nullptr};
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND hwnd, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                if (hwnd != s->owner && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    static std::wstring file_name_box_text(HWND dialog) {
        HWND box = nullptr;
        EnumChildWindows(
            dialog,
            [](HWND child, LPARAM data) -> BOOL {
                wchar_t name[32] = {};
                GetClassNameW(child, name, 32);
                if (lstrcmpiW(name, L"Edit") == 0 && IsWindowVisible(child)) {
                    *reinterpret_cast<HWND*>(data) = child;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&box));
        wchar_t text[MAX_PATH] = {};
        if (box != nullptr) {
            GetWindowTextW(box, text, MAX_PATH);
        }
        return text;
    }

    static void click(HWND window, int button) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    }

    void look() {
        if (std::chrono::steady_clock::now() - started_ > std::chrono::seconds(20)) {
            if (!gave_up_) {
                gave_up_ = true;
                ADD_FAILURE() << "the dialog was not answered; " << progress_->answered
                              << " answers given";
            }
            if (const HWND window = modal_window()) {
                click(window, IDCANCEL);
            }
            return;
        }
        const HWND window = modal_window();
        Progress& progress = *progress_;
        if (window == nullptr || window == progress.last || progress.pending ||
            progress.answered >= answers_.size()) {
            return;
        }
        const Answer answer = answers_[progress.answered];
        const bool confirmation = GetDlgItem(window, IDYES) != nullptr;
        if (confirmation != (answer == Answer::Replace || answer == Answer::KeepExisting)) {
            return;  // not yet the window this answer is for
        }
        if (progress.answered == 0) {
            proposed_name_ = file_name_box_text(window);
        }
        const int button = answer == Answer::Save      ? IDOK
                           : answer == Answer::Cancel  ? IDCANCEL
                           : answer == Answer::Replace ? IDYES
                                                       : IDNO;
        progress.pending = true;
        poster_.post([progress = progress_, window, button] {
            progress->pending = false;
            progress->last = window;
            ++progress->answered;
            click(window, button);
        });
    }

    // Shared with the posted clicks, which may outlive this object when the test has failed.
    struct Progress {
        std::size_t answered = 0;
        HWND last = nullptr;  // the window answered last: the next answer is for another one
        bool pending = false;
    };

    static inline User* current_ = nullptr;
    LoopPoster poster_;
    HWND owner_;
    std::vector<Answer> answers_;
    UINT_PTR timer_ = 0;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::shared_ptr<Progress> progress_ = std::make_shared<Progress>();
    bool gave_up_ = false;
    std::wstring proposed_name_;
};

// The user's download folder, where the dialog opens when it has no folder of its own, moved to a
// fresh temporary folder for the test (Wine links it to the home folder of whoever runs the tests)
// and moved back at the end. Through the registry value the known folder is read from: Wine has
// no SHSetKnownFolderPath.
class PrivateDownloads {
  public:
    PrivateDownloads() : folder_(fresh_temporary_file(L"dl")) {
        wchar_t previous[MAX_PATH] = {};
        DWORD size = sizeof previous;
        if (RegGetValueW(HKEY_CURRENT_USER, SHELL_FOLDERS, DOWNLOADS,
                         RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, previous,
                         &size) == ERROR_SUCCESS) {
            previous_ = previous;
        }
        std::filesystem::create_directory(folder_);
        set(folder_.wstring());
        PWSTR known = nullptr;
        EXPECT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &known)) &&
                    std::filesystem::path(known) == folder_)
            << "the download folder was not moved";
        CoTaskMemFree(known);
    }
    PrivateDownloads(const PrivateDownloads&) = delete;
    PrivateDownloads& operator=(const PrivateDownloads&) = delete;
    ~PrivateDownloads() {
        if (!previous_.empty()) {
            set(previous_);
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

  private:
    static constexpr wchar_t SHELL_FOLDERS[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr wchar_t DOWNLOADS[] = L"{374DE290-123F-4565-9164-39C4925E467B}";

    static void set(const std::wstring& path) {
        RegSetKeyValueW(HKEY_CURRENT_USER, SHELL_FOLDERS, DOWNLOADS, REG_EXPAND_SZ, path.c_str(),
                        static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    }

    std::filesystem::path folder_;
    std::wstring previous_;
};

constexpr char SUGGESTED[] = "trace \xe2\x80\x93 caf\xc3\xa9.json";  // "trace – café.json"

TEST_F(Shell, CancellingTheSaveDialogChoosesNothing) {
    const PrivateDownloads downloads;
    const User user(loop_, window_->state().hwnd, {Answer::Cancel});
    const auto chosen = ask_save_path(*window_, SUGGESTED);
    ASSERT_TRUE(chosen) << last_message(chosen.error());
    EXPECT_EQ(*chosen, std::nullopt);
    EXPECT_EQ(user.answered(), 1U);
    EXPECT_EQ(user.proposed_name(), utf8_to_wide(SUGGESTED));
}

TEST_F(Shell, SavingChoosesTheProposedNameInTheDownloadsAndAFileThatExistsOnlyOnceReplaced) {
    const PrivateDownloads downloads;
    std::filesystem::path saved;
    {
        const User user(loop_, window_->state().hwnd, {Answer::Save});
        const auto chosen = ask_save_path(*window_, SUGGESTED);
        ASSERT_TRUE(chosen) << last_message(chosen.error());
        ASSERT_TRUE(chosen->has_value());
        EXPECT_EQ(user.answered(), 1U);
        saved = **chosen;
        EXPECT_EQ(saved, downloads.folder() / utf8_to_wide(SUGGESTED));
    }
    // The same name again, now that the file exists: kept at first (the dialog stays open and is
    // then cancelled), replaced the second time.
    std::ofstream(saved) << "exists";
    {
        const User user(loop_, window_->state().hwnd,
                        {Answer::Save, Answer::KeepExisting, Answer::Cancel});
        const auto chosen = ask_save_path(*window_, SUGGESTED);
        ASSERT_TRUE(chosen) << last_message(chosen.error());
        EXPECT_EQ(*chosen, std::nullopt);
        EXPECT_EQ(user.answered(), 3U);
    }
    {
        const User user(loop_, window_->state().hwnd, {Answer::Save, Answer::Replace});
        const auto chosen = ask_save_path(*window_, SUGGESTED);
        ASSERT_TRUE(chosen) << last_message(chosen.error());
        EXPECT_EQ(*chosen, std::optional<std::filesystem::path>(saved));
        EXPECT_EQ(user.answered(), 2U);
    }
}

}  // namespace
}  // namespace quelby::webview_host
