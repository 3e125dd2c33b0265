// Stand-in for the Windows driver package installer in the installer's
// tests. Built as dpinst_x64.exe and dpinst_x86.exe. It appends one line
// "run<TAB>command line<TAB>current directory" to the file named by
// IXLUMO_DPINST_RECORD, then, when IXLUMO_DPINST_GATE names a file, waits
// (at most a minute) until that file exists, so a test can look at the wizard
// while "DPInst" is busy, and ends with the exit code in IXLUMO_DPINST_EXIT
// (decimal or 0x hex; 0 when unset).
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Env(const wchar_t *name) {
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::string Utf8(const std::wstring &text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void Record(const std::wstring &path) {
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    const std::string line = "run\t" + Utf8(GetCommandLineW()) + "\t" + Utf8(cwd) + "\n";
    // Append under an exclusive open, retried, so runs never interleave.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

} // namespace

int wmain() {
    const std::wstring record = Env(L"IXLUMO_DPINST_RECORD");
    if (!record.empty()) Record(record);

    const std::wstring gate = Env(L"IXLUMO_DPINST_GATE");
    if (!gate.empty())
        for (int waited = 0; waited < 60000 && GetFileAttributesW(gate.c_str()) == INVALID_FILE_ATTRIBUTES;
             waited += 20)
            Sleep(20);

    const std::wstring exitText = Env(L"IXLUMO_DPINST_EXIT");
    const unsigned long code = exitText.empty() ? 0 : std::wcstoul(exitText.c_str(), nullptr, 0);
    ExitProcess(UINT(code));
}
