// The test support library checked against results worked out by hand: the
// checksum every render comparison rests on, and the song listings every
// sweep plays (a listing that dropped a kind of song would shrink a sweep
// without failing it), and the VGM writer's conversion of a GYM log.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "checksum.h"
#include "shared_songs.h"
#include "song_files.h"
#include "vgm_writer.h"

namespace {

TEST(Checksum, KnownValuesOfEveryWordSize) {
    // FNV-1a 64 of the bytes, worked out by hand from its definition.
    EXPECT_EQ(support::Fnv1a(std::string()), support::kFnvOffset);
    EXPECT_EQ(support::Fnv1a(std::string("a")), 0xAF63DC4C8601EC8Cull);
    // 16-bit samples: 0x0061 is the bytes 61 00; -2, 0x1234 are FE FF 34 12.
    EXPECT_EQ(support::Fnv1a(std::vector<int16_t>{0x61}), 0x089BE207B544F1E4ull);
    EXPECT_EQ(support::Fnv1a(std::vector<int16_t>{-2, 0x1234}), 0x6DE6197086CA3408ull);
    EXPECT_EQ(support::Fnv1a(std::string("\xFE\xFF\x34\x12", 4)), 0x6DE6197086CA3408ull);
    // 32-bit words: 0x61 is the bytes 61 00 00 00.
    EXPECT_EQ(support::Fnv1a(std::vector<int32_t>{0x61}), 0xAC804B820E4FE984ull);
}

TEST(SongFiles, SongNames) {
    const struct {
        const char* name;
        bool song;
    } cases[] = {
        {"a.gym", true},     {"A.GYM", true},         {"a.gym.zip", true},   {"a.GYM.ZIP", true},
        {"a.gym_zip", true}, {"a.dru", true},         {"a.Dru", true},       {"a.GYI", false},
        {"a.gyi", false},    {"MANIFEST.tsv", false}, {"SOURCES.md", false}, {"a.zip", false},
        {"a.gymx", false},   {".gym", false},         {"gym", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(support::IsSongName(c.name), c.song) << c.name;
    // Listed paths as the golden tables name them.
    EXPECT_EQ(support::BelowShared(support::SharedPath("songs/a.gym")), "songs/a.gym");
}

// Every song the manifest names is listed, good ones among the shared songs
// and damaged ones among those of bad/, and nothing else is.
TEST(SongFiles, ListingsHoldEverySongOfTheManifest) {
    TAMBORIL_NEED_SHARED_SONGS();
    std::set<std::string> good, damaged;
    std::ifstream manifest(support::SharedPath("songs/MANIFEST.tsv"));
    std::string line;
    std::getline(manifest, line);  // the heading
    while (std::getline(manifest, line)) {
        std::istringstream cells(line);
        std::string file, form;
        std::getline(cells, file, '\t');
        std::getline(cells, form, '\t');
        if (form == "gyi-sidecar") continue;
        const std::string path = support::SharedPath("songs/" + file);
        (file.compare(0, 4, "bad/") == 0 ? damaged : good).insert(path);
    }
    ASSERT_GT(good.size(), 50u);
    ASSERT_GT(damaged.size(), 10u);

    const std::vector<std::string> real = support::FilesIn("corpus/real", true);
    EXPECT_GE(real.size(), 7u);
    std::set<std::string> expected = good;
    expected.insert(real.begin(), real.end());
    const std::vector<std::string> shared = support::SharedSongs();
    EXPECT_EQ(std::set<std::string>(shared.begin(), shared.end()), expected);
    EXPECT_TRUE(std::is_sorted(shared.begin(), shared.end()));

    const std::vector<std::string> bad = support::DamagedSongs();
    EXPECT_EQ(std::set<std::string>(bad.begin(), bad.end()), damaged);
    // Every file of bad/: the songs and their info files.
    EXPECT_GT(support::DamagedFiles().size(), bad.size());
}

// PSG 9F, frame, FM 0x028 <- F0, frame, FM 0x1B4 <- C0, frame, end: the
// writes copied, a wait at the second and third markers and at the end.
TEST(VgmWriter, ConvertsAGymLogByteForByte) {
    const std::vector<uint8_t> gym = {0x03, 0x9F, 0x00, 0x01, 0x28, 0xF0,
                                      0x00, 0x02, 0xB4, 0xC0, 0x00, 0xFF};
    std::vector<uint8_t> expected = {
        'V',  'g',  'm',  ' ',  0x08, 0x01, 0x00, 0x00,  // end of file: 0x10C - 4
        0x71, 0x01, 0x00, 0x00, 0x8A, 0x9E, 0x36, 0x00,  // 1.71; PSG 3,579,530 Hz
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // no YM2413, no tag
        0x9D, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 3 x 735 samples; no loop
        0x00, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x00, 0x00,  // rate 60
        0x09, 0x00, 0x10, 0x00, 0xAA, 0x0A, 0x75, 0x00,  // PSG shape; FM 7,670,442 Hz
        0x00, 0x00, 0x00, 0x00, 0xCC, 0x00, 0x00, 0x00,  // data at 0x34 + 0xCC
    };
    expected.resize(0x100, 0);
    for (uint8_t b : {0x50, 0x9F, 0x52, 0x28, 0xF0, 0x62, 0x53, 0xB4, 0xC0, 0x62, 0x62, 0x66})
        expected.push_back(b);
    EXPECT_EQ(VgmFromGym(gym).Bytes(), expected);
}

}  // namespace
