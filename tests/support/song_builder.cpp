#include "song_builder.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define TAMBORIL_GETPID _getpid
#else
#include <unistd.h>
#define TAMBORIL_GETPID getpid
#endif

namespace {

constexpr size_t kGymxHeaderSize = 428;
constexpr size_t kGymxTextSize = 32;
constexpr size_t kGymxBracketsOffset = 4;
constexpr size_t kGymxFirstOffset = 36;
constexpr size_t kGymxLoopOffset = 420;
constexpr size_t kGymxSizeOffset = 424;

constexpr uint32_t kZipLocalSignature = 0x04034B50;
constexpr uint32_t kZipCentralSignature = 0x02014B50;
constexpr uint32_t kZipEndSignature = 0x06054B50;
constexpr uint16_t kZipVersion = 20;  // 2.0: deflate
constexpr uint16_t kZipStored = 0;
constexpr uint16_t kZipDeflated = 8;
constexpr uint16_t kZipDosTime = 0;       // 00:00:00
constexpr uint16_t kZipDosDate = 0x5021;  // 2020-01-01

void AppendLe16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// The fields the local header and the central directory record share, from
// "version needed" to the extra field's length.
void AppendEntryFields(std::vector<uint8_t>& out, uint16_t method, uint32_t crc,
                       uint32_t packedSize, uint32_t size, const std::string& name) {
    AppendLe16(out, kZipVersion);  // needed
    AppendLe16(out, 0);            // flags
    AppendLe16(out, method);
    AppendLe16(out, kZipDosTime);
    AppendLe16(out, kZipDosDate);
    AppendLe32(out, crc);
    AppendLe32(out, packedSize);
    AppendLe32(out, size);
    AppendLe16(out, static_cast<uint16_t>(name.size()));
    AppendLe16(out, 0);  // extra field length
}

void PutText(std::vector<uint8_t>& out, size_t offset, const std::string& text) {
    for (size_t i = 0; i < text.size() && i < kGymxTextSize; ++i)
        out[offset + i] = static_cast<uint8_t>(text[i]);
}

std::vector<uint8_t> ZlibStream(const std::vector<uint8_t>& data) {
    uLongf packedSize = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, data.data(), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packedSize);
    return packed;
}

// Raw deflate (no zlib header or trailer), as a ZIP entry holds it.
std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data) {
    return Deflate(data, -MAX_WBITS);
}

}  // namespace

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int windowBits) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return {};
    std::vector<uint8_t> packed(deflateBound(&stream, static_cast<uLong>(data.size())) + 32);
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    int result = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) return {};
    return packed;
}

namespace {

// The process's temp folder; removed with everything in it at exit.
class TempFolder {
public:
    TempFolder() {
        std::error_code error;
        std::filesystem::path base = std::filesystem::temp_directory_path(error);
        if (error) base = ".";
        folder = base;  // when no folder can be made, files go straight into base
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            std::filesystem::path candidate =
                base /
                ("tamboril-" + std::to_string(TAMBORIL_GETPID()) + "-" + std::to_string(attempt));
            if (std::filesystem::create_directory(candidate, error) && !error) {
                folder = candidate;
                owned = true;
                break;
            }
        }
        path = folder.generic_string();
        if (!path.empty() && path.back() != '/') path += '/';
    }
    ~TempFolder() {
        std::error_code error;
        if (owned) std::filesystem::remove_all(folder, error);
    }

    static constexpr int kMaxAttempts = 1000;

    std::filesystem::path folder;
    std::string path;    // folder with '/' separators and a trailing '/'
    bool owned = false;  // the folder was made here and is removed at exit
    int dirCount = 0;    // folders handed out by TempDir
};

TempFolder& ProcessTempFolder() {
    static TempFolder temp;
    return temp;
}

}  // namespace

SongBuilder& SongBuilder::Frame(int count) {
    for (int i = 0; i < count; ++i)
        bytes.push_back(0x00);
    return *this;
}

SongBuilder& SongBuilder::Fm(uint32_t address, uint8_t data) {
    bytes.push_back((address & 0x100) ? 0x02 : 0x01);
    bytes.push_back(static_cast<uint8_t>(address));
    bytes.push_back(data);
    return *this;
}

SongBuilder& SongBuilder::Psg(uint8_t data) {
    bytes.push_back(0x03);
    bytes.push_back(data);
    return *this;
}

SongBuilder& SongBuilder::Raw(std::initializer_list<uint8_t> more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
}

SongBuilder& SongBuilder::Raw(const std::vector<uint8_t>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
}

const std::vector<uint8_t>& SongBuilder::Bytes() const {
    return bytes;
}

std::vector<uint8_t> MakeGymx(const std::vector<uint8_t>& body, const std::string& shownFirst,
                              const std::string& inBrackets, uint32_t loopFrame, bool compress) {
    std::vector<uint8_t> file(kGymxHeaderSize, 0);
    file[0] = 'G';
    file[1] = 'Y';
    file[2] = 'M';
    file[3] = 'X';
    PutText(file, kGymxBracketsOffset, inBrackets);
    PutText(file, kGymxFirstOffset, shownFirst);
    PutLe32(file, kGymxLoopOffset, loopFrame);
    if (compress && !body.empty()) {
        PutLe32(file, kGymxSizeOffset, static_cast<uint32_t>(body.size()));
        std::vector<uint8_t> packed = ZlibStream(body);
        file.insert(file.end(), packed.begin(), packed.end());
    } else {
        file.insert(file.end(), body.begin(), body.end());
    }
    return file;
}

std::vector<uint8_t> MakeGyi(const std::string& title, const std::string& loopLine,
                             const std::string& lineEnd) {
    std::string text = title + lineEnd;
    if (!loopLine.empty()) text += loopLine + lineEnd;
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> MakeZip(const std::vector<ZipEntry>& entries) {
    std::vector<uint8_t> archive;
    std::vector<uint8_t> directory;
    for (const ZipEntry& entry : entries) {
        std::vector<uint8_t> stored = entry.deflate ? RawDeflate(entry.data) : entry.data;
        uint32_t crc = static_cast<uint32_t>(
            crc32(crc32(0L, Z_NULL, 0), entry.data.data(), static_cast<uInt>(entry.data.size())));
        if (entry.claimedCrc) crc = *entry.claimedCrc;
        uint32_t size =
            entry.claimedSize ? *entry.claimedSize : static_cast<uint32_t>(entry.data.size());
        uint32_t packed = entry.claimedPackedSize ? *entry.claimedPackedSize
                                                  : static_cast<uint32_t>(stored.size());
        uint16_t method = entry.deflate ? kZipDeflated : kZipStored;
        uint32_t localOffset = static_cast<uint32_t>(archive.size());

        AppendLe32(archive, kZipLocalSignature);
        AppendEntryFields(archive, method, crc, packed, size, entry.name);
        archive.insert(archive.end(), entry.name.begin(), entry.name.end());
        archive.insert(archive.end(), stored.begin(), stored.end());

        AppendLe32(directory, kZipCentralSignature);
        AppendLe16(directory, kZipVersion);  // made by
        AppendEntryFields(directory, method, crc, packed, size, entry.name);
        AppendLe16(directory, 0);  // comment length
        AppendLe16(directory, 0);  // disk number
        AppendLe16(directory, 0);  // internal attributes
        AppendLe32(directory, 0);  // external attributes
        AppendLe32(directory, localOffset);
        directory.insert(directory.end(), entry.name.begin(), entry.name.end());
    }
    uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
    archive.insert(archive.end(), directory.begin(), directory.end());
    AppendLe32(archive, kZipEndSignature);
    AppendLe16(archive, 0);  // this disk
    AppendLe16(archive, 0);  // disk with the directory
    AppendLe16(archive, static_cast<uint16_t>(entries.size()));
    AppendLe16(archive, static_cast<uint16_t>(entries.size()));
    AppendLe32(archive, static_cast<uint32_t>(directory.size()));
    AppendLe32(archive, directoryOffset);
    AppendLe16(archive, 0);  // comment length
    return archive;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    bool closed = std::fclose(file) == 0;
    return closed && written == bytes.size();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4, 0);
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string TempPath(const std::string& name) {
    return ProcessTempFolder().path + name;
}

std::string TempDir() {
    TempFolder& temp = ProcessTempFolder();
    std::error_code error;
    for (int attempt = 0; attempt < TempFolder::kMaxAttempts; ++attempt) {
        std::string dir = temp.path + "d" + std::to_string(temp.dirCount++);
        if (std::filesystem::create_directory(std::filesystem::path(dir), error) && !error)
            return dir + "/";
    }
    return temp.path;
}
