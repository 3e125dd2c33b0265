// Shared by the installer's Wine tests: scratch folders with the stand-in
// DPInst in "Files", starting IxInstallLumo, and reading what DPInst saw.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace installer_test {

struct ToolRun {
    std::wstring commandLine;
    std::wstring currentDirectory;
};

// Folder of this test program (where IxInstallLumo.exe is built).
std::wstring ProgramFolder();
std::wstring InstallerPath();

// A fresh folder under the temporary folder; with `withTools` it holds
// Files\dpinst_x64.exe and Files\dpinst_x86.exe.
std::wstring MakeWorkFolder(const std::wstring &name, bool withTools);
void RemoveTree(const std::wstring &path);
bool FileExists(const std::wstring &path);
void WriteFileText(const std::wstring &path, const std::string &text);

std::vector<ToolRun> ReadToolRuns(const std::wstring &recordPath);

// The camera library's copy under the Windows folder ("systemroot"), which
// an uninstall deletes.
std::wstring SystemLibraryCopy();

// The DPInst name the installer must pick here: 64-bit Windows (a 64-bit
// process, or a 32-bit one under WOW64) runs dpinst_x64.
std::wstring ExpectedToolName();

// Sets (or with a null value removes) an environment variable for the
// children started while it lives, and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t *name, const wchar_t *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool hadOld_;
};

// Starts IxInstallLumo with `arguments` in `folder`; desktop may be null.
PROCESS_INFORMATION StartInstaller(const std::wstring &arguments, const std::wstring &folder,
                                   const wchar_t *desktop = nullptr);
// Waits for the process (at most timeoutMs) and returns its exit code, or
// 0xDEADBEEF after killing it on a timeout.
DWORD FinishProcess(PROCESS_INFORMATION &process, DWORD timeoutMs);

} // namespace installer_test
