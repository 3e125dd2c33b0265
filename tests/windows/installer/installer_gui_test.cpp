// Walks IxInstallLumo's wizard the way a person would: starts the program,
// finds the wizard window, reads every text on each page, clicks the radio
// buttons, the box and the wizard's buttons with the mouse, and waits for the
// final page. The wizard runs on a desktop of its own (a virtual screen under
// Wine) that this program shares; DPInst is the stand-in, held busy by a gate
// file while the progress page is inspected. Each page is saved as a PNG in
// "installer-gui-screens". Also checks the program's resources through the
// system's own resource and dialog loaders.
#include <gtest/gtest.h>

#include <windows.h>

#include <prsht.h>

#include <functional>
#include <set>
#include <string>

#include "png_writer.h"
#include "support.h"

using namespace installer_test;

namespace {

constexpr int kWizardBack = 0x3023;
constexpr int kWizardNext = 0x3024;
constexpr int kWizardFinish = 0x3025;
constexpr DWORD kWaitMs = 30000;

const std::wstring kTitle = L"CorvelLumo Installer Utility";

std::string Narrow(const std::wstring &text) { return std::string(text.begin(), text.end()); }

// A desktop of our own: under Wine every desktop other than the default one
// is a virtual screen of the size registered for it, shown on the X display
// of the first process that draws on it. The default desktop may already be
// owned by an earlier test that ran without a display.
class VirtualScreen : public ::testing::Environment {
public:
    static inline std::wstring name;
    static inline HDESK desktop = nullptr;

    void SetUp() override {
        name = L"ixinstall-gui-" + std::to_wstring(GetCurrentProcessId());
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            const wchar_t size[] = L"1024x768";
            RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(size), sizeof size);
            RegCloseKey(key);
        }
        desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        ASSERT_NE(desktop, nullptr) << GetLastError();
        ASSERT_TRUE(SetThreadDesktop(desktop)) << GetLastError();
        CreateDirectoryW(L"installer-gui-screens", nullptr);
    }
    void TearDown() override {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(key, name.c_str());
            RegCloseKey(key);
        }
    }
};
const auto *const kScreen = ::testing::AddGlobalTestEnvironment(new VirtualScreen);

bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs = kWaitMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Reads the text the window system keeps for the window; for another
// process's window this needs no message, so it works while the wizard is
// busy.
std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK MatchWizardWindow(HWND window, LPARAM param) {
    auto *s = reinterpret_cast<Search *>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == s->process && IsWindowVisible(window) && ClassOf(window) == L"#32770") {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindWizardWindow(DWORD process) {
    Search search = {process, nullptr};
    EnumWindows(MatchWizardWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

INT_PTR CALLBACK InertDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The visible page: a child dialog of the sheet.
HWND CurrentPage(HWND sheet) {
    HWND page = nullptr;
    for (HWND child = GetWindow(sheet, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (ClassOf(child) == L"#32770" && IsWindowVisible(child)) page = child;
    return page;
}

// The one static text of the progress and final pages.
std::wstring PageText(HWND page) {
    HWND label = page ? GetWindow(page, GW_CHILD) : nullptr;
    return label ? TextOf(label) : std::wstring();
}

// A real mouse click in the middle of the control, once the control is what
// is on screen there: a window of the previous run can linger a moment.
void Click(HWND control) {
    RECT r;
    ASSERT_TRUE(GetWindowRect(control, &r));
    const POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    WaitUntil([&] { return WindowFromPoint(centre) == control; }, 5000);
    ASSERT_TRUE(SetCursorPos(centre.x, centre.y));
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ASSERT_EQ(SendInput(2, input, sizeof(INPUT)), 2u);
}

// Clicks until `happened` holds, as a person clicks again when the first
// click went to a window that was still settling. Under Wine an injected
// mouse click is now and then lost; the control is then pressed through its
// own click message, which runs the same code in the installer. No second
// click is sent once the control has gone (its program is closing), so no
// stray click reaches the next wizard.
bool ClickUntil(HWND control, const std::function<bool()> &happened) {
    const auto stillThere = [&] { return IsWindow(control) && IsWindowVisible(control) && IsWindowEnabled(control); };
    for (int attempt = 0; attempt < 2; ++attempt) {
        Click(control);
        if (WaitUntil(happened, 8000)) return true;
        if (!stillThere()) return WaitUntil(happened);
        POINT at;
        GetCursorPos(&at);
        HWND under = WindowFromPoint(at);
        DWORD underProcess = 0, controlProcess = 0;
        GetWindowThreadProcessId(under, &underProcess);
        GetWindowThreadProcessId(control, &controlProcess);
        fprintf(stderr, "mouse click had no effect: cursor at %ld,%ld over %ls \"%ls\" of process %lu, control of %lu\n",
                at.x, at.y, ClassOf(under).c_str(), TextOf(under).c_str(), underProcess, controlProcess);
    }
    if (stillThere()) PostMessageW(control, BM_CLICK, 0, 0);
    return WaitUntil(happened);
}

LRESULT CheckState(HWND button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    return LRESULT(result);
}

struct ButtonState {
    bool visible, enabled;
};
ButtonState StateOf(HWND sheet, int id) {
    HWND button = GetDlgItem(sheet, id);
    return {button && IsWindowVisible(button), button && IsWindowEnabled(button)};
}

struct Capture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Capture CaptureWindow(HWND sheet) {
    Capture c;
    RECT r;
    GetWindowRect(sheet, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return c;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    c.width = w;
    c.height = h;
    c.rgb.resize(size_t(w) * h * 3);
    const auto *px = static_cast<const uint8_t *>(bits);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        c.rgb[i * 3] = px[i * 4 + 2];
        c.rgb[i * 3 + 1] = px[i * 4 + 1];
        c.rgb[i * 3 + 2] = px[i * 4];
    }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return c;
}

// Saves the wizard window as it is on screen once the picture has stopped
// changing (Wine hands window contents to the X server a little later than
// they are drawn), and returns how many different colours it shows: a blank
// capture shows one or two.
size_t Screenshot(HWND sheet, const wchar_t *name) {
    Capture shot = CaptureWindow(sheet);
    for (int tries = 0; tries < 40; ++tries) {
        Sleep(150);
        Capture again = CaptureWindow(sheet);
        const bool same = again.rgb == shot.rgb;
        shot = std::move(again);
        if (same) break;
    }
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 2 < shot.rgb.size(); i += 3)
        colours.insert(shot.rgb[i] | shot.rgb[i + 1] << 8 | shot.rgb[i + 2] << 16);
    const std::vector<uint8_t> png = EncodePng(uint32_t(shot.width), uint32_t(shot.height), shot.rgb);
    WriteFileText(std::wstring(L"installer-gui-screens\\") + name + L".png", std::string(png.begin(), png.end()));
    return colours.size();
}

class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = MakeWorkFolder(std::wstring(info->name(), info->name() + strlen(info->name())), true);
        record_ = folder_ + L"\\dpinst-record.txt";
        gate_ = folder_ + L"\\dpinst-gate";
        // The silent tests use the same copy; ctest keeps the two programs apart.
        library_ = SystemLibraryCopy();
        WriteFileText(library_, "library copy");
    }
    void TearDown() override {
        const DWORD id = pid_;
        if (process_.hProcess) FinishProcess(process_, 1);
        // The next run's wizard opens at the same place; let this one's
        // windows leave the screen first.
        if (id) WaitUntil([&] { return FindWizardWindow(id) == nullptr; }, 10000);
        SetCursorPos(1000, 700);
        RemoveTree(folder_);
    }

    // Starts the wizard with the stand-in DPInst ending with `toolExit`.
    HWND Start(const wchar_t *arguments, const wchar_t *toolExit) {
        ScopedEnv record(L"IXLUMO_DPINST_RECORD", record_.c_str());
        ScopedEnv gate(L"IXLUMO_DPINST_GATE", gate_.c_str());
        ScopedEnv exitCode(L"IXLUMO_DPINST_EXIT", toolExit);
        process_ = StartInstaller(arguments, folder_, VirtualScreen::name.c_str());
        pid_ = process_.dwProcessId;
        EXPECT_NE(process_.hProcess, nullptr) << GetLastError();
        HWND sheet = nullptr;
        EXPECT_TRUE(WaitUntil([&] { return (sheet = FindWizardWindow(process_.dwProcessId)) != nullptr; }))
            << "no wizard window";
        // Settled: the first page is shown and its texts are set.
        EXPECT_TRUE(WaitUntil([&] {
            HWND page = CurrentPage(sheet);
            return page && !TextOf(GetDlgItem(page, 1000)).empty();
        }));
        EXPECT_TRUE(Runs().empty()) << "nothing runs before the user chooses";
        return sheet;
    }

    void CheckWelcomePage(HWND sheet, const wchar_t *screenshot) {
        EXPECT_EQ(TextOf(sheet), kTitle);
        RECT r;
        GetWindowRect(sheet, &r);
        EXPECT_EQ(r.left, 10);
        EXPECT_EQ(r.top, 10);
        HWND page = CurrentPage(sheet);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(TextOf(GetDlgItem(page, 1000)), L"Welcome to the CorvelLumo Install/Uninstall Utility");
        EXPECT_EQ(TextOf(GetDlgItem(page, 1002)), L"Install CorvelLumo");
        EXPECT_EQ(TextOf(GetDlgItem(page, 1003)), L"Uninstall CorvelLumo Device");
        EXPECT_EQ(TextOf(GetDlgItem(page, 1005)), L"Delete CorvelLumo Driver Software");
        EXPECT_EQ(CheckState(GetDlgItem(page, 1002)), BST_CHECKED);
        EXPECT_EQ(CheckState(GetDlgItem(page, 1003)), BST_UNCHECKED);
        EXPECT_EQ(CheckState(GetDlgItem(page, 1005)), BST_CHECKED);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1005))) << "Delete stays disabled until Uninstall is chosen";
        EXPECT_TRUE(StateOf(sheet, kWizardNext).visible && StateOf(sheet, kWizardNext).enabled);
        EXPECT_FALSE(StateOf(sheet, kWizardBack).enabled);
        EXPECT_FALSE(StateOf(sheet, kWizardFinish).visible);
        EXPECT_TRUE(StateOf(sheet, IDCANCEL).visible);
        if (screenshot) {
            EXPECT_GT(Screenshot(sheet, screenshot), 16u) << "the watermark and texts are on screen";
        }
    }

    // Next on the welcome page starts the work.
    void Next(HWND sheet) {
        ASSERT_TRUE(ClickUntil(GetDlgItem(sheet, kWizardNext), [&] { return !Runs().empty(); }))
            << "Next did not lead to DPInst";
    }

    // DPInst has started, so the progress page is up and the wizard is busy.
    void CheckProgressPage(HWND sheet, const wchar_t *text, const wchar_t *screenshot) {
        ASSERT_TRUE(WaitUntil([&] { return !ReadToolRuns(record_).empty(); })) << "DPInst never started";
        HWND page = CurrentPage(sheet);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(PageText(page), text);
        EXPECT_EQ(TextOf(sheet), kTitle);
        EXPECT_FALSE(StateOf(sheet, kWizardNext).enabled);
        EXPECT_FALSE(StateOf(sheet, kWizardBack).enabled);
        EXPECT_FALSE(StateOf(sheet, kWizardFinish).enabled);
        EXPECT_GT(Screenshot(sheet, screenshot), 16u);
        WriteFileText(gate_, "go");
    }

    void FinishWith(HWND sheet, const wchar_t *text, const wchar_t *screenshot) {
        HWND page = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            page = CurrentPage(sheet);
            return PageText(page).rfind(L"The CorvelLumo", 0) == 0 && StateOf(sheet, kWizardFinish).enabled &&
                   StateOf(sheet, kWizardFinish).visible && !StateOf(sheet, IDCANCEL).visible;
        })) << "final page never came; showing \"" << Narrow(PageText(CurrentPage(sheet))) << "\"";
        EXPECT_EQ(PageText(page), text);
        EXPECT_TRUE(StateOf(sheet, kWizardFinish).visible);
        EXPECT_FALSE(StateOf(sheet, kWizardBack).enabled) << "no way back to redo the work";
        EXPECT_FALSE(StateOf(sheet, IDCANCEL).visible) << "Cancel is hidden on the final page";
        EXPECT_GT(Screenshot(sheet, screenshot), 16u);
        EXPECT_TRUE(ClickUntil(GetDlgItem(sheet, kWizardFinish),
                               [&] { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }));
        EXPECT_EQ(FinishProcess(process_, kWaitMs), 0u) << "the wizard always ends with 0";
    }

    std::vector<ToolRun> Runs() const { return ReadToolRuns(record_); }

    std::wstring folder_, record_, gate_, library_;
    PROCESS_INFORMATION process_ = {};
    DWORD pid_ = 0;
};

} // namespace

TEST_F(Wizard, InstallSucceeds) {
    HWND sheet = Start(L"", L"0x40000001");
    ASSERT_NE(sheet, nullptr);
    CheckWelcomePage(sheet, L"1-welcome");
    Next(sheet);
    CheckProgressPage(sheet, L"Please wait while the CorvelLumo drivers are being installed...", L"2-installing");
    FinishWith(sheet, L"The CorvelLumo has been Installed Successfully!", L"4-installed");
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].commandLine, ExpectedToolName() + L" /sw /se");
    EXPECT_EQ(runs[0].currentDirectory, folder_ + L"\\Files");
    EXPECT_TRUE(FileExists(library_)) << "installing removes nothing";
}

TEST_F(Wizard, InstallFailureIsShown) {
    HWND sheet = Start(L"", L"0x80010000");
    ASSERT_NE(sheet, nullptr);
    Next(sheet);
    CheckProgressPage(sheet, L"Please wait while the CorvelLumo drivers are being installed...", L"2-installing-failing");
    FinishWith(sheet, L"The CorvelLumo was Not Installed Successfully", L"4-install-failed");
    EXPECT_EQ(Runs().size(), 1u);
}

TEST_F(Wizard, UninstallWithDriverSoftware) {
    HWND sheet = Start(L"", L"0");
    ASSERT_NE(sheet, nullptr);
    CheckWelcomePage(sheet, nullptr);
    HWND page = CurrentPage(sheet);
    HWND install = GetDlgItem(page, 1002), uninstall = GetDlgItem(page, 1003), box = GetDlgItem(page, 1005);

    ASSERT_TRUE(ClickUntil(uninstall, [&] { return IsWindowEnabled(box) != FALSE; }))
        << "Uninstall enables the Delete box";
    EXPECT_EQ(CheckState(uninstall), BST_CHECKED);
    EXPECT_EQ(CheckState(install), BST_UNCHECKED);
    EXPECT_EQ(CheckState(box), BST_CHECKED);
    // Back to Install and Uninstall again: the box is disabled meanwhile and keeps its tick.
    ASSERT_TRUE(ClickUntil(install, [&] { return IsWindowEnabled(box) == FALSE; }));
    EXPECT_EQ(CheckState(box), BST_CHECKED);
    ASSERT_TRUE(ClickUntil(uninstall, [&] { return IsWindowEnabled(box) != FALSE; }));
    EXPECT_GT(Screenshot(sheet, L"1-welcome-uninstall"), 16u);

    Next(sheet);
    CheckProgressPage(sheet, L"Please wait while the CorvelLumo drivers are being uninstalled...", L"3-uninstalling");
    FinishWith(sheet, L"The CorvelLumo has been Uninstalled Successfully!", L"4-uninstalled");
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].commandLine, ExpectedToolName() + L" /sw /u corvellumo.inf /d");
    EXPECT_EQ(runs[0].currentDirectory, folder_ + L"\\Files");
    EXPECT_FALSE(FileExists(library_));
}

TEST_F(Wizard, UninstallKeepingDriverSoftware) {
    // A failing DPInst does not matter: uninstall failures are never reported.
    HWND sheet = Start(L"", L"0x80000000");
    ASSERT_NE(sheet, nullptr);
    HWND page = CurrentPage(sheet);
    HWND box = GetDlgItem(page, 1005);
    ASSERT_TRUE(ClickUntil(GetDlgItem(page, 1003), [&] { return IsWindowEnabled(box) != FALSE; }));
    ASSERT_TRUE(ClickUntil(box, [&] { return CheckState(box) == BST_UNCHECKED; })) << "the box unticks";
    Next(sheet);
    CheckProgressPage(sheet, L"Please wait while the CorvelLumo drivers are being uninstalled...",
                      L"3-uninstalling-keep");
    FinishWith(sheet, L"The CorvelLumo has been Uninstalled Successfully!", L"4-uninstalled-keep");
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].commandLine, ExpectedToolName() + L" /sw /u corvellumo.inf");
    EXPECT_FALSE(FileExists(library_));
}

TEST_F(Wizard, UnknownFirstArgumentShowsTheWizardAndCancelDoesNothing) {
    // Parsing stops at "-x", so the "-u" after it is never seen.
    HWND sheet = Start(L"-x -u", L"0");
    ASSERT_NE(sheet, nullptr);
    CheckWelcomePage(sheet, nullptr);
    EXPECT_TRUE(ClickUntil(GetDlgItem(sheet, IDCANCEL),
                           [&] { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }));
    EXPECT_EQ(FinishProcess(process_, kWaitMs), 0u);
    EXPECT_TRUE(Runs().empty());
    EXPECT_TRUE(FileExists(library_));
}

// The program's resources, read back through the system's own loaders.
class Resources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(InstallerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

TEST_F(Resources, StringsBitmapsIconsAndManifest) {
    wchar_t text[64] = {};
    EXPECT_GT(LoadStringW(module_, 103, text, 64), 0);
    EXPECT_STREQ(text, L"IxInstallLumo");
    EXPECT_GT(LoadStringW(module_, 109, text, 64), 0);
    EXPECT_STREQ(text, L"IXINSTALL");

    struct {
        int id, width, height;
    } bitmaps[] = {{129, 150, 201}, {149, 48, 40}};
    for (const auto &b : bitmaps) {
        HANDLE image = LoadImageW(module_, MAKEINTRESOURCEW(b.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
        ASSERT_NE(image, nullptr) << "bitmap " << b.id;
        DIBSECTION dib = {};
        ASSERT_EQ(GetObjectW(image, sizeof dib, &dib), int(sizeof dib));
        EXPECT_EQ(dib.dsBm.bmWidth, b.width) << b.id;
        EXPECT_EQ(dib.dsBm.bmHeight, b.height) << b.id;
        EXPECT_EQ(dib.dsBm.bmBitsPixel, 8) << "256 colours, bitmap " << b.id;
        EXPECT_LE(dib.dsBmih.biClrUsed, 256u);
        DeleteObject(image);
    }

    for (int id : {107, 108}) {
        const int size = id == 107 ? 32 : 16;
        HICON icon = static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << "icon " << id;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour = {};
        GetObjectW(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }

    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "manifest";
    const char *data = static_cast<const char *>(LockResource(LoadResource(module_, found)));
    const std::string manifest(data, SizeofResource(module_, found));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    const size_t controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(controls, std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\"", controls), std::string::npos);
}

TEST_F(Resources, PageDialogs) {
    struct Control {
        int id; // -1: no identifier
        const wchar_t *className;
        const wchar_t *text;
        int x, y, w, h;
        DWORD buttonType; // BS_* for buttons
        bool group, tabStop, disabled;
    };
    struct Dialog {
        int id, w, h;
        std::vector<Control> controls;
    } dialogs[] = {
        {130,
         309,
         153,
         {{1000, L"Static", L"", 124, 22, 164, 54, 0, false, false, false},
          {1002, L"Button", L"Install", 124, 90, 163, 10, BS_AUTORADIOBUTTON, true, true, false},
          {1003, L"Button", L"Uninstall", 124, 109, 165, 10, BS_AUTORADIOBUTTON, false, true, false},
          {1005, L"Button", L"Delete Driver Software", 144, 126, 151, 10, BS_AUTOCHECKBOX, false, true, true}}},
        {131, 309, 139, {{-1, L"Static", L"", 26, 21, 213, 76, 0, false, false, false}}},
        {138, 309, 129, {{-1, L"Static", L"Static", 15, 23, 274, 41, 0, false, false, false}}},
        {132, 309, 131, {{-1, L"Static", L"all done", 125, 23, 168, 86, 0, false, false, false}}},
    };
    for (const Dialog &d : dialogs) {
        SCOPED_TRACE(testing::Message() << "dialog " << d.id);
        HWND dialog = CreateDialogParamW(module_, MAKEINTRESOURCEW(d.id), nullptr, InertDialog, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
        const LONG style = GetWindowLongW(dialog, GWL_STYLE);
        EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_TRUE(style & DS_MODALFRAME);

        RECT size = {0, 0, d.w, d.h}, client;
        MapDialogRect(dialog, &size);
        GetClientRect(dialog, &client);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);

        LOGFONTW font = {};
        HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
        ASSERT_NE(dialogFont, nullptr);
        GetObjectW(dialogFont, sizeof font, &font);
        EXPECT_STREQ(font.lfFaceName, L"MS Shell Dlg");
        EXPECT_EQ(font.lfWeight, 400);
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72)) << "8 points";
        ReleaseDC(nullptr, screen);

        size_t children = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++children;
        EXPECT_EQ(children, d.controls.size());
        HWND unnamed = GetWindow(dialog, GW_CHILD);
        for (const Control &c : d.controls) {
            SCOPED_TRACE(testing::Message() << "control " << c.id);
            HWND control = c.id == -1 ? unnamed : GetDlgItem(dialog, c.id);
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(ClassOf(control), c.className);
            EXPECT_EQ(TextOf(control), c.text);
            // Position and size are converted from dialog units separately.
            RECT expected = {c.x, c.y, c.w, c.h}, actual;
            MapDialogRect(dialog, &expected);
            GetWindowRect(control, &actual);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&actual), 2);
            EXPECT_EQ(actual.left, expected.left);
            EXPECT_EQ(actual.top, expected.top);
            EXPECT_EQ(actual.right - actual.left, expected.right);
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
            const LONG controlStyle = GetWindowLongW(control, GWL_STYLE);
            if (c.buttonType) {
                EXPECT_EQ(DWORD(controlStyle & BS_TYPEMASK), c.buttonType);
            }
            EXPECT_EQ((controlStyle & WS_TABSTOP) != 0, c.tabStop);
            EXPECT_EQ(IsWindowEnabled(control) == FALSE, c.disabled);
            if (ClassOf(control) == L"Button") {
                EXPECT_EQ((controlStyle & WS_GROUP) != 0, c.group);
            }
        }
        DestroyWindow(dialog);
    }
}
