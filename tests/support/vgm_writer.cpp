#include "vgm_writer.h"

#include <zlib.h>

#include <algorithm>

#include "song_builder.h"

namespace {

constexpr uint32_t kHeaderSizeOld = 0x40;  // before 1.50, and the least there is
constexpr uint32_t kHeaderSize = 0x100;
constexpr uint32_t kFirstVersionWithChipFields = 0x110;  // 0x28-0x33
constexpr uint32_t kFirstVersionWithDataOffset = 0x150;
constexpr uint32_t kTagVersion = 0x100;

constexpr uint8_t kCommandGameGearStereo = 0x4F;
constexpr uint8_t kCommandPsg = 0x50;
constexpr uint8_t kCommandFm0 = 0x52;
constexpr uint8_t kCommandFm1 = 0x53;
constexpr uint8_t kCommandWait = 0x61;
constexpr uint8_t kCommandWait60 = 0x62;
constexpr uint8_t kCommandWait50 = 0x63;
constexpr uint8_t kCommandEnd = 0x66;
constexpr uint8_t kCommandDataBlock = 0x67;
constexpr uint8_t kCommandWaitShort = 0x70;    // + samples - 1
constexpr uint8_t kCommandDacFromBank = 0x80;  // + wait
constexpr uint8_t kCommandSeekBank = 0xE0;
constexpr uint32_t kLongestWait = 0xFFFF;
constexpr uint32_t kLongestShortWait = 16;  // 7n covers 1-16

// The GYM log's side of VgmFromGym.
constexpr uint32_t kGymFmClock = 7670442;
constexpr uint32_t kGymPsgClock = 3579530;
constexpr uint32_t kGymRate = 60;
constexpr uint8_t kGymFrame = 0x00;
constexpr uint8_t kGymFm0 = 0x01;
constexpr uint8_t kGymFm1 = 0x02;
constexpr uint8_t kGymPsg = 0x03;
constexpr uint8_t kFmModeControl = 0x27;
constexpr uint8_t kFmTimerResets = 0x30;  // either timer flag reset releases the frame
constexpr uint8_t kFmPcmData = 0x2A;
constexpr int kMaxDacCarry = 15;

constexpr size_t kGymxHeaderSize = 428;
constexpr size_t kGymxLoopOffset = 420;
constexpr size_t kGymxSizeOffset = 424;

void AppendLe16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[offset + i];
    return value;
}

// One UTF-8 string as UTF-16LE with its 0 character; a byte that does not
// start a whole sequence becomes U+FFFD.
void AppendUtf16(std::vector<uint8_t>& out, const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const uint32_t lead = static_cast<uint8_t>(text[i]);
        int more = -1;  // continuation bytes; -1: not a lead byte
        if (lead < 0x80) {
            more = 0;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            more = 1;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            more = 2;
        } else if (lead >= 0xF0 && lead < 0xF8) {
            more = 3;
        }
        uint32_t code = more <= 0 ? lead : lead & (0x3Fu >> more);
        bool whole = more >= 0 && i + more < text.size();
        for (int k = 1; whole && k <= more; ++k) {
            uint8_t next = static_cast<uint8_t>(text[i + k]);
            whole = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!whole) {
            code = 0xFFFD;
            more = 0;
        }
        i += 1 + more;
        if (code >= 0x10000) {
            code -= 0x10000;
            AppendLe16(out, 0xD800 | (code >> 10));
            AppendLe16(out, 0xDC00 | (code & 0x3FF));
        } else {
            AppendLe16(out, code);
        }
    }
    AppendLe16(out, 0);
}

std::vector<uint8_t> TagBytes(const VgmTag& tag) {
    std::vector<uint8_t> strings;
    for (const std::string* text :
         {&tag.trackEnglish, &tag.trackJapanese, &tag.gameEnglish, &tag.gameJapanese,
          &tag.systemEnglish, &tag.systemJapanese, &tag.authorEnglish, &tag.authorJapanese,
          &tag.releaseDate, &tag.ripper, &tag.notes})
        AppendUtf16(strings, *text);
    std::vector<uint8_t> out = {'G', 'd', '3', ' '};
    AppendLe32(out, kTagVersion);
    AppendLe32(out, static_cast<uint32_t>(strings.size()));
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

// Whether a frame marker comes before the end of the GYM stream from `pos` on.
bool GymMarkerFollows(const std::vector<uint8_t>& gym, size_t pos) {
    while (pos < gym.size()) {
        uint8_t command = gym[pos];
        if (command == kGymFrame) return true;
        size_t length = command == kGymFm0 || command == kGymFm1 ? 3 : command == kGymPsg ? 2 : 0;
        if (length == 0) return false;
        pos += length;
    }
    return false;
}

// A VGM step of a converted log: a write (command 50, 52 or 53) or a frame's
// wait (command 62).
struct Step {
    uint8_t command;
    uint8_t reg;
    uint8_t data;
    bool IsDac() const { return command == kCommandFm0 && reg == kFmPcmData; }
};

}  // namespace

VgmWriter& VgmWriter::Version(uint32_t bcd) {
    version = bcd;
    return *this;
}

VgmWriter& VgmWriter::DataOffset(uint32_t offset) {
    dataOffset = std::max(offset, kHeaderSizeOld);
    return *this;
}

VgmWriter& VgmWriter::PsgClock(uint32_t hz) {
    psgClock = hz;
    return *this;
}

VgmWriter& VgmWriter::FmClock(uint32_t hz) {
    fmClock = hz;
    return *this;
}

VgmWriter& VgmWriter::Ym2413Clock(uint32_t hz) {
    ym2413Clock = hz;
    return *this;
}

VgmWriter& VgmWriter::Ym2151Clock(uint32_t hz) {
    ym2151Clock = hz;
    return *this;
}

VgmWriter& VgmWriter::Rate(uint32_t hz) {
    rate = hz;
    return *this;
}

VgmWriter& VgmWriter::PsgShape(uint16_t feedback, uint8_t shiftWidth, uint8_t flags) {
    psgFeedback = feedback;
    psgShiftWidth = shiftWidth;
    psgFlags = flags;
    return *this;
}

VgmWriter& VgmWriter::VolumeModifier(uint8_t value) {
    volumeModifier = value;
    return *this;
}

VgmWriter& VgmWriter::LoopBase(int8_t value) {
    loopBase = value;
    return *this;
}

VgmWriter& VgmWriter::LoopModifier(uint8_t value) {
    loopModifier = value;
    return *this;
}

VgmWriter& VgmWriter::Tag(const VgmTag& value) {
    tag = value;
    hasTag = true;
    return *this;
}

VgmWriter& VgmWriter::TotalSamples(uint32_t value) {
    totalSamplesClaimed = value;
    totalSamplesSet = true;
    return *this;
}

VgmWriter& VgmWriter::LoopSamples(uint32_t value) {
    loopSamplesClaimed = value;
    loopSamplesSet = true;
    return *this;
}

VgmWriter& VgmWriter::Patch(size_t offset, const std::vector<uint8_t>& bytes) {
    patches.push_back({offset, bytes});
    return *this;
}

VgmWriter& VgmWriter::Patch32(size_t offset, uint32_t value) {
    std::vector<uint8_t> bytes;
    AppendLe32(bytes, value);
    return Patch(offset, bytes);
}

VgmWriter& VgmWriter::Psg(uint8_t data) {
    return Raw({kCommandPsg, data});
}

VgmWriter& VgmWriter::GameGearStereo(uint8_t data) {
    return Raw({kCommandGameGearStereo, data});
}

VgmWriter& VgmWriter::Fm0(uint8_t reg, uint8_t data) {
    return Raw({kCommandFm0, reg, data});
}

VgmWriter& VgmWriter::Fm1(uint8_t reg, uint8_t data) {
    return Raw({kCommandFm1, reg, data});
}

VgmWriter& VgmWriter::Wait(uint32_t count) {
    while (count > 0) {
        uint32_t part = std::min(count, kLongestWait);
        if (part == kVgmFrame60) {
            WaitFrame60();
        } else if (part == kVgmFrame50) {
            WaitFrame50();
        } else if (part <= kLongestShortWait) {
            WaitShort(static_cast<int>(part));
        } else {
            WaitLong(static_cast<uint16_t>(part));
        }
        count -= part;
    }
    return *this;
}

VgmWriter& VgmWriter::WaitLong(uint16_t count) {
    samples += count;
    commands.push_back(kCommandWait);
    AppendLe16(commands, count);
    return *this;
}

VgmWriter& VgmWriter::WaitFrame60() {
    samples += kVgmFrame60;
    return Raw({kCommandWait60});
}

VgmWriter& VgmWriter::WaitFrame50() {
    samples += kVgmFrame50;
    return Raw({kCommandWait50});
}

VgmWriter& VgmWriter::WaitShort(int count) {
    uint8_t low = static_cast<uint8_t>((count - 1) & 0x0F);
    samples += low + 1u;
    return Raw({static_cast<uint8_t>(kCommandWaitShort + low)});
}

VgmWriter& VgmWriter::End() {
    return Raw({kCommandEnd});
}

VgmWriter& VgmWriter::DataBlock(uint8_t type, const std::vector<uint8_t>& data) {
    Raw({kCommandDataBlock, kCommandEnd, type});
    AppendLe32(commands, static_cast<uint32_t>(data.size()));
    return Raw(data);
}

VgmWriter& VgmWriter::DacFromBank(int wait) {
    uint8_t low = static_cast<uint8_t>(wait & 0x0F);
    samples += low;
    return Raw({static_cast<uint8_t>(kCommandDacFromBank + low)});
}

VgmWriter& VgmWriter::SeekBank(uint32_t position) {
    commands.push_back(kCommandSeekBank);
    AppendLe32(commands, position);
    return *this;
}

VgmWriter& VgmWriter::StreamSetup(uint8_t stream, uint8_t chipType, uint8_t port, uint8_t reg) {
    return Raw({0x90, stream, chipType, port, reg});
}

VgmWriter& VgmWriter::StreamData(uint8_t stream, uint8_t bank, uint8_t stepSize, uint8_t stepBase) {
    return Raw({0x91, stream, bank, stepSize, stepBase});
}

VgmWriter& VgmWriter::StreamFrequency(uint8_t stream, uint32_t hz) {
    Raw({0x92, stream});
    AppendLe32(commands, hz);
    return *this;
}

VgmWriter& VgmWriter::StreamStart(uint8_t stream, uint32_t offset, uint8_t lengthMode,
                                  uint32_t length) {
    Raw({0x93, stream});
    AppendLe32(commands, offset);
    commands.push_back(lengthMode);
    AppendLe32(commands, length);
    return *this;
}

VgmWriter& VgmWriter::StreamStop(uint8_t stream) {
    return Raw({0x94, stream});
}

VgmWriter& VgmWriter::StreamFastStart(uint8_t stream, uint16_t block, uint8_t flags) {
    Raw({0x95, stream});
    AppendLe16(commands, block);
    commands.push_back(flags);
    return *this;
}

VgmWriter& VgmWriter::Raw(std::initializer_list<uint8_t> bytes) {
    commands.insert(commands.end(), bytes.begin(), bytes.end());
    return *this;
}

VgmWriter& VgmWriter::Raw(const std::vector<uint8_t>& bytes) {
    commands.insert(commands.end(), bytes.begin(), bytes.end());
    return *this;
}

VgmWriter& VgmWriter::MarkLoop() {
    looped = true;
    loopPos = commands.size();
    loopStart = samples;
    return *this;
}

std::vector<uint8_t> VgmWriter::Bytes() const {
    const uint32_t start = dataOffset != 0                          ? dataOffset
                           : version >= kFirstVersionWithDataOffset ? kHeaderSize
                                                                    : kHeaderSizeOld;
    std::vector<uint8_t> file(start, 0);
    // Fields at or past the data offset are left out.
    auto put = [&](size_t offset, uint32_t value, int size) {
        for (int i = 0; i < size && offset + i < start; ++i)
            file[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(0x00, 0x206D6756, 4);  // "Vgm "
    put(0x08, version, 4);
    put(0x0C, psgClock, 4);
    if (version < kFirstVersionWithChipFields) {
        put(0x10, fmClock != 0 ? fmClock : ym2413Clock, 4);
    } else {
        put(0x10, ym2413Clock, 4);
        put(0x28, psgFeedback, 2);
        put(0x2A, psgShiftWidth, 1);
        put(0x2B, psgFlags, 1);
        put(0x2C, fmClock, 4);
        put(0x30, ym2151Clock, 4);
    }
    put(0x18, totalSamplesSet ? totalSamplesClaimed : static_cast<uint32_t>(samples), 4);
    if (looped) put(0x1C, static_cast<uint32_t>(start + loopPos - 0x1C), 4);
    put(0x20,
        loopSamplesSet ? loopSamplesClaimed
        : looped       ? static_cast<uint32_t>(samples - loopStart)
                       : 0,
        4);
    put(0x24, rate, 4);
    if (version >= kFirstVersionWithDataOffset || dataOffset != 0) put(0x34, start - 0x34, 4);
    put(0x7C, volumeModifier, 1);
    put(0x7E, static_cast<uint8_t>(loopBase), 1);
    put(0x7F, loopModifier, 1);

    file.insert(file.end(), commands.begin(), commands.end());
    if (hasTag) {
        put(0x14, static_cast<uint32_t>(file.size() - 0x14), 4);
        std::vector<uint8_t> tagBytes = TagBytes(tag);
        file.insert(file.end(), tagBytes.begin(), tagBytes.end());
    }
    put(0x04, static_cast<uint32_t>(file.size() - 4), 4);

    for (const PatchBytes& patch : patches) {
        if (file.size() < patch.offset + patch.bytes.size())
            file.resize(patch.offset + patch.bytes.size(), 0);
        std::copy(patch.bytes.begin(), patch.bytes.end(), file.begin() + patch.offset);
    }
    return file;
}

std::vector<uint8_t> Gzip(const std::vector<uint8_t>& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
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

GymLog UnpackGym(const std::vector<uint8_t>& file) {
    GymLog log;
    const bool gymx =
        file.size() >= 4 && file[0] == 'G' && file[1] == 'Y' && file[2] == 'M' && file[3] == 'X';
    if (!gymx) {
        log.commands = file;
        log.ok = true;
        return log;
    }
    if (file.size() < kGymxHeaderSize) return log;
    log.loopFrame = ReadLe32(file, kGymxLoopOffset);
    const uint32_t size = ReadLe32(file, kGymxSizeOffset);
    if (size == 0) {
        log.commands.assign(file.begin() + kGymxHeaderSize, file.end());
        log.ok = true;
        return log;
    }
    log.commands.resize(size);
    uLongf got = size;
    log.ok = uncompress(log.commands.data(), &got, file.data() + kGymxHeaderSize,
                        static_cast<uLong>(file.size() - kGymxHeaderSize)) == Z_OK;
    log.commands.resize(log.ok ? got : 0);
    return log;
}

VgmWriter VgmFromGym(const std::vector<uint8_t>& gym, const GymConversion& conversion) {
    // The player's run through the log, as writes and frame waits. The loop
    // pass repeats [repeatBegin, repeatEnd), the writes between marker L and
    // the first release after it, and then plays from loopStep on.
    std::vector<Step> steps;
    constexpr size_t kNone = static_cast<size_t>(-1);
    size_t loopStep = kNone, repeatBegin = 0, repeatEnd = 0;
    bool held = false, awaitingRelease = false;
    uint32_t markers = 0;
    auto release = [&] {
        if (!held) return;
        held = false;
        steps.push_back({kCommandWait60, 0, 0});
        if (awaitingRelease) {
            awaitingRelease = false;
            repeatEnd = steps.size() - 1;
            loopStep = steps.size();
        }
    };
    size_t pos = 0;
    for (;;) {
        const uint8_t command = pos < gym.size() ? gym[pos] : 0xFF;
        const size_t length = command == kGymFrame ? 1
                              : command == kGymPsg ? 2
                              : command <= kGymFm1 ? 3
                                                   : 0;
        if (length == 0 || pos + length > gym.size()) break;  // the end, or a cut command
        if (command == kGymFrame) {
            release();
            held = true;
            ++markers;
            if (conversion.loopFrame != 0 && markers == conversion.loopFrame &&
                GymMarkerFollows(gym, pos + 1)) {
                awaitingRelease = true;
                repeatBegin = steps.size();
            }
        } else if (command == kGymPsg) {
            steps.push_back({kCommandPsg, 0, gym[pos + 1]});
        } else {
            const uint8_t reg = gym[pos + 1], data = gym[pos + 2];
            steps.push_back({command == kGymFm0 ? kCommandFm0 : kCommandFm1, reg, data});
            if (command == kGymFm0 && reg == kFmModeControl && (data & kFmTimerResets) != 0)
                release();
        }
        pos += length;
    }
    release();

    // The steps in play order: the run, then the repeated writes when it loops.
    std::vector<Step> order = steps;
    if (loopStep != kNone)
        order.insert(order.end(), steps.begin() + repeatBegin, steps.begin() + repeatEnd);

    VgmWriter vgm;
    vgm.FmClock(kGymFmClock).PsgClock(kGymPsgClock).Rate(kGymRate);
    const bool bank = conversion.dac == DacForm::bank;
    std::vector<uint8_t> pcm;
    for (const Step& step : order)
        if (bank && step.IsDac()) pcm.push_back(step.data);
    if (!pcm.empty()) vgm.DataBlock(kVgmBlockFmPcm, pcm);
    const int carry = bank ? std::min(std::max(conversion.dacCarry, 0), kMaxDacCarry) : 0;
    uint32_t bankPos = 0;
    int carried = 0;  // samples the last 8n took from the wait that follows it
    for (size_t i = 0; i < order.size(); ++i) {
        if (i == loopStep) {
            vgm.MarkLoop();
            if (!pcm.empty()) vgm.SeekBank(bankPos);
        }
        const Step& step = order[i];
        if (step.command == kCommandWait60) {
            vgm.Wait(kVgmFrame60 - carried);
            carried = 0;
        } else if (bank && step.IsDac()) {
            const bool waitNext = i + 1 < order.size() && order[i + 1].command == kCommandWait60;
            carried = waitNext ? carry : 0;
            vgm.DacFromBank(carried);
            ++bankPos;
        } else if (step.command == kCommandPsg) {
            vgm.Psg(step.data);
        } else {
            vgm.Raw({step.command, step.reg, step.data});
        }
    }
    vgm.End();
    return vgm;
}
