// Song builder: makes GYM command streams, GYMX files (stored or zlib body),
// ".GYI" info files and ZIP archives in memory, and writes them to fresh temp
// files, so that tests and the demo can make every form of song from code.
//
// GYM command stream (one command byte, then its operands):
//   00          frame marker, 1/60 s
//   01 rr dd    FM port 0 register rr (address 0x000-0x0FF) <- dd
//   02 rr dd    FM port 1 register rr (address 0x100-0x1FF) <- dd
//   03 dd       PSG data port <- dd
//   04-FF       end of stream
//
// GYMX header, 428 bytes, integers little-endian:
//   0    4   "GYMX"
//   4    32  text shown in brackets (NUL-padded; 32 bytes need no NUL)
//   36   32  text shown first
//   68   352 unused, zero here
//   420  4   loop frame, 0 = no loop
//   424  4   unpacked body size, 0 = body stored as is
//   428  ..  body
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

class SongBuilder {
public:
    // Appends `count` frame markers (00); count <= 0 appends nothing.
    SongBuilder& Frame(int count = 1);
    // Appends an FM write: addresses 0x000-0x0FF as 01 rr dd, 0x100-0x1FF as
    // 02 rr dd; bits above 0x1FF are ignored.
    SongBuilder& Fm(uint32_t address, uint8_t data);
    // Appends a PSG write, 03 dd.
    SongBuilder& Psg(uint8_t data);
    // Appends the bytes as they are (cut commands, end markers, garbage).
    SongBuilder& Raw(std::initializer_list<uint8_t> bytes);
    SongBuilder& Raw(const std::vector<uint8_t>& bytes);

    const std::vector<uint8_t>& Bytes() const;

private:
    std::vector<uint8_t> bytes;  // the command stream so far
};

// A GYMX file: header with the two title texts (each cut at 32 bytes), the
// loop frame, and the body either stored (size field 0) or as one zlib stream
// with the body's size in the size field. An empty body is always stored,
// since a size of 0 means "stored".
std::vector<uint8_t> MakeGymx(const std::vector<uint8_t>& body,
                              const std::string& shownFirst /* at 36 */,
                              const std::string& inBrackets /* at 4 */, uint32_t loopFrame,
                              bool compress);

// An info file: title + lineEnd, then, when loopLine is not empty,
// loopLine + lineEnd. The texts are taken byte for byte (NULs included).
std::vector<uint8_t> MakeGyi(const std::string& title, const std::string& loopLine,
                             const std::string& lineEnd = "\r\n");

struct ZipEntry {
    std::string name;           // entry name, bytes as given
    std::vector<uint8_t> data;  // uncompressed contents
    bool deflate = true;        // raw deflate (method 8), else stored (method 0)
    // Damage on request: written into both headers instead of the true value.
    std::optional<uint32_t> claimedSize{};        // uncompressed size, bytes
    std::optional<uint32_t> claimedCrc{};         // CRC-32 of the contents
    std::optional<uint32_t> claimedPackedSize{};  // compressed size, bytes
};

// A ZIP archive in memory: local headers and data in entry order, then the
// central directory in the same order, then the end record. No extra fields,
// no comments, no data descriptors.
std::vector<uint8_t> MakeZip(const std::vector<ZipEntry>& entries);

// Writes the bytes to the path, replacing the file; true on success.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// zlib's deflate of `data` at its best compression; `windowBits` as zlib
// takes them (-15 raw, 15 with the zlib wrapper, 31 gzip). Empty on failure.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int windowBits);

// Sets a little-endian 32-bit value at `offset` (the vector grows if needed).
void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// A path `name` inside this process's own temp folder: made fresh on first
// use (no earlier run's files are in it) and removed when the process ends.
// Separators are '/', which the Win32 file calls accept too.
std::string TempPath(const std::string& name);

// A new, empty folder inside the process's temp folder, ending in '/'; for
// tests that need files of the same name side by side without clashing.
std::string TempDir();
