// Whatever blocks the host asks for and whatever played before, a song sounds
// the same: the PCM part does not depend on how render calls split the
// stretches, renders whose calls end on stretch boundaries match the sound
// pinned in golden/stretch_renders.tsv, a song after another one equals the
// song alone, and a seek back to the start replays the start.
//
// Every song of the shared set outside bad/ and every real log, at every
// Frequency choice.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "play_helpers.h"

namespace {

// Renders of whole songs are cut here so that a full sweep stays quick.
constexpr int64_t kFullMixSeconds = 30;

std::string HashText(uint64_t hash) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// golden/stretch_renders.tsv: song, Frequency choice, hash.
std::map<std::string, std::string> LoadStretchGoldens() {
    std::map<std::string, std::string> table;
    std::ifstream file(std::string(TAMBORIL_SOURCE_DIR) + "/tests/player/golden/stretch_renders.tsv");
    std::string line;
    std::getline(file, line);  // column names
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string song, frequency, hash;
        if (std::getline(fields, song, '\t') && std::getline(fields, frequency, '\t') &&
            std::getline(fields, hash, '\t'))
            table[song + "\t" + frequency] = hash;
    }
    return table;
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class SplittingTest : public testing::TestWithParam<std::string> {};

// One call per stretch: the full mix is what it always was.
TEST_P(SplittingTest, WholeStretchCallsKeepTheirSound) {
    static const std::map<std::string, std::string> goldens = LoadStretchGoldens();
    const bool update = std::getenv("TAMBORIL_UPDATE_GOLDEN") != nullptr;
    const std::string path = play::SharedPath(GetParam());
    for (const SettingChoice* choice = frequencyChoices; choice->name != nullptr; ++choice) {
        const std::vector<int32_t> lengths = play::StretchLengths(path, choice->name);
        settings.frequency = choice->value;
        play::PlayerPtr player = play::Open(path);
        ASSERT_TRUE(player) << GetParam();
        const int32_t rate = play::Begin(player.get());
        const std::string hash =
            HashText(play::Fnv1a(play::RenderStretches(player.get(), lengths, kFullMixSeconds * rate)));
        if (update) {
            std::printf("%s\t%s\t%s\n", GetParam().c_str(), choice->name, hash.c_str());
            continue;
        }
        auto golden = goldens.find(GetParam() + "\t" + choice->name);
        ASSERT_NE(golden, goldens.end()) << GetParam() << " at " << choice->name << " has no golden";
        EXPECT_EQ(hash, golden->second) << GetParam() << " at " << choice->name;
    }
}

INSTANTIATE_TEST_SUITE_P(Songs, SplittingTest, testing::ValuesIn(play::SharedSongs()), TestName);

}  // namespace
