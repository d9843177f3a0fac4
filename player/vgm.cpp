// The VGM player: loading (gzip, header, GD3 title, the PCM bank), and the
// command interpreter that renders the chips up to each write.
//
// Time: the interpreter keeps song time in 44,100 Hz samples from the start;
// song sample t is output frame floor(t x rate / 44,100), so nothing drifts
// however the waits add up. A stretch is the song time between two writes
// that change the chips: the interpreter gathers it (its waits, and the DAC
// bytes that fall in it, each placed at its own frame), renders it, then
// applies the write that ended it. A stretch also ends where a fade step is
// due (the step changes every gain), where the DAC queue is full, and after
// kMaxStretchSamples, so that a long silence costs no more than a short one.
#include "player/vgm.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fm/chip.h"
#include "fm/registers.h"
#include "fm/wrap.h"
#include "player/engine.h"
#include "player/mixdown.h"
#include "player/settings.h"
#include "player/song.h"
#include "psg/psg.h"

namespace {

// ---- File layout -------------------------------------------------------------

constexpr uint32_t kHeaderMin = 0x40;  // the header of 1.00, and where its data starts
constexpr uint32_t kEofOffset = 0x04;
constexpr uint32_t kVersionOffset = 0x08;
constexpr uint32_t kPsgClockOffset = 0x0C;
constexpr uint32_t kOldFmClockOffset = 0x10;  // 1.00 and 1.01
constexpr uint32_t kGd3Offset = 0x14;
constexpr uint32_t kLoopOffset = 0x1C;
constexpr uint32_t kFmClockOffset = 0x2C;  // 1.10 on
constexpr uint32_t kDataOffset = 0x34;     // 1.50 on
constexpr uint32_t kVolumeOffset = 0x7C;
constexpr uint32_t kLoopBaseOffset = 0x7E;
constexpr uint32_t kLoopModifierOffset = 0x7F;

constexpr uint32_t kVersionFmClockMoved = 0x110;  // the YM2612 clock has its own field
constexpr uint32_t kVersionDataOffset = 0x150;    // the data offset is read
constexpr uint32_t kLatestVersion = 0x171;        // later versions read as this one
constexpr uint32_t kClockMask = 0x3FFFFFFF;       // bits 31 (second chip) and 30 (variant) off
constexpr uint32_t kLowestClock = 1000000;        // Hz, a chip's input clock
constexpr uint32_t kHighestClock = 16000000;

constexpr uint32_t kGd3Magic = 0x20336447;  // "Gd3 "
constexpr uint32_t kGd3HeaderSize = 12;     // magic, version, length

// ---- Commands ------------------------------------------------------------------

constexpr uint8_t kCmdGgStereo = 0x4F;
constexpr uint8_t kCmdPsg = 0x50;
constexpr uint8_t kCmdFmPort0 = 0x52;
constexpr uint8_t kCmdFmPort1 = 0x53;
constexpr uint8_t kCmdWait = 0x61;
constexpr uint8_t kCmdWaitNtsc = 0x62;
constexpr uint8_t kCmdWaitPal = 0x63;
constexpr uint8_t kCmdEnd = 0x66;
constexpr uint8_t kCmdDataBlock = 0x67;
constexpr uint8_t kCmdShortWait = 0x70;  // 7n: n + 1
constexpr uint8_t kCmdBankToDac = 0x80;  // 8n: a bank byte, then wait n
constexpr uint8_t kCmdStreamSetup = 0x90;
constexpr uint8_t kCmdStreamData = 0x91;
constexpr uint8_t kCmdStreamFrequency = 0x92;
constexpr uint8_t kCmdStreamStart = 0x93;
constexpr uint8_t kCmdStreamStop = 0x94;
constexpr uint8_t kCmdStreamFastStart = 0x95;
constexpr uint8_t kCmdBankSeek = 0xE0;

constexpr uint32_t kNtscWait = 735;  // samples of a 60 Hz frame
constexpr uint32_t kPalWait = 882;   // samples of a 50 Hz frame
constexpr uint8_t kBlockYm2612Pcm = 0x00;
constexpr uint32_t kBlockSecondChip = 0x80000000;  // in a data block's size
constexpr uint32_t kBlockSizeMask = 0x7FFFFFFF;
constexpr uint8_t kStreamChipYm2612 = 0x02;
constexpr uint8_t kStreamAll = 0xFF;
constexpr uint32_t kKeepOffset = 0xFFFFFFFF;  // 93: start where the stream is
constexpr uint8_t kLengthAsBefore = 0, kLengthBytes = 1, kLengthMs = 2, kLengthToEnd = 3;
constexpr uint8_t kStartReverse = 0x10, kStartLoop = 0x80;
constexpr uint8_t kFastLoop = 0x01, kFastReverse = 0x10;

// ---- Limits --------------------------------------------------------------------

// One fade step is one 60 Hz frame of song time, as at a GYM frame marker.
constexpr int64_t kFadeStepSamples = kVgmSampleRate / kStepsPerSecond;
// The longest stretch gathered at once: about 1.5 s of song time.
constexpr int64_t kMaxStretchSamples = 1 << 16;
// DAC bytes one stretch queues at the most (the chip's queue holds 8192).
constexpr int32_t kMaxStretchBytes = FmChip::kPcmQueueSize - 1;
// A stream writes at most this many bytes a second; more could not be heard.
constexpr uint32_t kMaxStreamFrequency = 16 * kVgmSampleRate;
constexpr int kStreamCount = 256;

uint32_t Le16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}

uint32_t Le32(const uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

// One DAC stream, as 90-95 set it up.
struct DacStream {
    bool toDac;          // set up for the YM2612's DAC
    uint8_t stepSize;    // bank bytes from one written byte to the next
    uint8_t stepBase;    // bytes skipped at the start
    uint32_t frequency;  // bytes a second; 0 = none
    uint32_t start;      // bank offset the stream starts at
    uint32_t length;     // bytes one run writes
    bool playing;
    bool loop;
    bool reverse;
    int64_t played;    // bytes of this run written (a loop's passes counted on)
    int64_t timeBase;  // song time from which the byte clock counts
    int64_t ticks;     // bytes written since timeBase
};

struct VgmPlayer : SongPlayer {
    // The song
    uint8_t* file;       // owned: the whole (inflated) file
    uint32_t dataStart;  // first command byte
    uint32_t dataEnd;    // one past the last byte commands may use
    uint32_t loopStart;  // file offset the song loops back to; 0 = no loop
    uint8_t* bank;       // owned: every YM2612 PCM data block, in file order
    uint32_t bankSize;
    uint32_t* blockStart;  // owned: each PCM block's offset in the bank
    uint32_t blockCount;
    uint32_t fmClock;      // the FM engine's clock, Hz (half the chip's); 0 = no YM2612
    uint32_t fmChipClock;  // the chip's, as the header gives it
    int32_t psgClock;      // Hz; 0 = no SN76489
    int64_t passSamples;   // one pass, song samples
    char title[kTitleSize];
    char form[24];

    // Playback
    int32_t running;               // 1 from start until the song ends or halts
    uint32_t readPos;              // next command
    int64_t songSample;            // song time the interpreter reached, samples
    int64_t framesDone;            // output frames handed out since start: frame(songSample)
                                   //   once a stretch is rendered
    int64_t pendingFrames;         // frames of the gathered stretch not yet handed out
    uint32_t waitLeft;             // samples of the current wait not yet passed
    int32_t queued;                // DAC bytes the gathered stretch queued
    bool fadeStepDue;              // a stretch ended at a fade step, which comes next
    int64_t seekSample;            // while seeking: song time stretches end at, else -1
    bool ended;                    // the song has reached its end
    uint32_t bankPos;              // next bank byte of 8n
    int32_t activeCount;           // streams playing
    uint8_t active[kStreamCount];  // their numbers
    DacStream streams[kStreamCount];
};

VgmPlayer& Vgm(SongPlayer* player) {
    return *static_cast<VgmPlayer*>(player);
}

int64_t FrameOf(const VgmPlayer& p, int64_t sample) {
    return sample * p.outputRate / kVgmSampleRate;
}

// The output frame of the first 60 Hz frame boundary of song time (a
// multiple of 735 samples) after the frames handed out so far.
int64_t NextGridFrame(const VgmPlayer& p) {
    int64_t k = p.framesDone * kVgmSampleRate / (kNtscWait * static_cast<int64_t>(p.outputRate));
    while (FrameOf(p, k * kNtscWait) <= p.framesDone)
        ++k;
    return FrameOf(p, k * kNtscWait);
}

// ---- Command lengths -------------------------------------------------------------

// Bytes of the command at `pos` (operands included) when it lies whole
// before `end`; 0 when it is cut short, or no command.
uint32_t CommandLength(const uint8_t* file, uint32_t pos, uint32_t end) {
    const uint8_t c = file[pos];
    uint32_t length = 0;
    if (c == kCmdDataBlock) {
        if (end - pos < 7) return 0;
        const uint64_t whole = 7 + static_cast<uint64_t>(Le32(file + pos + 3) & kBlockSizeMask);
        return whole <= end - pos ? static_cast<uint32_t>(whole) : 0;
    }
    if (c == kCmdEnd || c == kCmdWaitNtsc || c == kCmdWaitPal || (c >= 0x70 && c <= 0x8F)) {
        length = 1;
    } else if ((c >= 0x30 && c <= 0x3F) || c == kCmdGgStereo || c == kCmdPsg ||
               c == kCmdStreamStop) {
        length = 2;
    } else if ((c >= 0x40 && c <= 0x4E) || (c >= 0x51 && c <= 0x5F) || c == kCmdWait ||
               (c >= 0xA0 && c <= 0xBF)) {
        length = 3;
    } else if (c >= 0xC0 && c <= 0xDF) {
        length = 4;
    } else if (c >= 0xE0) {
        length = 5;
    } else if (c == kCmdStreamSetup || c == kCmdStreamData || c == kCmdStreamFastStart) {
        length = 5;
    } else if (c == kCmdStreamFrequency) {
        length = 6;
    } else if (c == kCmdStreamStart) {
        length = 11;
    } else if (c == 0x68) {  // PCM RAM write of another chip
        length = 12;
    } else {
        return 0;
    }
    return length <= end - pos ? length : 0;
}

// Samples the command waits.
uint32_t WaitOf(const uint8_t* command) {
    const uint8_t c = command[0];
    if (c == kCmdWait) return Le16(command + 1);
    if (c == kCmdWaitNtsc) return kNtscWait;
    if (c == kCmdWaitPal) return kPalWait;
    if (c >= kCmdShortWait && c <= 0x7F) return (c & 0x0Fu) + 1;
    if (c >= kCmdBankToDac && c <= 0x8F) return c & 0x0Fu;
    return 0;
}

// Song samples from `pos` to the end of the pass (0x66, the end of the data
// or a byte that is no command).
int64_t SamplesToEnd(const uint8_t* file, uint32_t pos, uint32_t end) {
    int64_t samples = 0;
    while (pos < end && file[pos] != kCmdEnd) {
        const uint32_t length = CommandLength(file, pos, end);
        if (length == 0) break;
        samples += WaitOf(file + pos);
        pos += length;
    }
    return samples;
}

// ---- Loading ---------------------------------------------------------------------

// Inflates a gzip stream in steps, never past kSongSizeLimit bytes, into a
// buffer with kSourceSpare zero bytes after the data. Null, with `why`, when
// the stream is damaged or inflates past the limit.
uint8_t* Gunzip(const uint8_t* bytes, uint32_t size, uint32_t* outSize, const char** why) {
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        *why = "out of memory";
        return nullptr;
    }
    uint64_t capacity = static_cast<uint64_t>(size) * 4 + 4096;
    if (capacity > kSongSizeLimit + 1ull) capacity = kSongSizeLimit + 1ull;
    uint8_t* out = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity) + kSourceSpare));
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = size;
    uint64_t produced = 0;
    int result = Z_OK;
    while (out != nullptr) {
        stream.next_out = out + produced;
        stream.avail_out = static_cast<uInt>(capacity - produced);
        result = inflate(&stream, Z_NO_FLUSH);
        produced = capacity - stream.avail_out;
        if (result == Z_STREAM_END) break;
        if (produced > kSongSizeLimit) {
            *why = "larger than 64 MiB once unpacked";
            break;
        }
        if (result != Z_OK && !(result == Z_BUF_ERROR && stream.avail_in != 0)) {
            *why = "damaged gzip stream";
            break;
        }
        if (stream.avail_out == 0) {
            // Room for one byte past the limit tells a stream that goes on.
            const uint64_t grown =
                capacity * 2 < kSongSizeLimit + 1ull ? capacity * 2 : kSongSizeLimit + 1ull;
            uint8_t* larger =
                static_cast<uint8_t*>(std::realloc(out, static_cast<size_t>(grown) + kSourceSpare));
            if (larger == nullptr) {
                *why = "out of memory";
                break;
            }
            out = larger;
            capacity = grown;
        }
    }
    inflateEnd(&stream);
    if (out == nullptr) {
        *why = "out of memory";
        return nullptr;
    }
    if (result != Z_STREAM_END || produced > kSongSizeLimit) {
        std::free(out);
        return nullptr;
    }
    std::memset(out + produced, 0, kSourceSpare);
    *outSize = static_cast<uint32_t>(produced);
    return out;
}

// The GD3 tag's strings: 11 of them, each NUL-terminated UTF-16LE. Finds
// the start and length (in code units) of string `index` within `size`
// bytes; false when the tag ends before it.
bool Gd3String(const uint8_t* text, uint32_t size, int index, uint32_t* start, uint32_t* units) {
    uint32_t pos = 0;
    for (int i = 0;; ++i) {
        uint32_t n = 0;
        while (pos + 2 * n + 1 < size && Le16(text + pos + 2 * n) != 0)
            ++n;
        if (i == index) {
            *start = pos;
            *units = n;
            return true;
        }
        pos += 2 * n + 2;
        if (pos >= size) return false;
    }
}

// Appends GD3 string `index` to `title` (`capacity` bytes) as UTF-8.
size_t AppendGd3(char* title, size_t used, size_t capacity, const uint8_t* text, uint32_t size,
                 int index) {
    uint32_t start = 0, units = 0;
    if (!Gd3String(text, size, index, &start, &units)) return used;
    for (uint32_t i = 0; i < units; ++i) {
        uint32_t code = Le16(text + start + 2 * i);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units) {
            const uint32_t low = Le16(text + start + 2 * i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (code >= 0xD800 && code < 0xE000) code = '?';  // a lone surrogate
        const size_t before = used;
        used = AppendUtf8(title, used, capacity, code);
        if (used == before) break;  // full: a later, smaller character must not follow
    }
    return used;
}

// The tag's eleven strings, in the order it holds them.
constexpr SongTag kGd3FieldTable[] = {
    kTagTrack,  kTagTrackJa,  kTagGame, kTagGameJa, kTagSystem,  kTagSystemJa,
    kTagAuthor, kTagAuthorJa, kTagDate, kTagDumper, kTagComment,
};

// Every field of the GD3 tag at `offset` into `tags`, and "Game [ Track ]",
// "[ Track ]" or "Game" from the English ones into `title`; both empty when
// there is no tag.
void ReadGd3(const uint8_t* file, uint32_t size, uint32_t offset, SongTags& tags, char* title) {
    title[0] = 0;
    if (offset == 0 || offset >= size || size - offset < kGd3HeaderSize) return;
    if (Le32(file + offset) != kGd3Magic) return;
    uint32_t length = Le32(file + offset + 8);
    const uint32_t room = size - offset - kGd3HeaderSize;
    if (length > room) length = room;  // a stated length past the file is cut at its end
    const uint8_t* text = file + offset + kGd3HeaderSize;
    for (int i = 0; i < static_cast<int>(sizeof kGd3FieldTable / sizeof kGd3FieldTable[0]); ++i)
        AppendGd3(tags.text[kGd3FieldTable[i]], 0, kTagSize, text, length, i);
    JoinTitle(tags.text[kTagGame], tags.text[kTagTrack], title);
}

void FreeVgm(VgmPlayer* p) {
    if (p == nullptr) return;
    std::free(p->file);
    std::free(p->bank);
    std::free(p->blockStart);
    std::free(p);
}

// Gathers every YM2612 PCM data block of the data, in order, into the bank.
bool ReadPcmBank(VgmPlayer& p) {
    uint64_t total = 0;
    uint32_t blocks = 0;
    for (uint32_t pos = p.dataStart; pos < p.dataEnd && p.file[pos] != kCmdEnd;) {
        const uint32_t length = CommandLength(p.file, pos, p.dataEnd);
        if (length == 0) break;
        if (p.file[pos] == kCmdDataBlock && p.file[pos + 2] == kBlockYm2612Pcm &&
            (Le32(p.file + pos + 3) & kBlockSecondChip) == 0) {
            total += length - 7;
            ++blocks;
        }
        pos += length;
    }
    if (blocks == 0) return true;
    p.bank = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(total) + 1));
    p.blockStart = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * (blocks + 1)));
    if (p.bank == nullptr || p.blockStart == nullptr) return false;
    for (uint32_t pos = p.dataStart; pos < p.dataEnd && p.file[pos] != kCmdEnd;) {
        const uint32_t length = CommandLength(p.file, pos, p.dataEnd);
        if (length == 0) break;
        if (p.file[pos] == kCmdDataBlock && p.file[pos + 2] == kBlockYm2612Pcm &&
            (Le32(p.file + pos + 3) & kBlockSecondChip) == 0) {
            p.blockStart[p.blockCount++] = p.bankSize;
            std::memcpy(p.bank + p.bankSize, p.file + pos + 7, length - 7);
            p.bankSize += length - 7;
        }
        pos += length;
    }
    p.blockStart[p.blockCount] = p.bankSize;  // the end of the last block
    return true;
}

// The song's own gain from the volume modifier: 2^(m/32) as the nearest
// half-decibel, 20 x log10(2) / 32 x 2 half-decibels for each step of m.
int32_t BoostFromModifier(uint8_t modifier) {
    int32_t m = modifier;
    if (m > 0xC0) m -= 0x100;  // C1 ... FF are -63 ... -1
    if (m == -0x40) m = -0x3F;
    const double halfDb = 40.0 * std::log10(2.0) * m / 32.0;
    return static_cast<int32_t>(std::lround(halfDb));
}

const char* kNoChipOfOurs = "a VGM file without a YM2612 or SN76489, the chips Tamboril plays";
const char* kClockOutOfRange = "damaged VGM: its chips' clocks lie outside 1-16 MHz";

// The song in `source` as a new player; null, with source->refusal, when it
// cannot be played.
VgmPlayer* LoadVgm(SongSource* source, const PlayerOps& ops) {
    const bool packed = source->size >= 2 && source->bytes[0] == 0x1F && source->bytes[1] == 0x8B;
    uint8_t* file = nullptr;
    uint32_t size = 0;
    if (packed) {
        file = Gunzip(source->bytes, source->size, &size, &source->refusal);
        if (file == nullptr) return nullptr;
    } else {
        if (source->size > kSongSizeLimit) {
            source->refusal = "larger than 64 MiB";
            return nullptr;
        }
        file = source->bytes;
        size = source->size;
        source->bytes = nullptr;
    }
    VgmPlayer* p = static_cast<VgmPlayer*>(std::calloc(1, sizeof(VgmPlayer)));
    if (p == nullptr) {
        std::free(file);
        source->refusal = "out of memory";
        return nullptr;
    }
    p->file = file;
    if (size < kHeaderMin || std::memcmp(file, "Vgm ", 4) != 0) {
        source->refusal = size < kHeaderMin && size >= 4 && std::memcmp(file, "Vgm ", 4) == 0
                              ? "damaged VGM: the header is cut short"
                              : "not a VGM file";
        FreeVgm(p);
        return nullptr;
    }

    uint32_t version = Le32(file + kVersionOffset);
    if (version > kLatestVersion) version = kLatestVersion;
    uint32_t dataStart = kHeaderMin;
    if (version >= kVersionDataOffset && Le32(file + kDataOffset) != 0) {
        const uint64_t at = static_cast<uint64_t>(kDataOffset) + Le32(file + kDataOffset);
        dataStart = at < kHeaderMin ? kHeaderMin : (at > size ? size : static_cast<uint32_t>(at));
    }
    // Header fields at or past the data read as 0.
    auto field32 = [&](uint32_t offset) {
        return offset + 4 <= dataStart ? Le32(file + offset) : 0u;
    };
    auto field8 = [&](uint32_t offset) { return offset < dataStart ? file[offset] : uint8_t{0}; };

    uint32_t dataEnd = size;
    const uint64_t eof = static_cast<uint64_t>(kEofOffset) + field32(kEofOffset);
    if (field32(kEofOffset) != 0 && eof < dataEnd && eof > dataStart)
        dataEnd = static_cast<uint32_t>(eof);
    const uint32_t gd3Field = field32(kGd3Offset);
    const uint64_t gd3 = gd3Field != 0 ? kGd3Offset + static_cast<uint64_t>(gd3Field) : 0;
    if (gd3 > dataStart && gd3 < dataEnd) dataEnd = static_cast<uint32_t>(gd3);
    p->dataStart = dataStart;
    p->dataEnd = dataEnd;

    const uint32_t fmChipClock =
        field32(version < kVersionFmClockMoved ? kOldFmClockOffset : kFmClockOffset) & kClockMask;
    const uint32_t psgChipClock = field32(kPsgClockOffset) & kClockMask;
    // A clock far from any this console's chips ran at is damage: that chip
    // is not played (the generators' timing holds only for real clocks).
    const bool fmUsable = fmChipClock >= kLowestClock && fmChipClock <= kHighestClock;
    const bool psgUsable = psgChipClock >= kLowestClock && psgChipClock <= kHighestClock;
    p->fmClock = fmUsable ? fmChipClock / 2 : 0;
    p->fmChipClock = fmUsable ? fmChipClock : 0;
    p->psgClock = psgUsable ? static_cast<int32_t>(psgChipClock) : 0;
    if (p->fmClock == 0 && p->psgClock == 0) {
        source->refusal = fmChipClock == 0 && psgChipClock == 0 ? kNoChipOfOurs : kClockOutOfRange;
        FreeVgm(p);
        return nullptr;
    }

    p->passSamples = SamplesToEnd(file, dataStart, dataEnd);
    // A loop outside the data, or one with no wait before the end, would
    // never let song time pass: no loop.
    const uint32_t loopField = field32(kLoopOffset);
    const uint64_t loop = loopField != 0 ? kLoopOffset + static_cast<uint64_t>(loopField) : 0;
    if (loop >= dataStart && loop < dataEnd &&
        SamplesToEnd(file, static_cast<uint32_t>(loop), dataEnd) > 0) {
        p->loopStart = static_cast<uint32_t>(loop);
    }
    if (!ReadPcmBank(*p)) {
        source->refusal = "out of memory";
        FreeVgm(p);
        return nullptr;
    }

    ReadGd3(file, size, gd3 < size ? static_cast<uint32_t>(gd3) : 0, p->tags, p->title);
    std::snprintf(p->form, sizeof p->form, "%s %x.%02x", packed ? "VGZ" : "VGM", version >> 8,
                  version & 0xFF);

    p->ops = ops;
    TakePlaySettings(p);
    // The loop count scales by the song's loop modifier and base.
    if (p->loopLimit != 0) {
        int32_t modifier = field8(kLoopModifierOffset);
        if (modifier == 0) modifier = 16;
        const int32_t base = static_cast<int8_t>(field8(kLoopBaseOffset));
        const int64_t scaled = (static_cast<int64_t>(p->loopLimit) * modifier + 8) / 16 - base;
        p->loopLimit =
            scaled < 1 ? 1 : (scaled > INT32_MAX ? INT32_MAX : static_cast<int32_t>(scaled));
    }
    p->boostHalfDb = BoostFromModifier(field8(kVolumeOffset));
    return p;
}

// ---- Streams -----------------------------------------------------------------------

void StopStream(VgmPlayer& p, uint8_t id) {
    if (!p.streams[id].playing) return;
    p.streams[id].playing = false;
    for (int32_t i = 0; i < p.activeCount; ++i) {
        if (p.active[i] == id) {
            p.active[i] = p.active[--p.activeCount];
            break;
        }
    }
}

void StartStream(VgmPlayer& p, uint8_t id, uint32_t start, uint32_t length, bool loop,
                 bool reverse) {
    DacStream& s = p.streams[id];
    s.start = start;
    s.length = length;
    s.loop = loop;
    s.reverse = reverse;
    s.played = 0;
    s.timeBase = p.songSample;
    s.ticks = 0;
    if (!s.playing && s.toDac && length != 0 && s.frequency != 0) {
        p.active[p.activeCount++] = id;
        s.playing = true;
    } else if (s.playing && (!s.toDac || length == 0 || s.frequency == 0)) {
        StopStream(p, id);
    }
}

// The bank byte of the stream's byte number `n` of its run; false past the
// bank's end.
bool StreamByte(const VgmPlayer& p, const DacStream& s, int64_t n, uint8_t* byte) {
    const int64_t index = s.reverse ? s.length - 1 - n : n;
    const uint64_t at = static_cast<uint64_t>(s.start) + s.stepBase +
                        static_cast<uint64_t>(index) * (s.stepSize == 0 ? 1 : s.stepSize);
    if (at >= p.bankSize) return false;
    *byte = p.bank[at];
    return true;
}

// Song time of the stream's next byte.
int64_t NextStreamSample(const DacStream& s) {
    return s.timeBase + s.ticks * kVgmSampleRate / s.frequency;
}

// Queues the DAC bytes the streams write before song sample `until`, at most
// until the stretch's queue is full. Returns the song time reached: `until`,
// or the time of the first byte that did not fit.
int64_t RunStreams(VgmPlayer& p, int64_t until) {
    int64_t reached = until;
    for (int32_t i = 0; i < p.activeCount;) {
        DacStream& s = p.streams[p.active[i]];
        bool stopped = false;
        for (int64_t t = NextStreamSample(s); t < reached; t = NextStreamSample(s)) {
            if (p.queued >= kMaxStretchBytes) {
                reached = t;
                break;
            }
            int64_t n = s.played;
            if (s.loop) n %= s.length;
            uint8_t byte = 0;
            if (n >= s.length || !StreamByte(p, s, n, &byte)) {
                stopped = true;
                break;
            }
            fmChip.QueuePcmAt(static_cast<uint32_t>(FrameOf(p, t) - p.framesDone), byte);
            ++p.queued;
            ++s.played;
            ++s.ticks;
        }
        if (stopped) {
            StopStream(p, p.active[i]);
        } else {
            ++i;
        }
    }
    return reached;
}

void StreamCommand(VgmPlayer& p, const uint8_t* c) {
    const uint8_t id = c[1];
    DacStream& s = p.streams[id];
    switch (c[0]) {
        case kCmdStreamSetup:  // 90 ss tt pp cc
            s.toDac = c[2] == kStreamChipYm2612 && c[3] == 0 && c[4] == fm_reg::kPcmData;
            if (!s.toDac) StopStream(p, id);
            break;
        case kCmdStreamData:  // 91 ss dd ll bb: only the YM2612 PCM bank is ours
            s.stepSize = c[3];
            s.stepBase = c[4];
            if (c[2] != kBlockYm2612Pcm) s.toDac = false;
            break;
        case kCmdStreamFrequency: {  // 92 ss ffffffff
            uint32_t frequency = Le32(c + 2);
            s.frequency = frequency > kMaxStreamFrequency ? kMaxStreamFrequency : frequency;
            // The byte clock counts anew from here at the new rate; the run
            // goes on where it is.
            s.timeBase = p.songSample;
            s.ticks = 0;
            if (s.frequency == 0) StopStream(p, id);
            break;
        }
        case kCmdStreamStart: {  // 93 ss aaaaaaaa mm llllllll
            const uint32_t offset = Le32(c + 2);
            const uint8_t mode = c[6];
            const uint32_t count = Le32(c + 7);
            const uint32_t start = offset == kKeepOffset ? s.start : offset;
            const uint32_t step = s.stepSize == 0 ? 1 : s.stepSize;
            uint32_t length = s.length;
            switch (mode & 3) {
                case kLengthAsBefore:
                    break;
                case kLengthBytes:
                    length = count;
                    break;
                case kLengthMs:
                    length =
                        static_cast<uint32_t>(static_cast<uint64_t>(count) * s.frequency / 1000);
                    break;
                case kLengthToEnd:
                    length = start < p.bankSize ? (p.bankSize - start) / step : 0;
                    break;
            }
            StartStream(p, id, start, length, (mode & kStartLoop) != 0,
                        (mode & kStartReverse) != 0);
            break;
        }
        case kCmdStreamStop:  // 94 ss
            if (id == kStreamAll) {
                while (p.activeCount > 0)
                    StopStream(p, p.active[0]);
            } else {
                StopStream(p, id);
            }
            break;
        case kCmdStreamFastStart: {  // 95 ss bbbb ff
            const uint32_t block = Le16(c + 2);
            if (block >= p.blockCount) break;
            const uint32_t step = s.stepSize == 0 ? 1 : s.stepSize;
            const uint32_t size = p.blockStart[block + 1] - p.blockStart[block];
            StartStream(p, id, p.blockStart[block], size / step, (c[4] & kFastLoop) != 0,
                        (c[4] & kFastReverse) != 0);
            break;
        }
    }
}

// ---- The interpreter -------------------------------------------------------------

// Whether a write at the current song time must wait for the gathered
// stretch to be rendered first.
bool StretchOpen(const VgmPlayer& p) {
    return FrameOf(p, p.songSample) > p.framesDone;
}

void EndOfPass(VgmPlayer& p) {
    if (p.loopStart != 0) {
        p.readPos = p.loopStart;
        p.loopCounter = WrapAdd(p.loopCounter, 1);
    } else {
        p.ended = true;
    }
}

// Gathers the next stretch: applies the writes due now, then passes song
// time until a write, a fade step, a full queue or the stretch's limit ends
// it. Sets pendingFrames; false when the song has ended.
bool GatherStretch(VgmPlayer& p) {
    if (p.fadeStepDue) {
        p.fadeStepDue = false;
        // A fade that has come to its end ends the song at this step, as a
        // GYM's ends at the frame it finds it: the rest of a wait is not played.
        if (StepFade(p)) {
            p.ended = true;
            p.waitLeft = 0;
        }
    }
    p.queued = 0;
    const int64_t stretchStart = p.songSample;
    for (;;) {
        if (p.waitLeft > 0) {
            int64_t until = p.songSample + p.waitLeft;
            bool gridEnd = false;
            // Once the last jump back has been made, stretches end on the
            // fade's steps, so that a fade starting at the end of a render
            // call takes its first step at the next one, however long the
            // wait it falls in.
            if (p.fadeAcc != 0 || (p.loopLimit != 0 && p.loopCounter >= p.loopLimit)) {
                const int64_t step = (p.songSample / kFadeStepSamples + 1) * kFadeStepSamples;
                if (step <= until) {
                    until = step;
                    gridEnd = true;
                }
            }
            if (until > stretchStart + kMaxStretchSamples) {
                until = stretchStart + kMaxStretchSamples;
                gridEnd = false;
            }
            if (p.seekSample > p.songSample && until > p.seekSample) {
                until = p.seekSample;  // a seek lands where it was asked to
                gridEnd = false;
            }
            const int64_t reached = RunStreams(p, until);
            if (reached < until) gridEnd = false;
            p.waitLeft -= static_cast<uint32_t>(reached - p.songSample);
            p.songSample = reached;
            // The step is taken when the next stretch is gathered: a fade
            // that started meanwhile steps there (StepFade does nothing
            // without one).
            if (gridEnd) p.fadeStepDue = true;
            if (gridEnd || reached < until || reached == stretchStart + kMaxStretchSamples ||
                reached == p.seekSample)
                break;
            continue;
        }
        if (p.ended) break;
        const bool atEnd = p.readPos >= p.dataEnd;
        const uint32_t length = atEnd ? 0 : CommandLength(p.file, p.readPos, p.dataEnd);
        if (length == 0 || p.file[p.readPos] == kCmdEnd) {
            // A jump back waits until the pass's last wait has been rendered,
            // as a GYM's does: the loop limit is looked at between render
            // calls, and the pass must not be cut short there. The jump also
            // ends the stretch, so that a loop without writes does not run
            // on for a whole stretch of passes.
            if (p.loopStart != 0 && StretchOpen(p)) break;
            EndOfPass(p);
            continue;
        }
        const uint8_t* c = p.file + p.readPos;
        const bool dacByte = (c[0] == kCmdFmPort0 && c[1] == fm_reg::kPcmData) ||
                             (c[0] >= kCmdBankToDac && c[0] <= 0x8F);
        const bool write = c[0] == kCmdPsg || c[0] == kCmdFmPort0 || c[0] == kCmdFmPort1;
        if (write && !dacByte && StretchOpen(p)) break;      // render up to the write first
        if (dacByte && p.queued >= kMaxStretchBytes) break;  // the queue is full
        switch (c[0]) {
            case kCmdPsg:  // 50 dd
                if (p.psgClock != 0) PsgWrite(c[1]);
                break;
            case kCmdFmPort0:  // 52 aa dd
                if (p.fmClock == 0) break;
                if (dacByte) {
                    fmChip.QueuePcmAt(
                        static_cast<uint32_t>(FrameOf(p, p.songSample) - p.framesDone), c[2]);
                    ++p.queued;
                } else {
                    fmChip.WriteRegister(c[1], c[2]);
                }
                break;
            case kCmdFmPort1:  // 53 aa dd
                if (p.fmClock != 0) fmChip.WriteRegister(fm_reg::kPort1 + c[1], c[2]);
                break;
            case kCmdBankSeek:  // E0 pppppppp
                p.bankPos = Le32(c + 1);
                break;
            case kCmdStreamSetup:
            case kCmdStreamData:
            case kCmdStreamFrequency:
            case kCmdStreamStart:
            case kCmdStreamStop:
            case kCmdStreamFastStart:
                StreamCommand(p, c);
                break;
            default:
                if (c[0] >= kCmdBankToDac && c[0] <= 0x8F && p.fmClock != 0 &&
                    p.bankPos < p.bankSize) {  // 8n: a read past the bank writes nothing
                    fmChip.QueuePcmAt(
                        static_cast<uint32_t>(FrameOf(p, p.songSample) - p.framesDone),
                        p.bank[p.bankPos]);
                    ++p.queued;
                }
                if (c[0] >= kCmdBankToDac && c[0] <= 0x8F) ++p.bankPos;
                break;
        }
        p.waitLeft += WaitOf(c);
        p.readPos += length;
    }
    p.pendingFrames = FrameOf(p, p.songSample) - p.framesDone;
    return !(p.ended && p.pendingFrames == 0 && p.waitLeft == 0);
}

// ---- Operations ----------------------------------------------------------------

void Halt(SongPlayer* player) {
    VgmPlayer& p = Vgm(player);
    p.loopCounter = 0;
    p.running = 0;
    p.pendingFrames = 0;
    p.ended = true;
}

void Start(SongPlayer* player) {
    VgmPlayer& p = Vgm(player);
    ResetLevelsAndFade(p);
    // A chip the song lacks is clocked as for a GYM song and never written.
    PowerOnChips(p.fmClock != 0 ? p.fmClock : kFmSongClock,
                 p.psgClock != 0 ? p.psgClock : kPsgSongClock, p.outputRate, p.frequencyCode);
    p.readPos = p.dataStart;
    p.songSample = 0;
    p.framesDone = 0;
    p.pendingFrames = 0;
    p.waitLeft = 0;
    p.queued = 0;
    p.fadeStepDue = false;
    p.seekSample = -1;
    p.ended = false;
    p.bankPos = 0;
    p.activeCount = 0;
    std::memset(p.streams, 0, sizeof p.streams);
    p.running = 1;
}

// With a buffer: fills exactly `count` stereo frames. Without one: drops
// stretches until the song time reaches `count` ms.
void Render(SongPlayer* player, int16_t* buffer, int32_t count) {
    VgmPlayer& p = Vgm(player);
    if (buffer != nullptr && count < 0) count = 0;
    if (p.running == 0) {
        if (buffer != nullptr) std::memset(buffer, 0, 4 * static_cast<size_t>(count));
        return;
    }
    if (buffer != nullptr) ApplyChangedLevels(p);
    for (;;) {
        if (buffer != nullptr && count == 0) break;
        if (p.pendingFrames == 0) {
            if (!GatherStretch(p)) {
                if (buffer != nullptr) std::memset(buffer, 0, 4 * static_cast<size_t>(count));
                Halt(player);
                return;
            }
            if (p.pendingFrames == 0) continue;
            if (buffer != nullptr) fmChip.BeginPcmStretch(static_cast<uint32_t>(p.pendingFrames));
        }
        if (buffer == nullptr) {
            // The stretch is dropped, and the DAC bytes it queued with it.
            p.framesDone += p.pendingFrames;
            p.pendingFrames = 0;
            fmChip.DiscardPcmQueue();
            // A seek past the last jump back lands in the fade, or past the end.
            if (ReachedLoopLimit(p)) {
                Halt(player);
                return;
            }
            if (p.songSample * 1000 >= static_cast<int64_t>(count) * kVgmSampleRate) break;
            continue;
        }
        // The chips are mixed in pieces that end on the 60 Hz frame grid, as
        // the GYM player's do: the FM chip looks at which channels sound at
        // the start of each piece.
        int64_t n = p.pendingFrames < count ? p.pendingFrames : count;
        const int64_t toGrid = NextGridFrame(p) - p.framesDone;
        if (n > toGrid) n = toGrid;
        if (n > kMaxMixFrames) n = kMaxMixFrames;
        MixChunk(buffer, static_cast<int32_t>(n));
        p.pendingFrames -= n;
        p.framesDone += n;
        count -= static_cast<int32_t>(n);
        buffer += 2 * n;
    }
    if (ReachedLoopLimit(p)) Halt(player);
}

int32_t PositionMs(SongPlayer* player) {
    return static_cast<int32_t>(Vgm(player).songSample * 1000 / kVgmSampleRate);
}

// Seeking replays the writes without mixing; the DAC bytes on the way are
// dropped rather than played in a burst.
void Seek(SongPlayer* player, int32_t ms) {
    VgmPlayer& p = Vgm(player);
    if (p.running == 0 || PositionMs(player) > ms) Start(player);
    p.seekSample = (static_cast<int64_t>(ms) * kVgmSampleRate + 999) / 1000;
    Render(player, nullptr, ms);
    p.seekSample = -1;
    fmChip.DiscardPcmQueue();
}

void Destroy(SongPlayer* player) {
    FreeVgm(static_cast<VgmPlayer*>(player));
}

int32_t LoopsDone(SongPlayer* player) {
    return Vgm(player).loopCounter;
}

int32_t IsRunning(SongPlayer* player) {
    return Vgm(player).running;
}

void Describe(SongPlayer* player, SongFacts* facts) {
    VgmPlayer& p = Vgm(player);
    facts->title = p.title;
    facts->lengthMs = static_cast<int32_t>(p.passSamples * 1000 / kVgmSampleRate);
    facts->form = p.form;
    // The loop point as a GYM gives it, in 60 Hz frames of song time (the
    // nearest, and at least 1 for a song that loops: 0 says it does not).
    if (p.loopStart == 0) {
        facts->loop = 0;
    } else {
        const int64_t loopSample = p.passSamples - SamplesToEnd(p.file, p.loopStart, p.dataEnd);
        const int64_t frames = (loopSample + kNtscWait / 2) / kNtscWait;
        facts->loop = frames < 1 ? 1u : static_cast<uint32_t>(frames);
    }
    const int64_t looped = p.loopStart != 0 ? SamplesToEnd(p.file, p.loopStart, p.dataEnd) : 0;
    facts->playMs = PlayedMs(p, p.passSamples, looped, kVgmSampleRate, BlockFrames(p.outputRate));
    facts->fmClockHz = p.fmChipClock;
    facts->psgClockHz = static_cast<uint32_t>(p.psgClock);
}

const PlayerOps vgmPlayerOps = {
    Start,            // start
    Render,           // render
    TakeFrequency,    // sampleRate
    Halt,             // halt
    Destroy,          // destroy
    Seek,             // seek
    PositionMs,       // positionMs
    PrioritySetting,  // threadPriority
    LoopsDone,        // loopsDone
    IsRunning,        // isRunning
    Describe,         // describe
};

SongPlayer* LoadVgmSong(SongSource* source) {
    return LoadVgm(source, vgmPlayerOps);
}

int RecognisesVgm(const uint8_t* bytes, uint32_t size) {
    if (size >= 4 && std::memcmp(bytes, "Vgm ", 4) == 0) return 1;
    return size >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B ? 1 : 0;
}

const FileType vgmFileTypeTable[] = {
    {"VGM;VGZ", "Video game music file (*.VGM;*.VGZ)"},
    {nullptr, nullptr},
};
const char* const vgmNameEndingTable[] = {nullptr};
const char* const vgmCompanionTable[] = {nullptr};

}  // namespace

const SongFormat vgmFormat = {
    "VGM",
    "VGM video game music file",
    false,
    vgmFileTypeTable,
    vgmNameEndingTable,
    vgmCompanionTable,
    RecognisesVgm,
    LoadVgmSong,
};
