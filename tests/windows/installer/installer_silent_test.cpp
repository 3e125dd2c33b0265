// IxInstallLumo's silent modes end to end under Windows (Wine): the program is
// started with its command line in a scratch folder whose "Files" holds the
// stand-in DPInst, which records what it was started with. The package
// operations also run in-process here to see the current directory come back.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/package.h"
#include "support.h"
#include "win/win_os.h"

using namespace installer_test;
namespace inst = ix::installer;

namespace {

constexpr DWORD kRunTimeoutMs = 60000;
const wchar_t *const kViewerKey = L"Software\\Corvel Zevavav\\IxViewLumo";

bool KeyExists(const wchar_t *subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void CreateKey(const std::wstring &subkey) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const DWORD value = 1;
    RegSetValueExW(key, L"WindowLeft", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(key);
}

void DeleteKeyTree(const wchar_t *subkey) { RegDeleteTreeW(HKEY_CURRENT_USER, subkey); }

class SilentInstaller : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = MakeWorkFolder(std::wstring(info->name(), info->name() + strlen(info->name())), true);
        record_ = folder_ + L"\\dpinst-record.txt";
        recordEnv_ = std::make_unique<ScopedEnv>(L"IXLUMO_DPINST_RECORD", record_.c_str());
    }
    void TearDown() override {
        recordEnv_.reset();
        RemoveTree(folder_);
    }

    DWORD Run(const std::wstring &arguments) {
        PROCESS_INFORMATION process = StartInstaller(arguments, folder_);
        EXPECT_NE(process.hProcess, nullptr) << "IxInstallLumo did not start: " << GetLastError();
        return FinishProcess(process, kRunTimeoutMs);
    }
    std::vector<ToolRun> Runs() const { return ReadToolRuns(record_); }
    std::wstring ToolFolder() const { return folder_ + L"\\Files"; }

    std::wstring folder_;
    std::wstring record_;
    std::unique_ptr<ScopedEnv> recordEnv_;
};

} // namespace

TEST_F(SilentInstaller, InstallExitCodeFollowsBit31OfDPInst) {
    struct Case {
        const wchar_t *arguments;
        const wchar_t *toolExit;
        DWORD expected;
    } cases[] = {
        {L"-i", L"0x40000001", 0},
        {L"/I", L"0", 0},
        {L"-i", L"0x80010000", 1},
        {L"/i", L"0xC0000005", 1},
        // Install takes precedence over uninstall.
        {L"-i -u", L"0x40000001", 0},
        {L"-u -i -d", L"0x80000000", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "args " << std::string(c.arguments, c.arguments + wcslen(c.arguments))
                                        << " exit " << std::string(c.toolExit, c.toolExit + wcslen(c.toolExit)));
        DeleteFileW(record_.c_str());
        ScopedEnv exitCode(L"IXLUMO_DPINST_EXIT", c.toolExit);
        EXPECT_EQ(Run(c.arguments), c.expected);
        const auto runs = Runs();
        ASSERT_EQ(runs.size(), 1u);
        // On 64-bit Windows a 32-bit installer (under WOW64) must still pick the 64-bit tool.
        EXPECT_EQ(runs[0].commandLine, ExpectedToolName() + L" /sw /se");
        EXPECT_EQ(runs[0].currentDirectory, ToolFolder()) << "DPInst runs from the Files folder";
    }
}

TEST_F(SilentInstaller, MissingDPInstIsAFailedInstall) {
    RemoveTree(ToolFolder());
    EXPECT_EQ(Run(L"-i"), 1u);
    CreateDirectoryW(ToolFolder().c_str(), nullptr); // a Files folder without the tool
    EXPECT_EQ(Run(L"-i"), 1u);
    EXPECT_TRUE(Runs().empty());
    // Uninstall failures are never reported.
    EXPECT_EQ(Run(L"-u -d"), 0u);
}

TEST_F(SilentInstaller, UninstallRunsDPInstAndCleansUp) {
    struct Case {
        const wchar_t *arguments;
        const wchar_t *toolArguments;
    } cases[] = {
        {L"/U", L" /sw /u corvellumo.inf"},
        {L"-u", L" /sw /u corvellumo.inf"},
        {L"-u -d", L" /sw /u corvellumo.inf /d"},
        {L"-D /u", L" /sw /u corvellumo.inf /d"},
        // Parsing stops at "-x": the "-d" after it is not seen.
        {L"-u -x -d", L" /sw /u corvellumo.inf"},
    };
    const std::wstring library = SystemLibraryCopy();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.arguments, c.arguments + wcslen(c.arguments)));
        DeleteFileW(record_.c_str());
        WriteFileText(library, "stale library copy");
        ASSERT_TRUE(FileExists(library));
        CreateKey(kViewerKey);
        ScopedEnv exitCode(L"IXLUMO_DPINST_EXIT", L"0x80000000"); // a failing uninstall is still 0
        EXPECT_EQ(Run(c.arguments), 0u);
        const auto runs = Runs();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].commandLine, ExpectedToolName() + c.toolArguments);
        EXPECT_EQ(runs[0].currentDirectory, ToolFolder());
        EXPECT_FALSE(FileExists(library)) << "the library copy under the Windows folder is deleted";
        EXPECT_FALSE(KeyExists(kViewerKey));
    }
}

TEST_F(SilentInstaller, UninstallWithNothingLeftAndAKeyWithSubkeys) {
    const std::wstring library = SystemLibraryCopy();
    DeleteFileW(library.c_str());
    DeleteKeyTree(kViewerKey);
    EXPECT_EQ(Run(L"-u"), 0u);
    EXPECT_EQ(Runs().size(), 1u);

    // Not a recursive delete: the viewer's key stays while it has subkeys.
    const std::wstring child = std::wstring(kViewerKey) + L"\\Recent";
    CreateKey(child);
    EXPECT_EQ(Run(L"-u"), 0u);
    EXPECT_TRUE(KeyExists(child.c_str()));
    DeleteKeyTree(kViewerKey);
}

// The operations in this process, to see the current directory restored.
class PackageOperations : public SilentInstaller {
protected:
    void SetUp() override {
        SilentInstaller::SetUp();
        wchar_t here[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, here);
        saved_ = here;
        ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
        ASSERT_EQ(inst::DetectWindowsBitness(os_), 0);
    }
    void TearDown() override {
        SetCurrentDirectoryW(saved_.c_str());
        SilentInstaller::TearDown();
    }
    static std::wstring Cwd() {
        wchar_t here[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, here);
        return here;
    }
    inst::WinOs os_;
    std::wstring saved_;
};

TEST_F(PackageOperations, BitnessMatchesTheSystem) {
    EXPECT_EQ(inst::is64BitWindows, ExpectedToolName() == L"dpinst_x64");
}

TEST_F(PackageOperations, CurrentDirectoryComesBackWhateverHappens) {
    const std::wstring before = Cwd();
    {
        ScopedEnv exitCode(L"IXLUMO_DPINST_EXIT", L"0x80010000");
        EXPECT_EQ(inst::RunDriverPackageTool(os_, L"/sw /se"), 0x80010000u);
        EXPECT_EQ(Cwd(), before);
    }
    RemoveTree(ToolFolder());
    EXPECT_EQ(inst::RunDriverPackageTool(os_, L"/sw /se"), 0x80000000u) << "no Files folder";
    EXPECT_EQ(Cwd(), before);
    CreateDirectoryW(ToolFolder().c_str(), nullptr);
    EXPECT_EQ(inst::RunDriverPackageTool(os_, L"/sw /se"), 0x80000000u) << "Files without DPInst";
    EXPECT_EQ(Cwd(), before);
    EXPECT_EQ(Runs().size(), 1u);
}

TEST_F(PackageOperations, UninstallFollowsSystemRoot) {
    // The library copy is found through the "systemroot" variable.
    const std::wstring root = folder_ + L"\\windows";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\system32").c_str(), nullptr);
    const std::wstring copy = root + L"\\system32\\ixilumo.dll";
    WriteFileText(copy, "x");
    {
        ScopedEnv systemRoot(L"systemroot", root.c_str());
        EXPECT_EQ(inst::UninstallDriverPackage(os_, 0), 0);
    }
    EXPECT_FALSE(FileExists(copy));
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].commandLine, ExpectedToolName() + L" /sw /u corvellumo.inf");
}
