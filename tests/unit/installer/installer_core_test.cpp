// The installer's decisions against a fake operating system that records
// every call in order and keeps a current directory and a small file system
// of directories, files and registry keys.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/package.h"
#include "core/startup.h"
#include "core/texts.h"

using namespace ix::installer;

namespace {

class FakeOs : public InstallerOs {
public:
    // Knobs.
    bool sidAllocates = true;
    bool membershipCheckWorks = true;
    bool isMember = true;
    bool wow64QueryWorks = true;
    bool wow64 = false;
    uint16_t architecture = kProcessorArchitectureAmd64;
    bool currentDirectoryReadable = true;
    std::wstring currentDirectory = L"C:\\setup";
    std::set<std::wstring> directories = {L"C:\\setup", L"C:\\setup\\Files"};
    // Programs process creation finds, by the folder it searched.
    std::set<std::wstring> programs = {L"C:\\setup\\Files\\dpinst_x64", L"C:\\setup\\Files\\dpinst_x86"};
    uint32_t toolExitCode = 0;
    bool systemRootSet = true;
    std::wstring systemRoot = L"C:\\Windows";
    std::set<std::wstring> files = {L"C:\\Windows\\system32\\ixilumo.dll"};
    std::set<std::wstring> userKeys = {L"Software\\Corvel Zevavav\\IxViewLumo"};

    // What happened.
    std::vector<std::wstring> calls;
    std::vector<std::wstring> toolRunDirectories;
    int sidsAllocated = 0;
    int sidsFreed = 0;

    bool allocateAdministratorsSid(void **sid) override {
        calls.push_back(L"allocateSid");
        if (!sidAllocates) return false;
        ++sidsAllocated;
        *sid = &sidToken;
        return true;
    }
    bool checkTokenMembership(void *sid, bool *member) override {
        calls.push_back(L"checkMembership");
        EXPECT_EQ(sid, &sidToken);
        if (!membershipCheckWorks) {
            *member = true; // garbage the caller must not trust
            return false;
        }
        *member = isMember;
        return true;
    }
    void freeSid(void *sid) override {
        EXPECT_EQ(sid, &sidToken);
        ++sidsFreed;
    }
    bool isWow64Process(bool *result) override {
        if (!wow64QueryWorks) return false;
        *result = wow64;
        return true;
    }
    uint16_t processorArchitecture() override { return architecture; }
    bool getCurrentDirectory(std::wstring *dir) override {
        calls.push_back(L"getcwd");
        if (!currentDirectoryReadable) return false;
        *dir = currentDirectory;
        return true;
    }
    bool setCurrentDirectory(const std::wstring &dir) override {
        calls.push_back(L"setcwd " + dir);
        std::wstring target = dir;
        if (dir.find(L':') == std::wstring::npos) target = currentDirectory + L"\\" + dir;
        if (!directories.count(target)) return false;
        currentDirectory = target;
        return true;
    }
    bool runProcess(const std::wstring &commandLine, uint32_t *exitCode) override {
        calls.push_back(L"run " + commandLine);
        toolRunDirectories.push_back(currentDirectory);
        const std::wstring program = commandLine.substr(0, commandLine.find(L' '));
        if (!programs.count(currentDirectory + L"\\" + program)) return false;
        *exitCode = toolExitCode;
        return true;
    }
    bool getEnvironmentVariable(const std::wstring &name, std::wstring *value) override {
        EXPECT_EQ(name, L"systemroot");
        if (!systemRootSet) return false;
        *value = systemRoot;
        return true;
    }
    bool deleteFile(const std::wstring &path) override {
        calls.push_back(L"delete " + path);
        return files.erase(path) == 1;
    }
    bool deleteRegistryKey(RegistryRoot root, const std::wstring &subkey) override {
        calls.push_back(std::wstring(root == RegistryRoot::CurrentUser ? L"regdel HKCU\\" : L"regdel other\\") +
                        subkey);
        if (root != RegistryRoot::CurrentUser) return false;
        // Not recursive: a key with subkeys stays.
        for (const std::wstring &key : userKeys)
            if (key.size() > subkey.size() && key.compare(0, subkey.size() + 1, subkey + L"\\") == 0) return false;
        return userKeys.erase(subkey) == 1;
    }

    std::vector<std::wstring> toolRuns() const {
        std::vector<std::wstring> runs;
        for (const std::wstring &c : calls)
            if (c.rfind(L"run ", 0) == 0) runs.push_back(c.substr(4));
        return runs;
    }

private:
    int sidToken = 0;
};

class FakeUi : public InstallerUi {
public:
    bool windowCreates = true;
    int messages = 0;
    int wizards = 0;
    void showAdministratorMessage() override { ++messages; }
    bool runWizard() override {
        ++wizards;
        return windowCreates;
    }
};

struct Bitness64 : ::testing::Test {
    void SetUp() override { is64BitWindows = true; }
};

} // namespace

TEST(InstallerCommandLine, FlagsAndWhereParsingStops) {
    struct Case {
        std::vector<std::wstring> args;
        int install, uninstall, del;
    } cases[] = {
        {{}, 0, 0, 0},
        {{L"-i"}, 1, 0, 0},
        {{L"/I"}, 1, 0, 0},
        {{L"/U"}, 0, 1, 0},
        {{L"-U", L"/D"}, 0, 1, 1},
        {{L"-u", L"-d"}, 0, 1, 1},
        {{L"-i", L"-u"}, 1, 1, 0},
        {{L"-d"}, 0, 0, 1},
        // Parsing stops at the first unknown argument; what came before stays.
        {{L"-x", L"-u"}, 0, 0, 0},
        {{L"-u", L"extra", L"-d"}, 0, 1, 0},
        {{L"-i", L""}, 1, 0, 0},
        // Arguments are compared whole.
        {{L"-install"}, 0, 0, 0},
        {{L"-i "}, 0, 0, 0},
        {{L"i"}, 0, 0, 0},
        {{L"-"}, 0, 0, 0},
        {{L"--i"}, 0, 0, 0},
        {{L"\\i"}, 0, 0, 0},
        // No locale-dependent folding: a dotless or dotted capital I is not "i".
        {{L"-\u0130"}, 0, 0, 0},
    };
    for (const Case &c : cases) {
        std::wstring shown;
        for (const auto &a : c.args) shown += L"[" + a + L"]";
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        const CommandLineFlags f = ParseCommandLine(c.args);
        EXPECT_EQ(f.silentInstall, c.install);
        EXPECT_EQ(f.silentUninstall, c.uninstall);
        EXPECT_EQ(f.silentDelete, c.del);
    }
}

TEST(InstallerAdministrator, MembershipAndItsFailures) {
    struct Case {
        bool allocates, checkWorks, member, expected;
    } cases[] = {
        {false, true, true, false},
        {true, false, true, false},
        {true, true, false, false},
        {true, true, true, true},
    };
    for (const Case &c : cases) {
        FakeOs os;
        os.sidAllocates = c.allocates;
        os.membershipCheckWorks = c.checkWorks;
        os.isMember = c.member;
        EXPECT_EQ(IsUserAdministrator(os), c.expected);
        // Whatever the answer, an identifier that was built is freed once.
        EXPECT_EQ(os.sidsFreed, os.sidsAllocated);
    }
}

TEST(InstallerBitness, Wow64AndProcessorArchitecture) {
    struct Case {
        bool wow64;
        uint16_t architecture;
        bool expected;
    } cases[] = {
        {true, 0, true},   // a 32-bit process on 64-bit Windows
        {false, 9, true},  // a 64-bit process
        {false, 0, false}, // 32-bit Windows
        {false, 12, false},
    };
    for (const Case &c : cases) {
        FakeOs os;
        os.wow64 = c.wow64;
        os.architecture = c.architecture;
        is64BitWindows = !c.expected;
        EXPECT_EQ(DetectWindowsBitness(os), 0);
        EXPECT_EQ(is64BitWindows, c.expected);
    }
    FakeOs os;
    os.wow64QueryWorks = false;
    is64BitWindows = false;
    EXPECT_EQ(DetectWindowsBitness(os), 1);
    EXPECT_FALSE(is64BitWindows);
}

TEST_F(Bitness64, ToolRunsFromFilesAndTheDirectoryComesBack) {
    for (bool x64 : {true, false}) {
        FakeOs os;
        is64BitWindows = x64;
        os.toolExitCode = 0x40000001;
        const uint32_t result = RunDriverPackageTool(os, L"/sw /se");
        EXPECT_EQ(result, 0x40000001u);
        EXPECT_FALSE(ToolFailed(result));
        const std::vector<std::wstring> expected = {
            L"getcwd", L"setcwd Files", x64 ? L"run dpinst_x64 /sw /se" : L"run dpinst_x86 /sw /se",
            L"setcwd C:\\setup"};
        EXPECT_EQ(os.calls, expected);
        EXPECT_EQ(os.toolRunDirectories, std::vector<std::wstring>{L"C:\\setup\\Files"});
        EXPECT_EQ(os.currentDirectory, L"C:\\setup");
    }
}

TEST_F(Bitness64, ToolResultsJudgedByBit31) {
    struct Case {
        uint32_t exitCode;
        bool failed;
    } cases[] = {{0, false}, {0x40000001, false}, {0x7FFFFFFF, false}, {0x80010000, true}, {0xFFFFFFFF, true}};
    for (const Case &c : cases) {
        FakeOs os;
        os.toolExitCode = c.exitCode;
        const uint32_t result = RunDriverPackageTool(os, L"/sw /se");
        EXPECT_EQ(result, c.exitCode) << "passed on unchanged";
        EXPECT_EQ(ToolFailed(result), c.failed) << std::hex << c.exitCode;
    }
}

TEST_F(Bitness64, ToolThatCannotStartIsAFailureAndRestoresTheDirectory) {
    // No dpinst anywhere.
    FakeOs os;
    os.programs.clear();
    EXPECT_EQ(RunDriverPackageTool(os, L"/sw /se"), 0x80000000u);
    EXPECT_EQ(os.currentDirectory, L"C:\\setup");
    EXPECT_EQ(os.calls.back(), L"setcwd C:\\setup");

    // No "Files" folder: the change is not checked, the tool is looked for
    // from where we are, and the directory is put back all the same.
    FakeOs noFiles;
    noFiles.directories = {L"C:\\setup"};
    noFiles.programs = {L"C:\\setup\\dpinst_x64"};
    noFiles.toolExitCode = 5;
    EXPECT_EQ(RunDriverPackageTool(noFiles, L"/sw /se"), 5u);
    EXPECT_EQ(noFiles.toolRunDirectories, std::vector<std::wstring>{L"C:\\setup"});
    EXPECT_EQ(noFiles.currentDirectory, L"C:\\setup");
}

TEST_F(Bitness64, UnreadableOrOverlongDirectoryFailsWithoutRunningAnything) {
    FakeOs os;
    os.currentDirectoryReadable = false;
    const uint32_t result = RunDriverPackageTool(os, L"/sw /se");
    EXPECT_TRUE(ToolFailed(result)) << "work never done must not read as success";
    EXPECT_EQ(os.calls, std::vector<std::wstring>{L"getcwd"});

    // 260 characters do not fit the buffer the directory is remembered in.
    FakeOs longDir;
    longDir.currentDirectory = L"C:\\" + std::wstring(257, L'a');
    longDir.directories = {longDir.currentDirectory, longDir.currentDirectory + L"\\Files"};
    longDir.programs = {longDir.currentDirectory + L"\\Files\\dpinst_x64"};
    EXPECT_TRUE(ToolFailed(RunDriverPackageTool(longDir, L"/sw /se")));
    EXPECT_EQ(longDir.calls, std::vector<std::wstring>{L"getcwd"});

    // 259 characters still fit.
    FakeOs fits;
    fits.currentDirectory = L"C:\\" + std::wstring(256, L'a');
    fits.directories = {fits.currentDirectory, fits.currentDirectory + L"\\Files"};
    fits.programs = {fits.currentDirectory + L"\\Files\\dpinst_x64"};
    EXPECT_EQ(RunDriverPackageTool(fits, L"/sw /se"), 0u);
    EXPECT_EQ(fits.currentDirectory, L"C:\\" + std::wstring(256, L'a'));
}

TEST_F(Bitness64, CommandLineThatWouldBeCutOffIsRefused) {
    // "dpinst_x64 " is 11 characters; 127 in all is the most that fits.
    FakeOs fits;
    EXPECT_EQ(RunDriverPackageTool(fits, std::wstring(116, L'x')), 0u);
    ASSERT_EQ(fits.toolRuns().size(), 1u);
    EXPECT_EQ(fits.toolRuns()[0].size(), 127u);

    FakeOs tooLong;
    EXPECT_EQ(RunDriverPackageTool(tooLong, std::wstring(117, L'x')), 0x80000000u);
    EXPECT_TRUE(tooLong.toolRuns().empty());
    EXPECT_EQ(tooLong.currentDirectory, L"C:\\setup");
}

TEST_F(Bitness64, UninstallRunsToolThenDeletesFileAndKey) {
    for (int deleteSoftware : {0, 1}) {
        FakeOs os;
        EXPECT_EQ(UninstallDriverPackage(os, deleteSoftware), 0);
        const std::vector<std::wstring> expected = {
            L"getcwd",
            L"setcwd Files",
            deleteSoftware ? L"run dpinst_x64 /sw /u corvellumo.inf /d" : L"run dpinst_x64 /sw /u corvellumo.inf",
            L"setcwd C:\\setup",
            L"delete C:\\Windows\\system32\\ixilumo.dll",
            L"regdel HKCU\\Software\\Corvel Zevavav\\IxViewLumo",
        };
        EXPECT_EQ(os.calls, expected);
        EXPECT_TRUE(os.files.empty());
        EXPECT_TRUE(os.userKeys.empty());
    }
}

TEST_F(Bitness64, UninstallIgnoresEveryFailure) {
    // Nothing to remove, no DPInst, no systemroot: still 0, and the key is
    // still tried.
    FakeOs os;
    os.programs.clear();
    os.files.clear();
    os.userKeys.clear();
    os.toolExitCode = 0x80000000;
    EXPECT_EQ(UninstallDriverPackage(os, 1), 0);
    EXPECT_EQ(os.calls.back(), L"regdel HKCU\\Software\\Corvel Zevavav\\IxViewLumo");

    FakeOs noRoot;
    noRoot.systemRootSet = false;
    EXPECT_EQ(UninstallDriverPackage(noRoot, 0), 0);
    EXPECT_EQ(noRoot.files.size(), 1u);
    for (const auto &c : noRoot.calls) EXPECT_NE(c.rfind(L"delete ", 0), 0u) << "nothing to delete without systemroot";
    EXPECT_TRUE(noRoot.userKeys.empty());

    // A key that still has subkeys stays.
    FakeOs withSubkey;
    withSubkey.userKeys.insert(L"Software\\Corvel Zevavav\\IxViewLumo\\Recent");
    EXPECT_EQ(UninstallDriverPackage(withSubkey, 0), 0);
    EXPECT_EQ(withSubkey.userKeys.count(L"Software\\Corvel Zevavav\\IxViewLumo"), 1u);
}

TEST_F(Bitness64, UninstallNeverDeletesAShortenedPath) {
    // systemroot + "\system32\ixilumo.dll" (21 characters) must fit 259.
    for (size_t rootLength : {238u, 239u, 300u}) {
        FakeOs os;
        os.systemRoot = L"C:\\" + std::wstring(rootLength - 3, L'w');
        const std::wstring full = os.systemRoot + L"\\system32\\ixilumo.dll";
        os.files = {full};
        UninstallDriverPackage(os, 0);
        const bool fits = full.size() < kMaxPath;
        EXPECT_EQ(os.files.empty(), fits) << rootLength;
        for (const auto &c : os.calls)
            if (c.rfind(L"delete ", 0) == 0) {
                EXPECT_EQ(c, L"delete " + full);
            }
    }
}

TEST_F(Bitness64, UninstallWalksEveryFilledSlotInOrder) {
    PackageConfiguration config = kPackageConfiguration;
    config.infNames = {L"a.inf", L"", nullptr, L"b.inf"};
    config.systemFiles = {nullptr, L"system32\\one.dll", L"", L"two.sys"};
    config.registryKeys = {};
    config.registryKeys[2] = {RegistryRoot::CurrentUser, L"Software\\First"};
    config.registryKeys[3] = {RegistryRoot::None, L"Software\\NoRoot"};
    config.registryKeys[9] = {RegistryRoot::LocalMachine, L"Software\\Last"};
    FakeOs os;
    os.calls.clear();
    EXPECT_EQ(UninstallDriverPackage(os, 1, config), 0);
    std::vector<std::wstring> work;
    for (const auto &c : os.calls)
        if (c.rfind(L"run ", 0) == 0 || c.rfind(L"delete ", 0) == 0 || c.rfind(L"regdel ", 0) == 0) work.push_back(c);
    const std::vector<std::wstring> expected = {
        L"run dpinst_x64 /sw /u a.inf /d",
        L"run dpinst_x64 /sw /u b.inf /d",
        L"delete C:\\Windows\\system32\\one.dll",
        L"delete C:\\Windows\\two.sys",
        L"regdel HKCU\\Software\\First",
        L"regdel other\\Software\\Last",
    };
    EXPECT_EQ(work, expected);
}

TEST(InstallerStartup, ExitCodesAndWhatRuns) {
    struct Case {
        const char *name;
        std::vector<std::wstring> args;
        bool admin = true;
        bool bitnessKnown = true;
        bool wow64 = false;
        bool toolPresent = true;
        uint32_t toolExit = 0;
        int exitCode = 0;
        std::vector<std::wstring> runs = {};
        int messages = 0;
        int wizards = 0;
    } cases[] = {
        {"wizard", {}, true, true, false, true, 0, 0, {}, 0, 1},
        {"install ok", {L"-i"}, true, true, false, true, 0x40000001, 0, {L"dpinst_x64 /sw /se"}},
        {"install failed", {L"/i"}, true, true, false, true, 0x80010000, 1, {L"dpinst_x64 /sw /se"}},
        {"install not started", {L"-i"}, true, true, false, false, 0, 1, {L"dpinst_x64 /sw /se"}},
        {"32-bit process on 64-bit", {L"-i"}, true, true, true, true, 0, 0, {L"dpinst_x64 /sw /se"}},
        {"uninstall", {L"/U"}, true, true, false, true, 0x80000000, 0, {L"dpinst_x64 /sw /u corvellumo.inf"}},
        {"uninstall delete", {L"-u", L"-d"}, true, true, false, true, 0, 0, {L"dpinst_x64 /sw /u corvellumo.inf /d"}},
        {"delete before uninstall", {L"-d", L"-u"}, true, true, false, true, 0, 0,
         {L"dpinst_x64 /sw /u corvellumo.inf /d"}},
        {"install wins", {L"-i", L"-u"}, true, true, false, true, 0, 0, {L"dpinst_x64 /sw /se"}},
        {"install wins failing", {L"-u", L"-i"}, true, true, false, true, 0x80000000, 1, {L"dpinst_x64 /sw /se"}},
        {"unknown first", {L"-x", L"-u"}, true, true, false, true, 0, 0, {}, 0, 1},
        {"delete alone", {L"-d"}, true, true, false, true, 0, 0, {}, 0, 1},
        {"not admin wizard", {}, false, true, false, true, 0, 0, {}, 1, 0},
        {"not admin install", {L"-i"}, false, true, false, true, 0x80000000, 0, {}, 0, 0},
        {"not admin uninstall", {L"-u"}, false, true, false, true, 0, 0, {}, 0, 0},
        {"not admin unknown", {L"-x", L"-i"}, false, true, false, true, 0, 0, {}, 1, 0},
        {"bitness unknown", {L"-i"}, true, false, false, true, 0x80000000, 0, {}, 0, 0},
        {"bitness unknown wizard", {}, true, false, false, true, 0, 0, {}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        os.isMember = c.admin;
        os.wow64QueryWorks = c.bitnessKnown;
        os.wow64 = c.wow64;
        if (c.wow64) os.architecture = 0;
        if (!c.toolPresent) os.programs.clear();
        os.toolExitCode = c.toolExit;
        FakeUi ui;
        EXPECT_EQ(RunInstaller(os, ui, c.args), c.exitCode);
        EXPECT_EQ(os.toolRuns(), c.runs);
        EXPECT_EQ(ui.messages, c.messages);
        EXPECT_EQ(ui.wizards, c.wizards);
        if (!c.admin || !c.bitnessKnown) {
            EXPECT_EQ(os.userKeys.size(), 1u) << "nothing removed";
        }
    }
}

TEST(InstallerStartup, SilentInstallWithUnreadableDirectoryEndsAsFailure) {
    FakeOs os;
    os.currentDirectoryReadable = false;
    FakeUi ui;
    EXPECT_EQ(RunInstaller(os, ui, {L"-i"}), 1);
    EXPECT_TRUE(os.toolRuns().empty());
}

TEST(InstallerStartup, WizardWindowFailureStillEndsWithZero) {
    FakeOs os;
    FakeUi ui;
    ui.windowCreates = false;
    EXPECT_EQ(RunInstaller(os, ui, {}), 0);
    EXPECT_EQ(ui.wizards, 1);
}

TEST(InstallerTexts, ProductNameFillsEveryPlaceholder) {
    EXPECT_EQ(text::WithProductName(text::kUninstallChoice), L"Uninstall CorvelLumo Device");
    EXPECT_EQ(text::WithProductName(text::kWizardTitle), L"CorvelLumo Installer Utility");
    EXPECT_EQ(text::WithProductName(L"%s and %s"), L"CorvelLumo and CorvelLumo");
    EXPECT_EQ(text::WithProductName(L"100% done%"), L"100% done%");
    EXPECT_EQ(text::WithProductName(L""), L"");
}
