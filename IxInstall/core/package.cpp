#include "core/package.h"

namespace ix::installer {

bool is64BitWindows = false;

namespace {

constexpr size_t length(const wchar_t *s) {
    size_t n = 0;
    while (s && s[n]) ++n;
    return n;
}

bool empty(const wchar_t *s) { return s == nullptr || s[0] == 0; }

} // namespace

bool IsUserAdministrator(InstallerOs &os) {
    void *sid = nullptr;
    if (!os.allocateAdministratorsSid(&sid)) return false;
    bool member = false;
    if (!os.checkTokenMembership(sid, &member)) member = false;
    os.freeSid(sid);
    return member;
}

int DetectWindowsBitness(InstallerOs &os) {
    bool wow64 = false;
    if (!os.isWow64Process(&wow64)) return 1;
    // A WOW64 process can only be running on 64-bit Windows; otherwise the
    // process has the system's own bitness.
    is64BitWindows = wow64 || os.processorArchitecture() == kProcessorArchitectureAmd64;
    return 0;
}

uint32_t RunDriverPackageTool(InstallerOs &os, const std::wstring &arguments) {
    std::wstring previous;
    if (!os.getCurrentDirectory(&previous) || previous.size() >= kMaxPath) return kToolNoCurrentDirectory;

    std::wstring commandLine = is64BitWindows ? L"dpinst_x64 " : L"dpinst_x86 ";
    commandLine += arguments;
    // A cut-off command line would run DPInst with other arguments than
    // meant (an uninstall without its INF name, say): refuse it instead.
    if (commandLine.size() >= kMaxToolCommandLine) return kToolNotStarted;

    // Unchecked on purpose: without a "Files" folder the process creation
    // still searches its usual places.
    os.setCurrentDirectory(L"Files");
    uint32_t exitCode = 0;
    const bool started = os.runProcess(commandLine, &exitCode);
    os.setCurrentDirectory(previous);
    return started ? exitCode : kToolNotStarted;
}

int UninstallDriverPackage(InstallerOs &os, int deleteDriverSoftware, const PackageConfiguration &config) {
    for (const wchar_t *inf : config.infNames) {
        if (empty(inf)) continue;
        std::wstring arguments = L"/sw /u ";
        arguments += inf;
        if (deleteDriverSoftware == 1) arguments += L" /d";
        if (arguments.size() >= kMaxToolArguments) continue;
        RunDriverPackageTool(os, arguments);
    }

    for (const wchar_t *file : config.systemFiles) {
        if (empty(file)) continue;
        std::wstring root;
        if (!os.getEnvironmentVariable(L"systemroot", &root) || root.size() >= kMaxPath) continue;
        std::wstring path = root + L"\\" + file;
        // Never delete a shortened path: it would name some other file.
        if (path.size() >= kMaxPath) continue;
        os.deleteFile(path);
    }

    for (const RegistryKeyEntry &key : config.registryKeys) {
        if (key.root == RegistryRoot::None || empty(key.subkey)) continue;
        os.deleteRegistryKey(key.root, key.subkey);
    }
    return 0;
}

// The fixed-size fields the texts and paths are built in.
constexpr bool FitsCapacities(const PackageConfiguration &c) {
    if (length(c.productDisplayName) >= 64) return false;
    for (const wchar_t *inf : c.infNames)
        if (length(inf) >= 32) return false;
    for (const wchar_t *file : c.systemFiles)
        if (length(file) >= kMaxPath) return false;
    for (const RegistryKeyEntry &key : c.registryKeys)
        if (length(key.subkey) >= 512) return false;
    return true;
}
static_assert(FitsCapacities(kPackageConfiguration));

} // namespace ix::installer
