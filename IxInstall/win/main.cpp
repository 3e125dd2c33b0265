// IxInstallLumo: installs and removes the CorvelLumo driver package, silently
// from the command line or through the wizard.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "core/startup.h"
#include "core/texts.h"
#include "win/resource.h"
#include "win/win_os.h"
#include "win/wizard.h"

using namespace ix::installer;

namespace {

constexpr int kMaxLoadString = 100;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

class WinUi : public InstallerUi {
public:
    WinUi(HINSTANCE instance, InstallerOs &os, const wchar_t *title, const wchar_t *className)
        : instance_(instance), os_(os), title_(title), className_(className) {}

    void showAdministratorMessage() override {
        MessageBoxW(nullptr, text::kAdministratorMessage, text::kAdministratorCaption, MB_ICONINFORMATION | MB_OK);
    }

    bool runWizard() override {
        // Never shown: it gives the process its main window and class icon.
        HWND main = CreateWindowW(className_, title_, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                  nullptr, nullptr, instance_, nullptr);
        if (!main) return false;
        RunWizard(instance_, os_);
        DestroyWindow(main);
        return true;
    }

private:
    HINSTANCE instance_;
    InstallerOs &os_;
    const wchar_t *title_;
    const wchar_t *className_;
};

std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]); // argv[0] is the program
    LocalFree(argv);
    return arguments;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    wchar_t title[kMaxLoadString] = {};
    wchar_t className[kMaxLoadString] = {};
    LoadStringW(instance, IDS_APP_TITLE, title, kMaxLoadString);
    LoadStringW(instance, IDS_WINDOW_CLASS, className, kMaxLoadString);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_INSTALLER));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_INSTALLER_SMALL));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    RegisterClassExW(&windowClass);

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WinOs os;
    WinUi ui(instance, os, title, className);
    return RunInstaller(os, ui, CommandLineArguments());
}
