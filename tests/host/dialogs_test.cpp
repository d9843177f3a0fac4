// The configuration sheet driven as a user drives it: the host opens it on a
// UI thread of its own, the test finds it, picks list entries, types into the
// edits, spins, switches pages and presses OK or Cancel, and then reads what
// reached plugin.ini and the sound. Every case runs with the English and the
// Japanese templates.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>

#include <zlib.h>

#include "shared_songs.h"
#include "tests/host/shell_fixture.h"
#include "tests/host/ui_thread.h"
#include "host/resource.h"
#include "player/session.h"
#include "tests/player/play_helpers.h"

namespace {

using shelltest::Ini;
using shelltest::IniValue;
using standin::Call;
using uitest::UiThread;

enum Control {
    kPriority = 1001,
    kFrequency = 1002,
    kLoopSpin = 1012,
    kLoopCount = 1013,
    kFadeout = 1014,
    kFadeoutSpin = 1015,
    kPcm = 1029,
    kPcmSpin = 1030,
    kSsg = 1034,
    kSsgSpin = 1035,
    kFm = 1044,
    kFmSpin = 1045,
};

// The open sheet.
class Sheet {
public:
    explicit Sheet(bool japanese)
        : ui("Tamboril setting", japanese, [] { standin::Plugin().Config(nullptr); }),
          window(ui.Window()) {}
    ~Sheet() {
        if (window != nullptr && !closed) Close(false);
    }
    bool IsOpen() const { return window != nullptr; }
    HWND Page() const {
        return reinterpret_cast<HWND>(SendMessageA(window, PSM_GETCURRENTPAGEHWND, 0, 0));
    }
    HWND Item(int control) const { return GetDlgItem(Page(), control); }
    void ShowPage(int index) { SendMessageA(window, PSM_SETCURSEL, index, 0); }

    // Picks a list entry as a user would: the selection, then the page's
    // notification.
    void Select(int control, const char* text) {
        HWND list = Item(control);
        const LRESULT index = SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(text));
        SendMessageA(list, CB_SETCURSEL, index, 0);
        SendMessageA(Page(), WM_COMMAND, MAKEWPARAM(control, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
    }
    // Replaces the edit's text keystroke by keystroke, so the edit's own
    // filtering applies (a digits-only edit refuses letters).
    void Type(int control, const std::string& text) {
        HWND edit = Item(control);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        SendMessageA(edit, WM_CHAR, VK_BACK, 0);
        for (char c : text)
            SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    }
    // Arrow keys in the edit move its spin.
    void Spin(int control, int steps) {
        HWND edit = Item(control);
        for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) {
            SendMessageA(edit, WM_KEYDOWN, steps > 0 ? VK_UP : VK_DOWN, 0);
            SendMessageA(edit, WM_KEYUP, steps > 0 ? VK_UP : VK_DOWN, 0);
        }
    }
    std::string Text(int control) const {
        char text[260] = "";
        GetWindowTextA(Item(control), text, sizeof text);
        return text;
    }
    void Close(bool ok) {
        SendMessageA(window, PSM_PRESSBUTTON, ok ? PSBTN_OK : PSBTN_CANCEL, 0);
        // The sheet's modal loop sees that it has ended only after its next
        // message; with nothing painted or typed, give it one.
        PostMessageA(window, WM_NULL, 0, 0);
        ui.Join();
        closed = true;
    }

private:
    UiThread ui;
    HWND window;
    bool closed = false;
};

class Dialogs : public shelltest::ShellTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Dialogs, MainPageShowsAndStores) {
    LoadWith(
        Ini("Frequency=96000\r\nPriority=Realtime\r\nLoopCount=7\r\nFadeoutTime=1234\r\n").c_str());
    {
        Sheet sheet(GetParam());
        ASSERT_TRUE(sheet.IsOpen());
        // Unknown stored values show the fallbacks.
        EXPECT_EQ(sheet.Text(kFrequency), "55467:FM");
        EXPECT_EQ(sheet.Text(kPriority), "Normal");
        EXPECT_EQ(sheet.Text(kLoopCount), "7");
        EXPECT_EQ(sheet.Text(kFadeout), "1234");
        EXPECT_EQ(SendMessageA(sheet.Item(kPriority), CB_GETCOUNT, 0, 0), 5);
        EXPECT_EQ(SendMessageA(sheet.Item(kFrequency), CB_GETCOUNT, 0, 0), 6);
        sheet.Close(true);
    }
    EXPECT_EQ(IniValue("Frequency"), "55467:FM");
    EXPECT_EQ(IniValue("LoopCount"), "7");

    const struct {
        const char* loop;
        const char* fade;
        const char* storedLoop;
        const char* storedFade;
    } cases
        [] =
            {
                {"300", "40000", "2", "5000"}, {"255", "32767", "255", "32767"},
                {"0", "0", "0", "0"},          {"", "", "2", "5000"},
                {"1x2", "9a", "12", "9"},  // letters are refused as they are typed
            };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.loop) + " / " + c.fade);
        Sheet sheet(GetParam());
        ASSERT_TRUE(sheet.IsOpen());
        sheet.Select(kFrequency, "22050");
        sheet.Select(kPriority, "Lowest");
        sheet.Type(kLoopCount, c.loop);
        sheet.Type(kFadeout, c.fade);
        sheet.Close(true);
        EXPECT_EQ(IniValue("Frequency"), "22050");
        EXPECT_EQ(IniValue("Priority"), "Lowest");
        EXPECT_EQ(IniValue("LoopCount"), c.storedLoop);
        EXPECT_EQ(IniValue("FadeoutTime"), c.storedFade);
    }

    // Spins stay within their ranges; Cancel stores nothing.
    const std::string before = standin::ReadIni();
    {
        Sheet sheet(GetParam());
        sheet.Type(kLoopCount, "254");
        sheet.Spin(kLoopCount, 3);
        EXPECT_EQ(sheet.Text(kLoopCount), "255");
        sheet.Type(kFadeout, "2");
        sheet.Spin(kFadeout, -5);
        EXPECT_EQ(sheet.Text(kFadeout), "0");
        sheet.Select(kFrequency, "48000");
        sheet.Close(false);
    }
    EXPECT_EQ(standin::ReadIni(), before);
}

TEST_P(Dialogs, MixerPage) {
    LoadWith(Ini("VolumeFM=5\r\nVolumeSSG=-3\r\nVolumePCM=70\r\n").c_str());
    {
        Sheet sheet(GetParam());
        sheet.ShowPage(1);
        EXPECT_EQ(sheet.Text(kFm), "5");
        EXPECT_EQ(sheet.Text(kSsg), "-3");
        EXPECT_EQ(sheet.Text(kPcm), "70");
        sheet.Type(kFm, "-45");   // outside the spins' range: taken as typed
        sheet.Type(kSsg, "abc");  // no digits: 0
        sheet.Type(kPcm, "58");
        sheet.Spin(kPcm, 5);  // the spin stops at the top of its range
        // Away and back: the edits are filled again from the settings.
        sheet.ShowPage(0);
        sheet.ShowPage(1);
        EXPECT_EQ(sheet.Text(kFm), "-45");
        EXPECT_EQ(sheet.Text(kSsg), "0");
        sheet.Close(true);
    }
    EXPECT_EQ(IniValue("VolumeFM"), "-45");
    EXPECT_EQ(IniValue("VolumeSSG"), "0");
    EXPECT_EQ(IniValue("VolumePCM"), "60");

    // Cancel keeps typed levels in effect and saves nothing.
    const std::string before = standin::ReadIni();
    {
        Sheet sheet(GetParam());
        sheet.ShowPage(1);
        sheet.Type(kFm, "12");
        sheet.Type(kPcm, "");  // empty: the level stays
        sheet.Close(false);
    }
    EXPECT_EQ(standin::ReadIni(), before);
    {
        Sheet sheet(GetParam());
        sheet.ShowPage(1);
        EXPECT_EQ(sheet.Text(kFm), "12");
        EXPECT_EQ(sheet.Text(kPcm), "60");
        sheet.Close(false);
    }
}

// Typing a level while a song plays is heard from the next block on; Cancel
// leaves it so, with the file unchanged.
TEST_P(Dialogs, LiveMixer) {
    const std::string song = std::string(TAMBORIL_SHARED_DIR) + "/songs/song_coral_ascent.gym.zip";
    TAMBORIL_NEED_SHARED_SONGS();
    LoadWith(Ini("LoopCount=1\r\nFadeoutTime=1000\r\n").c_str());
    const std::string before = standin::ReadIni();
    standin::Settings().canWriteBytes = -1;
    ASSERT_EQ(standin::Play(song), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::Count(Call::write) >= 40; }, 10000));
    // Hold the thread after its next block, then type.
    standin::Settings().canWriteBytes = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int rendered = standin::Count(Call::saAddPcm);
    {
        Sheet sheet(GetParam());
        sheet.ShowPage(1);
        sheet.Type(kFm, "30");
        sheet.Close(false);
    }
    standin::Settings().canWriteBytes = -1;
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 60000));
    standin::Stop();
    EXPECT_EQ(standin::ReadIni(), before);

    play::ReadyAsTheLoaderLeavesIt();
    settings.loopCount = 1;
    settings.fadeoutTime = 1000;
    play::PlayerPtr reference = play::Open(song);
    const int32_t block = BlockFrames(play::Begin(reference.get()));
    std::vector<int16_t> expected;
    for (int b = 0; reference->ops.isRunning(reference.get()); ++b) {
        if (b == rendered) settings.volumeFm = 30;
        play::Append(expected, play::Render(reference.get(), block));
    }
    const std::vector<int16_t> pcm = standin::Pcm();
    ASSERT_EQ(pcm.size(), expected.size());
    EXPECT_TRUE(pcm == expected);
}

// Ids and rectangles of the live pages: statics and lists where the
// templates put them; each edit and its spin share the edit's rectangle.
TEST_P(Dialogs, ControlsWhereTheTemplatesPutThem) {
    struct Placed {
        int id;  // -1: the label with this text
        const char* label;
        int x, y, cx, cy;
    };
    const bool ja = GetParam();
    const Placed mainPage[] = {
        {kFrequency, nullptr, 52, 5, ja ? 53 : 83, 0},
        {kPriority, nullptr, ja ? 166 : 185, 5, ja ? 53 : 83, 0},
        {kLoopCount, nullptr, 52, 25, ja ? 53 : 83, 14},
        {kFadeout, nullptr, ja ? 167 : 185, 25, ja ? 52 : 83, 15},
        {-1, "Frequency", 5, 5, 42, 8},
        {-1, "(Hz)", 5, 15, 42, 8},
        {-1, "Loop", 5, 25, 42, 8},
        {-1, "Count", 5, 35, 42, 8},
        {-1, "Thread", ja ? 115 : 145, 5, ja ? 42 : 28, 8},
        {-1, "Priority", ja ? 115 : 145, 15, ja ? 42 : 28, 8},
        {-1, "Fadeout", ja ? 115 : 145, 25, ja ? 42 : 28, 8},
        {-1, "Time(ms)", ja ? 115 : 145, 35, ja ? 42 : 28, 8},
    };
    const int w = ja ? 30 : 25;
    const Placed mixerPage[] = {
        {kFm, nullptr, 40, 5, w, 15},   {kSsg, nullptr, 40, 25, w, 15},
        {kPcm, nullptr, 40, 45, w, 15}, {-1, "FM", 5, 5, 28, 15},
        {-1, "SSG", 5, 25, 28, 15},     {-1, "PCM", 5, 45, 28, 15},
    };
    Sheet sheet(ja);
    ASSERT_TRUE(sheet.IsOpen());
    for (int pageIndex = 0; pageIndex < 2; ++pageIndex) {
        sheet.ShowPage(pageIndex);
        HWND page = sheet.Page();
        char caption[64] = "";
        const Placed* rows = pageIndex == 0 ? mainPage : mixerPage;
        const size_t count = pageIndex == 0 ? std::size(mainPage) : std::size(mixerPage);
        for (size_t i = 0; i < count; ++i) {
            const Placed& p = rows[i];
            SCOPED_TRACE(p.label ? p.label : std::to_string(p.id));
            HWND control = nullptr;
            if (p.id > 0) {
                control = GetDlgItem(page, p.id);
            } else {
                for (HWND c = GetWindow(page, GW_CHILD); c != nullptr;
                     c = GetWindow(c, GW_HWNDNEXT)) {
                    GetWindowTextA(c, caption, sizeof caption);
                    if (std::string(caption) == p.label) control = c;
                }
            }
            ASSERT_NE(control, nullptr);
            // The dialog manager converts position and size separately.
            RECT origin = {p.x, p.y, p.x, p.y}, size = {0, 0, p.cx, p.cy};
            MapDialogRect(page, &origin);
            MapDialogRect(page, &size);
            const RECT want = {origin.left, origin.top, origin.left + size.right,
                               origin.top + size.bottom};
            RECT got;
            GetWindowRect(control, &got);
            // An edit's spin sits on its right edge, over the edit's 2-pixel
            // border: together they fill the edit's template rectangle but
            // for that border.
            int borderShared = 0;
            HWND spin = GetWindow(control, GW_HWNDNEXT);
            char spinClass[64] = "";
            if (spin != nullptr) GetClassNameA(spin, spinClass, sizeof spinClass);
            if (p.id > 0 && std::string(spinClass) == UPDOWN_CLASSA) {
                RECT spinRect;
                GetWindowRect(spin, &spinRect);
                UnionRect(&got, &got, &spinRect);
                borderShared = 2;
                EXPECT_EQ(GetDlgCtrlID(spin), p.id == kLoopCount ? kLoopSpin : p.id + 1);
            }
            MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&got), 2);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            EXPECT_EQ(got.right, want.right - borderShared);
            if (p.cy != 0) {
                EXPECT_EQ(got.bottom, want.bottom);
            }
        }
    }
    sheet.Close(false);
}

// 500 random user actions while a song plays: after each OK, plugin.ini
// holds what the pages showed, turned into values as the pages do.
TEST_P(Dialogs, RandomUserActions) {
    LoadWith(Ini("LoopCount=0\r\n").c_str());
    standin::Settings().realtime = true;
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    std::mt19937 random(GetParam() ? 1041 : 1033);
    const char* frequencies[] = {"55467:FM", "48000", "44100", "24000", "22050", "11025"};
    const char* priorities[] = {"Highest", "Higher", "Normal", "Lower", "Lowest"};
    const int levels[] = {kFm, kSsg, kPcm};
    const char* levelKeys[] = {"VolumeFM", "VolumeSSG", "VolumePCM"};
    std::string typed = "0123456789-+ x";
    int actions = 0;
    while (actions < 500) {
        Sheet sheet(GetParam());
        ASSERT_TRUE(sheet.IsOpen());
        bool mixerSeen = false;
        std::string levelShown[3];
        for (int step = 0; step < 25 && actions < 500; ++step, ++actions) {
            const int page = static_cast<int>(random() % 2);
            sheet.ShowPage(page);
            mixerSeen = mixerSeen || page == 1;
            std::string text;
            for (unsigned n = random() % 6; n > 0; --n)
                text += typed[random() % typed.size()];
            switch (random() % 4) {
                case 0:
                    if (page == 0) {
                        sheet.Select(kFrequency, frequencies[random() % 6]);
                    } else {
                        sheet.Type(levels[random() % 3], text);
                    }
                    break;
                case 1:
                    if (page == 0) {
                        sheet.Select(kPriority, priorities[random() % 5]);
                    } else {
                        sheet.Spin(levels[random() % 3], static_cast<int>(random() % 7) - 3);
                    }
                    break;
                case 2:
                    sheet.Type(
                        page == 0 ? (random() % 2 ? kLoopCount : kFadeout) : levels[random() % 3],
                        text);
                    break;
                case 3:
                    sheet.Spin(page == 0 ? kLoopCount : kFadeout,
                               static_cast<int>(random() % 9) - 4);
                    break;
            }
            if (page == 1) {
                for (int l = 0; l < 3; ++l) {
                    const std::string shown = sheet.Text(levels[l]);
                    if (!shown.empty()) levelShown[l] = shown;
                }
            }
        }
        sheet.ShowPage(0);
        const std::string frequency = sheet.Text(kFrequency), priority = sheet.Text(kPriority);
        const std::string loop = sheet.Text(kLoopCount), fade = sheet.Text(kFadeout);
        const bool ok = random() % 4 != 0;
        sheet.Close(ok);
        if (!ok) continue;
        EXPECT_EQ(IniValue("Frequency"), frequency);
        EXPECT_EQ(IniValue("Priority"), priority);
        auto bounded = [](const std::string& t, long highest, long fallback) {
            if (t.empty() || t.size() > 9) return std::to_string(fallback);
            const long v = std::stol(t);
            return std::to_string(v > highest ? fallback : v);
        };
        EXPECT_EQ(IniValue("LoopCount"), bounded(loop, 255, 2));
        EXPECT_EQ(IniValue("FadeoutTime"), bounded(fade, 32767, 5000));
        if (mixerSeen) {
            for (int l = 0; l < 3; ++l) {
                if (levelShown[l].empty()) continue;
                EXPECT_EQ(IniValue(levelKeys[l]), std::to_string(std::atoi(levelShown[l].c_str())))
                    << levelShown[l];
            }
        }
    }
    standin::Stop();
    EXPECT_EQ(standin::WritesAfterStop(), 0);
}

// The sheet whose OK the output's Open presses: a user confirming a new
// Frequency while the host starts a song.
Sheet* sheetToConfirm = nullptr;
void ConfirmTheSheet() {
    if (sheetToConfirm != nullptr) sheetToConfirm->Close(true);
    sheetToConfirm = nullptr;
}

// The new rate waits for the next song: this one plays at the rate its
// output was opened with.
TEST_P(Dialogs, FrequencyConfirmedDuringPlayWaitsForTheNextSong) {
    Sheet sheet(GetParam());
    ASSERT_TRUE(sheet.IsOpen());
    sheet.Select(kFrequency, "11025");
    sheetToConfirm = &sheet;
    standin::Settings().onOpen = ConfirmTheSheet;
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    standin::Settings().onOpen = nullptr;
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 5000));
    standin::Stop();
    EXPECT_EQ(IniValue("Frequency"), "11025");
    int writes = 0;
    for (const standin::Record& r : standin::Calls()) {
        if (r.call == Call::open) EXPECT_EQ(r.a, 44100);
        if (r.call == Call::setInfo) EXPECT_EQ(r.b, 44);
        if (r.call == Call::write) EXPECT_EQ(r.a, 1323 * 4);
        writes += r.call == Call::write ? 1 : 0;
    }
    EXPECT_EQ(writes, 34);  // 1 s at 44100 Hz
}

INSTANTIATE_TEST_SUITE_P(Languages, Dialogs, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Japanese" : "English");
                         });

// The information box: real songs' fields as their bytes give them (null:
// "none"; a size: with its word), lengths as the session gives them.
struct InfoCase {
    const char* file;  // under the shared folder
    int loopCount;
    std::vector<std::pair<int, const wchar_t*>> shown;
};

std::string infoFile;
std::atomic<int> infoAnswer{-1};
std::atomic<DWORD> infoThread{0};
void ShowInfoBox() {
    infoThread = GetCurrentThreadId();
    infoAnswer = standin::Plugin().InfoBox(infoFile.c_str(), standin::MainWindow());
}

BOOL CALLBACK PressOk(HWND box, LPARAM) {
    return PostMessageW(box, WM_COMMAND, IDOK, 0);
}

std::wstring Clock(int32_t ms) {
    wchar_t text[32];
    swprintf(text, 32, L"%d:%02d.%03d", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

TEST_P(Dialogs, InfoBoxShowsTheSongModalOverTheHost) {
    TAMBORIL_NEED_SHARED_SONGS();
    const bool ja = GetParam();
    const InfoCase cases[] = {
        {"corpus/vgm/sonic2emerald.vgm",
         1,
         {{IDC_INFO_TRACK, L"Emerald Hill Zone"},
          {IDC_INFO_TRACK_JA, L"エメラルドヒル"},
          {IDC_INFO_GAME_JA, L"ソニック・ザ・ヘッジホッグ２"},
          {IDC_INFO_AUTHOR_JA, L"中村正人, 竹内出穂"},
          {IDC_INFO_FORM, L"VGM 1.50"},
          {IDC_INFO_SIZE, L"365,320"},
          {IDC_INFO_PSG_CLOCK, L"3,579,545 Hz"},
          {IDC_INFO_LOOP, L"0:03.466"}}},
        {"corpus/vgm/sonic2emerald.vgm",
         0,
         {{IDC_INFO_PLAYS, ja ? L"無限 (ループ回数 0)" : L"for ever (loop count 0)"}}},
        {"corpus/real/batman_music02.gym",
         2,
         {{IDC_INFO_GAME, L"Batman"},
          {IDC_INFO_PUBLISHER, L"SUNSOFT (1990)"},
          {IDC_INFO_EMULATOR, L"MEGASIS Ver. 0.04"},
          {IDC_INFO_COMMENT, L"Em homenagem ao meu amigo Emuguy"},
          {IDC_INFO_TRACK_JA, L""},
          {IDC_INFO_FORM, L"GYMX"},
          {IDC_INFO_SIZE, L"594,801"},
          {IDC_INFO_FM_CLOCK, L"7,670,442 Hz"},
          {IDC_INFO_LOOP, nullptr}}},
    };
    // The caption as the 8-bit window text reads it.
    char caption[64];
    WideCharToMultiByte(CP_ACP, 0, ja ? L"曲の情報" : L"Song information", -1, caption,
                        sizeof caption, nullptr, nullptr);
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.file);
        LoadWith(Ini("FadeoutTime=1000\r\nLoopCount=" + std::to_string(c.loopCount)).c_str());
        infoFile = std::string(TAMBORIL_SHARED_DIR) + "/" + c.file;
        HWND host = static_cast<HWND>(standin::MainWindow());
        UiThread ui(caption, ja, ShowInfoBox);
        HWND box = ui.Window();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(IsWindowUnicode(box));
        EXPECT_EQ(GetWindow(box, GW_OWNER), host);
        EXPECT_FALSE(IsWindowEnabled(host));
        auto text = [box](int control) {
            wchar_t shown[1024] = L"";
            GetWindowTextW(GetDlgItem(box, control), shown, 1024);
            return std::wstring(shown);
        };
        for (const auto& [control, want] : c.shown) {
            std::wstring expected = want != nullptr ? want : ja ? L"なし" : L"none";
            if (control == IDC_INFO_SIZE) expected += ja ? L" バイト" : L" bytes";
            EXPECT_TRUE(text(control) == expected) << control;
        }
        settings.loopCount = c.loopCount;
        settings.fadeoutTime = 1000;
        settings.frequency = kDefaultFrequency;
        std::unique_ptr<SongSession> song = SongSession::Open(infoFile.c_str());
        ASSERT_TRUE(song);
        EXPECT_TRUE(text(IDC_INFO_PASS) == Clock(song->LengthMs()));
        if (c.loopCount != 0) EXPECT_TRUE(text(IDC_INFO_PLAYS) == Clock(song->PlayMs()));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ui.Join();
        EXPECT_EQ(infoAnswer, 0);
        EXPECT_TRUE(IsWindowEnabled(host));
    }
    for (const char* file : {"corpus/vgm/no such song.vgm", "corpus/vgm"}) {
        SCOPED_TRACE(file);
        infoFile = std::string(TAMBORIL_SHARED_DIR) + "/" + file;
        infoAnswer = -1;
        std::thread ui(ShowInfoBox);
        const bool answered = standin::WaitUntil([] { return infoAnswer != -1; }, 10000);
        EXPECT_TRUE(answered);
        if (!answered) EnumThreadWindows(infoThread, PressOk, 0);  // close the box that came
        ui.join();
        EXPECT_EQ(infoAnswer, 0);
    }
}

TEST(AboutBox, TitleTextAndButton) {
    ASSERT_TRUE(standin::Load(nullptr));
    UiThread ui("Tamboril v0.1(test) (x86)", false, [] { standin::Plugin().About(nullptr); });
    HWND box = ui.Window();
    ASSERT_NE(box, nullptr);
    std::string text;
    int buttons = 0;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        char className[64], caption[1024];
        GetClassNameA(c, className, sizeof className);
        GetWindowTextA(c, caption, sizeof caption);
        if (std::string(className) == "Button")
            ++buttons;
        else
            text += caption;
    }
    EXPECT_EQ(buttons, 1);
    EXPECT_NE(text.find(std::string("ZLIB ") + ZLIB_VERSION + "\n\t"), std::string::npos) << text;
    EXPECT_NE(text.find("Gilles Vollant"), std::string::npos);
    EXPECT_NE(text.find("\nTamboril\n\t"), std::string::npos);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ui.Join();
    standin::Unload();
}

}  // namespace
