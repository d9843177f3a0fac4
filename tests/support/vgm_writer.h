// VGM writer: makes VGM files (and their gzip form, ".vgz") in memory for the
// tests, benches and fuzz seeds, command by command or from a GYM log.
//
// A file is the header (0x100 bytes from version 1.50 on, 0x40 before), the
// commands from the data offset on, then an optional GD3 tag: "Gd3 ", version
// 0x100, string bytes, 11 UTF-16LE strings each ended by a 0 character.
//
// Header fields, little-endian, left out when at or past the data offset:
//   0x00 "Vgm "    0x04 file size - 4     0x08 version, BCD (0x171 = 1.71)
//   0x0C PSG clock, Hz                    0x10 YM2612 clock before 1.10
//   0x14 GD3 offset, from 0x14; 0 = none  0x18 samples in all (44,100 a second)
//   0x1C loop offset, from 0x1C; 0 = none 0x20 samples in one pass of the loop
//   0x24 rate, Hz                         0x28 PSG: feedback 9, 16-bit, no flags (1.10 on)
//   0x2C YM2612 clock from 1.10 on        0x34 data offset, from 0x34 (1.50 on, or set)
//   0x7C volume modifier  0x7E loop base  0x7F loop modifier
//
// Commands (operands little-endian):
//   4F dd               Game Gear PSG stereo
//   50 dd               PSG write
//   52 aa dd / 53 aa dd YM2612 port 0 / port 1 register aa <- dd
//   61 nnnn, 62, 63, 7n wait n, 735, 882, n + 1 samples
//   66                  end of data
//   67 66 tt ssssssss   data block of type tt (00 = YM2612 PCM), s bytes follow
//   8n                  YM2612 register 2A <- next byte of the PCM bank, then
//                       wait n samples
//   90 ss tt pp cc      DAC stream ss feeds chip type tt (02 = YM2612), port
//                       pp, register cc
//   91 ss dd ll bb      stream ss reads data bank dd, step size ll, base bb
//   92 ss ffffffff      stream ss plays f bytes a second
//   93 ss aaaaaaaa mm llllllll  stream ss starts at bank offset a, length
//                       mode m (01 = l commands; 80 ORed in = loop)
//   95 ss bbbb ff       stream ss starts data block b, flags ff
//   E0 pppppppp         PCM bank read position <- p
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr uint8_t kVgmLengthCommands = 0x01;  // stream start length mode
constexpr uint8_t kVgmLengthLoop = 0x80;      //   ORed in: loop

// The GD3 tag's strings in file order, UTF-8 here, UTF-16LE in the file.
struct VgmTag {
    std::string trackEnglish{}, trackJapanese{}, gameEnglish{}, gameJapanese{}, systemEnglish{},
        systemJapanese{}, authorEnglish{}, authorJapanese{}, releaseDate{}, ripper{}, notes{};
};

class VgmWriter {
public:
    // ---- Header ----
    // The version decides where the YM2612 clock goes (0x10 before 1.10) and
    // the default data offset (0x40 before 1.50, else 0x100).
    VgmWriter& Version(uint32_t bcd) { return Set(version, bcd); }
    // Where the commands start (at least 0x40), written at 0x34 whatever the version.
    VgmWriter& DataOffset(uint32_t offset) {
        return Set(dataOffset, offset < 0x40 ? 0x40 : offset);
    }
    VgmWriter& PsgClock(uint32_t hz) { return Set(psgClock, hz); }
    VgmWriter& FmClock(uint32_t hz) { return Set(fmClock, hz); }  // YM2612
    VgmWriter& Rate(uint32_t hz) { return Set(rate, hz); }
    VgmWriter& VolumeModifier(uint8_t value) { return Set(volumeModifier, value); }
    VgmWriter& LoopBase(int8_t value) { return Set(loopBase, static_cast<uint8_t>(value)); }
    VgmWriter& LoopModifier(uint8_t value) { return Set(loopModifier, value); }
    // A GD3 tag after the commands; none unless set.
    VgmWriter& Tag(const VgmTag& value) { return Set(tag, std::optional<VgmTag>(value)); }

    // ---- Commands ----
    VgmWriter& GameGearStereo(uint8_t data) { return Raw({0x4F, data}); }
    VgmWriter& Psg(uint8_t data) { return Raw({0x50, data}); }
    VgmWriter& Fm0(uint8_t reg, uint8_t data) { return Raw({0x52, reg, data}); }
    VgmWriter& Fm1(uint8_t reg, uint8_t data) { return Raw({0x53, reg, data}); }
    // Waits in the fewest bytes: 62, 63, 7n or 61 nnnn (several of these past
    // 65535 samples); nothing for 0.
    VgmWriter& Wait(uint32_t samples);
    VgmWriter& End() { return Raw({0x66}); }
    VgmWriter& DataBlock(uint8_t type, const std::vector<uint8_t>& data);
    VgmWriter& DacFromBank(int wait);  // 8n, wait 0-15 (taken mod 16)
    VgmWriter& SeekBank(uint32_t position) { return Raw({0xE0}).Le(position, 4); }
    // DAC streams, 90-93 and 95, operands in file order.
    VgmWriter& StreamSetup(uint8_t stream, uint8_t chipType, uint8_t port, uint8_t reg) {
        return Raw({0x90, stream, chipType, port, reg});
    }
    VgmWriter& StreamData(uint8_t stream, uint8_t bank, uint8_t stepSize, uint8_t stepBase) {
        return Raw({0x91, stream, bank, stepSize, stepBase});
    }
    VgmWriter& StreamFrequency(uint8_t stream, uint32_t hz) {
        return Raw({0x92, stream}).Le(hz, 4);
    }
    VgmWriter& StreamStart(uint8_t stream, uint32_t offset, uint8_t lengthMode, uint32_t length) {
        return Raw({0x93, stream}).Le(offset, 4).Raw({lengthMode}).Le(length, 4);
    }
    VgmWriter& StreamFastStart(uint8_t stream, uint16_t block, uint8_t flags) {
        return Raw({0x95, stream}).Le(block, 2).Raw({flags});
    }
    // The bytes as they are (other commands, cut commands, garbage); their
    // waits are not counted.
    VgmWriter& Raw(const std::vector<uint8_t>& bytes) {
        commands.insert(commands.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // The loop starts at the next command appended (the last mark counts).
    VgmWriter& MarkLoop();

    // The whole file: header, commands as appended (no 66 unless End was
    // called), then the tag. Samples in all and in the loop are those of
    // Wait and DacFromBank.
    std::vector<uint8_t> Bytes() const;

private:
    template <typename Field>
    VgmWriter& Set(Field& field, Field value) {
        field = value;
        return *this;
    }
    VgmWriter& Le(uint32_t value, int bytes);  // appends `bytes` bytes of it

    uint32_t version = 0x171, dataOffset = 0;  // data offset 0: the version's own
    uint32_t psgClock = 0, fmClock = 0, rate = 0;
    uint8_t volumeModifier = 0, loopBase = 0, loopModifier = 0;
    std::optional<VgmTag> tag;
    std::vector<uint8_t> commands;  // from the data offset on
    uint64_t samples = 0;           // counted waits so far
    bool looped = false;
    size_t loopPos = 0;      // in `commands`
    uint64_t loopStart = 0;  // `samples` at the loop mark
};

// A gzip stream of the bytes (the ".vgz" form); empty on failure.
std::vector<uint8_t> Gzip(const std::vector<uint8_t>& data);

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
    // before it carries in its 8n, the wait command keeping the rest.
    int dacCarry = 0;
};

// A GYM command stream as the GYM player times it, in a VGM of version 1.71:
// YM2612 at 7,670,442 Hz, SN76489 at 3,579,530 Hz, rate 60, ending in 66.
// Writes are copied (01 -> 52, 02 -> 53, 03 -> 50) and a 735-sample wait
// stands wherever the player releases a frame: a frame marker releases the
// frame held before it (none at the first) and holds its own; a port-0 write
// to 0x27 with bit 4 or 5 set releases the held frame right after itself; the
// end of the stream (04-FF, or a command cut short) releases the last one.
//
// Loop frame L (when a marker follows marker L): the player jumps back to the
// byte after marker L with nothing held, so the first release after marker L
// waits on the first pass only. The loop point goes right after that wait,
// and the writes between marker L and it are written once more before 66,
// where every later pass plays them. In the bank form an E0 after the loop
// point sets the read position back to the loop pass's first byte.
// Returned unfinished, so that a caller can add a tag before Bytes().
VgmWriter VgmFromGym(const std::vector<uint8_t>& gymCommands, const GymConversion& conversion = {});
