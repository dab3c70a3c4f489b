// Stands in for the application a URL scheme is registered to: appends the one argument it was
// started with, in UTF-8 and on a line of its own, to the file named by QUELBY_OPENED_REPORT.
#include <windows.h>
// After windows.h, which it needs first.
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "quelby/core/wide_text_win32.h"

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    wchar_t report[MAX_PATH] = {};
    if (arguments == nullptr || count != 2 ||
        GetEnvironmentVariableW(L"QUELBY_OPENED_REPORT", report, MAX_PATH) == 0) {
        return 2;
    }
    const std::string line = quelby::wide_to_utf8(arguments[1]) + "\n";
    LocalFree(arguments);
    FILE* file = _wfopen(report, L"ab");
    if (file == nullptr) {
        return 1;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
    return 0;
}
