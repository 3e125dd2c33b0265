// The driver package: what is installed and removed, and the operations that
// do it by running DPInst from the "Files" folder.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/os.h"
#include "platform/usb.h"
#include "usb/device_class.h"

namespace ix::installer {

struct RegistryKeyEntry {
    RegistryRoot root;      // None marks an empty slot
    const wchar_t *subkey;
};

// Compiled in; empty (null or "") slots are skipped.
struct PackageConfiguration {
    const wchar_t *productDisplayName;                  // up to 63 characters
    std::array<const wchar_t *, 4> infNames;            // up to 31 characters each
    std::array<const wchar_t *, 10> systemFiles;        // relative to the Windows directory, up to 259
    std::array<RegistryKeyEntry, 10> registryKeys;      // subkeys up to 511 characters
    // The device interface class the package's INF registers the camera
    // under; the library and the firmware tool look for the camera by it.
    platform::Guid deviceInterfaceClass;
};

inline constexpr PackageConfiguration kPackageConfiguration = {
    L"CorvelLumo",
    {L"corvellumo.inf"},
    // The camera library's installed copy.
    {L"system32\\ixilumo.dll"},
    // The settings of the maker's viewer application.
    {{{RegistryRoot::CurrentUser, L"Software\\Corvel Zevavav\\IxViewLumo"}}},
    usb::kLumoInterfaceClass,
};

// Buffer sizes of the operations, terminator included.
inline constexpr size_t kMaxPath = 260;
inline constexpr size_t kMaxToolCommandLine = 128;
inline constexpr size_t kMaxToolArguments = 512;

// Tool results: DPInst's exit code, or one of these. Callers look only at bit 31.
inline constexpr uint32_t kToolFailedBit = 0x80000000u;
inline constexpr uint32_t kToolNotStarted = 0x80000000u;
// The current directory could not be read, so the tool was never started
// (and could not have been sent back to the right place). Reported as a
// failure: success for work never done would be a lie.
inline constexpr uint32_t kToolNoCurrentDirectory = 0x80000001u;

inline bool ToolFailed(uint32_t result) { return (result & kToolFailedBit) != 0; }

// Set by DetectWindowsBitness at start-up, read by RunDriverPackageTool.
extern bool is64BitWindows;

bool IsUserAdministrator(InstallerOs &os);
// 0 on success (is64BitWindows set), 1 when the WOW64 status cannot be read.
int DetectWindowsBitness(InstallerOs &os);
// Runs "dpinst_x64 <arguments>" or "dpinst_x86 <arguments>" from the "Files"
// folder and restores the current directory afterwards.
uint32_t RunDriverPackageTool(InstallerOs &os, const std::wstring &arguments);
// Removes every configured INF package (with " /d" when deleteDriverSoftware
// is 1), deletes the configured system files and registry keys. Failures are
// ignored; always 0.
int UninstallDriverPackage(InstallerOs &os, int deleteDriverSoftware,
                           const PackageConfiguration &config = kPackageConfiguration);

} // namespace ix::installer
