// What the plug-in's tests share: the stand-in host loaded fresh for each
// test, songs made from code, and the blocks a render gives.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "song_builder.h"
#include "tests/host/standin_host.h"
#ifndef _WIN32
#include "platform/kernel.h"
#endif

namespace shelltest {

constexpr int kReturnMs = 1000;  // every entry point is back within this

// The stand-in host's records of one call, in order.
inline std::vector<standin::Record> CallsOf(standin::Call call) {
    std::vector<standin::Record> out;
    for (const standin::Record& r : standin::Calls()) {
        if (r.call == call) out.push_back(r);
    }
    return out;
}

// A PSG tone held for `frames` frames (1/60 s each), ending by itself.
inline std::vector<uint8_t> ToneStream(int frames) {
    SongBuilder song;
    song.Psg(0x8E).Psg(0x0F).Psg(0x90).Fm(0x28, 0x00);
    for (int i = 0; i < frames; ++i)
        song.Psg(static_cast<uint8_t>(0x80 | (i & 0x0F))).Frame();
    return song.Bytes();
}

// A song file in this process's temp folder.
inline std::string SongFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = TempPath(name);
    WriteFileBytes(path, bytes);
    return path;
}

inline std::string ShortSong() {
    return SongFile("short.gym", ToneStream(60));
}

// Loops from frame 1 back over its 30 frames for as long as LoopCount allows.
inline std::string LoopingSong() {
    return SongFile("looping.gym", MakeGymx(ToneStream(30), "Looping", "", 1, false));
}

inline std::string Ini(const std::string& body) {
    return "[Tamboril]\r\n" + body;
}

// The value of `key` in the plug-in's plugin.ini section, or "(none)".
inline std::string IniValue(const std::string& key) {
    const std::string text = standin::ReadIni();
    size_t section = text.find("[Tamboril]");
    if (section == std::string::npos) return "(none)";
    size_t end = text.find("\n[", section + 1);
    const std::string body =
        text.substr(section, end == std::string::npos ? std::string::npos : end - section);
    size_t at = body.find("\n" + key + "=");
    if (at == std::string::npos) return "(none)";
    at += key.size() + 2;
    return body.substr(at, body.find_first_of("\r\n", at) - at);
}

// Each test starts with Init and ends with Stop and Quit, as a host's
// session does.
class ShellTest : public ::testing::Test {
protected:
    void LoadWith(const char* iniText) {
        standin::Knobs& knobs = standin::Settings();
        knobs.canWriteBytes = -1;
        knobs.realtime = false;
        knobs.drainMs = 0;
        knobs.openFails = false;
        knobs.dsp = standin::Dsp::none;
        knobs.holdHooks = false;
        knobs.canWritesToPlayOut = 0;
        knobs.strictWrites = false;
        knobs.onOpen = nullptr;
        ASSERT_TRUE(standin::Load(iniText));
        standin::Clear();
    }
    void SetUp() override { LoadWith(nullptr); }
    // Also puts back what a test may have changed and left so by failing,
    // so that the next test starts as every test does.
    void TearDown() override {
        standin::Settings().holdHooks = false;
        standin::Stop();
        standin::Unload();
        if (standin::Loaded()) standin::Plugin().hMainWindow = standin::MainWindow();
        standin::Settings().onOpen = nullptr;
#ifndef _WIN32
        platform::FailThreadStarts(false);
        platform::SlowThreadExits(0);
#endif
    }
    static bool WaitFor(standin::Call call, int count, int timeoutMs = 5000) {
        return standin::WaitUntil([&] { return standin::Count(call) >= count; }, timeoutMs);
    }
};

}  // namespace shelltest
