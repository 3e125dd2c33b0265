// The four-page install/uninstall wizard.
#pragma once
#include <windows.h>

#include "core/os.h"

namespace ix::installer {

// Shared by every page; each page gets a pointer to it when it is created.
struct WizardState {
    HFONT titleFont;           // bold title of the welcome and final pages
    int uninstallChosen;       // 0: Install selected, 1: Uninstall selected
    int deleteDriverSoftware;  // the "Delete ... Driver Software" box
    int installFailed;         // outcome of the work, read by the final page
    InstallerOs *os;           // what the progress pages do the work with
};

// Runs the wizard modally and returns when it has closed.
void RunWizard(HINSTANCE instance, InstallerOs &os);

} // namespace ix::installer
