// What every song a fuzz target opens must say of itself, whatever its bytes:
// tags that are whole UTF-8 texts within their fields, and a length that
// plays no shorter than one pass.
#pragma once

#include <cstdlib>
#include <cstring>

#include "player/session.h"

namespace fuzzchecks {

inline void CheckWhatTheSongSays(const SongSession& song) {
    for (const char* text : song.Tags().text) {
        if (std::memchr(text, 0, kTagSize) == nullptr) std::abort();
        for (const char* at = text;;) {
            const char* before = at;
            const uint32_t code = NextUtf8(&at);
            if (code == 0) break;
            if (code == 0xFFFD && at - before != 3) std::abort();  // a malformed byte
        }
    }
    if (song.LengthMs() < 0 || song.PlayMs() < song.LengthMs()) std::abort();
}

}  // namespace fuzzchecks
