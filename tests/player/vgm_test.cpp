// VGM songs: a VGM that carries a GYM log's writes plays that log's bits,
// the DAC sounds the same in each of its forms, the loop, fade and header
// rules, and damaged files are refused or cut, never read past.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "play_helpers.h"
#include "sample.h"
#include "shared_songs.h"
#include "tests/support/vgm_writer.h"

namespace {

struct Played {
    bool opens = false;
    std::string why;    // the refusal, when it did not open
    uint64_t hash = 0;  // FNV-1a of every frame
    int64_t frames = 0;
    int64_t firstSound = -1;  // first frame that is not silence
    int32_t peak = 0;
    int32_t lengthMs = -1;
    std::string title;
};

// Plays `bytes`, as the file `name`, through the session to its end at the
// Frequency choice `frequency`, as the decode thread does; at most
// `maxSeconds` of output.
Played Play(const std::vector<uint8_t>& bytes, const std::string& name, const char* frequency,
            int32_t loops = 0, int32_t fadeMs = 0, int32_t maxSeconds = 900) {
    play::ReadyAsTheLoaderLeavesIt();
    settings.frequency = LookupChoiceValue(frequencyChoices, frequency);
    settings.loopCount = loops;
    settings.fadeoutTime = fadeMs;
    Played played;
    const char* why = nullptr;
    std::unique_ptr<SongSession> song = SongSession::OpenBytes(
        name.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, 0, &why);
    if (!song) {
        played.why = why != nullptr ? why : "";
        return played;
    }
    played.opens = true;
    played.lengthMs = song->LengthMs();
    played.title = song->Title();
    struct Host : BlockHost {
        Played* out;
        int64_t limit;
        int32_t TakeBlock(const int16_t* frames, int32_t count) override {
            std::vector<int16_t> block(frames, frames + 2 * count);
            out->hash = play::Fnv1a(block) ^ (out->hash * 0x100000001B3ull);
            for (int32_t i = 0; i < 2 * count; ++i) {
                const int32_t level = frames[i] < 0 ? -frames[i] : frames[i];
                if (level > out->peak) out->peak = level;
                if (level != 0 && out->firstSound < 0) out->firstSound = out->frames + i / 2;
            }
            out->frames += count;
            return out->frames >= limit ? kStopPlaying : kKeepPlaying;
        }
    } host;
    host.out = &played;
    host.limit = static_cast<int64_t>(maxSeconds) * song->Rate();
    PlayThrough(*song, song->BlockFrames(), host);
    // A song that ended played the length it said, to within its last block.
    if (played.frames < host.limit && loops != 0) {
        const int64_t ms = played.frames * 1000 / song->Rate();
        EXPECT_LE(song->PlayMs(), ms) << name;
        EXPECT_GE(song->PlayMs(), ms - kBlockMs) << name;
    }
    return played;
}

// The command stream a GYM file plays (whatever its container), as the
// loader leaves it, without its end marker.
std::vector<uint8_t> GymCommands(const std::string& path) {
    play::PlayerPtr player = play::Open(path);
    if (!player) return {};
    const uint8_t* end = player->image;
    while (CommandLength(*end) != 0)
        end += CommandLength(*end);
    return std::vector<uint8_t>(static_cast<const uint8_t*>(player->image), end);
}

bool WritesTheDac(const std::vector<uint8_t>& commands) {
    for (size_t pos = 0; pos < commands.size(); pos += CommandLength(commands[pos])) {
        if (commands[pos] == kCommandFmPort0 && commands[pos + 1] == 0x2A) return true;
    }
    return false;
}

class VgmRates : public testing::TestWithParam<const char*> {};

// A VGM with a GYM log's writes and a 735-sample wait at each of its releases
// plays exactly the log's bits, played as a plain file.
TEST_P(VgmRates, EveryGymSongWithoutDacPlaysTheSameBits) {
    TAMBORIL_NEED_SHARED_SONGS();
    const std::vector<std::string> songs = support::SampleUnderSanitizers(
        support::OneFormEach(support::SharedSongs()), 4, "VGM from GYM", 7);
    int compared = 0;
    for (const std::string& path : songs) {
        const std::vector<uint8_t> gym = GymCommands(path);
        if (gym.empty() || WritesTheDac(gym)) continue;
        SCOPED_TRACE(path);
        const Played expected = Play(gym, "log.gym", GetParam());
        const Played got = Play(VgmFromGym(gym).Bytes(), "log.vgm", GetParam());
        ASSERT_TRUE(got.opens) << got.why;
        EXPECT_EQ(got.frames, expected.frames);
        EXPECT_EQ(got.hash, expected.hash);
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, VgmRates, testing::Values("44100", "48000", "55467:FM"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "55467:FM"
                                        ? std::string("Fm55467")
                                        : "Hz" + std::string(info.param);
                         });

// The same DAC bytes, as 52 2A writes and as a data block played by 8n
// (with and without waits carried by the 8n), sound the same.
TEST(Vgm, DacWritesAndBankPlaySame) {
    TAMBORIL_NEED_SHARED_SONGS();
    for (const char* song : {"songs/probe_dac_rates_2k-24k.gym", "songs/probe_dac_pan.gym"}) {
        const std::vector<uint8_t> gym = GymCommands(support::SharedPath(song));
        ASSERT_TRUE(WritesTheDac(gym)) << song;
        for (const char* frequency : {"55467:FM", "22050"}) {
            SCOPED_TRACE(std::string(song) + " at " + frequency);
            const Played writes = Play(VgmFromGym(gym).Bytes(), "w.vgm", frequency);
            GymConversion bank;
            bank.dac = DacForm::bank;
            const Played banked = Play(VgmFromGym(gym, bank).Bytes(), "b.vgm", frequency);
            bank.dacCarry = 15;
            const Played carried = Play(VgmFromGym(gym, bank).Bytes(), "c.vgm", frequency);
            EXPECT_GT(writes.peak, 1000);
            EXPECT_EQ(banked.hash, writes.hash);
            EXPECT_EQ(carried.hash, writes.hash);
        }
    }
}

// A DAC stream writes the bank's bytes at its own rate: it sounds as 52 2A
// writes of those bytes at samples floor(k x 44100 / frequency) would,
// forwards or reversed, with a step, looped, or started from a block by 95.
TEST(Vgm, StreamsPlayAsTimedWrites) {
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 64; ++i)
        pcm.push_back(static_cast<uint8_t>(i * 37 + 11));
    const struct {
        const char* what;
        uint8_t step;
        uint8_t mode;  // 93's length mode; 0xFF: started by 95 from block 1
        uint32_t length;
        uint32_t frequency;
    } cases[] = {
        {"forwards", 1, kVgmLengthCommands, 40, 8000},
        {"reversed, step 2", 2, kVgmLengthCommands | 0x10, 20, 11025},
        {"looped", 1, kVgmLengthCommands | kVgmLengthLoop, 7, 3000},
        {"block 1 by 95", 1, 0xFF, 32, 22050},
    };
    constexpr uint32_t kSongSamples = 6000;
    for (const auto& c : cases) {
        VgmWriter writes, stream;
        for (VgmWriter* vgm : {&writes, &stream})
            vgm->FmClock(7670453).Fm0(0x2B, 0x80).Fm1(0xB6, 0xC0);
        const std::vector<uint8_t> half(pcm.begin() + 32, pcm.end());
        stream.DataBlock(0, std::vector<uint8_t>(pcm.begin(), pcm.begin() + 32)).DataBlock(0, half);
        stream.StreamSetup(0, 0x02, 0, 0x2A).StreamData(0, 0, c.step, 0);  // the YM2612's DAC
        stream.StreamFrequency(0, c.frequency);
        if (c.mode == 0xFF) {
            stream.StreamFastStart(0, 1, 0);
        } else {
            stream.StreamStart(0, 0, c.mode, c.length);
        }
        stream.Wait(kSongSamples).End();
        const bool loop = c.mode != 0xFF && (c.mode & kVgmLengthLoop) != 0;
        const bool reverse = c.mode != 0xFF && (c.mode & 0x10) != 0;
        uint32_t at = 0;
        for (uint32_t k = 0; loop || k < c.length; ++k) {
            const uint32_t t = static_cast<uint32_t>(uint64_t{k} * 44100 / c.frequency);
            if (t >= kSongSamples) break;
            const uint32_t n = loop ? k % c.length : k;
            const uint32_t index =
                (c.mode == 0xFF ? 32 : 0) + (reverse ? c.length - 1 - n : n) * c.step;
            writes.Wait(t - at).Fm0(0x2A, pcm[index]);
            at = t;
        }
        writes.Wait(kSongSamples - at).End();
        const Played expected = Play(writes.Bytes(), "w.vgm", "48000");
        EXPECT_GT(expected.peak, 1000) << c.what;
        EXPECT_EQ(Play(stream.Bytes(), "s.vgm", "48000").hash, expected.hash) << c.what;
    }
}

// A DAC byte written at song sample t sounds from output frame
// floor(t x rate / 44100), however the waits before it are written.
TEST(Vgm, WritesLandAtTheirOwnSample) {
    const struct {
        std::vector<uint32_t> waits;  // before the byte
        const char* frequency;
        int64_t frame;
    } cases[] = {
        {{100}, "22050", 50},        {{100}, "48000", 108},     {{1, 2, 97}, "48000", 108},
        {{735}, "44100", 735},       {{70000}, "11025", 17500}, {{16, 16, 16, 16}, "24000", 34},
        {{882, 1}, "55467:FM", 883},
    };
    for (const auto& c : cases) {
        VgmWriter vgm;
        vgm.FmClock(7670453).Fm0(0x2B, 0x80).Fm1(0xB6, 0xC0);  // DAC on, both sides
        for (uint32_t wait : c.waits)
            vgm.Wait(wait);
        vgm.Fm0(0x2A, 0xFF).Wait(2000).End();
        const Played played = Play(vgm.Bytes(), "t.vgm", c.frequency);
        EXPECT_EQ(played.firstSound, c.frame) << c.frequency << " after " << c.waits[0];
    }
}

// The loop: where it lands, how many passes the loop count makes of the
// modifier and base, what is no loop; and the fade's length.
TEST(Vgm, LoopCountsAndWhatIsNoLoop) {
    const struct {
        const char* what;
        uint8_t modifier;
        int8_t base;
        int32_t loops;
        bool loopMarked;
        bool waitInLoop;
        int32_t loopsPlayed;
    } cases[] = {
        {"plain", 0, 0, 2, true, true, 2},
        {"modifier 0x20 doubles", 0x20, 0, 2, true, true, 4},
        {"modifier 0x08 halves", 0x08, 0, 3, true, true, 2},
        {"base 1 takes one off", 0, 1, 3, true, true, 2},
        {"never below one", 0, 100, 3, true, true, 1},
        {"negative base adds", 0, -2, 1, true, true, 3},
        {"no loop mark", 0, 0, 2, false, true, 0},
        {"no wait after the mark", 0, 0, 2, true, false, 0},
    };
    for (const auto& c : cases) {
        VgmWriter vgm;
        vgm.PsgClock(3579545).LoopModifier(c.modifier).LoopBase(c.base);
        vgm.Psg(0x80).Psg(0x10).Psg(0x90).Wait(1000);
        if (c.loopMarked) vgm.MarkLoop();
        vgm.Psg(0x81).Psg(0x11);
        if (c.waitInLoop) vgm.Wait(1500);
        vgm.End();
        const Played played = Play(vgm.Bytes(), "l.vgm", "44100", c.loops, 0);
        // Without a fade the song halts at the end of the block in which the
        // last jump was read, once the pass's last wait has been rendered. A
        // song that does not loop ends within the block of its end.
        const int64_t read =
            c.loopsPlayed > 0 ? 1000 + 1500 * c.loopsPlayed : (c.waitInLoop ? 2500 : 1000);
        EXPECT_EQ(played.frames, (read / 1323 + 1) * 1323) << c.what;
    }

    // Loop count 0 plays for ever; a fade of 1000 ms steps every 735 samples
    // and ends the song 62 steps after the limit is reached.
    VgmWriter loop;
    loop.PsgClock(3579545).Psg(0x90).MarkLoop().Wait(735).End();
    EXPECT_EQ(Play(loop.Bytes(), "f.vgm", "44100", 0, 0, 30).frames, 30 * 44100);
    const Played faded = Play(loop.Bytes(), "f.vgm", "44100", 1, 1000);
    EXPECT_GE(faded.frames, 735 * 62);
    EXPECT_LE(faded.frames, 735 * 64 + 1323);
}

// Header fields: the clocks of each version, bits past the clock, header
// bytes at or past the data, the title from the tag, the volume modifier.
TEST(Vgm, HeaderFieldsAndTitle) {
    auto tone = [](VgmWriter& vgm) {
        vgm.Fm0(0x28, 0x00).Fm0(0xB4, 0xC0).Fm0(0x30, 0x01).Fm0(0x40, 0x00).Fm0(0x50, 0x1F);
        vgm.Fm0(0xB0, 0x07).Fm0(0xA4, 0x22).Fm0(0xA0, 0x69).Fm0(0x28, 0xF0).Wait(4410).End();
    };
    VgmWriter modern;
    modern.FmClock(7670453);
    tone(modern);
    const Played reference = Play(modern.Bytes(), "a.vgm", "44100");
    ASSERT_GT(reference.peak, 500);

    VgmWriter old;  // 1.01 keeps the FM clock at 0x10
    old.Version(0x101).FmClock(7670453);
    tone(old);
    EXPECT_EQ(Play(old.Bytes(), "b.vgm", "44100").hash, reference.hash);
    VgmWriter flagged;  // the second-chip and variant bits are not the clock
    flagged.FmClock(7670453 | 0xC0000000u);
    tone(flagged);
    EXPECT_EQ(Play(flagged.Bytes(), "c.vgm", "44100").hash, reference.hash);
    VgmWriter louder;
    louder.FmClock(7670453).VolumeModifier(0x20);  // 2x: 12 half-decibels
    tone(louder);
    const Played loud = Play(louder.Bytes(), "d.vgm", "44100");
    EXPECT_NEAR(loud.peak, 2 * reference.peak, reference.peak / 20);
    // A modifier inside the commands of a file whose data starts early is
    // not read.
    VgmWriter early;
    early.Version(0x160).DataOffset(0x40).FmClock(7670453);
    for (int i = 0; i < 30; ++i)
        early.GameGearStereo(0xFF);
    tone(early);
    std::vector<uint8_t> bytes = early.Bytes();
    ASSERT_GT(bytes.size(), 0x80u);
    EXPECT_EQ(Play(bytes, "e.vgm", "44100").hash, reference.hash);

    VgmTag tag;
    tag.gameEnglish = "Game";
    tag.trackEnglish = "Track \xE2\x99\xAA";
    modern.Tag(tag);
    EXPECT_EQ(Play(modern.Bytes(), "t.vgm", "44100").title, "Game [ Track \xE2\x99\xAA ]");
    tag.gameEnglish = "";
    modern.Tag(tag);
    EXPECT_EQ(Play(modern.Bytes(), "t.vgm", "44100").title, "[ Track \xE2\x99\xAA ]");
    VgmWriter untagged;
    untagged.PsgClock(3579545).Wait(10).End();
    EXPECT_EQ(Play(untagged.Bytes(), "dir/x.vgz", "44100").title, "[ x.vgz ]");
    EXPECT_EQ(Play(Gzip(untagged.Bytes()), "y.vgm", "44100").lengthMs, 0);
    EXPECT_TRUE(Play(Gzip(untagged.Bytes()), "y.vgm", "44100").opens);
}

// Damaged and hostile files: refused with a word why, or played as far as
// they make sense; nothing reads outside the file and nothing hangs.
TEST(Vgm, DamagedFilesAreRefusedOrCut) {
    VgmWriter good;
    good.PsgClock(3579545).Psg(0x90).Wait(4410).End();
    const std::vector<uint8_t> bytes = good.Bytes();

    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 0x30);
    EXPECT_NE(Play(cut, "cut.vgm", "44100").why.find("cut short"), std::string::npos);
    VgmWriter noChip;
    noChip.Wait(10).End();
    EXPECT_NE(Play(noChip.Bytes(), "n.vgm", "44100").why.find("YM2612"), std::string::npos);
    EXPECT_EQ(Play({'x', 'y', 'z'}, "g.vgm", "44100").why, "not a VGM file");
    VgmWriter slow;  // a PSG at 60 Hz would take the generator's timing apart
    slow.PsgClock(60).Psg(0xE4).Wait(100).End();
    EXPECT_NE(Play(slow.Bytes(), "s.vgm", "44100").why.find("clock"), std::string::npos);
    std::vector<uint8_t> packed = Gzip(bytes);
    packed.resize(packed.size() / 2);
    EXPECT_NE(Play(packed, "p.vgz", "44100").why.find("gzip"), std::string::npos);
    // A gzip stream that inflates past the song limit, whatever it states.
    std::vector<uint8_t> huge(kSongSizeLimit + 4096, 0x70);
    std::memcpy(huge.data(), bytes.data(), 0x40);
    EXPECT_NE(Play(Gzip(huge), "h.vgz", "44100").why.find("64 MiB"), std::string::npos);

    // The same second of song with one lie or overrun each.
    auto patched = [](VgmWriter vgm, size_t offset, uint32_t value) {
        std::vector<uint8_t> file = vgm.Bytes();
        if (offset == 0) offset = 0x14 + file[0x14] + (file[0x15] << 8) + 8;  // the tag's length
        for (int i = 0; i < 4; ++i)
            file[offset + i] = static_cast<uint8_t>(value >> (8 * i));
        return file;
    };
    VgmWriter second;
    second.PsgClock(3579545).Wait(44100).End();
    VgmWriter tagged = second;
    tagged.Tag({"t"});
    const struct {
        const char* what;
        std::vector<uint8_t> file;
        int32_t lengthMs;
    } cases[] = {
        {"data offset past the end", patched(second, 0x34, 0x7FFFFFF0), 0},
        {"end of file past the end", patched(second, 0x04, 0xFFFFFFF0), 1000},
        {"loop offset past the end", patched(second, 0x1C, 0x7FFFFFF0), 1000},
        {"tag length past the end", patched(tagged, 0, 0xFFFFFFF0), 1000},
        {"data block longer than the file",
         VgmWriter()
             .PsgClock(3579545)
             .Wait(44100)
             .Raw({0x67, 0x66, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1})
             .Bytes(),
         1000},
        {"bank read and seek past the bank",
         VgmWriter()
             .FmClock(7670453)
             .Fm0(0x2B, 0x80)
             .DataBlock(0, {1, 2})
             .SeekBank(0xFFFFFFF0)
             .DacFromBank(15)
             .Wait(44100)
             .End()
             .Bytes(),
         1000},
        {"stream past the bank, at any speed",
         VgmWriter()
             .FmClock(7670453)
             .Fm0(0x2B, 0x80)
             .DataBlock(0, {1, 2, 3})
             .StreamSetup(0, 2, 0, 0x2A)
             .StreamData(0, 0, 1, 0)
             .StreamFrequency(0, 0xFFFFFFFF)
             .StreamStart(0, 1, kVgmLengthCommands | kVgmLengthLoop, 0xFFFFFFFF)
             .StreamFastStart(1, 9, 1)
             .Wait(44100)
             .End()
             .Bytes(),
         1000},
        {"unknown command",
         VgmWriter().PsgClock(3579545).Wait(44100).Raw({0x01, 0x61, 0, 0}).Bytes(), 1000},
    };
    for (const auto& c : cases) {
        const Played played = Play(c.file, "d.vgm", "44100", 2, 100, 60);
        EXPECT_TRUE(played.opens) << c.what << ": " << played.why;
        EXPECT_EQ(played.lengthMs, c.lengthMs) << c.what;
        EXPECT_LT(played.frames, 60 * 44100) << c.what;
    }
}

}  // namespace

// Every tag as the files carry it: GD3 fields in both languages, GYMX
// header fields read as Windows-1252, the info file's title as the song's;
// and the year a host shows from the date.
TEST(Tags, FromTheFilesBytes) {
    std::vector<uint8_t> header = MakeGymx({0x00}, "Caf\xE9", "\x93Song\x94", 0, false);
    std::memcpy(&header[68], "\x80 Pub\x81", 6);  // two bytes the code page maps oddly
    std::memset(&header[164], 'c', 256);          // a comment of all 256 bytes, no NUL
    const std::string gymx = TempPath("tags.gym");
    ASSERT_TRUE(WriteFileBytes(gymx, header));
    const std::string titled = TempPath("titled.gym");
    ASSERT_TRUE(WriteFileBytes(titled, header));
    ASSERT_TRUE(WriteFileBytes(TempPath("titled.gyi"), MakeGyi("Info \xC0", "")));
    const std::string demo = std::string(TAMBORIL_SOURCE_DIR) + "/examples/demo.gym.zip";

    const struct {
        std::string path;
        SongTag tag;
        const char* text;
    } rows[] = {
        {gymx, kTagTrack, "\xE2\x80\x9CSong\xE2\x80\x9D"},
        {gymx, kTagGame, "Caf\xC3\xA9"},
        {gymx, kTagPublisher, "\xE2\x82\xAC Pub\xC2\x81"},
        {gymx, kTagComment, nullptr},  // 256 'c'
        {gymx, kTagAuthor, ""},
        {titled, kTagTrack, "Info \xC3\x80"},
        {titled, kTagGame, "Caf\xC3\xA9"},
        {demo, kTagTrack, "Tamboril - First Light"},
        {"corpus/vgm/sonic2emerald.vgm", kTagTrack, "Emerald Hill Zone"},
        {"corpus/vgm/sonic2emerald.vgm", kTagGameJa,
         "\xE3\x82\xBD\xE3\x83\x8B\xE3\x83\x83\xE3\x82\xAF\xE3\x83\xBB\xE3\x82\xB6\xE3\x83\xBB"
         "\xE3\x83\x98\xE3\x83\x83\xE3\x82\xB8\xE3\x83\x9B\xE3\x83\x83\xE3\x82\xB0\xEF\xBC\x92"},
        {"corpus/vgm/sonic2emerald.vgm", kTagAuthorJa,
         "\xE4\xB8\xAD\xE6\x9D\x91\xE6\xAD\xA3\xE4\xBA\xBA, \xE7\xAB\xB9\xE5\x86\x85\xE5\x87\xBA"
         "\xE7\xA9\x82"},
        {"corpus/vgm/sonic2emerald.vgm", kTagDate, "1992/11/21"},
        {"corpus/vgm/sonic2emerald.vgm", kTagDumper, "-DJSW-"},
        {"corpus/vgm/fatality.vgm", kTagAuthor, "Dan Forden, Chris Braymen, Roy Wilkins"},
        {"corpus/vgm/fatality.vgm", kTagGameJa, ""},
        {"corpus/vgm/fatality.vgm", kTagPublisher, ""},
    };
    for (const auto& row : rows) {
        const bool shared = row.path.rfind("corpus/", 0) == 0;
        if (shared && !std::filesystem::is_directory(support::SharedPath("corpus/vgm"))) continue;
        const std::string path = shared ? support::SharedPath(row.path) : row.path;
        play::SessionPtr song = play::OpenSession(path);
        ASSERT_TRUE(song) << path;
        EXPECT_EQ(song->Tags().text[row.tag],
                  row.text != nullptr ? row.text : std::string(256, 'c'))
            << row.path << " " << TagLabel(row.tag);
    }

    const struct {
        const char* date;
        const char* year;
    } years[] = {{"1994", "1994"},           {"1991/09", "1991"}, {"17/10/1994", "1994"},
                 {"Oct 12345 1993", "1993"}, {"94", ""},          {"", ""}};
    for (const auto& y : years) {
        char year[5];
        EXPECT_EQ(YearOf(y.date, year), y.year[0] != 0) << y.date;
        EXPECT_STREQ(year, y.year) << y.date;
    }
}
