#include "win/wizard.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstddef>
#include <cwchar>
#include <string>

#include "core/package.h"
#include "core/texts.h"
#include "win/resource.h"

namespace ix::installer {

namespace {

// The progress pages start their work from a timer so the page is on screen
// (with its buttons disabled) before the blocking work begins.
constexpr UINT_PTR kWorkTimer = 1;
constexpr UINT kWorkTimerMs = 100;
constexpr DWORD kProgressPauseMs = 1000;

// The structure as it was before the padded-border field was added, so the
// call succeeds on every Windows version.
constexpr UINT kNonClientMetricsSizeWithoutPadding = 500;
static_assert(offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth) == kNonClientMetricsSizeWithoutPadding);

WizardState *StateOf(HWND page) { return reinterpret_cast<WizardState *>(GetWindowLongPtrW(page, DWLP_USER)); }

WizardState *AttachState(HWND page, LPARAM lParam) {
    auto *sheetPage = reinterpret_cast<PROPSHEETPAGEW *>(lParam);
    auto *state = reinterpret_cast<WizardState *>(sheetPage->lParam);
    SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    return state;
}

void SetText(HWND control, const wchar_t *pattern) {
    SetWindowTextW(control, text::WithProductName(pattern).c_str());
}

// The progress and final pages have one static text without an identifier.
HWND PageText(HWND page) { return GetWindow(page, GW_CHILD); }

// Moves the wizard on once the work is done. Next is enabled first: the
// sheet ignores a press of a disabled button on some Windows versions.
void PressNext(HWND page) {
    HWND sheet = GetParent(page);
    PropSheet_SetWizButtons(sheet, PSWIZB_NEXT);
    PropSheet_PressButton(sheet, PSBTN_NEXT);
}

BOOL Result(HWND page, LONG_PTR result) {
    SetWindowLongPtrW(page, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        WizardState *state = AttachState(page, lParam);
        SetWindowPos(GetParent(page), nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        SendDlgItemMessageW(page, IDC_WELCOME_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(state->titleFont), TRUE);
        SetText(GetDlgItem(page, IDC_WELCOME_TEXT), text::kWelcome);
        SetText(GetDlgItem(page, IDC_INSTALL), text::kInstallChoice);
        SetText(GetDlgItem(page, IDC_UNINSTALL), text::kUninstallChoice);
        SetText(GetDlgItem(page, IDC_DELETE_SOFTWARE), text::kDeleteChoice);
        CheckRadioButton(page, IDC_INSTALL, IDC_UNINSTALL, IDC_INSTALL);
        CheckDlgButton(page, IDC_DELETE_SOFTWARE, BST_CHECKED);
        state->deleteDriverSoftware = 1;
        return TRUE;
    }
    case WM_COMMAND: {
        if (HIWORD(wParam) != BN_CLICKED) break;
        WizardState *state = StateOf(page);
        switch (LOWORD(wParam)) {
        case IDC_INSTALL:
            state->uninstallChosen = 0;
            EnableWindow(GetDlgItem(page, IDC_DELETE_SOFTWARE), FALSE);
            return TRUE;
        case IDC_UNINSTALL:
            state->uninstallChosen = 1;
            EnableWindow(GetDlgItem(page, IDC_DELETE_SOFTWARE), TRUE);
            return TRUE;
        case IDC_DELETE_SOFTWARE:
            state->deleteDriverSoftware = IsDlgButtonChecked(page, IDC_DELETE_SOFTWARE) == BST_CHECKED ? 1 : 0;
            return TRUE;
        }
        break;
    }
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR *>(lParam)->code) {
        case PSN_SETACTIVE:
            PropSheet_SetWizButtons(GetParent(page), PSWIZB_NEXT);
            return Result(page, 0);
        case PSN_WIZNEXT:
            return Result(page, StateOf(page)->uninstallChosen == 1 ? IDD_UNINSTALLING : 0);
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK InstallingPage(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        AttachState(page, lParam);
        SetText(PageText(page), text::kInstallWait);
        SetTimer(page, kWorkTimer, kWorkTimerMs, nullptr);
        return TRUE;
    case WM_TIMER: {
        KillTimer(page, kWorkTimer);
        WizardState *state = StateOf(page);
        Sleep(kProgressPauseMs);
        state->installFailed = ToolFailed(RunDriverPackageTool(*state->os, L"/sw /se")) ? 1 : 0;
        PressNext(page);
        return TRUE;
    }
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR *>(lParam)->code) {
        case PSN_SETACTIVE:
            PropSheet_SetWizButtons(GetParent(page), 0);
            return Result(page, 0);
        case PSN_WIZNEXT:
            // The uninstall page comes next in order; an install skips it.
            return Result(page, IDD_FINISHED);
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK UninstallingPage(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        AttachState(page, lParam);
        SetText(PageText(page), text::kUninstallWait);
        SetTimer(page, kWorkTimer, kWorkTimerMs, nullptr);
        return TRUE;
    case WM_TIMER: {
        KillTimer(page, kWorkTimer);
        WizardState *state = StateOf(page);
        state->installFailed = UninstallDriverPackage(*state->os, state->deleteDriverSoftware);
        Sleep(kProgressPauseMs);
        PressNext(page);
        return TRUE;
    }
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == PSN_SETACTIVE) {
            PropSheet_SetWizButtons(GetParent(page), 0);
            return Result(page, 0);
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK FinishedPage(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        // Created only when shown, so the work is done by now.
        WizardState *state = AttachState(page, lParam);
        HWND label = PageText(page);
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(state->titleFont), TRUE);
        SetText(label, state->uninstallChosen == 1 ? text::kUninstalled
                       : state->installFailed == 1 ? text::kInstallFailed
                                                   : text::kInstalled);
        return TRUE;
    }
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == PSN_SETACTIVE) {
            HWND sheet = GetParent(page);
            PropSheet_SetWizButtons(sheet, PSWIZB_FINISH);
            ShowWindow(GetDlgItem(sheet, IDCANCEL), SW_HIDE);
            return Result(page, 0);
        }
        break;
    }
    return FALSE;
}

HFONT CreateTitleFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = kNonClientMetricsSizeWithoutPadding;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSizeWithoutPadding, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfWeight = FW_BOLD;
    wcsncpy(font.lfFaceName, L"Verdana Bold", LF_FACESIZE - 1);
    font.lfFaceName[LF_FACESIZE - 1] = 0;
    HDC screen = GetDC(nullptr);
    const int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    font.lfHeight = -(pixelsPerInch * 12 / 72);
    return CreateFontIndirectW(&font);
}

} // namespace

void RunWizard(HINSTANCE instance, InstallerOs &os) {
    WizardState state = {};
    state.os = &os;
    state.titleFont = CreateTitleFont();

    const std::wstring title = text::WithProductName(text::kWizardTitle);
    const std::wstring installing = text::WithProductName(text::kInstallingHeader);
    const std::wstring uninstalling = text::WithProductName(text::kUninstallingHeader);

    struct PageSpec {
        int dialog;
        DLGPROC procedure;
        const wchar_t *headerTitle; // null: no header (a full page with the watermark)
    } const pageDefs[4] = {
        {IDD_WELCOME, WelcomePage, nullptr},
        {IDD_INSTALLING, InstallingPage, installing.c_str()},
        {IDD_UNINSTALLING, UninstallingPage, uninstalling.c_str()},
        {IDD_FINISHED, FinishedPage, nullptr},
    };
    HPROPSHEETPAGE pages[4] = {};
    int created = 0;
    for (const PageSpec &pageDef : pageDefs) {
        PROPSHEETPAGEW page = {};
        page.dwSize = sizeof page;
        page.dwFlags = PSP_DEFAULT | PSP_USETITLE;
        page.hInstance = instance;
        page.pszTemplate = MAKEINTRESOURCEW(pageDef.dialog);
        page.pfnDlgProc = pageDef.procedure;
        page.pszTitle = title.c_str();
        page.lParam = reinterpret_cast<LPARAM>(&state);
        if (pageDef.headerTitle) {
            page.dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
            page.pszHeaderTitle = pageDef.headerTitle;
            page.pszHeaderSubTitle = L"";
        } else {
            page.dwFlags |= PSP_HIDEHEADER;
        }
        pages[created] = CreatePropertySheetPageW(&page);
        if (pages[created]) ++created;
    }

    // A wizard missing a page would send Next to the wrong place.
    if (created == 4) {
        PROPSHEETHEADERW sheet = {};
        sheet.dwSize = sizeof sheet;
        sheet.dwFlags = PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER | PSH_NOAPPLYNOW;
        sheet.hwndParent = nullptr;
        sheet.hInstance = instance;
        sheet.pszbmWatermark = MAKEINTRESOURCEW(IDB_WATERMARK);
        sheet.pszbmHeader = MAKEINTRESOURCEW(IDB_HEADER);
        sheet.nPages = 4;
        sheet.nStartPage = 0;
        sheet.phpage = pages;
        PropertySheetW(&sheet);
    } else {
        for (int i = 0; i < created; ++i) DestroyPropertySheetPage(pages[i]);
    }

    if (state.titleFont) DeleteObject(state.titleFont);
}

} // namespace ix::installer
