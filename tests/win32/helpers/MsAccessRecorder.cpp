// Stands in for MSACCESS.EXE in the Windows end-to-end tests: writes the command line it
// was started with, as UTF-8, to the file named by P2_RECORD_FILE, and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetEnvironmentVariableW(L"P2_RECORD_FILE", path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) {
        return 1;
    }
    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size > 0 ? size - 1 : 0));
    FILE* out = _wfopen(path, L"wb");
    if (!out) {
        return 2;
    }
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return 0;
}
