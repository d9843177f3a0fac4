#include "player/tags.h"

namespace {

// Windows-1252 bytes 0x80-0x9F; the five it leaves undefined map to the C1
// control of the same number, as the system's own conversion does.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

struct TagRow {
    SongTag tag;
    const char* label;
    SongTag japanese;
};

constexpr TagRow kTagTable[kTagCount] = {
    {kTagTrack, "Track", kTagTrackJa},
    {kTagGame, "Game", kTagGameJa},
    {kTagSystem, "System", kTagSystemJa},
    {kTagAuthor, "Author", kTagAuthorJa},
    {kTagDate, "Date", kTagCount},
    {kTagPublisher, "Publisher", kTagCount},
    {kTagDumper, "Dumper", kTagCount},
    {kTagComment, "Comment", kTagCount},
    {kTagTrackJa, "Track (Japanese)", kTagCount},
    {kTagGameJa, "Game (Japanese)", kTagCount},
    {kTagSystemJa, "System (Japanese)", kTagCount},
    {kTagAuthorJa, "Author (Japanese)", kTagCount},
    {kTagEmulator, "Emulator", kTagCount},
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

const char* TagLabel(SongTag tag) {
    return tag >= 0 && tag < kTagCount ? kTagTable[tag].label : "";
}

SongTag JapaneseTwin(SongTag tag) {
    return tag >= 0 && tag < kTagCount ? kTagTable[tag].japanese : kTagCount;
}

bool YearOf(const char* date, char* year) {
    year[0] = 0;
    for (const char* at = date; *at != 0; ++at) {
        if (!IsDigit(*at) || (at != date && IsDigit(at[-1]))) continue;
        int run = 0;
        while (IsDigit(at[run]))
            ++run;
        if (run == 4) {
            for (int i = 0; i < 4; ++i)
                year[i] = at[i];
            year[4] = 0;
            return true;
        }
    }
    return false;
}

size_t AppendUtf8(char* text, size_t used, size_t capacity, uint32_t code) {
    char bytes[4];
    size_t n = 0;
    if (code < 0x80) {
        bytes[n++] = static_cast<char>(code);
    } else if (code < 0x800) {
        bytes[n++] = static_cast<char>(0xC0 | code >> 6);
        bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes[n++] = static_cast<char>(0xE0 | code >> 12);
        bytes[n++] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        bytes[n++] = static_cast<char>(0xF0 | code >> 18);
        bytes[n++] = static_cast<char>(0x80 | (code >> 12 & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
    }
    if (used + n + 1 > capacity) return used;
    for (size_t i = 0; i < n; ++i)
        text[used + i] = bytes[i];
    text[used + n] = 0;
    return used + n;
}

void Windows1252ToUtf8(const uint8_t* bytes, size_t count, char* text, size_t capacity) {
    if (capacity == 0) return;
    text[0] = 0;
    size_t used = 0;
    for (size_t i = 0; i < count && bytes[i] != 0; ++i) {
        const uint8_t b = bytes[i];
        const uint32_t code = b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : b;
        const size_t before = used;
        used = AppendUtf8(text, used, capacity, code);
        if (used == before) break;
    }
}

uint32_t NextUtf8(const char** at) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(*at);
    if (p[0] == 0) return 0;
    int length = p[0] < 0x80                   ? 1
                 : p[0] >= 0xF0 && p[0] < 0xF5 ? 4
                 : p[0] >= 0xE0                ? 3
                 : p[0] >= 0xC2                ? 2
                                               : 0;
    uint32_t code = length == 1   ? p[0]
                    : length == 2 ? p[0] & 0x1F
                    : length == 3 ? p[0] & 0x0F
                                  : p[0] & 0x07;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            length = 0;
            break;
        }
        code = code << 6 | (p[i] & 0x3F);
    }
    const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (length == 0 || code < least[length] || code > 0x10FFFF ||
        (code >= 0xD800 && code < 0xE000)) {
        *at += 1;
        return 0xFFFD;
    }
    *at += length;
    return code;
}
