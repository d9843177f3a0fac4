// The extended file information exports as the media player asks them, wide
// and narrow, field by field.
#include <chrono>
#include <codecvt>
#include <cstring>
#include <filesystem>
#include <locale>
#include <thread>

#include "shared_songs.h"
#include "tests/host/shell_fixture.h"
#include "vgm_writer.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using shelltest::Ini;
using shelltest::ShellTest;

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// A field through the wide export, "=0" when it returned 0 (leaving it empty).
std::wstring Ask(const std::wstring& path, const char* field) {
    wchar_t out[2048] = L"#";
    const int filled = standin::ExtendedFileInfoW(path.c_str(), field, out, 2048);
    return filled == 1 ? out : L"=" + std::to_wstring(filled) + out;
}

// The GD3 tag's eleven strings from the file's bytes (all in the BMP here).
std::vector<std::wstring> Gd3Strings(const std::vector<uint8_t>& file) {
    std::vector<std::wstring> strings(1);
    size_t at = 0x14 + (file[0x14] | file[0x15] << 8 | file[0x16] << 16) + 12;
    for (; at + 1 < file.size() && strings.size() <= 11; at += 2) {
        const wchar_t unit = static_cast<wchar_t>(file[at] | file[at + 1] << 8);
        unit == 0 ? strings.push_back({}) : strings.back().push_back(unit);
    }
    strings.resize(11);
    return strings;
}

// Every field of songs made here, the playlist's length beside "length".
TEST_F(ShellTest, ExtendedInfoOfMadeSongs) {
    // GYMX: song at 4, game at 36, publisher at 68, comment at 164 (1252).
    std::vector<uint8_t> gymx = MakeGymx(shelltest::ToneStream(30), "Caf\xE9", "Opening", 1, true);
    std::memcpy(gymx.data() + 68, "Pub Co", 6);
    std::memcpy(gymx.data() + 164, "A comment", 9);
    const std::string dir = TempDir();
    WriteFileBytes(dir + "tagged.gym", gymx);
    // A plain log whose info file gives the title; the same in an archive.
    WriteFileBytes(dir + "titled.gym", shelltest::ToneStream(60));
    WriteFileBytes(dir + "titled.GYI", MakeGyi("Info Title", "12"));
    WriteFileBytes(dir + "packed.gym.zip", MakeZip({{"SONG.GYM", shelltest::ToneStream(60)},
                                                    {"SONG.GYI", MakeGyi("Packed Title", "")}}));
    // A VGM whose English tag is outside ASCII.
    VgmTag tag;
    tag.trackEnglish = "Caf\xC3\xA9";
    tag.gameEnglish = "Jeu";
    tag.releaseDate = "17/10/1994";
    VgmWriter vgm;
    vgm.FmClock(7670453).PsgClock(3579545).Tag(tag).Psg(0x9F).Wait(44100).End();
    WriteFileBytes(dir + "made.vgm", vgm.Bytes());
    // A ZIP with no song in it, as the host hands every .zip to us.
    WriteFileBytes(dir + "photos.zip", MakeZip({{"readme.txt", {'h', 'i'}}}));
    WriteFileBytes(dir + "empty.gym.zip", MakeZip({}));
    // A name outside any code page (U+66F2), with its info file.
    WriteFileBytes(dir + "wide.GYI", MakeGyi("Wide Title", ""));
    std::filesystem::copy_file(dir + "titled.gym",
                               std::filesystem::u8path(dir + "\xE6\x9B\xB2.gym"));
    std::filesystem::rename(dir + "wide.GYI", std::filesystem::u8path(dir + "\xE6\x9B\xB2.GYI"));

    const struct {
        std::wstring path;
        const char* field;
        std::wstring answer;
    } cases[] = {{Wide(dir + "tagged.gym"), "title", L"Opening"},
                 {Wide(dir + "tagged.gym"), "ALBUM", L"Caf\u00E9"},
                 {Wide(dir + "tagged.gym"), "publisher", L"Pub Co"},
                 {Wide(dir + "tagged.gym"), "comment", L"A comment"},
                 {Wide(dir + "tagged.gym"), "type", L"0"},
                 {Wide(dir + "tagged.gym"), "family", L"GYM video game music log"},
                 {Wide(dir + "tagged.gym"), "bitrate", L"=0"},
                 {Wide(dir + "made.vgm"), "title", L"Caf\u00E9"},
                 {Wide(dir + "made.vgm"), "year", L"1994"},
                 {Wide(dir + "made.vgm"), "family", L"VGM video game music file"},
                 {Wide(dir + "titled.gym"), "title", L"Info Title"},
                 {Wide(dir + "packed.gym.zip"), "title", L"Packed Title"},
                 {Wide(dir) + L"\u66F2.gym", "title", L"Wide Title"},
                 {Wide(dir + "photos.zip"), "title", L"=0"},
                 {Wide(dir + "empty.gym.zip"), "length", L"=0"},
                 {L"", "title", L"=0"},
                 // The host asks "family" with an extension alone.
                 {L"GYM", "family", L"GYM video game music log"},
                 {L".vgz", "family", L"VGM video game music file"},
                 {L"mp3", "family", L"=0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()) + " " + c.field);
        EXPECT_EQ(Ask(c.path, c.field), c.answer);
    }
    // The length is the one the playlist shows (what plays, loops and fade).
    for (const char* name : {"tagged.gym", "titled.gym", "packed.gym.zip", "made.vgm"}) {
        int length = -1;
        standin::Plugin().GetFileInfo((dir + name).c_str(), nullptr, &length);
        EXPECT_EQ(Ask(Wide(dir + name), "length"), std::to_wstring(length)) << name;
    }

    // Short buffers: cut to fit, never written past; nothing at all for 0.
    for (int size : {0, 1, 4}) {
        wchar_t wide[8] = L"#######";
        char narrow[8] = "#######";
        const std::string path = dir + "tagged.gym";
        EXPECT_EQ(standin::ExtendedFileInfoW(Wide(path).c_str(), "title", wide, size), size > 0);
        EXPECT_EQ(standin::ExtendedFileInfo(path.c_str(), "title", narrow, size), size > 0);
        const char* expected[] = {"#######", "\0######", "", "", "Ope\0###"};
        EXPECT_EQ(std::string(narrow, 7), std::string(expected[size], 7));
        EXPECT_EQ(std::wstring(wide, 7), Wide(std::string(expected[size], 7)));
    }

    // The narrow twin: a GYM's own bytes (UTF-8 is the 8-bit text off Windows).
    char narrow[64] = "";
    EXPECT_EQ(standin::ExtendedFileInfo((dir + "tagged.gym").c_str(), "album", narrow, 64), 1);
    EXPECT_STREQ(narrow, sizeof(wchar_t) == 2 ? "Caf\xE9" : "Caf\xC3\xA9");
    // The playlist's title of a VGM, UTF-8 in its tag, in the system's code
    // page; a GYM's as its file has it.
    char title[1024] = "";
    standin::Plugin().GetFileInfo((dir + "made.vgm").c_str(), title, nullptr);
#ifdef _WIN32
    char expected[64] = "";
    WideCharToMultiByte(CP_ACP, 0, L"Jeu [ Caf\u00E9 ]", -1, expected, 64, nullptr, nullptr);
#else
    const char* expected = "Jeu [ Caf\xC3\xA9 ]";
#endif
    EXPECT_STREQ(title, expected);
    standin::Plugin().GetFileInfo((dir + "tagged.gym").c_str(), title, nullptr);
    EXPECT_STREQ(title, "Caf\xE9 [ Opening ]");
    EXPECT_EQ(standin::ExtendedFileInfo("", "title", narrow, 64), 0);
}

// A file changed after its fields were asked (size, or time of writing).
TEST_F(ShellTest, ExtendedInfoFollowsTheFile) {
    const std::string path = TempPath("changing.gym");
    WriteFileBytes(path, MakeGymx(shelltest::ToneStream(30), "", "First", 0, false));
    EXPECT_EQ(Ask(Wide(path), "title"), L"First");
    WriteFileBytes(path, MakeGymx(shelltest::ToneStream(30), "", "Other", 0, false));
    const auto later = std::filesystem::last_write_time(path) + std::chrono::seconds(2);
    std::filesystem::last_write_time(path, later);
    EXPECT_EQ(Ask(Wide(path), "title"), L"Other");
    WriteFileBytes(path, MakeGymx(shelltest::ToneStream(60), "", "Longer", 0, false));
    std::filesystem::last_write_time(path, later);
    EXPECT_EQ(Ask(Wide(path), "title"), L"Longer");
}

// A real VGM's GD3 fields as TagLanguage picks them (an empty Japanese: English).
TEST_F(ShellTest, ExtendedInfoOfRealVgmInBothLanguages) {
    TAMBORIL_NEED_SHARED_SONGS();
    for (const char* name : {"sonic2emerald.vgm", "fatality.vgm"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(TAMBORIL_SHARED_DIR) + "/corpus/vgm/" + name;
        const std::vector<std::wstring> gd3 = Gd3Strings(ReadFileBytes(path));
        auto pick = [&](int english, bool japanese) {
            const std::wstring& text =
                japanese && !gd3[english + 1].empty() ? gd3[english + 1] : gd3[english];
            return text.empty() ? std::wstring(L"=0") : text;
        };
        for (int language : {0, 1, 2}) {
            LoadWith(Ini("TagLanguage=" + std::to_string(language) + "\r\n").c_str());
            const bool japanese = language == 1;
            EXPECT_EQ(Ask(Wide(path), "title"), pick(0, japanese)) << language;
            EXPECT_EQ(Ask(Wide(path), "album"), pick(2, japanese)) << language;
            EXPECT_EQ(Ask(Wide(path), "genre"), pick(4, japanese)) << language;
            EXPECT_EQ(Ask(Wide(path), "artist"), pick(6, japanese)) << language;
            EXPECT_EQ(Ask(Wide(path), "year"), gd3[8].substr(0, 4));
            // The narrow twin: the system's code page, as it converts.
            char narrow[2048] = "", expected[2048] = "";
            EXPECT_EQ(standin::ExtendedFileInfo(path.c_str(), "album", narrow, 2048), 1);
#ifdef _WIN32
            WideCharToMultiByte(CP_ACP, 0, pick(2, japanese).c_str(), -1, expected, 2048, 0, 0);
#else
            std::wstring_convert<std::codecvt_utf8<wchar_t>>()
                .to_bytes(pick(2, japanese))
                .copy(expected, 2047);
#endif
            EXPECT_STREQ(narrow, expected);
#ifdef _WIN32
            // TagLanguage 2: the language the dialogs open in on the asking
            // thread, as the resource loader picks their templates.
            if (language == 2) {
                std::wstring onJapaneseThread;
                std::thread([&] {
                    SetThreadLocale(0x411);
                    onJapaneseThread = Ask(Wide(path), "title");
                }).join();
                EXPECT_EQ(onJapaneseThread, pick(0, true));
            }
#endif
        }
    }
}

}  // namespace
