// Song files that unpack to far more than they hold: the ZIP entry and GYMX
// body of many zero bytes that a loader must refuse by their stated size,
// and ones whose stated size lies. The packed data is made a piece at a
// time, so making a file of hundreds of MiB of zeros never holds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A ZIP archive whose one entry, "bomb.gym", is `zeros` zero bytes deflated,
// with `statedSize` as its uncompressed size in both headers (the true size
// when it is the same) and the true CRC of the zeros.
std::vector<uint8_t> MakeZipOfZeros(uint64_t zeros, uint32_t statedSize);

// A GYMX file whose body is `zeros` zero bytes in one zlib stream, with
// `statedSize` in the header's unpacked size.
std::vector<uint8_t> MakeGymxOfZeros(uint64_t zeros, uint32_t statedSize);

// Every bomb a loader meets, written into `folder` (ending in '/') once;
// the paths, with what each one is.
struct BombFile {
    std::string what;
    std::string path;
    bool refused;        // the load must fail
    uint32_t songBytes;  // otherwise: the command bytes it loads
};
std::vector<BombFile> WriteBombFiles(const std::string& folder);
