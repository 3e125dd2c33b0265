// The installer's command line and the start-up decisions that pick between
// the silent modes and the wizard, with the program's exit code.
#pragma once
#include <string>
#include <vector>

#include "core/os.h"

namespace ix::installer {

struct CommandLineFlags {
    int silentInstall = 0;
    int silentUninstall = 0;
    int silentDelete = 0;   // only the silent uninstall looks at it
};

// `arguments` excludes the program name. Each argument is compared whole and
// without regard to case; parsing stops at the first one it does not know,
// keeping what came before.
CommandLineFlags ParseCommandLine(const std::vector<std::wstring> &arguments);

// The parts of start-up that need the window system.
class InstallerUi {
public:
    virtual ~InstallerUi() = default;
    virtual void showAdministratorMessage() = 0;
    // Creates the hidden main window and runs the wizard until it closes.
    // False when the main window could not be created.
    virtual bool runWizard() = 0;
};

// Everything after the resources are loaded and the window class is
// registered. Returns the process's exit code: 1 only after a silent
// installation that failed or could not start DPInst.
int RunInstaller(InstallerOs &os, InstallerUi &ui, const std::vector<std::wstring> &arguments);

} // namespace ix::installer
