// Where the settings live when the plug-in's folder cannot be written: the
// write-back at load fails, the settings move to the user's own plugin.ini,
// changes made there survive a restart, and plugin.ini beside the library is
// still the one used wherever it can be written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "song_builder.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The value of `key` in the text of a plugin.ini, or "(none)".
std::string KeyIn(const std::string& text, const std::string& key) {
    const size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "(none)";
    const size_t start = at + key.size() + 2;
    return text.substr(start, text.find_first_of("\r\n", start) - start);
}

const char* const kAllKeysTable[] = {"Frequency", "Priority", "LoopCount", "FadeoutTime",
                                     "VolumeFM", "VolumeSSG", "VolumePCM"};

}  // namespace

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/shell.h"
#include "player/settings.h"

namespace {

// Makes `folder` read-only for this process, root included: a read-only bind
// mount in a mount namespace of its own, or, for a standard user, its mode.
// False when the folder can still be written.
bool MakeReadOnly(const std::string& folder) {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return false;
    } else if (chmod(folder.c_str(), 0555) != 0) {
        return false;
    }
    const std::string probe = folder + "probe";
    std::FILE* file = std::fopen(probe.c_str(), "w");
    if (file == nullptr) return true;
    std::fclose(file);
    std::remove(probe.c_str());
    return false;
}

TEST(SettingsHome, ReadOnlyPluginFolderKeepsChangesForTheUser) {
    const std::string home = TempDir();
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    const std::string userFile = home + "tamboril/plugin.ini";
    const std::string folder = TempDir();
    std::string module = folder + "in_dru.so";
    const std::string beside = folder + "plugin.ini";

    // Writable: plugin.ini beside the library, nothing of the user's.
    ASSERT_TRUE(WriteFileBytes(beside, {'[', 'T', 'a', 'm', 'b', 'o', 'r', 'i', 'l', ']', '\n', 'L', 'o', 'o', 'p',
                                        'C', 'o', 'u', 'n', 't', '=', '5', '\n'}));
    LoadSettings(module.data());
    EXPECT_EQ(std::string(iniPath), beside);
    EXPECT_EQ(settings.loopCount, 5);
    EXPECT_EQ(KeyIn(ReadText(beside), "FadeoutTime"), "5000") << "written back";
    EXPECT_FALSE(std::ifstream(userFile).good());

    if (!MakeReadOnly(folder)) GTEST_SKIP() << "cannot make " << folder << " read-only here";
    // Read-only: what was there is read, and written to the user's file.
    settings.loopCount = 0;
    LoadSettings(module.data());
    EXPECT_EQ(std::string(iniPath), userFile);
    EXPECT_EQ(settings.loopCount, 5);
    const std::string moved = ReadText(userFile);
    for (const char* key : kAllKeysTable) EXPECT_NE(KeyIn(moved, key), "(none)") << key;
    EXPECT_EQ(KeyIn(moved, "LoopCount"), "5");

    // A change on the property sheet, then a restart: still there.
    settings.loopCount = 9;
    settings.volumeFm = 12;
    SaveMainSettings();
    SaveVolumeSettings();
    ResetSettingsToDefaults();
    LoadSettings(module.data());
    EXPECT_EQ(settings.loopCount, 9);
    EXPECT_EQ(settings.volumeFm, 12);
    EXPECT_EQ(KeyIn(ReadText(beside), "LoopCount"), "5") << "the read-only file is untouched";
}

}  // namespace
#endif
