#include "support.h"

#include <sstream>

namespace installer_test {

namespace {

std::wstring Wide(const std::string &text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

} // namespace

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/"));
}

std::wstring InstallerPath() { return ProgramFolder() + L"\\IxInstallLumo.exe"; }

std::wstring MakeWorkFolder(const std::wstring &name, bool withTools) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"ixinstall-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    if (withTools) {
        CreateDirectoryW((folder + L"\\Files").c_str(), nullptr);
        for (const wchar_t *tool : {L"dpinst_x64.exe", L"dpinst_x86.exe"})
            CopyFileW((ProgramFolder() + L"\\dpinst-standin\\" + tool).c_str(),
                      (folder + L"\\Files\\" + tool).c_str(), FALSE);
    }
    return folder;
}

void RemoveTree(const std::wstring &path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteFileText(const std::wstring &path, const std::string &text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<ToolRun> ReadToolRuns(const std::wstring &recordPath) {
    std::vector<ToolRun> runs;
    HANDLE file = CreateFileW(recordPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return runs;
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t a = line.find('\t');
        const size_t b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos || line.substr(0, a) != "run") continue;
        runs.push_back({Wide(line.substr(a + 1, b - a - 1)), Wide(line.substr(b + 1))});
    }
    return runs;
}

std::wstring SystemLibraryCopy() {
    wchar_t root[MAX_PATH] = {};
    GetEnvironmentVariableW(L"systemroot", root, MAX_PATH);
    return std::wstring(root) + L"\\system32\\ixilumo.dll";
}

std::wstring ExpectedToolName() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return (sizeof(void *) == 8 || wow64) ? L"dpinst_x64" : L"dpinst_x86";
}

ScopedEnv::ScopedEnv(const wchar_t *name, const wchar_t *value) : name_(name) {
    wchar_t buffer[4096];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    hadOld_ = n > 0 && n < 4096;
    if (hadOld_) old_.assign(buffer, n);
    SetEnvironmentVariableW(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr); }

PROCESS_INFORMATION StartInstaller(const std::wstring &arguments, const std::wstring &folder, const wchar_t *desktop) {
    std::wstring line = L"\"" + InstallerPath() + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    std::wstring desktopName = desktop ? desktop : L"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (desktop) startup.lpDesktop = desktopName.data();
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(InstallerPath().c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        process = {};
    return process;
}

DWORD FinishProcess(PROCESS_INFORMATION &process, DWORD timeoutMs) {
    if (!process.hProcess) return 0xDEADBEEF;
    DWORD code = 0xDEADBEEF;
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xDEADBEEF);
        WaitForSingleObject(process.hProcess, 5000);
    } else {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    process = {};
    return code;
}

} // namespace installer_test
