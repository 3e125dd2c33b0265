#include "win/win_os.h"

#include <windows.h>

#include <vector>

#include "core/package.h"

namespace ix::installer {

bool WinOs::allocateAdministratorsSid(void **sid) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &administrators))
        return false;
    *sid = administrators;
    return true;
}

bool WinOs::checkTokenMembership(void *sid, bool *isMember) {
    BOOL member = FALSE;
    // A null token means the caller's own (impersonation or primary) token.
    if (!CheckTokenMembership(nullptr, sid, &member)) return false;
    *isMember = member != FALSE;
    return true;
}

void WinOs::freeSid(void *sid) { FreeSid(sid); }

bool WinOs::isWow64Process(bool *wow64) {
    BOOL result = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &result)) return false;
    *wow64 = result != FALSE;
    return true;
}

uint16_t WinOs::processorArchitecture() {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    return info.wProcessorArchitecture;
}

bool WinOs::getCurrentDirectory(std::wstring *dir) {
    wchar_t buffer[kMaxPath];
    const DWORD n = GetCurrentDirectoryW(kMaxPath, buffer);
    // n >= the buffer size is the length needed, and nothing was written.
    if (n == 0 || n >= kMaxPath) return false;
    dir->assign(buffer, n);
    return true;
}

bool WinOs::setCurrentDirectory(const std::wstring &dir) { return SetCurrentDirectoryW(dir.c_str()) != FALSE; }

bool WinOs::runProcess(const std::wstring &commandLine, uint32_t *exitCode) {
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    // An exit code we cannot read proves nothing was installed: count it as
    // DPInst's failure rather than trusting whatever the variable held.
    if (!GetExitCodeProcess(process.hProcess, &code)) code = kToolFailedBit;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    *exitCode = code;
    return true;
}

bool WinOs::getEnvironmentVariable(const std::wstring &name, std::wstring *value) {
    std::vector<wchar_t> buffer(kMaxPath);
    for (;;) {
        const DWORD n = GetEnvironmentVariableW(name.c_str(), buffer.data(), DWORD(buffer.size()));
        if (n == 0) return false;
        if (n < buffer.size()) {
            value->assign(buffer.data(), n);
            return true;
        }
        buffer.resize(n); // n is the size needed, terminator included
    }
}

bool WinOs::deleteFile(const std::wstring &path) { return DeleteFileW(path.c_str()) != FALSE; }

bool WinOs::deleteRegistryKey(RegistryRoot root, const std::wstring &subkey) {
    HKEY hive = nullptr;
    switch (root) {
    case RegistryRoot::CurrentUser: hive = HKEY_CURRENT_USER; break;
    case RegistryRoot::LocalMachine: hive = HKEY_LOCAL_MACHINE; break;
    case RegistryRoot::None: return false;
    }
    return RegDeleteKeyW(hive, subkey.c_str()) == ERROR_SUCCESS;
}

} // namespace ix::installer
