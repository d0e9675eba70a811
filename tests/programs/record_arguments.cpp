// A stand-in for an editor in the Windows tests: appends the arguments it was started with, as
// the C runtime splits its command line, to arguments.txt beside itself, one per line (ISO
// 8859-1), then ends with status 0 as an editor closed by its user does.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (arguments == nullptr || length == 0 || length >= MAX_PATH) return 2;
    std::wstring log = own;
    log = log.substr(0, log.find_last_of(L"\\/") + 1) + L"arguments.txt";
    FILE* out = _wfopen(log.c_str(), L"ab");
    if (out == nullptr) return 2;
    for (int k = 1; k < count; ++k) {
        for (const wchar_t* c = arguments[k]; *c != L'\0'; ++c) std::fputc(*c <= 0xFF ? static_cast<int>(*c) : '?', out);
        std::fputc('\n', out);
    }
    std::fclose(out);
    return 0;
}
