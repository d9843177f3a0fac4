#include "player/formats.h"

#include <cstring>

#include "platform/file.h"
#include "platform/text.h"
#include "player/song.h"
#include "player/vgm.h"

// Formats that recognise their bytes come before those that need a name to
// be told apart; the catch-all, which takes any bytes, is also the first.
const SongFormat* const songFormatTable[] = {
    &gymFormat,
    &vgmFormat,
    nullptr,
};

namespace {

// 1 when `path` ends in `ending`, compared without regard to case.
bool EndsWith(const char* path, const char* ending) {
    const size_t length = std::strlen(path);
    const size_t endingLength = std::strlen(ending);
    return length >= endingLength && platform::lstrcmpiA(path + length - endingLength, ending) == 0;
}

// Whether one of the ';'-separated extensions names the extension of `path`.
bool ListHasExtension(const char* path, const char* extensions) {
    char one[32];
    const char* start = extensions;
    for (const char* p = extensions;; ++p) {
        if (*p != ';' && *p != 0) continue;
        const size_t length = static_cast<size_t>(p - start);
        if (length < sizeof one) {
            std::memcpy(one, start, length);
            one[length] = 0;
            if (HasExtension(path, one)) return true;
        }
        if (*p == 0) return false;
        start = p + 1;
    }
}

}  // namespace

int32_t ReadCompanionStart(const SongSource& source, const char* path, uint8_t* buffer,
                           int32_t capacity) {
    if (source.companions == nullptr) return platform::ReadFileStart(path, buffer, capacity);
    const char* name = PathFileName(path);
    for (int32_t i = 0; i < source.companionCount; ++i) {
        const CompanionFile& file = source.companions[i];
        if (std::strcmp(PathFileName(file.name), name) != 0) continue;
        const uint32_t count = file.size < static_cast<uint32_t>(capacity)
                                   ? file.size
                                   : static_cast<uint32_t>(capacity);
        if (count > 0) std::memcpy(buffer, file.bytes, count);
        return static_cast<int32_t>(count);
    }
    return -1;
}

const SongFormat* FormatClaimingName(const char* path) {
    if (path == nullptr) return nullptr;
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        for (const FileType* type = (*f)->fileTypes; type->extensions != nullptr; ++type) {
            if (ListHasExtension(path, type->extensions)) return *f;
        }
        for (const char* const* ending = (*f)->nameEndings; *ending != nullptr; ++ending) {
            if (EndsWith(path, *ending)) return *f;
        }
    }
    return nullptr;
}

int ClaimedByNameEnding(const char* path) {
    if (path == nullptr) return 0;
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        for (const char* const* ending = (*f)->nameEndings; *ending != nullptr; ++ending) {
            if (EndsWith(path, *ending)) return 1;
        }
    }
    return 0;
}

const SongFormat& FormatForFile(const char* path, const uint8_t* bytes, uint32_t size) {
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        if ((*f)->recognises(bytes, size)) return **f;
    }
    const SongFormat* named = FormatClaimingName(path);
    return named != nullptr ? *named : *songFormatTable[0];
}
