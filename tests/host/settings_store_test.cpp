// plugin.ini as the plug-in finds it and as it leaves it: every load writes
// each key back in its canonical form, and the values it loaded are what the
// write-back shows.
#include <string>

#include "tests/host/shell_fixture.h"

#ifndef _WIN32
#include "host/shell.h"
#include "player/settings.h"
#endif

namespace {

using shelltest::Ini;
using shelltest::IniValue;
using shelltest::ShellTest;

TEST_F(ShellTest, FirstStartWritesEveryKey) {
    EXPECT_EQ(standin::ReadIni(),
              "[Tamboril]\r\nFrequency=55467:FM\r\nPriority=Normal\r\nLoopCount=2\r\n"
              "FadeoutTime=5000\r\nPlayVgm=1\r\nTagLanguage=2\r\nVolumeFM=0\r\nVolumeSSG=0\r\n"
              "VolumePCM=0\r\n");
}

TEST_F(ShellTest, LoadedValuesAndTheirWriteBack) {
    const struct {
        const char* line;  // the key as the file has it before Init
        const char* key;
        const char* after;  // the key's value after Init
    } cases[] = {
        {"Frequency=44100", "Frequency", "44100"},
        {"Frequency=96000", "Frequency", "55467:FM"},
        {"Frequency=", "Frequency", "55467:FM"},
        {"Frequency = 22050 ", "Frequency", "22050"},
        {"Priority=HIGHEST", "Priority", "Highest"},
        {"Priority=lower", "Priority", "Lower"},
        {"Priority=Realtime", "Priority", "Normal"},
        {"LoopCount=", "LoopCount", "0"},
        {"", "LoopCount", "2"},
        {"LoopCount=1000", "LoopCount", "1000"},
        {"LoopCount=  -7x", "LoopCount", "-7"},
        {"LoopCount=many", "LoopCount", "0"},
        {"LoopCount=99999999999999", "LoopCount", "2147483647"},
        {"FadeoutTime=-99999999999999", "FadeoutTime", "-2147483648"},
        {"VolumeFM=-20", "VolumeFM", "-20"},
        {"VolumeSSG=+12", "VolumeSSG", "12"},
        {"VolumePCM=\"60\"", "VolumePCM", "60"},
        {"PlayVgm=0", "PlayVgm", "0"},
        {"PlayVgm=7", "PlayVgm", "1"},
        {"TagLanguage=1", "TagLanguage", "1"},
        {"TagLanguage=3", "TagLanguage", "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        LoadWith(Ini(std::string(c.line) + "\r\n").c_str());
        EXPECT_EQ(IniValue(c.key), c.after);
        // Loading what was written gives the same file again.
        const std::string written = standin::ReadIni();
        standin::Reinit();
        EXPECT_EQ(standin::ReadIni(), written);
        // PlayVgm=0 leaves VGM and VGZ to another plug-in.
        bool listsVgm = false;
        for (const char* type = standin::Plugin().FileExtensions; *type != '\0';
             type += std::string(type).size() + 1)
            listsVgm = listsVgm || std::string(type) == "VGM;VGZ";
        EXPECT_EQ(listsVgm, IniValue("PlayVgm") == "1");
        standin::Unload();
    }
}

// The loaded Frequency decides the rate the output is opened at.
TEST_F(ShellTest, FrequencyReachesTheOutput) {
    const struct {
        const char* frequency;
        int rate;
    } cases[] = {{"55467:FM", 44100}, {"48000", 48000}, {"44100", 44100}, {"24000", 24000},
                 {"22050", 22050},    {"11025", 11025}, {"8000", 44100}};
    for (const auto& c : cases) {
        LoadWith(Ini(std::string("Frequency=") + c.frequency + "\r\n").c_str());
        ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
        standin::Stop();
        EXPECT_EQ(standin::Calls()[0].a, c.rate) << c.frequency;
        standin::Unload();
    }
}

// Other programs' sections and keys stay as they were, in place (blank
// lines may go).
TEST_F(ShellTest, OtherSectionsLeftAlone) {
    const std::string before =
        "[Other]\r\nKey=Value\r\n\r\n[Tamboril]\r\nLoopCount=7\r\n; a note\r\n\r\n"
        "[Last]\r\nFrequency=48000\r\n";
    LoadWith(before.c_str());
    const std::string after = standin::ReadIni();
    EXPECT_EQ(after.rfind("[Other]\r\nKey=Value\r\n", 0), 0u) << after;
    EXPECT_NE(after.find("LoopCount=7\r\n"), std::string::npos);
    EXPECT_NE(after.find("; a note"), std::string::npos);
    EXPECT_NE(after.find("[Last]\r\nFrequency=48000"), std::string::npos);
    EXPECT_EQ(IniValue("Frequency"), "55467:FM");
}

// Junk, binary noise and huge lines load without harm and leave a whole
// section behind.
TEST_F(ShellTest, JunkSettingsFile) {
    std::string junk = "[Tamboril]\r\nFrequency=" + std::string(5000, 'x') + "\r\n";
    for (int i = 0; i < 4096; ++i)
        junk += static_cast<char>((i * 131 + 7) & 0xFF);
    junk += "\r\n[Tamboril\r\n=\r\n==\r\nLoopCount\r\n";
    LoadWith(junk.c_str());
    EXPECT_EQ(IniValue("Priority"), "Normal");
    EXPECT_EQ(IniValue("VolumePCM"), "0");
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
}

#ifndef _WIN32
// A library path that leaves no room for plugin.ini: the defaults, and no
// file is read or written anywhere.
TEST(SettingsStore, PathTooLongGivesDefaults) {
    for (size_t length : {240u, 249u, 250u, 258u, 300u}) {
        std::string folder =
            TempDir() + std::string(length > TempDir().size() ? length - TempDir().size() : 1, 'd');
        std::string module = folder + "/m.so";
        settings.loopCount = 99;
        LoadSettings(const_cast<char*>(module.c_str()));
        const bool fits = module.size() - 4 + std::string("plugin.ini").size() < 260;
        EXPECT_EQ(iniPath[0] != '\0', fits) << length;
        if (!fits) {
            EXPECT_EQ(settings.loopCount, 2) << length;
        }
    }
}
#endif

}  // namespace
