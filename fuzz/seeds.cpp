// Starting inputs for the fuzz targets, made with the song builder.
#include "fuzz/seeds.h"

#include "song_builder.h"

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
