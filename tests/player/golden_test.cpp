// Renders of shared songs at every Frequency choice against the checksums in
// golden/renders.tsv (see golden/README.md for how they were made). One test
// per song, each render starting from the chips' power-on state, so that the
// results do not depend on which songs ran before in the same process.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "play_helpers.h"
#include "shared_songs.h"

namespace {

struct GoldenRender {
    std::string frequency;  // the Frequency choice's name
    uint64_t hash;
};

using GoldenTable = std::map<std::string, std::vector<GoldenRender>>;

GoldenTable LoadGoldens() {
    GoldenTable table;
    std::ifstream file(std::string(TAMBORIL_SOURCE_DIR) + "/tests/player/golden/renders.tsv");
    std::string line;
    std::getline(file, line);  // column names
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string song, frequency, hash;
        if (!std::getline(fields, song, '\t') || !std::getline(fields, frequency, '\t') ||
            !std::getline(fields, hash, '\t'))
            continue;
        table[song].push_back({frequency, std::stoull(hash, nullptr, 16)});
    }
    return table;
}

const GoldenTable& Goldens() {
    static const GoldenTable table = LoadGoldens();
    return table;
}

std::vector<std::string> GoldenSongs() {
    std::vector<std::string> songs;
    for (const auto& entry : Goldens())
        songs.push_back(entry.first);
    return songs;
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (char c : info.param)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class GoldenRenderTest : public testing::TestWithParam<std::string> {};

TEST_P(GoldenRenderTest, MatchesChecksums) {
    TAMBORIL_NEED_SHARED_SONGS();
    const std::vector<GoldenRender>& renders = Goldens().at(GetParam());
    ASSERT_EQ(renders.size(), 6u) << "one line per Frequency choice";
    for (const GoldenRender& golden : renders) {
        play::PowerOnChips();
        ResetSettingsToDefaults();
        settings.frequency = LookupChoiceValue(frequencyChoices, golden.frequency.c_str());
        play::SessionPtr song = play::OpenSession(play::SharedPath(GetParam()));
        ASSERT_TRUE(song) << GetParam();
        const std::vector<int16_t> samples = play::PlayToEnd(*song, song->BlockFrames());
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx",
                      static_cast<unsigned long long>(play::Fnv1a(samples)));
        char expected[17];
        std::snprintf(expected, sizeof expected, "%016llx",
                      static_cast<unsigned long long>(golden.hash));
        EXPECT_STREQ(hash, expected)
            << GetParam() << " at " << golden.frequency << ", " << samples.size() / 2 << " frames";
    }
}

INSTANTIATE_TEST_SUITE_P(Songs, GoldenRenderTest, testing::ValuesIn(GoldenSongs()), TestName);

TEST(GoldenTable, CoversTheSongs) {
    EXPECT_GE(Goldens().size(), 20u);
    EXPECT_EQ(Goldens().count("songs/song_coral_ascent.gym.zip"), 1u);
    EXPECT_EQ(Goldens().count("songs/song_neon_harbor_gymx_zlib.gym"), 1u);
}

}  // namespace
