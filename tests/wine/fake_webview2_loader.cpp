// A stand-in for Microsoft's WebView2Loader.dll that only says it ran: it appends "loader ran" to
// the file named by QUELBY_FAKE_LOADER_REPORT and fails with E_ABORT. The Wine checks put it
// beside a copy of the exe (where it must be used) and in the current directory (where it must
// not be: a DLL planted there would run inside the program).
#include <windows.h>

#include <cstdio>
#include <string>

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE
    CreateCoreWebView2EnvironmentWithOptions(LPCWSTR /*browser_executable_folder*/,
                                             LPCWSTR /*user_data_folder*/, IUnknown* /*options*/,
                                             IUnknown* /*handler*/) {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QUELBY_FAKE_LOADER_REPORT", path, MAX_PATH) != 0) {
        if (FILE* file = _wfopen(path, L"ab")) {
            std::fputs("loader ran\n", file);
            std::fclose(file);
        }
    }
    return E_ABORT;
}
