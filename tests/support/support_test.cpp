// The test support library checked against results worked out by hand: the
// checksum every render comparison rests on, and the song listings every
// sweep plays (a listing that dropped a kind of song would shrink a sweep
// without failing it).
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

}  // namespace
