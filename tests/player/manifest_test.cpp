// Every song of the shared test set loads as its manifest says, and every
// real log loads at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "player/session.h"
#include "player/song.h"
#include "shared_songs.h"
#include "song_files.h"

namespace {

const std::string kSongsDir = std::string(TAMBORIL_SHARED_DIR) + "/songs/";

struct ManifestRow {
    std::string file, form, frames, loopFrame, title;
};

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back("");
    return parts;
}

std::vector<ManifestRow> ReadManifest() {
    std::vector<ManifestRow> rows;
    std::ifstream manifest(kSongsDir + "MANIFEST.tsv", std::ios::binary);
    std::string line;
    std::getline(manifest, line);  // column names
    while (std::getline(manifest, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> columns = Split(line, '\t');
        if (columns.size() < 5) continue;
        rows.push_back({columns[0], columns[1], columns[2], columns[3], columns[4]});
    }
    return rows;
}

// The manifest's loop frames are the numbers written in the files; a number
// wider than 32 bits is held as 4294967295.
uint32_t HeldLoopFrame(const std::string& text) {
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

bool AnyOf(const std::string& alternatives, const std::string& actual) {
    for (const std::string& choice : Split(alternatives, '|'))
        if (choice == actual) return true;
    return false;
}

}  // namespace

TEST(SharedSongs, LoadAsTheManifestSays) {
    TAMBORIL_NEED_SHARED_SONGS();
    std::vector<ManifestRow> rows = ReadManifest();
    ASSERT_GE(rows.size(), 100u) << "manifest not found in " << kSongsDir;
    int opened = 0;
    int refused = 0;
    for (const ManifestRow& row : rows) {
        if (row.form == "gyi-sidecar") continue;
        SCOPED_TRACE(row.file);
        std::string path = kSongsDir + row.file;
        GymPlayer* player = OpenSong(path.c_str());
        if (!player) {
            EXPECT_TRUE(AnyOf(row.frames, "fail")) << "did not load";
            ++refused;
            continue;
        }
        ++opened;
        int32_t length = SongLengthMs(player);
        bool lengthMatches = false;
        for (const std::string& frames : Split(row.frames, '|'))
            if (frames != "fail" && length == std::atoi(frames.c_str()) * 100 / 6)
                lengthMatches = true;
        EXPECT_TRUE(lengthMatches) << "length " << length << " ms, manifest frames " << row.frames;

        bool loopMatches = false;
        for (const std::string& loop : Split(row.loopFrame, '|'))
            if (player->loopFrame == HeldLoopFrame(loop)) loopMatches = true;
        EXPECT_TRUE(loopMatches) << "loop " << player->loopFrame << ", manifest " << row.loopFrame;
        DestroyPlayer(player);

        char title[kTitleSize];
        ASSERT_EQ(GetSongInfo(path.c_str(), title, nullptr), 1);
        EXPECT_TRUE(AnyOf(row.title, title)) << "title '" << title << "'";
    }
    EXPECT_GT(opened, 90);
    EXPECT_GT(refused, 3);
}

TEST(SharedSongs, EveryRealLogLoads) {
    TAMBORIL_NEED_SHARED_SONGS();
    int logs = 0;
    for (const std::string& path : support::FilesIn("corpus/real", true)) {
        SCOPED_TRACE(path);
        char title[kTitleSize];
        int32_t length = 0;
        ASSERT_EQ(GetSongInfo(path.c_str(), title, &length), 1);
        EXPECT_GT(length, 10000);
        ++logs;
    }
    EXPECT_GE(logs, 7);
}

namespace {

// The command stream a player was loaded with, its end byte included.
std::string CommandStream(const GymPlayer* player) {
    const uint8_t* pos = player->image;
    for (uint32_t length = CommandLength(*pos); length != 0; length = CommandLength(*pos))
        pos += length;
    return std::string(reinterpret_cast<const char*>(player->image),
                       static_cast<size_t>(pos - player->image) + 1);
}

}  // namespace

// Every container of a song gives the player the same command stream and
// loop, which is all the player takes from the loader besides the title; so
// the sweeps play one form of each.
TEST(SongForms, EveryContainerLoadsTheSameSong) {
    TAMBORIL_NEED_SHARED_SONGS();
    for (const auto& row : support::kContainerFormsTable) {
        GymPlayer* first = OpenSong(support::SharedPath(row[0]).c_str());
        ASSERT_NE(first, nullptr) << row[0];
        const std::string stream = CommandStream(first);
        EXPECT_GT(stream.size(), 10000u) << row[0];
        for (int form = 1; form < support::kContainerForms; ++form) {
            SCOPED_TRACE(row[form]);
            GymPlayer* player = OpenSong(support::SharedPath(row[form]).c_str());
            ASSERT_NE(player, nullptr);
            EXPECT_TRUE(CommandStream(player) == stream)
                << "another command stream than " << row[0];
            EXPECT_EQ(player->loopFrame, first->loopFrame) << "another loop than " << row[0];
            DestroyPlayer(player);
        }
        DestroyPlayer(first);
    }
}
