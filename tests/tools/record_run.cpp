// A stand-in for programs Tempvaro starts (the browser, a downloaded build): appends its own path and command line
// as one UTF-8 line to the file named by TEMPVARO_RECORD, then ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t recordPath[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TEMPVARO_RECORD", recordPath, MAX_PATH) == 0)
        return 1;
    wchar_t line[4096] = {};
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wsprintfW(line, L"%s\t%s\n", self, GetCommandLineW());
    char utf8[8192] = {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, nullptr, nullptr);
    const HANDLE file = CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, utf8, static_cast<DWORD>(length > 0 ? length - 1 : 0), &written, nullptr);
    CloseHandle(file);
    return 0;
}
