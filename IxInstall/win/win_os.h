// The installer's operating-system interface on Windows.
#pragma once
#include "core/os.h"

namespace ix::installer {

class WinOs : public InstallerOs {
public:
    bool allocateAdministratorsSid(void **sid) override;
    bool checkTokenMembership(void *sid, bool *isMember) override;
    void freeSid(void *sid) override;
    bool isWow64Process(bool *wow64) override;
    uint16_t processorArchitecture() override;
    bool getCurrentDirectory(std::wstring *dir) override;
    bool setCurrentDirectory(const std::wstring &dir) override;
    bool runProcess(const std::wstring &commandLine, uint32_t *exitCode) override;
    bool getEnvironmentVariable(const std::wstring &name, std::wstring *value) override;
    bool deleteFile(const std::wstring &path) override;
    bool deleteRegistryKey(RegistryRoot root, const std::wstring &subkey) override;
};

} // namespace ix::installer
