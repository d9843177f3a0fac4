// The extended file information exports. The host asks them field by field,
// about ten fields for each file of a playlist or library scan, holding one
// lock of its own for all of them, and from any thread. The first field of a
// file reads it and opens it as a song (through the session, from its bytes,
// with the info file beside it); the answers to every field are kept in one
// record, and the last few files' records are kept, found again by path,
// size, time of last write and what the answers depend on (TagLanguage, and
// the loop count, fade-out time and frequency that make the length).
//
// A file is ours when a format recognises its bytes or claims its name, and
// it is not a ZIP archive without a song in it: the host hands every ".zip"
// to the plug-in that once answered for a ".gym.zip". For any other file,
// every field is 0. "family" alone is answered from the name's extension when
// there is no file of that name: the host asks it with an extension only.
//
// Texts are UTF-8 in the song and wide in the record. The narrow twin gives
// them in the system's ANSI code page, except the GYM texts, which were 8-bit
// in the file: those keep their own bytes, as the record's title does.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "host/resource.h"
#include "host/shell.h"
#include "platform/file.h"
#include "platform/text.h"
#include "player/formats.h"
#include "player/session.h"
#include "player/settings.h"
#include "player/song.h"
#include "player/tags.h"
#include "player/vgm.h"

namespace {

enum Field : int {
    kFieldTitle,
    kFieldArtist,
    kFieldAlbum,
    kFieldGenre,
    kFieldComment,
    kFieldPublisher,
    kFieldYear,
    kFieldLength,
    kFieldType,
    kFieldFamily,
    kFieldCount,
};

// The host's field names (any case) and the tag each one shows; kTagCount
// for the fields made otherwise. In Field order.
struct FieldRow {
    const char* name;
    SongTag tag;
};

constexpr FieldRow fieldTable[kFieldCount] = {
    {"title", kTagTrack},  {"artist", kTagAuthor},   {"album", kTagGame},
    {"genre", kTagSystem}, {"comment", kTagComment}, {"publisher", kTagPublisher},
    {"year", kTagDate},    {"length", kTagCount},    {"type", kTagCount},
    {"family", kTagCount},
};

// Wide units of the longest path answered, terminator included (the host's
// paths are far shorter).
constexpr size_t kKeySize = 1024;
// Records kept: a scan asks one file's fields in a row, the playlist a few.
constexpr int kRecordCount = 4;

// Everything the answers about one file depend on.
struct RecordKey {
    wchar_t path[kKeySize];
    platform::FileStamp stamp;
    bool japanese;  // the Japanese fields, where a song fills them
    int32_t loopCount;
    int32_t fadeoutTime;
    int32_t frequency;
};

struct FileRecord {
    RecordKey key;
    uint32_t lastUse;  // of the use clock; 0: the slot holds nothing
    bool ours;
    bool ownBytes;  // its texts were 8-bit in the file (GYM), read as Windows-1252
    wchar_t text[kFieldCount][kTagSize];
};

// The kept records and the clock that orders their uses, guarded by
// recordsFree (1 while no thread holds them).
FileRecord recordTable[kRecordCount];
uint32_t useClock = 0;
volatile int32_t recordsFree = 1;

void LockRecords() {
    while (platform::AtomicExchange(&recordsFree, 0) != 1)
        platform::Sleep(1);
}

void UnlockRecords() {
    platform::AtomicExchange(&recordsFree, 1);
}

bool SameKey(const RecordKey& a, const RecordKey& b) {
    return a.stamp.size == b.stamp.size && a.stamp.writeTime == b.stamp.writeTime &&
           a.japanese == b.japanese && a.loopCount == b.loopCount &&
           a.fadeoutTime == b.fadeoutTime && a.frequency == b.frequency &&
           std::wcscmp(a.path, b.path) == 0;
}

Field FieldNamed(const char* name) {
    for (int f = 0; f < kFieldCount; ++f) {
        if (platform::lstrcmpiA(name, fieldTable[f].name) == 0) return static_cast<Field>(f);
    }
    return kFieldCount;
}

// UTF-8 text as wide text of at most `capacity` units with the terminator,
// cut between characters (UTF-16 where wchar_t has 16 bits, else UTF-32).
void Utf8ToWide(const char* text, wchar_t* out, size_t capacity) {
    size_t used = 0;
    for (const char* at = text;;) {
        const uint32_t code = NextUtf8(&at);
        if (code == 0) break;
        const size_t units = sizeof(wchar_t) == 2 && code >= 0x10000 ? 2 : 1;
        if (used + units + 1 > capacity) break;
        if (units == 2) {
            out[used++] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            out[used++] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[used++] = static_cast<wchar_t>(code);
        }
    }
    out[used] = 0;
}

void PutDecimal(int32_t value, wchar_t* out) {
    wchar_t digits[12];
    int count = 0;
    uint32_t rest = value < 0 ? 0u : static_cast<uint32_t>(value);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    for (int i = 0; i < count; ++i)
        out[i] = digits[count - 1 - i];
    out[count] = 0;
}

// Where the last component of `path` begins, and where its extension's dot
// is (the end of the path when it has none).
void SplitName(const wchar_t* path, size_t* name, size_t* dot) {
    const size_t length = std::wcslen(path);
    *name = 0;
    *dot = length;
    for (size_t i = 0; i < length; ++i) {
        if (path[i] == L'/' || path[i] == L'\\' || path[i] == L':') {
            *name = i + 1;
            *dot = length;
        } else if (path[i] == L'.') {
            *dot = i;
        }
    }
}

// The file's name as the song loader sees it: its last component with every
// character outside ASCII as '_', so that no code page can take a byte of
// it for part of another character. Only its extension decides anything.
void LoaderName(const wchar_t* path, char* name, size_t capacity) {
    size_t start = 0, dot = 0;
    SplitName(path, &start, &dot);
    size_t used = 0;
    for (const wchar_t* c = path + start; *c != 0 && used + 1 < capacity; ++c)
        name[used++] = *c > 0 && *c < 0x80 ? static_cast<char>(*c) : '_';
    name[used] = 0;
}

// The family of the format that claims `name` by its extension: the host
// asks with an extension alone ("gym", ".vgz"), or a name ending in one.
void FamilyByName(const wchar_t* name, wchar_t* family) {
    char loaderName[kKeySize + 1] = ".";
    LoaderName(name, loaderName + 1, kKeySize);
    const char* asked = std::strchr(loaderName + 1, '.') != nullptr ? loaderName + 1 : loaderName;
    const SongFormat* format = FormatClaimingName(asked);
    Utf8ToWide(format != nullptr ? format->family : "", family, kTagSize);
}

// Reads the companion files beside `path` (each companion extension of each
// format, upper case first, then lower) into `buffers`, named as the loader
// looks for them beside `loaderName`. Returns how many were found.
int32_t ReadCompanions(const wchar_t* path, const char* loaderName, CompanionFile* companions,
                       char (*names)[kKeySize], uint8_t (*buffers)[kInfoReadSize], int32_t most) {
    size_t start = 0, dot = 0;
    SplitName(path, &start, &dot);
    size_t loaderStem = std::strlen(loaderName);
    for (size_t i = loaderStem; i > 0; --i) {
        if (loaderName[i - 1] == '.') {
            loaderStem = i - 1;
            break;
        }
    }
    int32_t found = 0;
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        for (const char* const* e = (*f)->companionExtensions; *e != nullptr; ++e) {
            const size_t extension = std::strlen(*e);
            if (dot + extension + 2 > kKeySize || loaderStem + extension + 2 > kKeySize) continue;
            for (int lower = 0; lower < 2 && found < most; ++lower) {
                wchar_t companionPath[kKeySize];
                std::wmemcpy(companionPath, path, dot);
                char* name = names[found];
                std::memcpy(name, loaderName, loaderStem);
                companionPath[dot] = L'.';
                name[loaderStem] = '.';
                for (size_t i = 0; i <= extension; ++i) {
                    char c = (*e)[i];
                    if (lower == 1 && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 'a' - 'A');
                    companionPath[dot + 1 + i] = static_cast<wchar_t>(c);
                    name[loaderStem + 1 + i] = c;
                }
                const int32_t got =
                    platform::ReadFileStartW(companionPath, buffers[found], kInfoReadSize);
                if (got < 0) continue;
                companions[found] = {name, buffers[found], static_cast<uint32_t>(got)};
                ++found;
                break;
            }
        }
    }
    return found;
}

bool Recognised(const uint8_t* bytes, uint32_t size) {
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        if ((*f)->recognises(bytes, size)) return true;
    }
    return false;
}

// Fills `record` for the file its key names: every field, or none when the
// file is not ours.
void MakeRecord(FileRecord* record) {
    record->ours = false;
    record->ownBytes = false;
    for (int f = 0; f < kFieldCount; ++f)
        record->text[f][0] = 0;
    uint32_t size = 0;
    uint8_t* bytes = platform::ReadWholeFileW(record->key.path, 0, kSongFileLimit, &size);
    if (bytes == nullptr) return;
    char loaderName[kKeySize];
    LoaderName(record->key.path, loaderName, sizeof loaderName);
    constexpr int32_t kMostCompanions = 4;
    CompanionFile companions[kMostCompanions];
    char companionNames[kMostCompanions][kKeySize];
    uint8_t companionBytes[kMostCompanions][kInfoReadSize];
    const int32_t companionCount = ReadCompanions(record->key.path, loaderName, companions,
                                                  companionNames, companionBytes, kMostCompanions);
    const bool named = Recognised(bytes, size) || FormatClaimingName(loaderName) != nullptr;
    const bool zip = size >= 2 && bytes[0] == 'P' && bytes[1] == 'K';
    std::unique_ptr<SongSession> session =
        named ? SongSession::OpenBytes(loaderName, bytes, size, companions, companionCount)
              : nullptr;
    std::free(bytes);
    if (!session) return;
    if (zip && std::strcmp(session->Facts().form, "archive") != 0) return;

    record->ours = true;
    record->ownBytes = session->Format().eightBitText;
    const SongTags& tags = session->Tags();
    for (int f = 0; f < kFieldCount; ++f) {
        const SongTag tag = fieldTable[f].tag;
        if (tag == kTagCount) continue;
        const SongTag twin = JapaneseTwin(tag);
        const bool useTwin = record->key.japanese && twin != kTagCount && tags.text[twin][0] != 0;
        Utf8ToWide(tags.text[useTwin ? twin : tag], record->text[f], kTagSize);
    }
    char year[5];
    YearOf(tags.text[kTagDate], year);
    Utf8ToWide(year, record->text[kFieldYear], kTagSize);
    PutDecimal(session->PlayMs(), record->text[kFieldLength]);
    std::wcscpy(record->text[kFieldType], L"0");  // audio
    Utf8ToWide(session->Format().family, record->text[kFieldFamily], kTagSize);
}

// Where an answer goes: the wide export's buffer, or the narrow one's.
struct Answer {
    wchar_t* wide;
    char* narrow;
    int capacity;  // units, terminator included; above 0
};

// Puts `text` into the answer, cut to fit between characters; 1 when the
// field is filled. `ownBytes`: a narrow answer keeps the file's 8-bit bytes.
int Give(const wchar_t* text, bool ownBytes, const Answer& answer) {
    const uint32_t capacity = static_cast<uint32_t>(answer.capacity);
    if (answer.narrow != nullptr) {
        platform::WideToCodePage(text, ownBytes ? platform::kWindows1252 : platform::kAnsiCodePage,
                                 answer.narrow, capacity);
    } else {
        uint32_t used = 0;
        while (text[used] != 0 && used + 1 < capacity)
            ++used;
        // A surrogate pair is kept whole or not at all.
        if (sizeof(wchar_t) == 2 && used > 0 && text[used] != 0 && text[used - 1] >= 0xD800 &&
            text[used - 1] < 0xDC00) {
            --used;
        }
        std::wmemcpy(answer.wide, text, used);
        answer.wide[used] = 0;
    }
    return text[0] != 0 ? 1 : 0;
}

bool TagsInJapanese() {
    const int32_t language = platform::AtomicRead(&tagLanguage);
    return language == kTagsJapanese || (language == kTagsAsSheet && SheetLanguageIsJapanese());
}

// The kept record with `key`, or null; call with the records locked.
FileRecord* FindRecord(const RecordKey& key) {
    for (FileRecord& record : recordTable) {
        if (record.lastUse != 0 && SameKey(record.key, key)) return &record;
    }
    return nullptr;
}

FileRecord* LeastRecentRecord() {
    FileRecord* oldest = &recordTable[0];
    for (FileRecord& record : recordTable) {
        if (record.lastUse < oldest->lastUse) oldest = &record;
    }
    return oldest;
}

int GiveField(const FileRecord& record, Field field, const Answer& answer) {
    if (!record.ours) return 0;
    return Give(record.text[field], record.ownBytes, answer);
}

int ExtendedFileInfo(const wchar_t* path, const char* metadata, const Answer& answer) {
    if (answer.wide != nullptr) answer.wide[0] = 0;
    if (answer.narrow != nullptr) answer.narrow[0] = 0;
    if (path == nullptr || path[0] == 0 || metadata == nullptr) return 0;
    const Field field = FieldNamed(metadata);
    if (field == kFieldCount) return 0;

    std::unique_ptr<FileRecord> made(new (std::nothrow) FileRecord);
    if (!made) return 0;
    RecordKey& key = made->key;
    if (!platform::FileStampW(path, &key.stamp)) {
        if (field != kFieldFamily) return 0;
        FamilyByName(path, made->text[kFieldFamily]);
        return Give(made->text[kFieldFamily], false, answer);
    }
    const size_t pathLength = std::wcslen(path);
    if (pathLength >= kKeySize) return 0;
    std::wmemcpy(key.path, path, pathLength + 1);
    key.japanese = TagsInJapanese();
    key.loopCount = settings.loopCount;
    key.fadeoutTime = settings.fadeoutTime;
    key.frequency = settings.frequency;

    LockRecords();
    if (FileRecord* kept = FindRecord(key)) {
        kept->lastUse = ++useClock;
        const int filled = GiveField(*kept, field, answer);
        UnlockRecords();
        return filled;
    }
    UnlockRecords();

    MakeRecord(made.get());
    LockRecords();
    FileRecord* slot = FindRecord(key);  // made meanwhile by another thread
    if (slot == nullptr) {
        slot = LeastRecentRecord();
        *slot = *made;
    }
    slot->lastUse = ++useClock;
    if (slot->lastUse == 0) slot->lastUse = ++useClock;  // the clock wrapped
    const int filled = GiveField(*slot, field, answer);
    UnlockRecords();
    return filled;
}

}  // namespace

bool SheetLanguageIsJapanese() {
    return platform::DialogTemplateIsJapanese(dllInstance, IDD_MAIN_PAGE);
}

int winampGetExtendedFileInfoW(const wchar_t* fn, const char* metadata, wchar_t* ret, int retlen) {
    if (ret == nullptr || retlen <= 0) return 0;
    return ExtendedFileInfo(fn, metadata, {ret, nullptr, retlen});
}

int winampGetExtendedFileInfo(const char* fn, const char* metadata, char* ret, int retlen) {
    if (ret == nullptr || retlen <= 0) return 0;
    ret[0] = 0;
    if (fn == nullptr) return 0;
    wchar_t path[kKeySize];
    if (!platform::AnsiToWide(fn, path, kKeySize)) return 0;
    return ExtendedFileInfo(path, metadata, {nullptr, ret, retlen});
}
