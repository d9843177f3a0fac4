// Whatever blocks the host asks for and whatever played before, a song sounds
// the same: the PCM part does not depend on how render calls split the
// stretches, renders whose calls end on stretch boundaries match the sound
// pinned in golden/stretch_renders.tsv, a song after another one equals the
// song alone, and a seek back to the start replays the start.
//
// Every song of the shared set outside bad/ (one form of those that come in
// several containers) and every real log, at every Frequency choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "play_helpers.h"
#include "shared_songs.h"

namespace {

// The native build sweeps every song; the sanitizer and Windows builds, which
// run several times slower, take the songs with PCM and a few others.
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
constexpr bool kFullSweep = false;
#else
constexpr bool kFullSweep = true;
#endif
const char* const kQuickSongs[] = {
    "songs/probe_dac_pan.gym",
    "songs/probe_dac_rates_2k-24k.gym",
    "songs/probe_dac_enable_toggle.gym",
    "songs/probe_mix_everything_full_volume.gym",
    "songs/probe_timer_reset_bits_midframe.gym",
    "songs/probe_psg_noise_modes.gym",
    "songs/probe_fm_keyon_repeat.gym",
    "songs/song_neon_harbor.dru",
};

// Where golden/stretch_renders.tsv cuts its renders.
constexpr int64_t kStretchGoldenSeconds = 30;
// Renders of whole songs are cut here so that a sweep stays quick.
constexpr int64_t kFullMixSeconds = kFullSweep ? 30 : 8;
// The same for each song of a playlist, which is played three times.
constexpr int64_t kPlaylistSeconds = kFullSweep ? 20 : 6;
// Song time played before seeking back, at most.
constexpr int32_t kPlayBeforeSeekMs = 10000;

// Paths below the shared folder, as the goldens name them. The tests are
// named after the songs of the configured folder, so that their names stay
// the same when the environment points the tests elsewhere (they skip
// there). Without any songs one placeholder stands in, whose tests skip.
std::vector<std::string> SweptSongs() {
    const std::string root = TAMBORIL_SHARED_DIR_BUILT;
    std::vector<std::string> songs;
    for (const std::string& path : support::OneFormEach(support::SharedSongs(root), root))
        songs.push_back(support::BelowShared(path, root));
    std::vector<std::string> quick;
    for (const char* song : kQuickSongs)
        if (std::find(songs.begin(), songs.end(), song) != songs.end()) quick.push_back(song);
    std::vector<std::string> swept = kFullSweep ? songs : quick;
    if (swept.empty()) swept.push_back("none");
    return swept;
}

// The host's block: 30 ms.
int32_t HostBlock(int32_t rate) {
    return BlockFrames(rate);
}

// Sets the settings for a render at the Frequency choice `name`, defaults
// otherwise.
void UseFrequency(const char* name) {
    ResetSettingsToDefaults();
    settings.frequency = LookupChoiceValue(frequencyChoices, name);
}

// Renders in calls of plan(i) frames until the player stops or `maxFrames`
// have been rendered.
std::vector<int16_t> RenderPlan(GymPlayer* player, const std::function<int32_t(int64_t)>& plan,
                                int64_t maxFrames) {
    std::vector<int16_t> all;
    for (int64_t i = 0, frames = 0; frames < maxFrames && player->ops.isRunning(player); ++i) {
        const int32_t n = plan(i);
        play::Append(all, play::Render(player, n));
        frames += n;
    }
    return all;
}

// Index of the first stereo frame where two renders differ within their
// common length, or -1.
int64_t FirstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    auto where = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
    return where.first == a.begin() + static_cast<std::ptrdiff_t>(n)
               ? -1
               : (where.first - a.begin()) / 2;
}

std::string HashText(uint64_t hash) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// golden/stretch_renders.tsv: song, Frequency choice, hash.
std::map<std::string, std::string> LoadStretchGoldens() {
    std::map<std::string, std::string> table;
    std::ifstream file(std::string(TAMBORIL_SOURCE_DIR) +
                       "/tests/player/golden/stretch_renders.tsv");
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
    for (char c : info.param)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class SplittingTest : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override { TAMBORIL_NEED_SHARED_SONGS(); }
};

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
        const std::string hash = HashText(play::Fnv1a(
            play::RenderStretches(player.get(), lengths, kStretchGoldenSeconds * rate)));
        if (update) {
            std::printf("%s\t%s\t%s\n", GetParam().c_str(), choice->name, hash.c_str());
            continue;
        }
        auto golden = goldens.find(GetParam() + "\t" + choice->name);
        ASSERT_NE(golden, goldens.end())
            << GetParam() << " at " << choice->name << " has no golden";
        EXPECT_EQ(hash, golden->second) << GetParam() << " at " << choice->name;
    }
}

// With FM and PSG silent, what is left is the PCM, and that must not depend
// on how the calls split the stretches. Songs loop for ever here (a fade
// would start at a call boundary) and are cut a little after one pass, or
// where full mixes are cut.
TEST_P(SplittingTest, PcmAloneIsTheSameInAnyBlocks) {
    struct Plan {
        const char* name;
        std::function<int32_t(int64_t)> blocks;
    };
    std::mt19937 random(8);
    std::vector<int32_t> randomSizes(4096);
    for (int32_t& n : randomSizes)
        n = 1 + static_cast<int32_t>(random() % 5000);
    const Plan plans[] = {
        {"1", [](int64_t) { return 1; }},
        {"7", [](int64_t) { return 7; }},
        {"661", [](int64_t) { return 661; }},
        {"735", [](int64_t) { return 735; }},
        {"1323", [](int64_t) { return 1323; }},
        {"4096", [](int64_t) { return 4096; }},
        {"random",
         [&randomSizes](int64_t i) {
             return randomSizes[static_cast<size_t>(i) % randomSizes.size()];
         }},
    };
    const std::string path = play::SharedPath(GetParam());
    for (const SettingChoice* choice = frequencyChoices; choice->name != nullptr; ++choice) {
        std::vector<int16_t> first;
        for (const Plan& plan : plans) {
            play::PowerOnChips();
            UseFrequency(choice->name);
            settings.loopCount = 0;
            settings.volumeFm = kSilentLevel;
            settings.volumeSsg = kSilentLevel;
            play::PlayerPtr player = play::Open(path);
            ASSERT_TRUE(player) << GetParam();
            const int32_t rate = play::Begin(player.get());
            const int64_t ms =
                std::min<int64_t>(SongLengthMs(player.get()) + 1000, kFullMixSeconds * 1000);
            const int64_t frames = ms * rate / 1000;
            const std::vector<int16_t> pcm = RenderPlan(player.get(), plan.blocks, frames);
            if (first.empty()) {
                first = pcm;
                continue;
            }
            // Longer blocks only add the silence after the end.
            ASSERT_GE(pcm.size(), first.size()) << plan.name;
            EXPECT_EQ(FirstDifference(first, pcm), -1)
                << GetParam() << " at " << choice->name << ": blocks of " << plan.name
                << " against 1";
        }
    }
}

// A song played after another one, or a second time, sounds as it does
// first after loading, however the one before ended.
TEST_P(SplittingTest, AfterAnotherSongSoundsAlone) {
    const std::vector<std::string> songs = SweptSongs();
    const auto at = std::find(songs.begin(), songs.end(), GetParam());
    const std::string before = play::SharedPath(at == songs.begin() ? songs.back() : *(at - 1));
    const std::string path = play::SharedPath(GetParam());
    for (const SettingChoice* choice = frequencyChoices; choice->name != nullptr; ++choice) {
        UseFrequency(choice->name);
        auto play = [&](const std::string& song, int64_t seconds) {
            play::PlayerPtr player = play::Open(song);
            EXPECT_TRUE(player) << song;
            if (!player) return std::vector<int16_t>();
            const int32_t rate = play::Begin(player.get());
            return RenderPlan(
                player.get(), [rate](int64_t) { return HostBlock(rate); }, seconds * rate);
        };
        play::PowerOnChips();
        const std::vector<int16_t> alone = play(path, kPlaylistSeconds);
        EXPECT_EQ(FirstDifference(alone, play(path, kPlaylistSeconds)), -1)
            << GetParam() << " at " << choice->name << ": played a second time";
        play(before, 2);  // stopped after 2 s, maybe with notes held
        const std::vector<int16_t> after = play(path, kPlaylistSeconds);
        EXPECT_EQ(after.size(), alone.size());
        EXPECT_EQ(FirstDifference(alone, after), -1)
            << GetParam() << " at " << choice->name << " after " << before;
    }
}

// Playing a while and seeking back to 0 sounds like seeking to 0 right after
// the start: a seek back restarts from the power-on state.
TEST_P(SplittingTest, SeekBackReplaysTheStart) {
    const std::string path = play::SharedPath(GetParam());
    for (const SettingChoice* choice = frequencyChoices; choice->name != nullptr; ++choice) {
        UseFrequency(choice->name);
        auto playAfterSeek = [&](int32_t playFirstMs) {
            play::PlayerPtr player = play::Open(path);
            EXPECT_TRUE(player) << path;
            if (!player) return std::vector<int16_t>();
            const int32_t rate = play::Begin(player.get());
            auto host = [rate](int64_t) { return HostBlock(rate); };
            // A song that ends while playing could not be sought any more:
            // play whole blocks of at most half of it.
            const int32_t ms = std::min(playFirstMs, SongLengthMs(player.get()) / 2);
            const int64_t blocks = static_cast<int64_t>(ms) * rate / 1000 / HostBlock(rate);
            RenderPlan(player.get(), host, blocks * HostBlock(rate));
            player->ops.seek(player.get(), 0);
            return RenderPlan(player.get(), host,
                              static_cast<int64_t>(kPlayBeforeSeekMs) * rate / 1000);
        };
        play::PowerOnChips();
        const std::vector<int16_t> straight = playAfterSeek(0);
        const std::vector<int16_t> back = playAfterSeek(kPlayBeforeSeekMs);
        EXPECT_EQ(back.size(), straight.size());
        EXPECT_EQ(FirstDifference(straight, back), -1) << GetParam() << " at " << choice->name;
    }
}

INSTANTIATE_TEST_SUITE_P(Songs, SplittingTest, testing::ValuesIn(SweptSongs()), TestName);

// The PCM-alone comparison hears something: a song of DAC notes is not
// silent with FM and PSG at their floor.
TEST(PcmAlone, CarriesTheDac) {
    TAMBORIL_NEED_SHARED_SONGS();
    play::PowerOnChips();
    UseFrequency("44100");
    settings.volumeFm = kSilentLevel;
    settings.volumeSsg = kSilentLevel;
    play::PlayerPtr player = play::Open(play::SharedPath("songs/probe_dac_rates_2k-24k.gym"));
    ASSERT_TRUE(player);
    play::Begin(player.get());
    const std::vector<int16_t> pcm = play::RenderToEnd(player.get(), 1323);
    EXPECT_GT(std::count_if(pcm.begin(), pcm.end(), [](int16_t s) { return s != 0; }),
              static_cast<std::ptrdiff_t>(pcm.size() / 4));
}

}  // namespace
