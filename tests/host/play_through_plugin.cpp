// tamboril_host: plays one song through the plug-in, loaded by the stand-in
// host as the media player loads it, and writes what the plug-in wrote to
// the output module as a 16-bit stereo WAV file. For checking the plug-in by
// hand.
//
//   tamboril_host SONG [-o OUT.wav] [--ini FILE] [--seek-at AT:TARGET]
//                 [--stop-at MS] [--realtime]
//
//   -o          the WAV file (default: out.wav)
//   --ini       a plugin.ini to start with (default: none, so the defaults)
//   --seek-at   once AT ms of audio have been written, seek to TARGET ms
//   --stop-at   once MS ms of audio have been written, stop (default: play
//               to the song's end)
//   --realtime  the output plays at the real rate instead of at once
//
// Exit status: 0 when the song played, 1 when the plug-in refused it or the
// file could not be written, 2 on bad usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host/standin_host.h"

namespace {

using standin::Call;

bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm, uint32_t rate) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const uint32_t dataBytes = static_cast<uint32_t>(pcm.size() * 2);
    auto le32 = [&](uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        std::fwrite(b, 1, 4, file);
    };
    auto le16 = [&](uint16_t v) {
        uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        std::fwrite(b, 1, 2, file);
    };
    std::fwrite("RIFF", 1, 4, file);
    le32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    le32(16);
    le16(1);  // PCM
    le16(2);
    le32(rate);
    le32(rate * 4);
    le16(4);
    le16(16);
    std::fwrite("data", 1, 4, file);
    le32(dataBytes);
    for (int16_t s : pcm)
        le16(static_cast<uint16_t>(s));
    return std::fclose(file) == 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tamboril_host SONG [-o OUT.wav] [--ini FILE] [--seek-at AT:TARGET]\n"
                 "                     [--stop-at MS] [--realtime]\n");
    return 2;
}

// Milliseconds of audio written so far at `rate`.
int64_t WrittenMs(uint32_t rate) {
    return static_cast<int64_t>(standin::Pcm().size() / 2) * 1000 / rate;
}

}  // namespace

int main(int argc, char** argv) {
    std::string song, out = "out.wav", ini;
    int seekAt = -1, seekTarget = 0, stopAt = -1;
    bool realtime = false, haveIni = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-o" && hasValue) {
            out = argv[++i];
        } else if (arg == "--ini" && hasValue) {
            std::ifstream file(argv[++i], std::ios::binary);
            std::stringstream text;
            text << file.rdbuf();
            ini = text.str();
            haveIni = true;
        } else if (arg == "--seek-at" && hasValue) {
            if (std::sscanf(argv[++i], "%d:%d", &seekAt, &seekTarget) != 2 || seekAt < 0)
                return Usage();
        } else if (arg == "--stop-at" && hasValue) {
            stopAt = std::atoi(argv[++i]);
        } else if (arg == "--realtime") {
            realtime = true;
        } else if (!arg.empty() && arg[0] != '-' && song.empty()) {
            song = arg;
        } else {
            return Usage();
        }
    }
    if (song.empty()) return Usage();

    if (!standin::Load(haveIni ? ini.c_str() : nullptr)) {
        std::fprintf(stderr, "tamboril_host: the plug-in could not be loaded\n");
        return 1;
    }
    standin::Settings().realtime = realtime;
    const int played = standin::Play(song);
    if (played != 0) {
        std::fprintf(stderr, "tamboril_host: Play returned %d\n", played);
        standin::Unload();
        return 1;
    }
    const uint32_t rate = static_cast<uint32_t>(standin::Calls()[0].a);
    bool seeked = seekAt < 0;
    for (;;) {
        if (standin::EndOfFiles() > 0) break;
        const int64_t ms = WrittenMs(rate);
        if (!seeked && ms >= seekAt) {
            standin::Plugin().SetOutputTime(seekTarget);
            seeked = true;
        }
        if (stopAt >= 0 && ms >= stopAt) break;
        standin::WaitUntil([] { return false; }, 2);
    }
    standin::Stop();
    standin::Unload();
    if (!WriteWav(out, standin::Pcm(), rate)) {
        std::fprintf(stderr, "tamboril_host: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %zu frames at %u Hz\n", out.c_str(), standin::Pcm().size() / 2, rate);
    return 0;
}
