// Song loading: the three forms, where titles and loop frames come from, cut
// commands, damaged files, and the name helpers.
#include "player/session.h"
#include "player/song.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "song_builder.h"

namespace {

struct PlayerDeleter {
    void operator()(GymPlayer* player) const { DestroyPlayer(player); }
};
using PlayerPtr = std::unique_ptr<GymPlayer, PlayerDeleter>;

// The song is opened a second time as the page opens songs: from its bytes,
// with every other file of its folder handed in beside them by name. Both
// ways must say the same of it.
void ExpectBytesAgree(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return;
    std::vector<std::string> names;
    std::vector<std::vector<uint8_t>> contents;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(path).parent_path())) {
        if (!entry.is_regular_file() || entry.path() == fs::path(path)) continue;
        names.push_back(entry.path().filename().string());
        contents.push_back(ReadFileBytes(entry.path().string()));
    }
    std::vector<CompanionFile> companions;
    for (size_t i = 0; i < names.size(); ++i) {
        companions.push_back({names[i].c_str(), contents[i].data(),
                              static_cast<uint32_t>(contents[i].size())});
    }
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    const std::string name = fs::path(path).filename().string();
    std::unique_ptr<SongSession> fromPath = SongSession::Open(path.c_str());
    std::unique_ptr<SongSession> fromBytes =
        SongSession::OpenBytes(name.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()),
                               companions.data(), static_cast<int32_t>(companions.size()));
    ASSERT_EQ(fromPath != nullptr, fromBytes != nullptr) << path;
    if (!fromPath) return;
    const SongFacts a = fromPath->Facts();
    const SongFacts b = fromBytes->Facts();
    EXPECT_STREQ(fromPath->Title(), fromBytes->Title()) << path;
    EXPECT_EQ(a.lengthMs, b.lengthMs) << path;
    EXPECT_EQ(a.loop, b.loop) << path;
    EXPECT_STREQ(a.form, b.form) << path;
}

PlayerPtr Open(const std::string& path, SongForm* form = nullptr) {
    ExpectBytesAgree(path);
    return PlayerPtr(OpenSongWithForm(path.c_str(), form));
}

// Writes the bytes to a fresh folder under `name` and returns the path.
std::string Fixture(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = TempDir() + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
    return path;
}

// The image must hold exactly `data` and then the end marker.
void ExpectImage(const GymPlayer* player, const std::vector<uint8_t>& data) {
    ASSERT_NE(player->image, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(player->image, player->image + data.size()), data);
    EXPECT_EQ(player->image[data.size()], 0xFF);
}

std::vector<uint8_t> Song(int frames) {
    SongBuilder song;
    for (int i = 0; i < frames; ++i)
        song.Fm(0x28, 0xF0).Psg(0x90).Fm(0x1A4, 0x22).Frame();
    return song.Bytes();
}

// A song whose writes do not repeat, so that it packs poorly and damage to
// its packed form lands in the compressed data.
std::vector<uint8_t> NoisySong(int frames) {
    SongBuilder song;
    uint32_t seed = 12345;
    for (int i = 0; i < frames; ++i) {
        for (int w = 0; w < 8; ++w) {
            seed = seed * 1103515245u + 12345u;
            song.Fm(0x30 + (seed >> 24) % 0x80, static_cast<uint8_t>(seed >> 16));
        }
        song.Frame();
    }
    return song.Bytes();
}

std::string Title(const std::string& path) {
    char title[kTitleSize];
    std::memset(title, 'x', sizeof title);
    int32_t length = -1;
    EXPECT_EQ(GetSongInfo(path.c_str(), title, &length), 1) << path;
    return title;
}

}  // namespace

TEST(SongForms, PlainLogLoadsWithEndMarkerAndItsLength) {
    std::vector<uint8_t> bytes = {0x00, 0x01, 0x28, 0xF0, 0x00};
    SongForm form = SongForm::archive;
    PlayerPtr player = Open(Fixture("tune.gym", bytes), &form);
    ASSERT_TRUE(player);
    EXPECT_EQ(form, SongForm::plain);
    ExpectImage(player.get(), bytes);
    EXPECT_EQ(SongLengthMs(player.get()), 33);
    EXPECT_EQ(player->loopFrame, 0u);
    EXPECT_STREQ(player->title, "");

    // Not started, driven through its own table, state pointing at itself.
    EXPECT_EQ(player->readPos, nullptr);
    EXPECT_EQ(player->loopPos, nullptr);
    EXPECT_EQ(player->frameCount, 0);
    EXPECT_EQ(player->pendingSamples, 0);
    EXPECT_EQ(player->loopCounter, 0);
    EXPECT_EQ(player->running, 0);
    EXPECT_EQ(player->state, player.get());
    EXPECT_EQ(player->ops.destroy, GymPlayerOps.destroy);
    EXPECT_EQ(player->ops.render, GymPlayerOps.render);
}

TEST(SongForms, EmptyFileIsAnEmptySong) {
    PlayerPtr player = Open(Fixture("empty.gym", {}));
    ASSERT_TRUE(player);
    EXPECT_EQ(player->image[0], 0xFF);
    EXPECT_EQ(SongLengthMs(player.get()), 0);
}

TEST(SongForms, LengthCountsFrameMarkersOnlyInCommandPositions) {
    // 7 frames = 116 ms; the 00 operands inside writes are no frames, and
    // nothing after the first byte above 3 counts.
    SongBuilder song;
    song.Fm(0x00, 0x00).Fm(0x100, 0x00).Psg(0x00).Frame(7).Raw({0x04}).Frame(50);
    PlayerPtr player = Open(Fixture("seven.gym", song.Bytes()));
    ASSERT_TRUE(player);
    EXPECT_EQ(SongLengthMs(player.get()), 116);
}

TEST(SongForms, GymxStoredAndZlibGiveTheBodyTitleAndLoop) {
    std::vector<uint8_t> body = Song(90);
    for (bool compress : {false, true}) {
        std::vector<uint8_t> file = MakeGymx(body, "Alpha", "Beta", 500, compress);
        for (size_t i = 68; i < 420; ++i)
            file[i] = 0x01;  // unused header bytes have no effect
        SongForm form = SongForm::plain;
        PlayerPtr player = Open(Fixture("x.gym", file), &form);
        ASSERT_TRUE(player) << compress;
        EXPECT_EQ(form, compress ? SongForm::gymxZlib : SongForm::gymx);
        ExpectImage(player.get(), body);
        EXPECT_STREQ(player->title, "Alpha [ Beta ]");
        EXPECT_EQ(player->loopFrame, 500u);
        EXPECT_EQ(SongLengthMs(player.get()), 1500);
    }
}

TEST(SongForms, GymxTitleShapes) {
    struct Case {
        std::string first, second, title;
    } cases[] = {
        {"Alpha", "Beta", "Alpha [ Beta ]"},
        {"", "Beta", "[ Beta ]"},
        {"Alpha", "", "Alpha"},
        {"", "", ""},
        {std::string(32, 'G'), std::string(32, 'S'),
         std::string(32, 'G') + " [ " + std::string(32, 'S') + " ]"},
        {std::string(40, 'G'), "", std::string(32, 'G')},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file = MakeGymx(Song(1), c.first, c.second, 0, false);
        if (c.first.size() > 32) file[68] = 'X';  // the text ends at 32 bytes, not at the next NUL
        PlayerPtr player = Open(Fixture("t.gym", file));
        ASSERT_TRUE(player);
        EXPECT_EQ(std::string(player->title), c.title);
    }
}

TEST(SongForms, ArchivesInEveryNameAndMethod) {
    std::vector<uint8_t> body = Song(120);
    for (const char* name :
         {"a.dru", "a.gym_zip", "a.gym.zip", "a.GYM.ZIP", "a.gym", "noextension"}) {
        for (bool deflate : {false, true}) {
            std::vector<uint8_t> zip =
                MakeZip({{"readme.txt", {'h', 'i'}, deflate},
                         {"TUNE.GyM", body, deflate},
                         {"tune.GYI", MakeGyi("Mixed Case", "30"), deflate}});
            SongForm form = SongForm::plain;
            PlayerPtr player = Open(Fixture(name, zip), &form);
            ASSERT_TRUE(player) << name;
            EXPECT_EQ(form, SongForm::archive);
            ExpectImage(player.get(), body);
            EXPECT_STREQ(player->title, "Mixed Case");
            EXPECT_EQ(player->loopFrame, 30u);
            EXPECT_EQ(SongLengthMs(player.get()), 2000);
        }
    }
}

TEST(SongForms, ArchiveEntryChoice) {
    // The first GYM entry in directory order wins; the info entry may come
    // first; a folder whose name ends in .gym is no song.
    std::vector<uint8_t> zip = MakeZip({{"info.gyi", MakeGyi("Info First", "20")},
                                        {"dir.gym/", {}},
                                        {"dir.gym/a.gym", Song(120)},
                                        {"b.gym", Song(60)}});
    PlayerPtr player = Open(Fixture("two.dru", zip));
    ASSERT_TRUE(player);
    EXPECT_EQ(SongLengthMs(player.get()), 2000);
    EXPECT_STREQ(player->title, "Info First");
    EXPECT_EQ(player->loopFrame, 20u);

    // An archive holding a GYMX file: header title and loop, inflated body.
    std::vector<uint8_t> inner = MakeGymx(Song(30), "Zipped", "Inside", 7, true);
    PlayerPtr gymx = Open(Fixture("in.gym.zip", MakeZip({{"song.gym", inner}})));
    ASSERT_TRUE(gymx);
    ExpectImage(gymx.get(), Song(30));
    EXPECT_STREQ(gymx->title, "Zipped [ Inside ]");
    EXPECT_EQ(gymx->loopFrame, 7u);

    // An empty song entry still gives an archive song, with its info.
    PlayerPtr empty = Open(
        Fixture("e.gym.zip", MakeZip({{"s.gym", {}}, {"s.gyi", MakeGyi("Empty Entry", "5")}})));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->image[0], 0xFF);
    EXPECT_STREQ(empty->title, "Empty Entry");
    EXPECT_EQ(empty->loopFrame, 5u);
}

TEST(SongSources, SidecarOverArchiveOverHeader) {
    std::string dir = TempDir();
    // Header loop 500; sidecar loop 300 wins, its title too.
    ASSERT_TRUE(WriteFileBytes(dir + "h.gym", MakeGymx(Song(10), "Alpha", "Beta", 500, false)));
    ASSERT_TRUE(WriteFileBytes(dir + "h.GYI", MakeGyi("Side", "300")));
    PlayerPtr player = Open(dir + "h.gym");
    ASSERT_TRUE(player);
    EXPECT_STREQ(player->title, "Side");
    EXPECT_EQ(player->loopFrame, 300u);

    // Sidecar with only a title: the header's loop stays.
    ASSERT_TRUE(WriteFileBytes(dir + "h.GYI", MakeGyi("Title Only", "")));
    player = Open(dir + "h.gym");
    EXPECT_STREQ(player->title, "Title Only");
    EXPECT_EQ(player->loopFrame, 500u);

    // A sidecar loop of 0 leaves the header's loop in force; an empty title
    // line lets the header give the title.
    ASSERT_TRUE(WriteFileBytes(dir + "h.GYI", MakeGyi("", "0")));
    player = Open(dir + "h.gym");
    EXPECT_STREQ(player->title, "Alpha [ Beta ]");
    EXPECT_EQ(player->loopFrame, 500u);

    // Archive info 'Inner' / 100 and a sidecar 'Outer' without a loop.
    std::vector<uint8_t> zip = MakeZip({{"s.gym", Song(10)}, {"s.gyi", MakeGyi("Inner", "100")}});
    ASSERT_TRUE(WriteFileBytes(dir + "z.dru", zip));
    player = Open(dir + "z.dru");
    EXPECT_STREQ(player->title, "Inner");
    ASSERT_TRUE(WriteFileBytes(dir + "z.GYI", MakeGyi("Outer", "")));
    player = Open(dir + "z.dru");
    EXPECT_STREQ(player->title, "Outer");
    EXPECT_EQ(player->loopFrame, 100u);

    // Archive info over the header of the GYMX inside it.
    std::vector<uint8_t> zipped = MakeZip(
        {{"s.gym", MakeGymx(Song(10), "Head", "", 9, true)}, {"s.gyi", MakeGyi("Inner", "")}});
    player = Open(Fixture("y.gym.zip", zipped));
    EXPECT_STREQ(player->title, "Inner");
    EXPECT_EQ(player->loopFrame, 9u);
}

TEST(SongSources, SidecarNamesAndPaths) {
    std::string dir = TempDir();
    // tune.gym.zip looks for tune.gym.GYI.
    ASSERT_TRUE(WriteFileBytes(dir + "tune.gym.zip", MakeZip({{"s.gym", Song(2)}})));
    ASSERT_TRUE(WriteFileBytes(dir + "tune.gym.GYI", MakeGyi("Beside Zip", "3")));
    PlayerPtr player = Open(dir + "tune.gym.zip");
    ASSERT_TRUE(player);
    EXPECT_STREQ(player->title, "Beside Zip");

    // A lower-case .gyi is found too.
    ASSERT_TRUE(WriteFileBytes(dir + "low.gym", Song(2)));
    ASSERT_TRUE(WriteFileBytes(dir + "low.gyi", MakeGyi("Lower", "4")));
    player = Open(dir + "low.gym");
    EXPECT_STREQ(player->title, "Lower");
    EXPECT_EQ(player->loopFrame, 4u);

    // A folder in the sidecar's place is no info file.
    ASSERT_TRUE(WriteFileBytes(dir + "fold.gym", MakeGymx(Song(2), "Head", "", 6, false)));
    std::error_code error;
    ASSERT_TRUE(std::filesystem::create_directory(dir + "fold.GYI", error));
    player = Open(dir + "fold.gym");
    ASSERT_TRUE(player);
    EXPECT_STREQ(player->title, "Head");
    EXPECT_EQ(player->loopFrame, 6u);
}

#ifndef _WIN32
// Win32 paths stop at 260 bytes anyway; elsewhere a sidecar path must fit the
// 260-byte buffer with its terminator or it is not read.
TEST(SongSources, SidecarPathMustFitItsBuffer) {
    std::string dir = TempDir();
    while (dir.size() < 200) {
        dir += "deeper/";
        std::error_code error;
        ASSERT_TRUE(std::filesystem::create_directory(dir, error)) << dir;
    }
    for (size_t stemLength : {size_t(kTitleSize - 5), size_t(kTitleSize - 4)}) {
        std::string stem = dir + std::string(stemLength - dir.size(), 's');
        ASSERT_TRUE(WriteFileBytes(stem + ".gym", Song(1)));
        ASSERT_TRUE(WriteFileBytes(stem + ".GYI", MakeGyi("Side", "9")));
        // Opened by path only: by name alone, as the page opens songs, the
        // path is short.
        PlayerPtr player(OpenSong((stem + ".gym").c_str()));
        ASSERT_TRUE(player);
        bool fits = stemLength + 4 < size_t(kTitleSize);
        EXPECT_STREQ(player->title, fits ? "Side" : "") << stemLength;
        EXPECT_EQ(player->loopFrame, fits ? 9u : 0u) << stemLength;
    }
}
#endif

TEST(SongCuts, CommandRunningPastTheEndIsCutAtItsStart) {
    const std::vector<std::vector<uint8_t>> cuts = {
        {0x01}, {0x01, 0x28}, {0x02}, {0x02, 0x28}, {0x03}};
    for (const std::vector<uint8_t>& cut : cuts) {
        std::vector<uint8_t> whole = Song(60);
        std::vector<uint8_t> file = whole;
        file.insert(file.end(), cut.begin(), cut.end());
        for (int form = 0; form < 3; ++form) {
            std::vector<uint8_t> bytes = form == 0   ? file
                                         : form == 1 ? MakeGymx(file, "", "", 0, true)
                                                     : MakeZip({{"s.gym", file}});
            PlayerPtr player = Open(Fixture("cut.gym", bytes));
            ASSERT_TRUE(player);
            ExpectImage(player.get(), whole);
            EXPECT_EQ(SongLengthMs(player.get()), 1000);
        }
    }
    // A file of nothing but a cut command is an empty song.
    PlayerPtr lone = Open(Fixture("lone.gym", {0x02, 0x2A}));
    ASSERT_TRUE(lone);
    EXPECT_EQ(lone->image[0], 0xFF);

    // After the end of the stream nothing is cut: bytes past it stay unread.
    PlayerPtr ended = Open(Fixture("end.gym", {0x00, 0x10, 0x01}));
    ASSERT_TRUE(ended);
    ExpectImage(ended.get(), {0x00, 0x10, 0x01});
    EXPECT_EQ(SongLengthMs(ended.get()), 16);
}

TEST(SongDamage, GymxFilesThatDoNotLoad) {
    std::vector<uint8_t> body = NoisySong(120);
    std::vector<uint8_t> good = MakeGymx(body, "Bad", "Huge Size", 30, true);
    ASSERT_TRUE(Open(Fixture("good.gym", good)));
    // A header cut short: magic only, 200 bytes, one byte short.
    for (size_t length : {size_t(4), size_t(200), size_t(427)})
        EXPECT_FALSE(
            Open(Fixture("short.gym", std::vector<uint8_t>(good.begin(), good.begin() + length))))
            << length;

    std::vector<uint8_t> beyond = good;
    PutLe32(beyond, 424, static_cast<uint32_t>(body.size() - 1));
    EXPECT_FALSE(Open(Fixture("beyond.gym", beyond)));

    std::vector<uint8_t> corrupt = good;
    corrupt[430] |= 0x06;  // the first block's type becomes the reserved 3
    EXPECT_FALSE(Open(Fixture("corrupt.gym", corrupt)));
    std::vector<uint8_t> badCheck = good;
    badCheck.back() ^= 0x01;  // Adler-32 trailer
    EXPECT_FALSE(Open(Fixture("adler.gym", badCheck)));

    std::vector<uint8_t> truncated(good.begin(), good.begin() + 428 + (good.size() - 428) / 2);
    EXPECT_FALSE(Open(Fixture("trunc.gym", truncated)));

    std::vector<uint8_t> notPacked = MakeGymx(body, "", "", 0, false);
    PutLe32(notPacked, 424, 600);
    EXPECT_FALSE(Open(Fixture("stored.gym", notPacked)));

    // Declared packed with no body at all.
    std::vector<uint8_t> noBody = MakeGymx({}, "", "", 0, false);
    PutLe32(noBody, 424, 1);
    EXPECT_FALSE(Open(Fixture("nobody.gym", noBody)));
}

TEST(SongDamage, GymxEdgesThatLoad) {
    // Exactly the header: an empty song with the header's title.
    PlayerPtr empty = Open(Fixture("e.gym", MakeGymx({}, "Probe", "Nothing", 0, false)));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->image[0], 0xFF);
    EXPECT_STREQ(empty->title, "Probe [ Nothing ]");

    // A size claim over the song size limit is refused before anything is
    // inflated; a claim within it over a small body plays the real body.
    std::vector<uint8_t> huge = MakeGymx(Song(120), "Bad", "Huge Size", 30, true);
    PutLe32(huge, 424, 0xFFFFFFF0u);
    EXPECT_FALSE(Open(Fixture("huge.gym", huge)));
    PutLe32(huge, 424, kSongSizeLimit);
    PlayerPtr player = Open(Fixture("huge.gym", huge));
    ASSERT_TRUE(player);
    ExpectImage(player.get(), Song(120));
    EXPECT_EQ(player->loopFrame, 30u);

    // A body inflating to exactly the stated size, and one at 1000:1.
    std::vector<uint8_t> zeros(200000, 0x00);
    PlayerPtr dense = Open(Fixture("dense.gym", MakeGymx(zeros, "", "", 0, true)));
    ASSERT_TRUE(dense);
    EXPECT_EQ(SongLengthMs(dense.get()), 200000 * 100 / 6);
}

TEST(SongDamage, ArchivesThatFallBackToTheRawFile) {
    std::vector<uint8_t> body = Song(120);
    struct Case {
        const char* what;
        std::vector<uint8_t> zip;
    };
    // Sizes the data cannot hold but within the song size limit (over it,
    // the archive is refused: SongSizeLimit).
    std::vector<ZipEntry> claimsHuge = {{"s.gym", body}};
    claimsHuge[0].claimedSize = kSongSizeLimit;
    // A directory that claims more packed data than the file holds, in
    // proportion to the size it claims: nothing may ask for that size.
    std::vector<ZipEntry> claimsHugeAndPacked = {{"s.gym", body}};
    claimsHugeAndPacked[0].claimedSize = kSongSizeLimit;
    claimsHugeAndPacked[0].claimedPackedSize = kSongSizeLimit / 64;
    std::vector<ZipEntry> storedClaimsMore = {{"s.gym", body, false}};
    storedClaimsMore[0].claimedSize = static_cast<uint32_t>(body.size() + 1);
    std::vector<ZipEntry> deflatedClaimsMore = {{"s.gym", body}};
    deflatedClaimsMore[0].claimedSize = static_cast<uint32_t>(body.size() + 1);
    std::vector<uint8_t> corrupt = MakeZip({{"s.gym", NoisySong(120)}});
    corrupt[30 + 5] |= 0x06;  // after the local header and name: the first block's type becomes 3
    std::vector<uint8_t> whole = MakeZip({{"s.gym", body}});

    const Case cases[] = {
        {"no song entry", MakeZip({{"readme.txt", {'x'}}, {"s.gyi", MakeGyi("T", "1")}})},
        {"no entries", MakeZip({})},
        {"name of 260 bytes", MakeZip({{std::string(256, 'n') + ".gym", body}})},
        {"size beyond what the data holds", MakeZip(claimsHuge)},
        {"size and packed size beyond what the file holds", MakeZip(claimsHugeAndPacked)},
        {"stored size mismatch", MakeZip(storedClaimsMore)},
        {"delivers less than stated", MakeZip(deflatedClaimsMore)},
        {"damaged deflate data", corrupt},
        {"cut before its directory",
         std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() * 6 / 10)},
    };
    for (const Case& c : cases) {
        SongForm form = SongForm::archive;
        PlayerPtr player = Open(Fixture("bad.dru", c.zip), &form);
        ASSERT_TRUE(player) << c.what;
        EXPECT_EQ(form, SongForm::plain) << c.what;
        EXPECT_EQ(player->image[0], 0x50) << c.what;  // 'P' ends the stream at once
        EXPECT_EQ(SongLengthMs(player.get()), 0) << c.what;
        EXPECT_STREQ(player->title, "") << c.what;
        EXPECT_EQ(player->loopFrame, 0u) << c.what;
    }

    // A name of 259 bytes still matches; a wrong CRC goes unnoticed.
    std::vector<ZipEntry> longest = {{std::string(255, 'n') + ".gym", body}};
    longest[0].claimedCrc = 0x12345678u;
    PlayerPtr player = Open(Fixture("ok.dru", MakeZip(longest)));
    ASSERT_TRUE(player);
    ExpectImage(player.get(), body);
}

TEST(SongDamage, PathsThatDoNotLoad) {
    std::string dir = TempDir();
    EXPECT_FALSE(Open(dir + "missing.gym"));
    EXPECT_FALSE(Open(dir));
    EXPECT_FALSE(Open(dir.substr(0, dir.size() - 1)));
    EXPECT_FALSE(Open(""));

    char title[kTitleSize] = "untouched";
    int32_t length = 1234;
    EXPECT_EQ(GetSongInfo((dir + "missing.gym").c_str(), title, &length), 0);
    EXPECT_STREQ(title, "untouched");
    EXPECT_EQ(length, 1234);
}

TEST(SongInfo, TitleFallsBackToTheFileName) {
    std::string path = Fixture("tune.gym", Song(60));
    char title[kTitleSize];
    int32_t length = 0;
    ASSERT_EQ(GetSongInfo(path.c_str(), title, &length), 1);
    EXPECT_STREQ(title, "[ tune.gym ]");
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(GetSongInfo(path.c_str(), nullptr, nullptr), 1);

    EXPECT_EQ(Title(Fixture("g.gym", MakeGymx(Song(1), "Alpha", "", 0, true))), "Alpha");

    // A long name (within the 260-byte paths Win32 takes) is shown whole.
    std::string longName(200, 'L');
    EXPECT_EQ(Title(Fixture(longName, Song(1))), "[ " + longName + " ]");
}

TEST(SongNames, HasExtension) {
    struct Case {
        const char* name;
        const char* extension;
        int expected;
    } cases[] = {
        {"dir/tune.gym", "GYM", 1}, {"TUNE.GyM", "gym", 1}, {"tune.gym.bak", "GYM", 0},
        {"tune", "GYM", 0},         {"a.b/tune", "b", 0},   {"a.b\\tune", "b", 0},
        {"c:tune", "GYM", 0},       {"x.gym:", "GYM", 0},   {"tune.", "GYM", 0},
        {"tune.", "", 1},           {"", "GYM", 0},         {".gym", "GYM", 1},
        {"tune.gymx", "GYM", 0},    {"tune.gy", "GYM", 0},  {"dir.gym/", "GYM", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasExtension(c.name, c.extension), c.expected) << c.name;
}

TEST(SongNames, StripExtension) {
    struct Case {
        const char* path;
        const char* expected;
    } cases[] = {
        {"C:\\songs\\tune.gym", "C:\\songs\\tune"},
        {"dir/tune.gym", "dir/tune"},
        {"tune.gym.zip", "tune.gym"},
        {"tune.DRU", "tune"},
        {"a.b/tune", "a.b/tune"},
        {"a.b\\tune", "a.b\\tune"},
        {"c.d:tune", "c.d:tune"},
        {"tune", "tune"},
        {"", ""},
        {".gyi", ""},
    };
    for (const Case& c : cases) {
        char out[kTitleSize];
        std::memset(out, 'x', sizeof out);
        ASSERT_TRUE(StripExtension(out, c.path)) << c.path;
        EXPECT_STREQ(out, c.expected) << c.path;
    }

    // Only the result needs to fit: a long extension may go.
    char small[8];
    EXPECT_TRUE(StripExtension(small, "abcdefg.longextension", sizeof small));
    EXPECT_STREQ(small, "abcdefg");
    EXPECT_FALSE(StripExtension(small, "abcdefgh.gym", sizeof small));
    EXPECT_STREQ(small, "");
    EXPECT_FALSE(StripExtension(small, "abcdefgh", sizeof small));
}

TEST(SongNames, MatchesArchiveSuffix) {
    EXPECT_EQ(MatchesArchiveSuffix("x.gym.zip"), 1);
    EXPECT_EQ(MatchesArchiveSuffix("X.GYM.ZIP"), 1);
    EXPECT_EQ(MatchesArchiveSuffix(".gym.zip"), 1);
    EXPECT_EQ(MatchesArchiveSuffix("dir/a.Gym.Zip"), 1);
    EXPECT_EQ(MatchesArchiveSuffix("x.zip"), 0);
    EXPECT_EQ(MatchesArchiveSuffix("x.GYM.ZI"), 0);
    EXPECT_EQ(MatchesArchiveSuffix("gym.zip"), 0);
    EXPECT_EQ(MatchesArchiveSuffix("x.gym_zip"), 0);
    EXPECT_EQ(MatchesArchiveSuffix(""), 0);
    EXPECT_EQ(MatchesArchiveSuffix(nullptr), 0);
}

TEST(SongInfoText, LinesAndNumbers) {
    struct Case {
        std::string text;
        std::string title;
        uint32_t loop;  // 999 = none given (the old value stays)
    } cases[] = {
        {"My Song\r\n1234\r\n", "My Song", 1234},
        {"My Song\n1234", "My Song", 1234},
        {"My Song\r1234\r", "My Song", 1234},
        {"My Song\r\n 1234\r\n", "My Song", 999},
        {"My Song\r\n+12\r\n", "My Song", 999},
        {"\r\n42\r\n", "", 42},
        {"My Song\n\r42", "My Song", 999},             // LF then CR: the CR is no line end
        {"My Song\r\n\r\n42", "My Song", 999},         // a blank line before the number
        {std::string("Ti\0tle\r\n5", 10), "Ti", 999},  // a NUL ends the title, no number follows
        {"Just A Title", "Just A Title", 999},
        {"", "", 999},
        {"T\r\n0", "T", 0},
        {"T\r\n007x", "T", 7},
        {"T\r\n4294967295", "T", 4294967295u},
        {"T\r\n4294967296", "T", 4294967295u},
        {"T\r\n103079215134", "T", 4294967295u},
        {"T\r\n99999999999999999999999999999", "T", 4294967295u},
    };
    for (const Case& c : cases) {
        char title[kTitleSize] = "old";
        uint32_t loop = 999;
        ParseInfoText(reinterpret_cast<const uint8_t*>(c.text.data()),
                      static_cast<int32_t>(c.text.size()), &loop, title);
        EXPECT_EQ(std::string(title), c.title) << c.text;
        EXPECT_EQ(loop, c.loop) << c.text;
    }
}

TEST(SongInfoText, OnlyTheFirst272BytesCount) {
    std::string dir = TempDir();
    ASSERT_TRUE(WriteFileBytes(dir + "s.gym", Song(1)));

    // A 300-byte title: cut to 259, and its loop number is never read.
    std::string longTitle(300, 'T');
    ASSERT_TRUE(WriteFileBytes(dir + "s.GYI", MakeGyi(longTitle, "123456789012")));
    PlayerPtr player = Open(dir + "s.gym");
    ASSERT_TRUE(player);
    EXPECT_EQ(std::string(player->title), std::string(kTitleSize - 1, 'T'));
    EXPECT_EQ(player->loopFrame, 0u);

    // A 268-byte title: the read ends two digits into the number.
    ASSERT_TRUE(WriteFileBytes(dir + "s.GYI", MakeGyi(std::string(268, 'C'), "6012")));
    player = Open(dir + "s.gym");
    EXPECT_EQ(player->loopFrame, 60u);

    // The same cut inside an archive's info entry.
    std::vector<uint8_t> zip =
        MakeZip({{"s.gym", Song(1)}, {"s.gyi", MakeGyi(std::string(268, 'C'), "6012")}});
    player = Open(Fixture("s.dru", zip));
    EXPECT_EQ(player->loopFrame, 60u);
    EXPECT_EQ(std::strlen(player->title), size_t(kTitleSize - 1));
}
