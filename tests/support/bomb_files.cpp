#include "bomb_files.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "song_builder.h"

namespace {

constexpr uint32_t kMiB = 1u << 20;

void AppendLe16(std::vector<uint8_t>& bytes, uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    AppendLe16(bytes, value & 0xFFFF);
    AppendLe16(bytes, value >> 16);
}

// `zeros` zero bytes deflated, raw (windowBits -15) or with zlib's wrapper
// (15), fed a MiB at a time; `*crc` (may be null) gets their CRC-32.
std::vector<uint8_t> DeflateZeros(uint64_t zeros, int windowBits, uint32_t* crc) {
    static const std::vector<uint8_t> chunk(kMiB, 0);
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out;
    uLong sum = crc32(0L, Z_NULL, 0);
    uint8_t buffer[1 << 16];
    uint64_t left = zeros;
    int flush = Z_NO_FLUSH;
    do {
        const uInt take = static_cast<uInt>(left < kMiB ? left : kMiB);
        left -= take;
        sum = crc32(sum, chunk.data(), take);
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = const_cast<Bytef*>(chunk.data());
        stream.avail_in = take;
        do {
            stream.next_out = buffer;
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    if (crc) *crc = static_cast<uint32_t>(sum);
    return out;
}

void AppendEntryFields(std::vector<uint8_t>& bytes, uint32_t crc, uint32_t packed, uint32_t size,
                       const std::string& name) {
    AppendLe16(bytes, 20);    // version needed
    AppendLe16(bytes, 0);     // flags
    AppendLe16(bytes, 8);     // deflated
    AppendLe16(bytes, 0);     // time
    AppendLe16(bytes, 0x21);  // date: 1980-01-01
    AppendLe32(bytes, crc);
    AppendLe32(bytes, packed);
    AppendLe32(bytes, size);
    AppendLe16(bytes, static_cast<uint32_t>(name.size()));
    AppendLe16(bytes, 0);  // extra field length
}

}  // namespace

std::vector<uint8_t> MakeZipOfZeros(uint64_t zeros, uint32_t statedSize) {
    uint32_t crc = 0;
    const std::vector<uint8_t> packed = DeflateZeros(zeros, -15, &crc);
    const std::string name = "bomb.gym";
    std::vector<uint8_t> zip;
    AppendLe32(zip, 0x04034B50);
    AppendEntryFields(zip, crc, static_cast<uint32_t>(packed.size()), statedSize, name);
    zip.insert(zip.end(), name.begin(), name.end());
    zip.insert(zip.end(), packed.begin(), packed.end());
    const uint32_t directoryOffset = static_cast<uint32_t>(zip.size());
    AppendLe32(zip, 0x02014B50);
    AppendLe16(zip, 20);  // made by
    AppendEntryFields(zip, crc, static_cast<uint32_t>(packed.size()), statedSize, name);
    AppendLe16(zip, 0);  // comment length
    AppendLe16(zip, 0);  // disk number
    AppendLe16(zip, 0);  // internal attributes
    AppendLe32(zip, 0);  // external attributes
    AppendLe32(zip, 0);  // local header's offset
    zip.insert(zip.end(), name.begin(), name.end());
    const uint32_t directorySize = static_cast<uint32_t>(zip.size()) - directoryOffset;
    AppendLe32(zip, 0x06054B50);
    AppendLe16(zip, 0);
    AppendLe16(zip, 0);
    AppendLe16(zip, 1);
    AppendLe16(zip, 1);
    AppendLe32(zip, directorySize);
    AppendLe32(zip, directoryOffset);
    AppendLe16(zip, 0);
    return zip;
}

std::vector<uint8_t> MakeGymxOfZeros(uint64_t zeros, uint32_t statedSize) {
    std::vector<uint8_t> file = MakeGymx({}, "Bomb", "", 0, false);
    const std::vector<uint8_t> body = DeflateZeros(zeros, 15, nullptr);
    file.insert(file.end(), body.begin(), body.end());
    PutLe32(file, 424, statedSize);
    return file;
}

std::vector<BombFile> WriteBombFiles(const std::string& folder) {
    // 128 MiB of zeros, twice the loader's limit of 64 MiB: each packs to
    // about 128 KiB.
    constexpr uint64_t kZeros = 128u * kMiB;
    constexpr uint32_t kLimit = 64 * kMiB;
    const std::vector<BombFile> files = {
        {"ZIP entry stating its 128 MiB", folder + "zip_bomb.gym.zip", true, 0},
        {"GYMX body stating its 128 MiB", folder + "gymx_bomb.gym", true, 0},
        {"GYMX body of 128 MiB stating the limit", folder + "gymx_lie_limit.gym", true, 0},
        {"GYMX body of 128 MiB stating 1 MiB", folder + "gymx_lie_small.gym", true, 0},
        {"ZIP entry of 128 MiB stating 1 MiB", folder + "zip_lie_small.dru", false, kMiB},
        {"ZIP entry of 128 MiB stating 4 GiB - 16", folder + "zip_claims_4g.gym.zip", true, 0},
        {"plain log of 3 GiB (sparse)", folder + "plain_3g.gym", true, 0},
        {"plain log one byte over what is read (sparse)", folder + "plain_over.gym", true, 0},
    };
    std::error_code error;
    if (std::filesystem::exists(files.back().path, error)) return files;
    WriteFileBytes(files[0].path, MakeZipOfZeros(kZeros, static_cast<uint32_t>(kZeros)));
    WriteFileBytes(files[1].path, MakeGymxOfZeros(kZeros, static_cast<uint32_t>(kZeros)));
    WriteFileBytes(files[2].path, MakeGymxOfZeros(kZeros, kLimit));
    WriteFileBytes(files[3].path, MakeGymxOfZeros(kZeros, kMiB));
    WriteFileBytes(files[4].path, MakeZipOfZeros(kZeros, kMiB));
    WriteFileBytes(files[5].path, MakeZipOfZeros(kZeros, 0xFFFFFFF0u));
    WriteFileBytes(files[6].path, {});
    std::filesystem::resize_file(files[6].path, uint64_t{3} << 30, error);
    WriteFileBytes(files[7].path, {});
    // The limit of 64 MiB for the song, with 1 MiB for headers and records.
    std::filesystem::resize_file(files[7].path, kLimit + kMiB + 1, error);
    return files;
}
