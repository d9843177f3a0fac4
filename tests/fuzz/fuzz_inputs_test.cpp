// The fuzzing pieces that decide what gets fuzzed: the split of an input into
// a song and its info file, the seeds (each must reach the form of song it is
// named after, or the fuzzer starts from the wrong place), the dictionary
// (libFuzzer refuses a malformed one) and the size of the kept corpus.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include <dirent.h>
#include <sys/stat.h>

#include "fuzz/fuzz_files.h"
#include "fuzz/seeds.h"
#include "player/session.h"
#include "player/settings.h"
#include "player/song.h"
#include "song_builder.h"

namespace {

std::string Str(const uint8_t* data, size_t size) {
    return data == nullptr ? "(none)" : std::string(reinterpret_cast<const char*>(data), size);
}

TEST(FuzzInputs, SplitSongTakesTheInfoFileOnlyWhenTheTopBitSaysSo) {
    using namespace std::string_literals;  // the texts hold NULs
    struct Case {
        std::string input, song, info;
    } cases[] = {
        {""s, ""s, "(none)"s},
        {"\x01\x28\x00"s, "\x01\x28\x00"s, "(none)"s},
        {"\x7f\x03xyz"s, "\x7f\x03xyz"s, "(none)"s},  // top bit clear: all song
        {"\x80"s, "\x80"s, "(none)"s},                // too short to carry a length
        {"\x80\x03"
         "abc"
         "\x00\x00"s,
         "\x00\x00"s, "abc"s},  // info, then song
        {"\xff\x00"
         "song"s,
         "song"s, ""s},  // an empty info file
        {"\x80\x09"
         "ab"s,
         ""s, "ab"s},  // length past the end: all info
    };
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.input.data());
        fuzzfiles::SongParts parts = fuzzfiles::SplitSong(bytes, c.input.size());
        EXPECT_EQ(Str(parts.song, parts.songSize), c.song) << c.input;
        EXPECT_EQ(Str(parts.info, parts.infoSize), c.info) << c.input;
    }
}

struct Loaded {
    bool opened = false;
    SongForm form = SongForm::plain;
    std::string title;
    uint32_t loopFrame = 0;
    int32_t lengthMs = 0;
};

Loaded LoadSeed(const Bytes& seed) {
    const std::string folder = TempDir();
    fuzzfiles::SongParts parts = fuzzfiles::SplitSong(seed.data(), seed.size());
    EXPECT_TRUE(
        WriteFileBytes(folder + "song.gym", Bytes(parts.song, parts.song + parts.songSize)));
    if (parts.info != nullptr) {
        EXPECT_TRUE(
            WriteFileBytes(folder + "song.GYI", Bytes(parts.info, parts.info + parts.infoSize)));
    }
    Loaded loaded;
    GymPlayer* player = OpenSongWithForm((folder + "song.gym").c_str(), &loaded.form);
    if (player == nullptr) return loaded;
    loaded.opened = true;
    loaded.title = player->title;
    loaded.loopFrame = player->loopFrame;
    loaded.lengthMs = SongLengthMs(player);
    DestroyPlayer(player);
    return loaded;
}

TEST(FuzzInputs, EverySongSeedReachesTheFormItIsNamedAfter) {
    struct Expected {
        bool opens;
        SongForm form;
        const char* title;  // null: not checked
        uint32_t loopFrame;
    };
    const std::map<std::string, Expected> expected = {
        {"plain", {true, SongForm::plain, "", 0}},
        {"empty", {true, SongForm::plain, "", 0}},
        {"cut", {true, SongForm::plain, "", 0}},
        {"ended", {true, SongForm::plain, "", 0}},
        {"gymx", {true, SongForm::gymx, "Shown first [ In brackets ]", 2}},
        {"gymx-zlib", {true, SongForm::gymxZlib, "Packed", 1}},
        {"gymx-short", {false, SongForm::plain, nullptr, 0}},
        {"gymx-false-size", {true, SongForm::gymxZlib, "Big", 0}},
        {"zip", {true, SongForm::archive, "Info title", 2}},
        {"zip-stored", {true, SongForm::archive, "Z", 3}},
        {"zip-no-song", {true, SongForm::plain, "", 0}},     // read as a log that ends at once
        {"zip-false-size", {true, SongForm::plain, "", 0}},  // the entry is refused
        {"sidecar", {true, SongForm::plain, "Info title", 2}},
        {"sidecar-loop-only", {true, SongForm::plain, "", 4000}},
    };
    const Seeds seeds = SongSeeds();
    ASSERT_EQ(seeds.size(), expected.size());
    for (const auto& [name, bytes] : seeds) {
        SCOPED_TRACE(name);
        ASSERT_EQ(expected.count(name), 1u);
        const Expected& want = expected.at(name);
        const Loaded got = LoadSeed(bytes);
        ASSERT_EQ(got.opened, want.opens);
        if (!got.opened) continue;
        EXPECT_EQ(static_cast<int>(got.form), static_cast<int>(want.form));
        if (want.title != nullptr) {
            EXPECT_EQ(got.title, want.title);
        }
        EXPECT_EQ(got.loopFrame, want.loopFrame);
    }
}

TEST(FuzzInputs, EveryVgmSeedReachesWhatItIsNamedAfter) {
    struct Expected {
        const char* form;  // null: refused
        const char* titleOrWhy;
        bool loops;
        int64_t samples;  // in one pass, at 44,100 a second
    };
    const char* const unnamed = "[ song.vgm ]";
    const std::map<std::string, Expected> expected = {
        {"busy", {"VGM 1.71", "Seeds [ Busy ]", true, 5145}},
        {"writes", {"VGM 1.71", unnamed, true, 72053}},
        {"streams", {"VGM 1.71", unnamed, false, 6900}},
        {"other-chips", {"VGM 1.71", unnamed, false, 2000}},  // to the 21
        {"v1.00", {"VGM 1.00", unnamed, false, 3000}},
        {"psg-only", {"VGM 1.71", unnamed, false, 6000}},
        {"tag", {"VGM 1.71", "G\xc3\xa4m\xc3\xa9 \xf0\x9f\x8e\xb5 [ \xc4\x80? ]", false, 1000}},
        {"data-offset", {"VGM 1.50", unnamed, false, 1000}},
        {"vgz", {"VGZ 1.71", "Seeds [ Busy ]", true, 5145}},
        {"cut-header", {nullptr, "damaged VGM: the header is cut short", false, 0}},
        {"no-chip",
         {nullptr, "a VGM file without a YM2612 or SN76489, the chips Tamboril plays", false, 0}},
        {"not-vgm", {nullptr, "not a VGM file", false, 0}},
        {"damaged-gzip", {nullptr, "damaged gzip stream", false, 0}},
    };
    ResetSettingsToDefaults();
    const Seeds seeds = VgmSeeds();
    ASSERT_EQ(seeds.size(), expected.size());
    for (const auto& [name, bytes] : seeds) {
        SCOPED_TRACE(name);
        ASSERT_EQ(expected.count(name), 1u);
        const Expected& want = expected.at(name);
        const char* why = nullptr;
        const std::unique_ptr<SongSession> song = SongSession::OpenBytes(
            "song.vgm", bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, 0, &why);
        ASSERT_EQ(song != nullptr, want.form != nullptr) << (why != nullptr ? why : "");
        if (!song) {
            EXPECT_STREQ(why, want.titleOrWhy);
            continue;
        }
        EXPECT_STREQ(song->Facts().form, want.form);
        EXPECT_STREQ(song->Title(), want.titleOrWhy);
        EXPECT_EQ(song->Facts().loop != 0, want.loops);
        EXPECT_EQ(song->LengthMs(), want.samples * 1000 / 44100);
    }
}

TEST(FuzzInputs, SeedsAreNamedOncePerTargetAndTheSongsHaveLength) {
    for (const Seeds& seeds :
         {SongSeeds(), ChipSeeds(), SettingsSeeds(), ShellSeeds(), VgmSeeds()}) {
        std::set<std::string> names;
        for (const auto& seed : seeds)
            EXPECT_TRUE(names.insert(seed.first).second) << seed.first;
    }
    // The song that most seeds wrap plays for a while: 7 frames.
    EXPECT_EQ(LoadSeed(SongSeeds().front().second).lengthMs, 7 * 100 / 6);
}

// The name of a dictionary entry: name="value" with only \\, \" and \xHH
// escapes in a value that is not empty, as libFuzzer reads it; empty when
// the line is not such an entry.
std::string DictionaryName(const std::string& line) {
    size_t at = 0;
    while (at < line.size() &&
           (std::isalnum(static_cast<unsigned char>(line[at])) || line[at] == '_'))
        ++at;
    if (at == 0 || line.compare(at, 2, "=\"") != 0) return "";
    const std::string name = line.substr(0, at);
    size_t pos = at + 2;
    int bytes = 0;
    while (pos < line.size() && line[pos] != '"') {
        if (line[pos] == '\\') {
            if (pos + 1 >= line.size()) return "";
            const char next = line[pos + 1];
            if (next == '\\' || next == '"') {
                pos += 2;
            } else if (next == 'x' && pos + 3 < line.size() &&
                       std::isxdigit(static_cast<unsigned char>(line[pos + 2])) &&
                       std::isxdigit(static_cast<unsigned char>(line[pos + 3]))) {
                pos += 4;
            } else {
                return "";
            }
        } else {
            ++pos;
        }
        ++bytes;
    }
    return bytes > 0 && pos == line.size() - 1 ? name : "";
}

TEST(FuzzInputs, DictionaryParses) {
    EXPECT_EQ(DictionaryName(R"(a_1="x\\y\"z\x0A")"), "a_1");
    for (const char* bad :
         {R"(a="")", R"(a="x)", R"(a="\q")", R"(a="\x1")", R"(="x")", R"(a="x"y")"}) {
        EXPECT_EQ(DictionaryName(bad), "") << bad;
    }
    std::ifstream file(TAMBORIL_SOURCE_DIR "/fuzz/tamboril.dict");
    ASSERT_TRUE(file.good());
    std::set<std::string> names;
    std::string line;
    int entries = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::string name = DictionaryName(line);
        ASSERT_NE(name, "") << line;
        EXPECT_TRUE(names.insert(name).second) << line;
        ++entries;
    }
    EXPECT_GE(entries, 40);
    for (const char* word :
         {"gymx", "zip_local", "fm_dac_on", "vgm_magic", "ext_GYI", "section", "key_frequency"}) {
        EXPECT_EQ(names.count(word), 1u) << word;
    }
}

// The kept corpus stays small enough to live in the repository and to replay
// in every test run, and no target's folder is empty.
TEST(FuzzInputs, KeptCorpusIsSmallAndComplete) {
    for (const char* target : {"load", "song", "chip", "settings", "shell", "vgm"}) {
        SCOPED_TRACE(target);
        const std::string folder = std::string(TAMBORIL_SOURCE_DIR "/fuzz/corpus/") + target;
        DIR* dir = opendir(folder.c_str());
        ASSERT_NE(dir, nullptr);
        int files = 0;
        long bytes = 0;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            struct stat info;
            ASSERT_EQ(stat((folder + "/" + entry->d_name).c_str(), &info), 0);
            ++files;
            bytes += static_cast<long>(info.st_size);
        }
        closedir(dir);
        EXPECT_GE(files, 10);
        EXPECT_LE(bytes, 96 * 1024);
    }
}

}  // namespace
