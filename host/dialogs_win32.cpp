// The configuration sheet and the about box. The sheet has two pages built
// from page records: the main page (frequency, thread priority, loop count,
// fade-out time), which changes the settings only on OK, and the mixer,
// whose edits change the levels while the user types, so they are heard at
// the next block; both save through the settings store on OK. Cancel saves
// nothing and leaves typed levels in effect.
//
// The file-information box is a Unicode dialog, so that the Japanese tags
// show whatever the system's code page: every tag, then how the file was
// read, the chips' clocks, the lengths and the file's size. Its template and
// words come in the language the sheet's come in.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <memory>
#include <string>
#include <zlib.h>

#include "host/resource.h"
#include "host/shell.h"
#include "player/session.h"
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

// --- the file-information box ----------------------------------------------

static_assert(IDC_INFO_EMULATOR - IDC_INFO_TAG == kTagEmulator &&
                  IDC_INFO_COMMENT - IDC_INFO_TAG == kTagComment,
              "the box numbers its tag edits as the tags are numbered");

// What the box shows of one song, and the font it made for the Japanese
// fields (deleted once the box has closed).
struct SongInfo {
    const SongSession* session;
    uint64_t fileBytes;
    HFONT japaneseFont;
};

// The Japanese tags, and the notes, which may be Japanese too.
const int japaneseFieldTable[] = {IDC_INFO_TRACK_JA, IDC_INFO_GAME_JA, IDC_INFO_SYSTEM_JA,
                                  IDC_INFO_AUTHOR_JA, IDC_INFO_COMMENT};

// The English template's face has no Japanese characters: the Japanese
// fields get a face of the same size that has them, on every system that
// shows Japanese.
void GiveJapaneseFont(HWND box, SongInfo& info) {
    LOGFONTW face;
    HFONT boxFont = reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0));
    if (boxFont == nullptr || GetObjectW(boxFont, sizeof face, &face) != sizeof face) return;
    lstrcpynW(face.lfFaceName, L"MS UI Gothic", LF_FACESIZE);
    face.lfCharSet = SHIFTJIS_CHARSET;
    info.japaneseFont = CreateFontIndirectW(&face);
    if (info.japaneseFont == nullptr) return;
    for (int control : japaneseFieldTable) {
        SendDlgItemMessageW(box, control, WM_SETFONT, reinterpret_cast<WPARAM>(info.japaneseFont),
                            FALSE);
    }
}

// One of the box's words, in the language the resources were picked in.
std::wstring Word(int id) {
    wchar_t text[64];
    const int length = LoadStringW(static_cast<HINSTANCE>(dllInstance), id, text, 64);
    return std::wstring(text, length > 0 ? length : 0);
}

// UTF-8 text as the edits take it: a one-line field gets blanks for its line
// breaks and tabs; the notes keep their lines, each ending in CR LF.
std::wstring Wide(const char* utf8, bool oneLine) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &text[0], length);
    text.resize(static_cast<size_t>(length - 1));
    std::wstring shown;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (oneLine && (c == L'\r' || c == L'\n' || c == L'\t')) {
            shown += L' ';
        } else if (!oneLine && c == L'\r') {
            shown += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else if (!oneLine && c == L'\n') {
            shown += L"\r\n";
        } else {
            shown += c;
        }
    }
    return shown;
}

// 7670453 as "7,670,453".
std::wstring Grouped(uint64_t number) {
    std::wstring digits = std::to_wstring(number);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, L",");
    return digits;
}

// m:ss.mmm
std::wstring Clock(uint64_t ms) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%u:%02u.%03u", static_cast<unsigned>(ms / 60000),
                  static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
    return text;
}

std::wstring Hertz(uint32_t clock) {
    return clock != 0 ? Grouped(clock) + L" Hz" : Word(IDS_INFO_NONE);
}

void FillInfoBox(HWND box, const SongInfo& info) {
    const SongSession& song = *info.session;
    const SongTags& tags = song.Tags();
    for (int tag = 0; tag < kTagCount; ++tag) {
        SetDlgItemTextW(box, IDC_INFO_TAG + tag, Wide(tags.text[tag], tag != kTagComment).c_str());
    }
    const SongFacts facts = song.Facts();
    SetDlgItemTextW(box, IDC_INFO_FORM, Wide(facts.form, true).c_str());
    SetDlgItemTextW(box, IDC_INFO_SIZE, (Grouped(info.fileBytes) + Word(IDS_INFO_BYTES)).c_str());
    SetDlgItemTextW(box, IDC_INFO_FM_CLOCK, Hertz(facts.fmClockHz).c_str());
    SetDlgItemTextW(box, IDC_INFO_PSG_CLOCK, Hertz(facts.psgClockHz).c_str());
    SetDlgItemTextW(box, IDC_INFO_PASS, Clock(static_cast<uint64_t>(facts.lengthMs)).c_str());
    // A loop point at or past the end (a GYMX header may say so) is not
    // played: the song ends there.
    const uint64_t loopMs = facts.loop * uint64_t{1000} / 60;
    const bool loops = facts.loop != 0 && loopMs < static_cast<uint64_t>(facts.lengthMs);
    SetDlgItemTextW(box, IDC_INFO_LOOP, (loops ? Clock(loopMs) : Word(IDS_INFO_NONE)).c_str());
    const bool forEver = loops && song.Player()->loopLimit == 0;
    SetDlgItemTextW(
        box, IDC_INFO_PLAYS,
        (forEver ? Word(IDS_INFO_FOR_EVER) : Clock(static_cast<uint64_t>(facts.playMs))).c_str());
}

INT_PTR CALLBACK InfoBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            GiveJapaneseFont(box, *reinterpret_cast<SongInfo*>(lParam));
            FillInfoBox(box, *reinterpret_cast<const SongInfo*>(lParam));
            // The button, not the first field, has the focus: a focused
            // field would show its text selected.
            SetFocus(GetDlgItem(box, IDOK));
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
            EndDialog(box, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void SongInfoBox(const char* file, HostWindow parent) {
    if (file == nullptr || file[0] == '\0') return;
    std::unique_ptr<SongSession> song = SongSession::Open(file);
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!song || !GetFileAttributesExA(file, GetFileExInfoStandard, &attributes)) return;
    SongInfo info = {song.get(), uint64_t{attributes.nFileSizeHigh} << 32 | attributes.nFileSizeLow,
                     nullptr};
    DialogBoxParamW(static_cast<HINSTANCE>(dllInstance), MAKEINTRESOURCEW(IDD_INFO_BOX),
                    static_cast<HWND>(parent), InfoBoxProc, reinterpret_cast<LPARAM>(&info));
    if (info.japaneseFont != nullptr) DeleteObject(info.japaneseFont);
}

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
