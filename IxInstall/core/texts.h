// Every text the installer shows. "%s" stands for the product's display name.
#pragma once
#include <string>

namespace ix::installer::text {

inline constexpr const wchar_t *kAdministratorMessage = L"IxInstall needs to be run as Administrator!";
inline constexpr const wchar_t *kAdministratorCaption = L"IxInstall";

inline constexpr const wchar_t *kWizardTitle = L"%s Installer Utility";
inline constexpr const wchar_t *kInstallingHeader = L"Installing %s";
inline constexpr const wchar_t *kUninstallingHeader = L"Uninstalling %s";

inline constexpr const wchar_t *kWelcome = L"Welcome to the %s Install/Uninstall Utility";
inline constexpr const wchar_t *kInstallChoice = L"Install %s";
inline constexpr const wchar_t *kUninstallChoice = L"Uninstall %s Device";
inline constexpr const wchar_t *kDeleteChoice = L"Delete %s Driver Software";

inline constexpr const wchar_t *kInstallWait = L"Please wait while the %s drivers are being installed...";
inline constexpr const wchar_t *kUninstallWait = L"Please wait while the %s drivers are being uninstalled...";

inline constexpr const wchar_t *kUninstalled = L"The %s has been Uninstalled Successfully!";
inline constexpr const wchar_t *kInstallFailed = L"The %s was Not Installed Successfully";
inline constexpr const wchar_t *kInstalled = L"The %s has been Installed Successfully!";

// The pattern with each "%s" replaced by the product's display name. Done by
// hand rather than with a printf family call, whose "%s" means a narrow
// string on some runtimes and a wide one on others.
std::wstring WithProductName(const wchar_t *pattern);

} // namespace ix::installer::text
