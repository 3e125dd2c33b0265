// The few operating-system services the installer's decisions rest on. The
// Windows program implements them with the real calls; the unit tests use a
// fake, so every decision (exit codes, directory handling, clean-up) is
// checked without Windows.
#pragma once
#include <cstdint>
#include <string>

namespace ix::installer {

enum class RegistryRoot { None, CurrentUser, LocalMachine };

// Processor architecture value the system information call reports for x64.
inline constexpr uint16_t kProcessorArchitectureAmd64 = 9;

class InstallerOs {
public:
    virtual ~InstallerOs() = default;

    // The built-in Administrators group (authority 5, sub-authorities 32 and
    // 544) and the caller's token membership in it.
    virtual bool allocateAdministratorsSid(void **sid) = 0;
    virtual bool checkTokenMembership(void *sid, bool *isMember) = 0;
    virtual void freeSid(void *sid) = 0;

    virtual bool isWow64Process(bool *wow64) = 0;
    virtual uint16_t processorArchitecture() = 0;

    // False when the directory cannot be read or does not fit a 260-character buffer.
    virtual bool getCurrentDirectory(std::wstring *dir) = 0;
    virtual bool setCurrentDirectory(const std::wstring &dir) = 0;

    // Starts the command line (the system searches for its program), waits
    // for it without a time limit and gives back its exit code. False when
    // the process could not be started.
    virtual bool runProcess(const std::wstring &commandLine, uint32_t *exitCode) = 0;

    // False when the variable is not set.
    virtual bool getEnvironmentVariable(const std::wstring &name, std::wstring *value) = 0;
    virtual bool deleteFile(const std::wstring &path) = 0;
    // Deletes the key itself only; a key that still has subkeys stays.
    virtual bool deleteRegistryKey(RegistryRoot root, const std::wstring &subkey) = 0;
};

} // namespace ix::installer
