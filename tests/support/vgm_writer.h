// VGM writer: makes VGM files (and their gzip form, ".vgz") in memory for the
// tests, one command at a time or converted from a GYM command stream, with
// any header field set by hand and any damage on request.
//
// File layout, integers little-endian:
//   header    "Vgm ", then the fields below; 0x100 bytes from version 1.50 on,
//             0x40 before (commands start at 0x40 there)
//   commands  from the data offset to the end-of-data command 66
//   GD3 tag   "Gd3 ", version 0x100, string bytes, 11 UTF-16LE strings each
//             ended by a 0 character
//
// Header fields written here (offsets from the start of the file):
//   0x04 u32  end-of-file offset, file size - 4
//   0x08 u32  version, BCD (0x171 = 1.71)
//   0x0C u32  SN76489 clock, Hz
//   0x10 u32  YM2413 clock; before 1.10 the YM2612 clock stands here
//   0x14 u32  GD3 offset, from 0x14; 0 = no tag
//   0x18 u32  samples in all (44,100 a second)
//   0x1C u32  loop offset, from 0x1C; 0 = no loop
//   0x20 u32  samples in one pass of the loop
//   0x24 u32  rate, 60 or 50
//   0x28 u16  SN76489 feedback pattern   } from 1.10 on
//   0x2A u8   SN76489 shift register bits }
//   0x2B u8   SN76489 flags               }
//   0x2C u32  YM2612 clock                }
//   0x30 u32  YM2151 clock                }
//   0x34 u32  data offset, from 0x34 (from 1.50 on)
//   0x7C u8   volume modifier
//   0x7E s8   loop base
//   0x7F u8   loop modifier
//
// Commands (operands little-endian):
//   4F dd               Game Gear PSG stereo
//   50 dd               PSG write
//   52 aa dd / 53 aa dd YM2612 port 0 / port 1 register aa <- dd
//   61 nnnn             wait n samples
//   62 / 63             wait 735 / 882 samples (1/60 s, 1/50 s)
//   66                  end of data
//   67 66 tt ssssssss   data block of type tt, s bytes follow; 00 = YM2612 PCM
//   7n                  wait n + 1 samples
//   8n                  YM2612 register 2A <- next byte of the PCM bank, then
//                       wait n samples
//   90-95               DAC streams (see the Stream appenders)
//   E0 pppppppp         PCM bank read position <- p
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

constexpr uint32_t kVgmSampleRate = 44100;    // samples a second of every wait
constexpr uint32_t kVgmFrame60 = 735;         // samples of 1/60 s, command 62
constexpr uint32_t kVgmFrame50 = 882;         // samples of 1/50 s, command 63
constexpr uint32_t kVgmVersion = 0x171;       // written unless told otherwise
constexpr uint8_t kVgmBlockFmPcm = 0x00;      // data block type: YM2612 PCM bank
constexpr uint8_t kVgmStreamChipFm = 0x02;    // stream chip type: YM2612
constexpr uint8_t kVgmLengthIgnore = 0x00;    // stream start length modes
constexpr uint8_t kVgmLengthCommands = 0x01;  //   (low two bits)
constexpr uint8_t kVgmLengthMs = 0x02;        //
constexpr uint8_t kVgmLengthToEnd = 0x03;     //
constexpr uint8_t kVgmLengthReverse = 0x10;   //   ORed in: play backwards
constexpr uint8_t kVgmLengthLoop = 0x80;      //   ORed in: loop
constexpr uint8_t kVgmFastStartLoop = 0x01;   // stream fast start flags
constexpr uint8_t kVgmFastStartReverse = 0x10;

// The GD3 tag's strings, UTF-8 here, UTF-16LE in the file, in file order.
struct VgmTag {
    std::string trackEnglish, trackJapanese;
    std::string gameEnglish, gameJapanese;
    std::string systemEnglish, systemJapanese;
    std::string authorEnglish, authorJapanese;
    std::string releaseDate;
    std::string ripper;
    std::string notes;
};

class VgmWriter {
public:
    // ---- Header ----
    // The version, BCD. Decides where the YM2612 clock goes (0x10 before
    // 1.10, 0x2C from then on), whether 0x28-0x33 are written (from 1.10 on)
    // and the default data offset (0x40 before 1.50, else 0x100).
    VgmWriter& Version(uint32_t bcd);
    // Where the commands start, from the start of the file; at least 0x40.
    // Written at 0x34 whatever the version. Fields at or past it are left
    // out of the header.
    VgmWriter& DataOffset(uint32_t offset);
    VgmWriter& PsgClock(uint32_t hz);
    VgmWriter& FmClock(uint32_t hz);  // YM2612
    VgmWriter& Ym2413Clock(uint32_t hz);
    VgmWriter& Ym2151Clock(uint32_t hz);
    VgmWriter& Rate(uint32_t hz);
    // 0x0009, 16 and 0 unless set.
    VgmWriter& PsgShape(uint16_t feedback, uint8_t shiftWidth, uint8_t flags);
    VgmWriter& VolumeModifier(uint8_t value);
    VgmWriter& LoopBase(int8_t value);
    VgmWriter& LoopModifier(uint8_t value);
    // A GD3 tag after the commands; none unless set.
    VgmWriter& Tag(const VgmTag& tag);
    // Lies: these values instead of the samples the waits add up to.
    VgmWriter& TotalSamples(uint32_t samples);
    VgmWriter& LoopSamples(uint32_t samples);
    // Damage of any other kind: the bytes written over the finished file at
    // `offset` (absolute), growing it when they reach past its end. Applied
    // in the order given, after every computed field.
    VgmWriter& Patch(size_t offset, const std::vector<uint8_t>& bytes);
    VgmWriter& Patch32(size_t offset, uint32_t value);

    // ---- Commands ----
    VgmWriter& Psg(uint8_t data);               // 50 dd
    VgmWriter& GameGearStereo(uint8_t data);    // 4F dd
    VgmWriter& Fm0(uint8_t reg, uint8_t data);  // 52 aa dd
    VgmWriter& Fm1(uint8_t reg, uint8_t data);  // 53 aa dd
    // Waits `samples` in the fewest bytes: 62, 63, 7n or 61 nnnn (several of
    // these when it takes more than 65535); nothing for 0.
    VgmWriter& Wait(uint32_t samples);
    VgmWriter& WaitLong(uint16_t samples);  // 61 nnnn, even for 0 or 735
    VgmWriter& WaitFrame60();               // 62
    VgmWriter& WaitFrame50();               // 63
    VgmWriter& WaitShort(int samples);      // 7n, samples 1-16 (taken mod 16)
    VgmWriter& End();                       // 66
    VgmWriter& DataBlock(uint8_t type, const std::vector<uint8_t>& data);
    VgmWriter& DacFromBank(int wait);        // 8n, wait 0-15 (taken mod 16)
    VgmWriter& SeekBank(uint32_t position);  // E0 pppppppp
    // DAC streams, each command as in the file, operands in file order.
    // 90 ss tt pp cc: stream ss feeds chip type tt, port pp, register cc.
    VgmWriter& StreamSetup(uint8_t stream, uint8_t chipType, uint8_t port, uint8_t reg);
    // 91 ss dd ll bb: from data bank dd, step size ll, step base bb.
    VgmWriter& StreamData(uint8_t stream, uint8_t bank, uint8_t stepSize, uint8_t stepBase);
    // 92 ss ffffffff: bytes a second.
    VgmWriter& StreamFrequency(uint8_t stream, uint32_t hz);
    // 93 ss aaaaaaaa mm llllllll: start at bank offset a; length mode m.
    VgmWriter& StreamStart(uint8_t stream, uint32_t offset, uint8_t lengthMode, uint32_t length);
    // 94 ss: stop; 0xFF stops them all.
    VgmWriter& StreamStop(uint8_t stream);
    // 95 ss bbbb ff: start data block b; flags ff.
    VgmWriter& StreamFastStart(uint8_t stream, uint16_t block, uint8_t flags);
    // The bytes as they are: other chips' commands, cut commands, garbage.
    // Their waits, if any, are not counted.
    VgmWriter& Raw(std::initializer_list<uint8_t> bytes);
    VgmWriter& Raw(const std::vector<uint8_t>& bytes);
    // The loop starts at the next command appended (the last mark counts).
    VgmWriter& MarkLoop();

    // The whole file: header, commands as appended (no 66 unless End was
    // called), then the tag. Samples in all and in the loop are those of the
    // counted waits (8n's included) unless overridden.
    std::vector<uint8_t> Bytes() const;

private:
    uint32_t version = kVgmVersion;
    uint32_t dataOffset = 0;  // 0 = the version's own
    uint32_t psgClock = 0, fmClock = 0, ym2413Clock = 0, ym2151Clock = 0;
    uint32_t rate = 0;
    uint16_t psgFeedback = 0x0009;
    uint8_t psgShiftWidth = 16;
    uint8_t psgFlags = 0;
    uint8_t volumeModifier = 0;
    int8_t loopBase = 0;
    uint8_t loopModifier = 0;
    bool hasTag = false;
    VgmTag tag;
    bool totalSamplesSet = false, loopSamplesSet = false;
    uint32_t totalSamplesClaimed = 0, loopSamplesClaimed = 0;
    struct PatchBytes {
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    std::vector<PatchBytes> patches;

    std::vector<uint8_t> commands;  // from the data offset on
    uint64_t samples = 0;           // counted waits so far
    bool looped = false;
    size_t loopPos = 0;      // in `commands`
    uint64_t loopStart = 0;  // `samples` at the loop mark
};

// A gzip stream of the bytes (the ".vgz" form); empty on failure.
std::vector<uint8_t> Gzip(const std::vector<uint8_t>& data);

// A GYM file's command stream and loop frame: a GYMX file has its header taken
// off and a zlib body inflated; anything else is taken as a plain stream.
struct GymLog {
    std::vector<uint8_t> commands;
    uint32_t loopFrame = 0;  // 0 = no loop
    bool ok = false;         // false: a GYMX header cut short or a bad body
};
GymLog UnpackGym(const std::vector<uint8_t>& file);

// How VgmFromGym writes the DAC's sample writes (port 0 register 0x2A).
enum class DacForm {
    writes,  // 52 2A dd where the log has them
    bank,    // every byte, in play order, in one type-00 data block before
             // the first command; each write an 8n taking the next byte
};

struct GymConversion {
    uint32_t loopFrame = 0;  // the log's loop frame; 0 = no loop
    DacForm dac = DacForm::writes;
    // Bank form only: samples (0-15) of a frame's wait that a DAC write right
    // before it carries in its 8n, the wait command keeping the rest. 0 keeps
    // the wait commands byte for byte those of the plain form.
    int dacCarry = 0;
};

// The GYM command stream as the GYM player times it, in a VGM of version
// 1.71: YM2612 at 7,670,442 Hz, SN76489 at 3,579,530 Hz, rate 60, no tag.
//
// Writes are copied (01 -> 52, 02 -> 53, 03 -> 50) and a 735-sample wait
// (62) stands wherever the player releases a frame: a frame marker releases
// the frame held before it (none at the first) and holds its own; a port-0
// write to 0x27 with bit 4 or 5 set releases the held frame right after
// itself, leaving none held; the end of the stream (04-FF, or a command cut
// short) releases the last one. The VGM ends with 66.
//
// Loop frame L: the player jumps back to the byte after marker L (when a
// marker follows it; otherwise it does not loop), with nothing held. The
// first pass there holds marker L's frame and the loop passes do not, so the
// first release after marker L adds a wait only on the first pass. The loop
// point goes right after that first wait, and the writes between marker L
// and it are written once more after the last release, before 66: every pass
// plays those writes at the instant the pass before ended, as the player
// does. The one difference: after the final pass the VGM plays those writes
// once more, at the very end, with no time after them. When the bank holds
// bytes, an E0 right after the loop point sets its read position back to the
// loop pass's first byte (the repeated writes have their own copies at the
// bank's end).
//
// Returned unfinished so that a test can add a tag or lies before Bytes().
VgmWriter VgmFromGym(const std::vector<uint8_t>& gymCommands, const GymConversion& conversion = {});
