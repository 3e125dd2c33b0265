#include "core/startup.h"

#include "core/package.h"

namespace ix::installer {

namespace {

// Options are ASCII, so an ASCII fold is enough and does not depend on the
// locale.
bool SameOption(const std::wstring &argument, const wchar_t *option) {
    size_t i = 0;
    for (; i < argument.size() && option[i]; ++i) {
        wchar_t c = argument[i];
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
        if (c != option[i]) return false;
    }
    return i == argument.size() && option[i] == 0;
}

bool IsOption(const std::wstring &argument, wchar_t letter) {
    const wchar_t dash[] = {L'-', letter, 0};
    const wchar_t slash[] = {L'/', letter, 0};
    return SameOption(argument, dash) || SameOption(argument, slash);
}

} // namespace

CommandLineFlags ParseCommandLine(const std::vector<std::wstring> &arguments) {
    CommandLineFlags flags;
    for (const std::wstring &argument : arguments) {
        if (IsOption(argument, L'i'))
            flags.silentInstall = 1;
        else if (IsOption(argument, L'u'))
            flags.silentUninstall = 1;
        else if (IsOption(argument, L'd'))
            flags.silentDelete = 1;
        else
            break;
    }
    return flags;
}

int RunInstaller(InstallerOs &os, InstallerUi &ui, const std::vector<std::wstring> &arguments) {
    const CommandLineFlags flags = ParseCommandLine(arguments);

    if (!IsUserAdministrator(os)) {
        // Silent runs come from scripts: no one would be there to close a box.
        if (!flags.silentInstall && !flags.silentUninstall) ui.showAdministratorMessage();
        return 0;
    }
    if (DetectWindowsBitness(os) != 0) return 0;

    if (flags.silentInstall) return ToolFailed(RunDriverPackageTool(os, L"/sw /se")) ? 1 : 0;
    if (flags.silentUninstall) {
        UninstallDriverPackage(os, flags.silentDelete);
        return 0;
    }
    ui.runWizard();
    return 0;
}

} // namespace ix::installer
