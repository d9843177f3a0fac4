// Fuzz target: the loader alone. Arbitrary bytes become a song file (and,
// when the input says so, an info file beside it), which is opened the ways a
// host asks: as a song to play (its form, title, loop frame and length) and
// for its title and length only. Nothing is rendered, so a run takes
// thousands of inputs a second.
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_files.h"
#include "player/song.h"

namespace {

// The names a song is tried under, in turn: the extension decides nothing in
// the loader, but the info file's name is the song's with ".GYI".
const char* const kSongNames[] = {"song.gym", "song.gym.zip", "SONG.GYM", "song"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzfiles::SongParts parts = fuzzfiles::SplitSong(data, size);
    const std::string folder = fuzzfiles::Scratch();
    const std::string song = folder + kSongNames[size % 4];
    if (!fuzzfiles::WriteBytes(song, parts.song, parts.songSize)) return 0;
    const std::string info = folder + "song.GYI";
    if (parts.info != nullptr) {
        if (!fuzzfiles::WriteBytes(info, parts.info, parts.infoSize)) return 0;
    } else {
        std::remove(info.c_str());
    }

    SongForm form = SongForm::plain;
    GymPlayer* player = OpenSongWithForm(song.c_str(), &form);
    char title[kTitleSize];
    int32_t lengthMs = -1;
    const int opened = GetSongInfo(song.c_str(), title, &lengthMs);
    // Both ways of opening agree on whether the file is a song and on its
    // length; the title always ends within its buffer.
    if ((player != nullptr) != (opened != 0)) std::abort();
    if (player != nullptr) {
        if (SongLengthMs(player) != lengthMs || lengthMs < 0) std::abort();
        if (std::memchr(player->title, 0, kTitleSize) == nullptr) std::abort();
        if (std::memchr(title, 0, kTitleSize) == nullptr) std::abort();
        DestroyPlayer(player);
    }
    return 0;
}
