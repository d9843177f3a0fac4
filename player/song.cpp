#include "player/song.h"

#include <unzip.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/text.h"
#include "player/formats.h"

namespace {

constexpr uint8_t kEndOfStream = 0xFF;  // written after the data

// GYMX header layout.
constexpr uint32_t kGymxHeaderSize = 428;
constexpr uint32_t kGymxTextSize = 32;
constexpr uint32_t kGymxBracketsOffset = 4;
constexpr uint32_t kGymxFirstOffset = 36;
constexpr uint32_t kGymxLoopOffset = 420;
constexpr uint32_t kGymxCommentSize = 256;
constexpr uint32_t kGymxSizeOffset = 424;

// Spare bytes after the data: one for the end marker; the archive path keeps
// eight.
constexpr uint32_t kFileSpare = kSourceSpare;
constexpr uint32_t kArchiveSpare = 8;

// Deflate turns one byte into at most 1032 (a 258-byte match coded in two
// bits), so no body can inflate to more than this many times its size.
constexpr uint64_t kMaxInflateRatio = 1032;

// ZIP entries are read in pieces, since unzReadCurrentFile counts in int,
// into a buffer that starts at this size and doubles as the data arrives.
constexpr uint32_t kArchiveReadChunk = 1u << 20;
constexpr uint64_t kArchiveFirstRoom = 1u << 16;

// ZIP compression methods minizip reads.
constexpr uLong kZipStored = 0;
constexpr uLong kZipDeflated = 8;

uint32_t ReadLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Walks the commands of `size` data bytes and returns the data size to keep:
// a last command whose operands run past the end is cut off whole, so that the
// end marker stands where it began.
uint32_t CompleteCommandsSize(const uint8_t* data, uint32_t size) {
    uint32_t pos = 0;
    while (pos < size) {
        uint32_t length = CommandLength(data[pos]);
        if (length == 0) return size;  // the stream ends here anyway
        if (length > size - pos) return pos;
        pos += length;
    }
    return size;
}

// The text of at most `limit` bytes (to its first NUL) of a header field.
void CopyField(char* text, const uint8_t* field, uint32_t limit) {
    uint32_t i = 0;
    for (; i < limit && field[i] != 0; ++i)
        text[i] = static_cast<char>(field[i]);
    text[i] = 0;
}

// 'first [ second ]', '[ second ]' or 'first' from the header's two texts.
void HeaderTitle(const uint8_t* header, char* title) {
    char first[kGymxTextSize + 1];
    char second[kGymxTextSize + 1];
    CopyField(first, header + kGymxFirstOffset, kGymxTextSize);
    CopyField(second, header + kGymxBracketsOffset, kGymxTextSize);
    JoinTitle(first, second, title);
}

// The header's texts into the tags, each read as Windows-1252; the song's
// only where no info file gave a title.
void HeaderTags(const uint8_t* header, SongTags& tags) {
    struct Field {
        SongTag tag;
        uint32_t offset;
        uint32_t size;
    };
    static constexpr Field kHeaderFieldTable[] = {
        {kTagTrack, kGymxBracketsOffset, kGymxTextSize},
        {kTagGame, kGymxFirstOffset, kGymxTextSize},
        {kTagPublisher, 68, kGymxTextSize},
        {kTagEmulator, 100, kGymxTextSize},
        {kTagDumper, 132, kGymxTextSize},
        {kTagComment, 164, kGymxCommentSize},
    };
    for (const Field& field : kHeaderFieldTable) {
        if (tags.text[field.tag][0] != 0) continue;
        Windows1252ToUtf8(header + field.offset, field.size, tags.text[field.tag], kTagSize);
    }
}

// An archive file held in memory, read through minizip's file functions:
// finding and reading the entries then takes one read of the file instead of
// a seek and a read for every directory record. Seeks behave as on a stdio
// stream: any position from 0 on is allowed, and reads past the end get
// nothing.
// minizip reads its records a byte at a time: under a fuzzer's coverage
// instrumentation these few lines would cost more than all the rest.
#if defined(__clang__)
#define NOT_TRACED __attribute__((no_sanitize("coverage")))
#else
#define NOT_TRACED
#endif

struct MemoryArchive {
    const uint8_t* data;
    uint64_t size;
    uint64_t pos;
};

voidpf ZCALLBACK OpenMemoryArchive(voidpf opaque, const char*, int) {
    return opaque;
}

NOT_TRACED uLong ZCALLBACK ReadMemoryArchive(voidpf, voidpf stream, void* buffer, uLong count) {
    MemoryArchive* file = static_cast<MemoryArchive*>(stream);
    const uint64_t left = file->pos < file->size ? file->size - file->pos : 0;
    const uint64_t got = count < left ? count : left;
    if (got > 0) std::memcpy(buffer, file->data + file->pos, static_cast<size_t>(got));
    file->pos += got;
    return static_cast<uLong>(got);
}

uLong ZCALLBACK WriteMemoryArchive(voidpf, voidpf, const void*, uLong) {
    return 0;
}

NOT_TRACED long ZCALLBACK TellMemoryArchive(voidpf, voidpf stream) {
    return static_cast<long>(static_cast<MemoryArchive*>(stream)->pos);
}

NOT_TRACED long ZCALLBACK SeekMemoryArchive(voidpf, voidpf stream, uLong offset, int origin) {
    MemoryArchive* file = static_cast<MemoryArchive*>(stream);
    int64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = static_cast<int64_t>(file->pos);
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = static_cast<int64_t>(file->size);
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    // The offset is taken as stdio's fseek takes it: as a signed long.
    const int64_t target = base + static_cast<long>(offset);
    if (target < 0) return -1;
    file->pos = static_cast<uint64_t>(target);
    return 0;
}

int ZCALLBACK CloseMemoryArchive(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK ErrorMemoryArchive(voidpf, voidpf) {
    return 0;
}

// Moves to the entry of the open archive whose name has `extension`, starting
// with the first entry. Fills `info` with that entry's information when given.
// False when no entry matches.
bool FindEntry(unzFile archive, const char* extension, unz_file_info* info) {
    // minizip 1.1 crashes when it is given no information record.
    unz_file_info scratch;
    unz_file_info* entryInfo = info ? info : &scratch;
    if (unzGoToFirstFile(archive) != UNZ_OK) return false;
    do {
        char name[kTitleSize];
        if (unzGetCurrentFileInfo(archive, entryInfo, name, sizeof name, nullptr, 0, nullptr, 0) ==
                UNZ_OK &&
            entryInfo->size_filename < sizeof name && HasExtension(name, extension))
            return true;
    } while (unzGoToNextFile(archive) == UNZ_OK);
    return false;
}

// Whether the entry's compressed data can hold the size its directory states.
bool PlausibleEntrySize(const unz_file_info& info) {
    uint64_t packed = info.compressed_size;
    uint64_t unpacked = info.uncompressed_size;
    if (info.compression_method == kZipStored) return unpacked == packed;
    if (info.compression_method == kZipDeflated) return unpacked <= packed * kMaxInflateRatio;
    return false;
}

// Reads exactly `size` bytes of the open entry into a buffer of `size` +
// kArchiveSpare bytes; null when fewer arrive. The buffer starts small and
// grows with the data that really arrives, so an entry whose directory states
// a size its data cannot fill costs no more memory than that data.
uint8_t* ReadEntry(unzFile archive, uint32_t size) {
    const uint64_t full = static_cast<uint64_t>(size) + kArchiveSpare;
    uint64_t capacity = full < kArchiveFirstRoom ? full : kArchiveFirstRoom;
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity)));
    if (!buffer) return nullptr;
    uint32_t done = 0;
    while (done < size) {
        if (done + kArchiveSpare == capacity) {
            const uint64_t grown = capacity * 2 < full ? capacity * 2 : full;
            uint8_t* larger =
                static_cast<uint8_t*>(std::realloc(buffer, static_cast<size_t>(grown)));
            if (!larger) {
                std::free(buffer);
                return nullptr;
            }
            buffer = larger;
            capacity = grown;
        }
        const uint64_t room = capacity - kArchiveSpare - done;
        const uint32_t want =
            room < kArchiveReadChunk ? static_cast<uint32_t>(room) : kArchiveReadChunk;
        int got = unzReadCurrentFile(archive, buffer + done, want);
        if (got <= 0) {
            std::free(buffer);
            return nullptr;
        }
        done += static_cast<uint32_t>(got);
    }
    return buffer;
}

// Reads the archive's info entry, if any, over `loopFrame` and `title`.
void ReadArchiveInfo(unzFile archive, uint32_t* loopFrame, char* title) {
    if (!FindEntry(archive, "GYI", nullptr)) return;
    if (unzOpenCurrentFile(archive) != UNZ_OK) return;
    uint8_t text[kInfoReadSize];
    int got = unzReadCurrentFile(archive, text, sizeof text);
    unzCloseCurrentFile(archive);
    if (got > 0) ParseInfoText(text, got, loopFrame, title);
}

// What reading an archive's song came to.
enum class ArchiveRead {
    song,      // the song entry was read
    notSong,   // not an archive, or no song entry that can be read
    tooLarge,  // the song entry states a size over the limit
};

// The first GYM entry of the open archive and its GYI entry; closes the
// archive. `*buffer` receives the entry's data when the result is song.
ArchiveRead ReadArchiveEntries(unzFile archive, uint8_t** buffer, uint32_t* size,
                               uint32_t* loopFrame, char* title) {
    *buffer = nullptr;
    unz_file_info info;
    if (!FindEntry(archive, "GYM", &info)) {
        unzClose(archive);
        return ArchiveRead::notSong;
    }
    // The stated size decides before anything is inflated; reading never
    // goes past it, so a size that lies costs no more than the limit.
    if (info.uncompressed_size > kSongSizeLimit) {
        unzClose(archive);
        return ArchiveRead::tooLarge;
    }
    if (!PlausibleEntrySize(info) || unzOpenCurrentFile(archive) != UNZ_OK) {
        unzClose(archive);
        return ArchiveRead::notSong;
    }
    uint32_t entrySize = static_cast<uint32_t>(info.uncompressed_size);
    *buffer = ReadEntry(archive, entrySize);
    // The entry's CRC is checked only here, and a mismatch is let pass.
    unzCloseCurrentFile(archive);
    if (!*buffer) {
        unzClose(archive);
        return ArchiveRead::notSong;
    }
    if (size) *size = entrySize;

    ReadArchiveInfo(archive, loopFrame, title);
    unzClose(archive);
    return ArchiveRead::song;
}

// The first GYM entry of the archive held in `bytes` (std::malloc, its size
// plus 8 spare bytes), into `*buffer`.
ArchiveRead ReadArchiveImage(const char* path, const uint8_t* bytes, uint32_t fileSize,
                             uint8_t** buffer, uint32_t* size, uint32_t* loopFrame, char* title) {
    *buffer = nullptr;
    *loopFrame = 0;
    title[0] = 0;
    // minizip's positions are longs: a file past their range is no archive.
    if (fileSize > static_cast<uint32_t>(INT32_MAX)) return ArchiveRead::notSong;
    MemoryArchive file = {bytes, fileSize, 0};
    zlib_filefunc_def functions = {
        OpenMemoryArchive, ReadMemoryArchive,  WriteMemoryArchive, TellMemoryArchive,
        SeekMemoryArchive, CloseMemoryArchive, ErrorMemoryArchive, &file};
    unzFile archive = unzOpen2(path, &functions);
    if (!archive) return ArchiveRead::notSong;
    return ReadArchiveEntries(archive, buffer, size, loopFrame, title);
}

// Reads the sidecar info file that `source` has beside it, as ReadInfoSidecar
// does for a path.
void ReadSourceSidecar(const SongSource& source, uint32_t* loopFrame, char* title) {
    static const char* const kInfoExtensionTable[] = {".GYI", ".gyi"};  // upper case first
    char infoPath[kTitleSize];
    if (!StripExtension(infoPath, source.path, sizeof infoPath)) return;
    size_t stem = std::strlen(infoPath);
    if (stem + 4 >= sizeof infoPath) return;
    for (const char* extension : kInfoExtensionTable) {
        std::memcpy(infoPath + stem, extension, 5);
        uint8_t text[kInfoReadSize];
        int32_t got = ReadCompanionStart(source, infoPath, text, sizeof text);
        if (got >= 0) {
            ParseInfoText(text, got, loopFrame, title);
            return;
        }
    }
}

// Loads the song in `source` as an image with its end marker; null on
// failure. The file's buffer becomes the image when the song is not in an
// archive.
GymPlayer* LoadSong(SongSource* source) {
    GymPlayer* player = static_cast<GymPlayer*>(std::calloc(1, sizeof(GymPlayer)));
    if (!player) return nullptr;
    player->title[0] = 0;
    player->loopFrame = 0;

    // The file is read once: as an archive when it is one, else as the song.
    uint32_t size = source->size;
    const ArchiveRead archive = ReadArchiveImage(source->path, source->bytes, size, &player->image,
                                                 &size, &player->loopFrame, player->title);
    if (archive == ArchiveRead::tooLarge) {
        DestroyPlayer(player);
        return nullptr;
    }
    SongForm readForm = player->image ? SongForm::archive : SongForm::plain;
    ReadSourceSidecar(*source, &player->loopFrame, player->title);
    // An info file's title is the song's.
    Windows1252ToUtf8(reinterpret_cast<const uint8_t*>(player->title), kTitleSize,
                      player->tags.text[kTagTrack], kTagSize);
    if (!player->image) {
        player->image = source->bytes;
        source->bytes = nullptr;
    }

    uint8_t* image = player->image;
    const bool gymx = size >= 4 && std::memcmp(image, "GYMX", 4) == 0;
    if (!gymx && size > kSongSizeLimit) {
        DestroyPlayer(player);
        return nullptr;
    }
    if (gymx) {
        if (size < kGymxHeaderSize) {
            DestroyPlayer(player);
            return nullptr;
        }
        if (player->title[0] == 0) HeaderTitle(image, player->title);
        HeaderTags(image, player->tags);
        if (player->loopFrame == 0) player->loopFrame = ReadLe32(image + kGymxLoopOffset);
        uint32_t unpackedSize = ReadLe32(image + kGymxSizeOffset);
        uint32_t bodySize = size - kGymxHeaderSize;
        // The stated size decides before anything is inflated; inflating
        // stops where the stated size is reached.
        if (unpackedSize > kSongSizeLimit || bodySize > kSongSizeLimit) {
            DestroyPlayer(player);
            return nullptr;
        }
        if (unpackedSize != 0) {
            // Never ask for more room than the body could fill: a false size
            // in the header then costs nothing, and a body that inflates past
            // the header's size still fails for want of room.
            uint64_t capacity = unpackedSize;
            if (capacity > bodySize * kMaxInflateRatio) capacity = bodySize * kMaxInflateRatio;
            uint8_t* body =
                capacity + kFileSpare <= SIZE_MAX
                    ? static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity + kFileSpare)))
                    : nullptr;
            if (!body) {
                DestroyPlayer(player);
                return nullptr;
            }
            uLongf produced = static_cast<uLongf>(capacity);
            if (uncompress(body, &produced, image + kGymxHeaderSize, bodySize) != Z_OK) {
                std::free(body);
                DestroyPlayer(player);
                return nullptr;
            }
            std::free(image);
            player->image = image = body;
            size = static_cast<uint32_t>(produced);
            if (readForm == SongForm::plain) readForm = SongForm::gymxZlib;
        } else {
            std::memmove(image, image + kGymxHeaderSize, bodySize);
            size = bodySize;
            if (readForm == SongForm::plain) readForm = SongForm::gymx;
        }
    }

    size = CompleteCommandsSize(image, size);
    image[size] = kEndOfStream;

    player->ops = GymPlayerOps;
    player->state = player;
    player->readPos = nullptr;
    player->loopPos = nullptr;
    player->loopCounter = 0;
    player->frameCount = 0;
    player->pendingSamples = 0;
    player->remainderAcc = 0;
    player->heldSamples = 0;
    player->running = 0;
    player->form = readForm;
    TakePlaySettings(player);
    return player;
}

SongPlayer* LoadGymSong(SongSource* source) {
    return LoadSong(source);
}

// A GYMX header, a ZIP archive (whose song entry is looked for later) or a
// log that starts with a command.
int RecognisesGym(const uint8_t* bytes, uint32_t size) {
    if (size >= 4 && (std::memcmp(bytes, "GYMX", 4) == 0 || std::memcmp(bytes, "PK\3\4", 4) == 0))
        return 1;
    return size > 0 && CommandLength(bytes[0]) != 0 ? 1 : 0;
}

const FileType gymFileTypeTable[] = {
    {"GYM", "Genecyst sound log file (*.GYM)"},
    {"DRU;GYM_ZIP", "Compressed GYM (*.DRU;*.GYM_ZIP)"},
    {nullptr, nullptr},
};
const char* const gymNameEndingTable[] = {".GYM.ZIP", nullptr};
const char* const gymCompanionTable[] = {"GYI", nullptr};

}  // namespace

const SongFormat gymFormat = {
    "GYM sound log",    "GYM video game music log", true,          gymFileTypeTable,
    gymNameEndingTable, gymCompanionTable,          RecognisesGym, LoadGymSong,
};

GymPlayer* OpenSongWithForm(const char* path, SongForm* form) {
    uint32_t size = 0;
    uint8_t* file = platform::ReadWholeFile(path, kFileSpare, kSongFileLimit, &size);
    if (!file) return nullptr;
    SongSource source = {path, file, size, nullptr, 0, nullptr};
    GymPlayer* player = LoadSong(&source);
    std::free(source.bytes);
    if (player && form) *form = player->form;
    return player;
}

GymPlayer* OpenSong(const char* path) {
    return OpenSongWithForm(path, nullptr);
}

void DestroyPlayer(GymPlayer* player) {
    if (!player) return;
    std::free(player->image);
    std::free(player);
}

void JoinTitle(const char* first, const char* second, char* title) {
    size_t used = 0;
    auto append = [&](const char* text) {
        while (*text != 0 && used < kTitleSize - 1)
            title[used++] = *text++;
    };
    append(first);
    if (second[0] != 0) {
        if (used > 0) append(" ");
        append("[ ");
        append(second);
        append(" ]");
    }
    title[used] = 0;
}

const char* PathFileName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; p = platform::CharNextA(p))
        if (*p == '/' || *p == '\\' || *p == ':') name = p + 1;
    return name;
}

int32_t SongLengthMs(const GymPlayer* player) {
    return static_cast<int32_t>(SongFrames(player) * 100u) / 6;
}

uint32_t SongFrames(const GymPlayer* player) {
    // The loader guarantees the end marker, so the walk needs no bound.
    uint32_t frames = 0;
    const uint8_t* pos = player->image;
    for (;;) {
        uint32_t length = CommandLength(*pos);
        if (length == 0) break;
        if (*pos == kCommandFrame) ++frames;
        pos += length;
    }
    return frames;
}

int MatchesArchiveSuffix(const char* name) {
    static const char kSuffix[] = ".GYM.ZIP";
    constexpr size_t kSuffixLength = sizeof kSuffix - 1;
    if (!name) return 0;
    size_t length = std::strlen(name);
    if (length < kSuffixLength) return 0;
    return platform::lstrcmpiA(name + length - kSuffixLength, kSuffix) == 0 ? 1 : 0;
}

void ReadInfoSidecar(const char* path, uint32_t* loopFrame, char* title) {
    const SongSource source = {path, nullptr, 0, nullptr, 0, nullptr};
    ReadSourceSidecar(source, loopFrame, title);
}

void ParseInfoText(const uint8_t* text, int32_t count, uint32_t* loopFrame, char* title) {
    int32_t pos = 0;
    while (pos < count && text[pos] != 0 && text[pos] != '\r' && text[pos] != '\n')
        ++pos;
    int32_t titleLength = pos < kTitleSize - 1 ? pos : kTitleSize - 1;
    std::memcpy(title, text, static_cast<size_t>(titleLength));
    title[titleLength] = 0;

    if (pos < count && text[pos] == '\r') ++pos;
    if (pos < count && text[pos] == '\n') ++pos;
    if (pos >= count || text[pos] < '0' || text[pos] > '9') return;
    uint64_t number = 0;
    for (; pos < count && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        number = number * 10 + static_cast<uint64_t>(text[pos] - '0');
        if (number > UINT32_MAX) number = UINT32_MAX;  // saturates; stays far below 2^64
    }
    *loopFrame = static_cast<uint32_t>(number);
}

int HasExtension(const char* name, const char* extension) {
    const char* found = nullptr;
    for (const char* p = name; *p; p = platform::CharNextA(p)) {
        if (*p == '/' || *p == '\\' || *p == ':')
            found = nullptr;
        else if (*p == '.')
            found = p + 1;
    }
    return found && platform::lstrcmpiA(found, extension) == 0 ? 1 : 0;
}

bool StripExtension(char* destination, const char* path, size_t capacity) {
    // Positions run over the whole path; bytes are stored only while they fit.
    size_t length = 0;
    size_t dot = 0;
    bool hasDot = false;
    auto put = [&](char byte) {
        if (length < capacity) destination[length] = byte;
        ++length;
    };
    for (const char* p = path; *p; ++p) {
        uint8_t byte = static_cast<uint8_t>(*p);
        if (platform::IsDBCSLeadByte(byte)) {
            put(*p);
            if (p[1] == 0) break;  // a lead byte at the end has no partner
            put(*++p);
            continue;
        }
        if (*p == '/' || *p == ':' || *p == '\\') {
            hasDot = false;
        } else if (*p == '.') {
            hasDot = true;
            dot = length;
        }
        put(*p);
    }
    size_t end = hasDot ? dot : length;
    if (end >= capacity) {
        if (capacity > 0) destination[0] = 0;
        return false;
    }
    destination[end] = 0;
    return true;
}
