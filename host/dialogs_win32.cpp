// The configuration sheet and the about box. The sheet has two pages built
// from page records: the main page (frequency, thread priority, loop count,
// fade-out time), which changes the settings only on OK, and the mixer,
// whose edits change the levels while the user types, so they are heard at
// the next block; both save through the settings store on OK. Cancel saves
// nothing and leaves typed levels in effect.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <zlib.h>

#include "host/resource.h"
#include "host/shell.h"
#include "player/settings.h"

namespace {

constexpr int kTextSize = 260;

// The mixer page's controls: each level's edit, its spin and the setting it
// changes. Closed by a row whose edit is 0.
struct MixerControl {
    int edit;
    int spin;
    SettingWord PluginSettings::*field;
};

const MixerControl mixerControlTable[] = {
    {IDC_FM_LEVEL, IDC_FM_SPIN, &PluginSettings::volumeFm},
    {IDC_SSG_LEVEL, IDC_SSG_SPIN, &PluginSettings::volumeSsg},
    {IDC_PCM_LEVEL, IDC_PCM_SPIN, &PluginSettings::volumePcm},
    {0, 0, nullptr},
};

// 1 while the mixer page is active and its edits are filled: only then do
// edit changes reach the settings (filling them must not write back).
volatile int32_t mixerReady = 0;

void FillList(HWND page, int control, const SettingChoice* table, int32_t value, int fallback) {
    HWND list = GetDlgItem(page, control);
    SendMessageA(list, CB_SETEXTENDEDUI, 1, 0);
    for (const SettingChoice* entry = table; entry->name != nullptr; ++entry) {
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry->name));
    }
    SendMessageA(list, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(LookupChoiceName(table, value, fallback)));
}

int32_t ReadList(HWND page, int control, const SettingChoice* table) {
    char text[kTextSize] = "";
    GetDlgItemTextA(page, control, text, sizeof text);
    return LookupChoiceValue(table, text);
}

// The edit's unsigned number, or `fallback` when it is not one or exceeds
// `highest`.
int32_t ReadBounded(HWND page, int control, UINT highest, int32_t fallback) {
    BOOL isNumber = FALSE;
    const UINT value = GetDlgItemInt(page, control, &isNumber, FALSE);
    return isNumber && value <= highest ? static_cast<int32_t>(value) : fallback;
}

void SetSpinRange(HWND page, int control, int lowest, int highest) {
    SendDlgItemMessageA(page, control, UDM_SETRANGE, 0, MAKELPARAM(highest, lowest));
}

void SetResult(HWND page, LONG_PTR result) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
}

INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            FillList(page, IDC_PRIORITY, priorityChoices, settings.priority, 2);
            FillList(page, IDC_FREQUENCY, frequencyChoices, settings.frequency, 0);
            SetDlgItemInt(page, IDC_LOOP_COUNT,
                          static_cast<UINT>(static_cast<int32_t>(settings.loopCount)), FALSE);
            SetSpinRange(page, IDC_LOOP_SPIN, 0, kMaxLoopCount);
            SetDlgItemInt(page, IDC_FADEOUT,
                          static_cast<UINT>(static_cast<int32_t>(settings.fadeoutTime)), FALSE);
            SetSpinRange(page, IDC_FADEOUT_SPIN, 0, kMaxFadeoutTime);
            return TRUE;
        case WM_COMMAND: {
            const int control = LOWORD(wParam);
            const int code = HIWORD(wParam);
            const bool listChanged =
                code == CBN_SELCHANGE && (control == IDC_PRIORITY || control == IDC_FREQUENCY);
            const bool editChanged =
                code == EN_UPDATE && (control == IDC_LOOP_COUNT || control == IDC_FADEOUT);
            if (!listChanged && !editChanged) return FALSE;
            SendMessageA(GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
            return TRUE;
        }
        case WM_NOTIFY:
            if (reinterpret_cast<NMHDR*>(lParam)->code != static_cast<UINT>(PSN_APPLY))
                return FALSE;
            settings.priority = ReadList(page, IDC_PRIORITY, priorityChoices);
            settings.frequency = ReadList(page, IDC_FREQUENCY, frequencyChoices);
            settings.loopCount =
                ReadBounded(page, IDC_LOOP_COUNT, kMaxLoopCount, kDefaultLoopCount);
            settings.fadeoutTime =
                ReadBounded(page, IDC_FADEOUT, kMaxFadeoutTime, kDefaultFadeoutTime);
            SaveMainSettings();
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK MixerPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            mixerReady = 0;
            return TRUE;
        case WM_NOTIFY:
            switch (reinterpret_cast<NMHDR*>(lParam)->code) {
                case PSN_SETACTIVE:
                    for (const MixerControl* row = mixerControlTable; row->edit != 0; ++row) {
                        SetSpinRange(page, row->spin, kLowestLevel, kHighestLevel);
                        SetDlgItemInt(
                            page, row->edit,
                            static_cast<UINT>(static_cast<int32_t>(settings.*(row->field))), TRUE);
                    }
                    mixerReady = 1;
                    SetResult(page, 0);
                    return TRUE;
                case PSN_KILLACTIVE:
                    mixerReady = 0;
                    SetResult(page, FALSE);
                    return TRUE;
                case PSN_APPLY:
                    SaveVolumeSettings();
                    SetResult(page, PSNRET_NOERROR);
                    return TRUE;
                case PSN_RESET:
                    mixerReady = 0;
                    return FALSE;
                default:
                    return FALSE;
            }
        case WM_COMMAND:
            if (HIWORD(wParam) != EN_CHANGE) return FALSE;
            for (const MixerControl* row = mixerControlTable; row->edit != 0; ++row) {
                if (row->edit != LOWORD(wParam)) continue;
                char text[kTextSize] = "";
                GetDlgItemTextA(page, row->edit, text, sizeof text);
                if (mixerReady == 1 && text[0] != '\0') settings.*(row->field) = TextToInt(text);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void Config(HostWindow parent) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    PROPSHEETPAGEA pages[2] = {};
    const struct {
        int templateId;
        DLGPROC proc;
    } pageTable[] = {{IDD_MAIN_PAGE, MainPageProc}, {IDD_MIXER_PAGE, MixerPageProc}};
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].dwFlags = PSP_DEFAULT;
        pages[i].hInstance = static_cast<HINSTANCE>(dllInstance);
        pages[i].pszTemplate = MAKEINTRESOURCEA(pageTable[i].templateId);
        pages[i].pfnDlgProc = pageTable[i].proc;
        pages[i].lParam = 0;
    }
    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    sheet.hwndParent = static_cast<HWND>(parent);
    sheet.hInstance = static_cast<HINSTANCE>(dllInstance);
    sheet.pszCaption = "Tamboril setting";
    sheet.nPages = 2;
    sheet.nStartPage = 0;
    sheet.ppsp = pages;
    PropertySheetA(&sheet);
}

void About(HostWindow parent) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "FM sound generator\n"
                  "\tTamboril FM core, written for this plug-in\n"
                  "\tCopyright (C) 2026 The Tamboril developers\n"
                  "\n"
                  "ZLIB %s\n"
                  "\tCopyright (C) 1995-2022 Jean-loup Gailly and Mark Adler\n"
                  "\tminizip: Copyright (C) 1998-2010 Gilles Vollant\n"
                  "\n"
                  "Tamboril\n"
                  "\tCopyright (C) 2026 The Tamboril developers",
                  ZLIB_VERSION);
    MessageBoxA(static_cast<HWND>(parent), text, inModule.description, MB_OK);
}
