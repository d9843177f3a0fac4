#include "vgm_writer.h"

#include <zlib.h>

#include <algorithm>

#include "song_builder.h"

namespace {

constexpr uint32_t kFrame60 = 735;  // samples of 1/60 s, command 62 (1/50 s: 882, 63)
constexpr uint8_t kCommandWait60 = 0x62;

void AppendLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// One UTF-8 string as UTF-16LE with its 0 character (well-formed UTF-8 only).
void AppendUtf16(std::vector<uint8_t>& out, const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        uint32_t code = static_cast<uint8_t>(text[i++]);
        const int more = code >= 0xF0 ? 3 : code >= 0xE0 ? 2 : code >= 0xC0 ? 1 : 0;
        code &= more == 0 ? 0x7F : 0x3F >> more;
        for (int k = 0; k < more && i < text.size(); ++k)
            code = code << 6 | (static_cast<uint8_t>(text[i++]) & 0x3F);
        if (code >= 0x10000) {  // a surrogate pair
            code -= 0x10000;
            AppendLe(out, 0xD800 | code >> 10, 2);
            code = 0xDC00 | (code & 0x3FF);
        }
        AppendLe(out, code, 2);
    }
    AppendLe(out, 0, 2);
}

}  // namespace

VgmWriter& VgmWriter::Le(uint32_t value, int bytes) {
    AppendLe(commands, value, bytes);
    return *this;
}

VgmWriter& VgmWriter::Wait(uint32_t count) {
    samples += count;
    while (count > 0) {
        const uint32_t part = std::min<uint32_t>(count, 0xFFFF);
        if (part == kFrame60 || part == 882)
            Raw({static_cast<uint8_t>(part == kFrame60 ? kCommandWait60 : 0x63)});
        else if (part <= 16)
            Raw({static_cast<uint8_t>(0x6F + part)});  // 7n: n + 1 samples
        else
            Raw({0x61}).Le(part, 2);
        count -= part;
    }
    return *this;
}

VgmWriter& VgmWriter::DataBlock(uint8_t type, const std::vector<uint8_t>& data) {
    return Raw({0x67, 0x66, type}).Le(static_cast<uint32_t>(data.size()), 4).Raw(data);
}

VgmWriter& VgmWriter::DacFromBank(int wait) {
    samples += wait & 0x0F;
    return Raw({static_cast<uint8_t>(0x80 | (wait & 0x0F))});
}

VgmWriter& VgmWriter::MarkLoop() {
    looped = true;
    loopPos = commands.size();
    loopStart = samples;
    return *this;
}

std::vector<uint8_t> VgmWriter::Bytes() const {
    const bool old = version < 0x110;  // no fields 0x28-0x33, YM2612 clock at 0x10
    const uint32_t start = dataOffset != 0 ? dataOffset : version >= 0x150 ? 0x100 : 0x40;
    const struct {
        size_t offset;
        uint32_t value;
    } fields[] = {
        {0x00, 0x206D6756},  // "Vgm "
        {0x08, version},
        {0x0C, psgClock},
        {old ? 0x10u : 0x2Cu, fmClock},
        {0x18, static_cast<uint32_t>(samples)},
        {0x1C, looped ? static_cast<uint32_t>(start + loopPos - 0x1C) : 0},
        {0x20, looped ? static_cast<uint32_t>(samples - loopStart) : 0},
        {0x24, rate},
        {0x28, old ? 0 : 0x00100009u},  // feedback 0x0009, 16-bit register, no flags
        {0x34, version >= 0x150 || dataOffset != 0 ? start - 0x34 : 0},
        {0x7C, volumeModifier | uint32_t{loopBase} << 16 | uint32_t{loopModifier} << 24},
    };
    std::vector<uint8_t> file;
    for (const auto& field : fields)
        PutLe32(file, field.offset, field.value);
    file.resize(start, 0);  // fields at or past the data are left out
    file.insert(file.end(), commands.begin(), commands.end());
    if (tag) {
        PutLe32(file, 0x14, static_cast<uint32_t>(file.size() - 0x14));
        std::vector<uint8_t> strings;
        for (const std::string* text :
             {&tag->trackEnglish, &tag->trackJapanese, &tag->gameEnglish, &tag->gameJapanese,
              &tag->systemEnglish, &tag->systemJapanese, &tag->authorEnglish, &tag->authorJapanese,
              &tag->releaseDate, &tag->ripper, &tag->notes})
            AppendUtf16(strings, *text);
        file.insert(file.end(), {'G', 'd', '3', ' '});
        AppendLe(file, 0x100, 4);
        AppendLe(file, static_cast<uint32_t>(strings.size()), 4);
        file.insert(file.end(), strings.begin(), strings.end());
    }
    PutLe32(file, 0x04, static_cast<uint32_t>(file.size() - 4));
    return file;
}

std::vector<uint8_t> Gzip(const std::vector<uint8_t>& data) {
    return Deflate(data, 16 + MAX_WBITS);
}

VgmWriter VgmFromGym(const std::vector<uint8_t>& gym, const GymConversion& conversion) {
    // The player's run through the log as VGM writes and frame waits (62).
    // A loop pass plays from loopStep on (0: no loop), after the writes of
    // [repeatBegin, loopStep - 1): those from marker L to the wait after it.
    using Step = std::vector<uint8_t>;  // one VGM command
    std::vector<Step> steps;
    size_t loopStep = 0, repeatBegin = 0;
    bool held = false, awaitingRelease = false;
    uint32_t markers = 0;
    auto release = [&] {
        if (!held) return;
        held = false;
        steps.push_back({kCommandWait60});
        if (awaitingRelease) loopStep = steps.size();
        awaitingRelease = false;
    };
    for (size_t pos = 0, length; pos < gym.size(); pos += length) {
        const uint8_t command = gym[pos];  // 00 frame, 01/02 FM port 0/1, 03 PSG
        length = command == 0 ? 1 : command == 3 ? 2 : command <= 2 ? 3 : 0;
        if (length == 0 || pos + length > gym.size()) break;  // the end, or a cut command
        if (command == 0) {
            release();
            held = true;
            awaitingRelease = ++markers == conversion.loopFrame;
            if (awaitingRelease) repeatBegin = steps.size();
        } else if (command == 3) {
            steps.push_back({0x50, gym[pos + 1]});
        } else {
            steps.push_back({static_cast<uint8_t>(0x51 + command), gym[pos + 1], gym[pos + 2]});
            // Mode register 0x27: resetting either timer flag releases the frame.
            if (command == 1 && gym[pos + 1] == 0x27 && (gym[pos + 2] & 0x30) != 0) release();
        }
    }
    release();
    if (markers <= conversion.loopFrame) loopStep = 0;  // no marker after marker L
    std::vector<Step> order = steps;
    if (loopStep != 0)
        order.insert(order.end(), steps.begin() + repeatBegin, steps.begin() + loopStep - 1);

    const bool bank = conversion.dac == DacForm::bank;
    auto isBanked = [&](const Step& s) { return bank && s[0] == 0x52 && s[1] == 0x2A; };
    VgmWriter vgm;
    vgm.FmClock(7670442).PsgClock(3579530).Rate(60);
    std::vector<uint8_t> pcm;
    for (const Step& step : order)
        if (isBanked(step)) pcm.push_back(step[2]);
    if (!pcm.empty()) vgm.DataBlock(0x00, pcm);
    const int carry = std::clamp(conversion.dacCarry, 0, 15);
    uint32_t bankPos = 0;
    int carried = 0;  // samples the last 8n took from the wait after it
    for (size_t i = 0; i < order.size(); ++i) {
        const Step& step = order[i];
        if (i == loopStep && loopStep != 0) {
            vgm.MarkLoop();
            if (!pcm.empty()) vgm.SeekBank(bankPos);
        }
        if (step[0] == kCommandWait60) {
            vgm.Wait(kFrame60 - carried);
            carried = 0;
        } else if (isBanked(step)) {
            carried = i + 1 < order.size() && order[i + 1][0] == kCommandWait60 ? carry : 0;
            vgm.DacFromBank(carried);
            ++bankPos;
        } else {
            vgm.Raw(step);
        }
    }
    return vgm.End();
}
