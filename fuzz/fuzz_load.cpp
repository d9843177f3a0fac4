// Fuzz target: the loader alone. Arbitrary bytes become a song file (and,
// when the input says so, an info file beside it), which is opened both ways
// a host opens songs: from the file system by path, and from bytes with the
// info file handed in beside them, as the page does. Nothing is rendered, so
// a run takes thousands of inputs a second.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_files.h"
#include "player/session.h"

namespace {

// The names a song is tried under, in turn: the info file's name is the
// song's with ".GYI", and the name picks the format when the bytes do not.
const char* const kSongNames[] = {"song.gym", "song.gym.zip", "SONG.GYM", "song"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzfiles::SongParts parts = fuzzfiles::SplitSong(data, size);
    const std::string folder = fuzzfiles::Scratch();
    const char* name = kSongNames[size % 4];
    const std::string song = folder + name;
    if (!fuzzfiles::WriteBytes(song, parts.song, parts.songSize)) return 0;
    const std::string info = folder + "song.GYI";
    if (parts.info != nullptr) {
        if (!fuzzfiles::WriteBytes(info, parts.info, parts.infoSize)) return 0;
    } else {
        std::remove(info.c_str());
    }

    std::unique_ptr<SongSession> fromPath = SongSession::Open(song.c_str());
    const CompanionFile companion = {"song.GYI", parts.info, static_cast<uint32_t>(parts.infoSize)};
    std::unique_ptr<SongSession> fromBytes =
        SongSession::OpenBytes(name, parts.song, static_cast<uint32_t>(parts.songSize), &companion,
                               parts.info != nullptr ? 1 : 0);
    // Both ways agree on whether the file is a song and on all they say of
    // it; the title always ends within its buffer.
    if ((fromPath != nullptr) != (fromBytes != nullptr)) std::abort();
    if (fromPath != nullptr) {
        const SongFacts a = fromPath->Facts();
        const SongFacts b = fromBytes->Facts();
        if (a.lengthMs != b.lengthMs || a.lengthMs < 0 || a.loop != b.loop ||
            std::strcmp(a.form, b.form) != 0 || &fromPath->Format() != &fromBytes->Format())
            std::abort();
        if (std::memchr(fromPath->Title(), 0, kTitleSize) == nullptr) std::abort();
        if (std::strcmp(a.title, b.title) != 0) std::abort();
    }
    return 0;
}
