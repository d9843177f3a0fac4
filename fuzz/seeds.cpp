// Starting inputs for the fuzz targets, made with the song builder and the
// VGM writer.
#include "fuzz/seeds.h"

#include <algorithm>

#include "song_builder.h"
#include "vgm_writer.h"

namespace {

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A short song that touches both FM ports, the DAC, the timers and the PSG.
Bytes BusySong() {
    SongBuilder song;
    song.Fm(0x22, 0x0B).Fm(0x27, 0x15).Fm(0x24, 0x80).Fm(0x25, 0x01).Fm(0x26, 0xC0);
    song.Fm(0xB0, 0x32).Fm(0xB4, 0xC0).Fm(0x30, 0x71).Fm(0x40, 0x23).Fm(0x50, 0x1F);
    song.Fm(0x60, 0x05).Fm(0x70, 0x02).Fm(0x80, 0x11).Fm(0x90, 0x00);
    song.Fm(0xA4, 0x22).Fm(0xA0, 0x69).Fm(0x28, 0xF0).Frame();
    song.Fm(0x1B4, 0xC0).Fm(0x1A4, 0x1A).Fm(0x1A0, 0x40).Fm(0x28, 0xF4).Frame();
    song.Fm(0x2B, 0x80);
    for (int i = 0; i < 24; ++i)
        song.Fm(0x2A, static_cast<uint8_t>(i * 11));
    song.Frame().Fm(0x2B, 0x00);
    song.Psg(0x8E).Psg(0x0F).Psg(0x90).Psg(0xE4).Psg(0xF3).Frame(3);
    song.Fm(0x28, 0x00).Fm(0x28, 0x04).Psg(0x9F).Frame();
    return song.Bytes();
}

// Song inputs: every form the loader reads, and broken ones at its edges.
}  // namespace

Seeds SongSeeds() {
    const Bytes busy = BusySong();
    SongBuilder cut;
    cut.Frame(2).Raw({0x01, 0x28});  // an FM write cut short
    SongBuilder ended;
    ended.Psg(0x9F).Frame().Raw({0x04, 0x00, 0x00});
    Bytes shortGymx = MakeGymx(busy, "x", "", 0, false);
    shortGymx.resize(300);
    Bytes falseSize = MakeGymx(busy, "Big", "", 0, true);
    PutLe32(falseSize, 424, 64u << 20);  // far more than the body gives, within the song size limit
    const Bytes gyi = MakeGyi("Info title", "2");
    Bytes sidecar = {0x80, static_cast<uint8_t>(gyi.size())};
    sidecar = Concat({sidecar, gyi, busy});
    return {
        {"plain", busy},
        {"empty", {}},
        {"cut", cut.Bytes()},
        {"ended", ended.Bytes()},
        {"gymx", MakeGymx(busy, "Shown first", "In brackets", 2, false)},
        {"gymx-zlib", MakeGymx(busy, "Packed", "", 1, true)},
        {"gymx-short", shortGymx},
        {"gymx-false-size", falseSize},
        {"zip", MakeZip({{"TUNE.GYM", busy}, {"TUNE.GYI", gyi}})},
        {"zip-stored", MakeZip({{"a/b.gym", MakeGymx(busy, "Z", "", 3, true), false}})},
        {"zip-no-song", MakeZip({{"readme.txt", Text("hello")}})},
        {"zip-false-size", MakeZip({ZipEntry{"x.gym", busy, true, 64u << 20}})},
        {"sidecar", sidecar},
        {"sidecar-loop-only", Concat({{0x81, 6}, Text("\r\n4000\n"), busy})},
    };
}

Seeds ChipSeeds() {
    // mode, gain, then records of (port | mix bit and length, address, data).
    Bytes keyOn = {0x02, 0x00};
    const uint8_t writes[][2] = {{0x22, 0x0F}, {0x30, 0x01}, {0x40, 0x00}, {0x50, 0x1F},
                                 {0x80, 0x0F}, {0xA4, 0x22}, {0xA0, 0x69}, {0xB0, 0x07},
                                 {0xB4, 0xC0}, {0x28, 0xF0}};
    for (auto& w : writes)
        keyOn.insert(keyOn.end(), {0x00, w[0], w[1]});
    keyOn.insert(keyOn.end(), {0xFE, 0x28, 0xF0, 0x80, 0x28, 0x00});
    Bytes dac = {0x0B, 0x7F, 0x00, 0x2B, 0x80};
    for (int i = 0; i < 16; ++i)
        dac.insert(dac.end(), {0x82, 0x2A, static_cast<uint8_t>(i * 16)});
    Bytes csm = {0x04, 0x80, 0x00, 0x24, 0xFF, 0x00, 0x25, 0x03, 0x00, 0x27,
                 0xBF, 0x01, 0xA6, 0x3F, 0x81, 0xA2, 0xFF, 0xFE, 0x27, 0x00};
    return {{"key-on", keyOn}, {"dac", dac}, {"csm", csm}};
}

Seeds SettingsSeeds() {
    return {
        {"canonical", Text("[Tamboril]\r\nFrequency=55467:FM\r\nPriority=Normal\r\nLoopCount=2\r\n"
                           "FadeoutTime=5000\r\nVolumeFM=0\r\nVolumeSSG=0\r\nVolumePCM=0\r\n")},
        {"odd", Text("[other]\nx=1\n[ TAMBORIL ]\nfrequency = \"22050\"\nPRIORITY='lowest'\n"
                     "LoopCount=-7\nFadeoutTime=99999999999\nVolumeFM=+12abc\n[tail]\ny=2\n")},
        {"broken", Text("Frequency=48000\n[Tamboril\nLoopCount\n=5\n[Tamboril]\nVolumePCM= \t-3")},
        {"empty", {}},
    };
}

Seeds ShellSeeds() {
    Seeds seeds;
    for (auto& [name, bytes] : SongSeeds())
        seeds.push_back({name, bytes});
    seeds.push_back({"name-archive", Text("x.GYM.ZIP")});
    seeds.push_back({"name-parts", Text("d/e\\f:g.h.gym\nrest")});
    return seeds;
}

namespace {

constexpr uint32_t kFmClock = 7670454;     // YM2612 of an NTSC console
constexpr uint32_t kPsgClock = 3579545;    // its SN76489
constexpr uint32_t kOtherClock = 3579545;  // a YM2413 or YM2151 beside them
constexpr uint8_t kFmPcm = 0x00;           // data block type, and stream data bank
constexpr uint8_t kFmStream = 0x02;        // stream chip type
constexpr uint8_t kStreamBytes = 0x01, kStreamMs = 0x02, kStreamToEnd = 0x03;  // 93 modes
constexpr uint8_t kStreamReverse = 0x10, kStreamLoop = 0x80;
constexpr uint8_t kFastLoop = 0x01, kFastReverse = 0x10;  // 95 flags

// A VGM file with the byte after it that picks the settings: the output rate
// (index into fuzz_vgm.cpp's rates), the loop count and the fade, -4 (none)
// to 24 ms in steps of 4.
Bytes WithKnobs(Bytes song, int rate, int loops, int fadeMs) {
    for (int knobs = 0; knobs < 256; ++knobs) {
        if (knobs % 6 == rate && (knobs >> 3 & 3) == loops && (knobs >> 5) * 4 - 4 == fadeMs) {
            song.push_back(static_cast<uint8_t>(knobs));
            break;
        }
    }
    return song;
}

VgmWriter BothChips() {
    VgmWriter vgm;
    vgm.FmClock(kFmClock).PsgClock(kPsgClock).Rate(60);
    return vgm;
}

// The busy GYM song, its DAC bytes in a PCM data block read by 8n (with an
// E0 at the loop), looped at frame 2, with a tag.
Bytes BusyVgm() {
    VgmTag tag;
    tag.trackEnglish = "Busy";
    tag.gameEnglish = "Seeds";
    return VgmFromGym(BusySong(), {2, DacForm::bank, 3}).Tag(tag).Bytes();
}

// Every write and wait command, a DAC written directly, a loop scaled by
// the loop base and modifier, and a volume modifier.
Bytes WritesVgm() {
    VgmWriter vgm = BothChips();
    vgm.VolumeModifier(0xC1).LoopBase(-1).LoopModifier(0x20);
    vgm.Fm0(0x22, 0x0B).Fm0(0x30, 0x71).Fm0(0x40, 0x10).Fm0(0x50, 0x1F).Fm0(0x80, 0x0F);
    vgm.Fm0(0xA4, 0x22).Fm0(0xA0, 0x69).Fm0(0xB4, 0xC0).Fm0(0x28, 0xF0).Wait(300);  // 61
    vgm.Fm1(0xB4, 0xC0).Fm1(0xA4, 0x1A).Fm1(0xA0, 0x40).Fm0(0x28, 0xF4).Wait(735);  // 62
    vgm.Psg(0x8E).Psg(0x0F).Psg(0x90).Psg(0xE4).Psg(0xF3).GameGearStereo(0xF0).Wait(882);
    vgm.MarkLoop().Fm0(0x2B, 0x80);
    for (int i = 1; i <= 16; ++i)  // 7n
        vgm.Fm0(0x2A, static_cast<uint8_t>(i * 15)).Wait(i);
    vgm.Fm0(0x2B, 0x00).Wait(70000).Fm0(0x28, 0x00).Psg(0x9F).Raw({0x61, 0x00, 0x00}).End();
    return vgm.Bytes();
}

// DAC streams over two PCM blocks (between a block of another type and one
// of a second chip): every length mode, reverse, loop, fast starts, stops.
Bytes StreamsVgm() {
    VgmWriter vgm = BothChips();
    Bytes ramp(200), other(16, 0x55);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<uint8_t>(i);
    vgm.DataBlock(0x40, other).DataBlock(kFmPcm, ramp).DataBlock(kFmPcm, other);
    vgm.Raw({0x67, 0x66, kFmPcm, 0x02, 0x00, 0x00, 0x80, 0x11, 0x22});  // a second chip's
    vgm.Fm0(0x2B, 0x80).StreamSetup(0, kFmStream, 0, 0x2A).StreamData(0, kFmPcm, 1, 0);
    vgm.StreamFrequency(0, 8000).StreamStart(0, 0, kStreamBytes, 100).Wait(1000);
    vgm.StreamStart(0, 0xFFFFFFFF, kStreamMs | kStreamReverse, 5).Wait(500);
    vgm.StreamData(0, kFmPcm, 2, 3).StreamStart(0, 10, kStreamToEnd | kStreamLoop, 0).Wait(3000);
    vgm.StreamStart(0, 0, 0x00, 0).Wait(100).Raw({0x94, 0x00});
    vgm.StreamSetup(1, kFmStream, 0, 0x2A).StreamData(1, kFmPcm, 1, 0);
    vgm.StreamFrequency(1, 0xFFFFFFFF).StreamFastStart(1, 1, kFastLoop).Wait(2000);
    vgm.StreamFastStart(1, 0, kFastReverse).StreamFastStart(0, 9, 0).Wait(200);
    vgm.StreamSetup(2, 0x00, 0, 0x2A).StreamFrequency(2, 0).Raw({0x94, 0xFF}).Wait(100).End();
    return vgm.Bytes();
}

// Other chips' clocks (YM2413, YM2151) and commands of every length,
// skipped; then a byte that is no command ends the song.
Bytes OtherChipsVgm() {
    VgmWriter vgm = BothChips();
    vgm.Fm0(0x28, 0xF0);
    vgm.Raw({0x30, 0x9F, 0x3F, 0x00, 0x40, 0x01, 0x02, 0x4E, 0x00, 0x00, 0x51, 0x20, 0x11});
    vgm.Raw({0x54, 0x08, 0x00, 0x5F, 0x00, 0x00, 0xA0, 0x07, 0x38, 0xBF, 0x00, 0x00});
    vgm.Raw({0xC0, 0x00, 0x00, 0x00, 0xDF, 0x00, 0x00, 0x00, 0xE1, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0});
    vgm.Raw({0x68, 0x66, 0x00, 0, 0, 0, 0, 0, 0, 4, 0, 0}).Wait(2000);
    vgm.Raw({0x21, 0x52, 0x28, 0x00}).Wait(2000).End();
    Bytes bytes = vgm.Bytes();
    PutLe32(bytes, 0x10, kOtherClock);
    PutLe32(bytes, 0x30, kOtherClock);
    return bytes;
}

// The YM2612's clock where version 1.00 has it, and a header of 0x40 bytes.
Bytes OldVgm() {
    VgmWriter vgm = BothChips();
    vgm.Version(0x100).Fm0(0xA4, 0x22).Fm0(0xA0, 0x69).Fm0(0x28, 0xF0).Wait(3000).End();
    return vgm.Bytes();
}

// The PSG alone, with a noise of its own shape: feedback, width and flags.
Bytes PsgOnlyVgm() {
    VgmWriter vgm;
    vgm.PsgClock(kPsgClock);
    vgm.Psg(0xE3).Psg(0xF2).Psg(0x85).Psg(0x10).Psg(0x91).Wait(4000).Psg(0xE7).Wait(2000).End();
    Bytes bytes = vgm.Bytes();
    PutLe32(bytes, 0x28, 0x010F0003);  // feedback 0x0003, 15 bits, flags 01
    return bytes;
}

// A tag with characters of two and four bytes, a lone surrogate, and a
// length that claims more than the file holds.
Bytes TagVgm() {
    VgmTag tag;
    tag.gameEnglish = "G\xc3\xa4m\xc3\xa9 \xf0\x9f\x8e\xb5";
    tag.trackEnglish = "\xc4\x80\xed\xa0\x80";
    tag.authorEnglish = "Tamboril";
    VgmWriter vgm = BothChips();
    vgm.Tag(tag).Psg(0x90).Wait(1000).End();
    Bytes bytes = vgm.Bytes();
    const char magic[] = "Gd3 ";
    const size_t at = std::search(bytes.begin(), bytes.end(), magic, magic + 4) - bytes.begin();
    PutLe32(bytes, at + 8, 0x7FFFFFF0);
    return bytes;
}

// Commands from 0x50 of a 1.50 file: the volume, loop base and modifier
// fields lie past the data and read as 0; the end-of-file offset cuts the
// data short and the loop points past it.
Bytes DataOffsetVgm() {
    VgmWriter vgm = BothChips();
    vgm.Version(0x150).DataOffset(0x50).Fm0(0x28, 0xF0).Wait(1000).MarkLoop();
    vgm.Fm0(0x28, 0x00).Wait(1000).Fm0(0x28, 0xF0).Wait(1000).End();
    Bytes bytes = vgm.Bytes();
    PutLe32(bytes, 0x04, static_cast<uint32_t>(bytes.size() - 4 - 8));
    PutLe32(bytes, 0x1C, static_cast<uint32_t>(bytes.size()));
    return bytes;
}

}  // namespace

Seeds VgmSeeds() {
    const Bytes busy = BusyVgm();
    Bytes cutHeader = busy;
    cutHeader.resize(0x30);
    VgmWriter noChip;
    noChip.Wait(100).End();
    Bytes otherChipOnly = noChip.Bytes();
    PutLe32(otherChipOnly, 0x10, kOtherClock);  // a YM2413
    const Bytes damagedGzip = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0xFF};
    return {
        {"busy", WithKnobs(busy, 2, 1, 4)},
        {"writes", WithKnobs(WritesVgm(), 0, 2, -4)},
        {"streams", WithKnobs(StreamsVgm(), 4, 0, 8)},
        {"other-chips", WithKnobs(OtherChipsVgm(), 1, 3, 20)},
        {"v1.00", WithKnobs(OldVgm(), 5, 1, 0)},
        {"psg-only", WithKnobs(PsgOnlyVgm(), 3, 1, 4)},
        {"tag", WithKnobs(TagVgm(), 2, 1, 12)},
        {"data-offset", WithKnobs(DataOffsetVgm(), 0, 3, 24)},
        {"vgz", WithKnobs(Gzip(busy), 0, 1, 16)},
        {"cut-header", cutHeader},
        {"no-chip", otherChipOnly},
        {"not-vgm", Text("not a song")},
        {"damaged-gzip", damagedGzip},
    };
}
