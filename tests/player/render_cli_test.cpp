// tamboril render, run as a program: outputs by extension, the default name,
// the checksum, and the exit status for bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "play_helpers.h"
#include "shared_songs.h"
#include "tool_run.h"

namespace {

// Runs the tool with `arguments` in `folder`; standard error joins the output.
ToolRun Tool(const std::string& arguments, const std::string& folder = ".") {
    return RunCommand("cd '" + folder + "' && " + std::string(TAMBORIL_TOOL) + " " + arguments +
                      " 2>&1");
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// One second of a steady PSG tone: 60 frames, 34 blocks of 1323 at 44100 Hz.
std::string OneSecondSong(const std::string& folder, const std::string& name) {
    SongBuilder song;
    song.Psg(0x81).Psg(0x00).Psg(0x90).Frame(60);
    EXPECT_TRUE(WriteFileBytes(folder + name, song.Bytes()));
    return folder + name;
}

TEST(RenderCommand, OutputsByExtension) {
    const std::string dir = TempDir();
    const std::string song = OneSecondSong(dir, "tone.gym.zip.gym");
    constexpr uint32_t kFrames = 34 * 1323;

    ToolRun run = Tool("render --quiet -o out.wav " + song, dir);
    ASSERT_EQ(run.status, 0) << run.out;
    std::vector<uint8_t> wav = ReadFileBytes(dir + "out.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(wav, 24), 44100u);
    EXPECT_EQ(wav[22], 2);   // channels
    EXPECT_EQ(wav[34], 16);  // bits
    EXPECT_EQ(wav.size(), 44 + 4 * kFrames);

    ASSERT_EQ(Tool("render --quiet -o out.raw " + song, dir).status, 0);
    std::vector<uint8_t> raw = ReadFileBytes(dir + "out.raw");
    EXPECT_EQ(raw, std::vector<uint8_t>(wav.begin() + 44, wav.end()));

    run = Tool("render --quiet -o - " + song, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(raw.begin(), raw.end()));

    std::vector<int16_t> samples(raw.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    char hash[32];
    std::snprintf(hash, sizeof hash, "%016llx\n",
                  static_cast<unsigned long long>(play::Fnv1a(samples)));
    EXPECT_EQ(Tool("render --quiet --checksum " + song, dir).out, hash);

    ASSERT_EQ(Tool("render --quiet -o out.flac --frequency 22050 " + song, dir).status, 0);
    std::vector<uint8_t> flac = ReadFileBytes(dir + "out.flac");
    ASSERT_GE(flac.size(), 4u);
    EXPECT_EQ(std::string(flac.begin(), flac.begin() + 4), "fLaC");

    // Without -o: the song's name with .wav, in the current folder.
    ASSERT_EQ(Tool("render --quiet " + song, dir).status, 0);
    EXPECT_EQ(ReadFileBytes(dir + "tone.gym.zip.wav").size(), wav.size());

    // A seek during the first block drops that block and the time sought.
    ASSERT_EQ(Tool("render --quiet --seek 500 -o seek.raw " + song, dir).status, 0);
    EXPECT_NEAR(ReadFileBytes(dir + "seek.raw").size() / 4.0, kFrames - 22050, 1323);
}

// Several songs play one after another in one process, each to its own file
// in the folder -o names; a song sounds there as it does alone.
// The report's peak and the checksum describe the samples written, whether
// or not a file is written beside the checksum. The song's loudest samples
// are negative, so a peak that forgot their sign would come out short.
TEST(RenderCommand, PeakAndChecksumDescribeTheSamplesWritten) {
    TAMBORIL_NEED_SHARED_SONGS();
    const std::string dir = TempDir();
    const std::string song = play::SharedPath("songs/probe_dac_pan.gym");
    ToolRun run = Tool("render --checksum -o out.raw " + song, dir);
    ASSERT_EQ(run.status, 0) << run.out;
    std::vector<uint8_t> raw = ReadFileBytes(dir + "out.raw");
    std::vector<int16_t> samples(raw.size() / 2);
    int32_t peak = 0;
    int32_t highest = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
        peak = std::max(peak, std::abs(static_cast<int32_t>(samples[i])));
        highest = std::max(highest, static_cast<int32_t>(samples[i]));
    }
    ASSERT_GT(peak, highest) << "the song no longer peaks below zero";
    char hash[32];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(play::Fnv1a(samples)));
    EXPECT_NE(run.out.find(hash), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(", peak " + std::to_string(peak) + " ("), std::string::npos) << run.out;
    EXPECT_EQ(Tool("render --quiet --checksum " + song, dir).out, std::string(hash) + "\n");
}

TEST(RenderCommand, PlaylistBlocksAndSeekAfter) {
    TAMBORIL_NEED_SHARED_SONGS();
    const std::string dir = TempDir();
    const std::string tone = OneSecondSong(dir, "tone.gym");
    const std::string dac = play::SharedPath("songs/probe_dac_pan.gym");
    const std::string alone = Tool("render --quiet --checksum " + dac, dir).out;
    ASSERT_EQ(alone.size(), 17u) << alone;

    ToolRun run = Tool("render --quiet --checksum " + dac + " " + tone + " " + dac, dir);
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string line = alone.substr(0, 16) + "\t" + dac + "\n";
    EXPECT_EQ(run.out.substr(0, line.size()), line);
    EXPECT_EQ(run.out.substr(run.out.size() - line.size()), line) << "the same after another song";

    run = Tool("render --quiet -o list " + tone + " " + tone + " " + dac + " missing.gym", dir);
    EXPECT_EQ(run.status, 1) << "a song that cannot be opened is reported; the others play";
    EXPECT_EQ(ReadFileBytes(dir + "list/tone.wav"), ReadFileBytes(dir + "list/tone-2.wav"));
    EXPECT_GT(ReadFileBytes(dir + "list/probe_dac_pan.wav").size(), 44u);

    // 60 frames of 735 samples in blocks of 735, and the block that meets the end.
    ASSERT_EQ(Tool("render --quiet --block-frames 735 -o blocks.raw " + tone, dir).status, 0);
    EXPECT_EQ(ReadFileBytes(dir + "blocks.raw").size(), 4u * 61 * 735);

    // Half a second played, then back to 0: as a seek to 0 right away.
    EXPECT_EQ(Tool("render --quiet --checksum --seek 0 --seek-after 22050 " + dac, dir).out,
              Tool("render --quiet --checksum --seek 0 " + dac, dir).out);
    for (const char* bad : {"--block-frames 0", "--block-frames 441001",
                            "--seek-after 441001 --seek 0", "--seek-after 100", "-o - "}) {
        run = Tool(std::string("render --quiet ") + bad + " " + tone + " " + tone, dir);
        EXPECT_EQ(run.status, 2) << bad;
    }
    EXPECT_EQ(Tool("render --quiet --checksum --seek 0 --seek-after 441000 " + tone, dir).status,
              0);
}

TEST(RenderCommand, ExitStatusForBadInput) {
    const std::string dir = TempDir();
    const std::string song = OneSecondSong(dir, "tone.gym");

    ToolRun run = Tool("render --quiet missing.gym", dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("missing.gym"), std::string::npos) << "the message names the file";

    for (const char* bad : {"--frequency 96000", "--frequency 44.1", "--loops 256", "--loops -1",
                            "--fade 32768", "--fade -1", "--volume-fm 193", "--volume-ssg -21",
                            "--volume-pcm 193", "-o out.mp3", "--checksum -o -", "--seek -5"}) {
        run = Tool(std::string("render --quiet ") + bad + " " + song, dir);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_FALSE(run.out.empty()) << bad << ": says why";
    }
    for (const char* good :
         {"--frequency 55467:FM", "--frequency 55555", "--frequency 11025", "--loops 255",
          "--fade 0", "--fade 32767", "--volume-fm -20", "--volume-pcm 60", "--volume-fm 192"}) {
        EXPECT_EQ(Tool(std::string("render --quiet --checksum ") + good + " " + song, dir).status,
                  0)
            << good;
    }
}

}  // namespace
