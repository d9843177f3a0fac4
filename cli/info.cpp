// tamboril info: what the loader makes of each file.
//
//   tamboril info [--loops N] [--fade MS] FILE...
//       a block per file: title, one pass, the length that plays with that
//       loop count and fade (the settings' defaults when not given), loop
//       frame, form, then every tag the file fills, by its label
//   tamboril info --tsv [--loops N] [--fade MS] FILE...
//       one line of 18 tab-separated columns per file:
//         1 PATH  2 TITLE  3 LENGTH_MS (one pass)  4 LOOP_FRAME  5 PLAY_MS
//         6 FORM  7 TRACK  8 GAME  9 SYSTEM  10 AUTHOR  11 DATE  12 PUBLISHER
//         13 DUMPER (or ripper)  14 COMMENT (or notes)  15 TRACK_JA
//         16 GAME_JA  17 SYSTEM_JA  18 AUTHOR_JA
//       a column the file's format has no field for is empty; a file that
//       cannot be opened gives its path and '-' in the 17 others
// Texts are UTF-8: a title that is not UTF-8 (a GYM's 8-bit text) is read as
// Windows-1252, as the tags are. Tabs, CRs and LFs in any column are shown as
// blanks so that every file stays on one line. Exit status 1 when any file
// could not be opened.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "player/session.h"
#include "player/settings.h"
#include "player/song.h"
#include "player/tags.h"

namespace {

// The tags the tab-separated line gives, from column 7 on, in this order.
constexpr SongTag kFirstTsvTag = kTagTrack;
constexpr SongTag kLastTsvTag = kTagAuthorJa;
constexpr int kTsvColumns = 6 + (kLastTsvTag - kFirstTsvTag + 1);

struct InfoOptions {
    bool tsv = false;
    int loops = kDefaultLoopCount;
    int fadeMs = kDefaultFadeoutTime;
    std::vector<std::string> files;
};

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return text;
}

// m:ss.mmm
std::string Clock(int32_t ms) {
    if (ms < 0) return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d.%03d", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

void PrintTsv(const std::string& path, const SongSession& song) {
    const SongFacts facts = song.Facts();
    std::printf("%s\t%s\t%d\t%u\t%d\t%s", OneLine(path).c_str(),
                OneLine(std::string(song.TitleUtf8())).c_str(), facts.lengthMs, facts.loop,
                facts.playMs, OneLine(facts.form).c_str());
    for (int tag = kFirstTsvTag; tag <= kLastTsvTag; ++tag)
        std::printf("\t%s", OneLine(song.Tags().text[tag]).c_str());
    std::printf("\n");
}

void PrintBlock(const std::string& path, const SongSession& song, int loops, int fadeMs) {
    const SongFacts facts = song.Facts();
    std::printf("%s\n", path.c_str());
    std::printf("  title   %s\n", std::string(song.TitleUtf8()).c_str());
    std::printf("  length  %d ms (%s), one pass\n", facts.lengthMs, Clock(facts.lengthMs).c_str());
    if (facts.loop != 0 && loops == 0) {
        std::printf("  plays   for ever (loop count 0)\n");
    } else if (facts.loop != 0) {
        std::printf("  plays   %d ms (%s) with %d loop%s and a %d ms fade\n", facts.playMs,
                    Clock(facts.playMs).c_str(), loops, loops == 1 ? "" : "s", fadeMs);
    } else {
        std::printf("  plays   %d ms (%s), it does not loop\n", facts.playMs,
                    Clock(facts.playMs).c_str());
    }
    std::printf("  loop    %u\n", facts.loop);
    std::printf("  form    %s\n", facts.form);
    const char* lead = "  tags    ";
    for (int tag = 0; tag < kTagCount; ++tag) {
        const char* text = song.Tags().text[tag];
        if (text[0] == '\0') continue;
        std::printf("%s%-17s %s\n", lead, TagLabel(static_cast<SongTag>(tag)),
                    OneLine(text).c_str());
        lead = "          ";
    }
}

// Prints one file; false when it cannot be opened. The file is loaded once.
bool PrintInfo(const std::string& path, const InfoOptions& options) {
    const char* why = nullptr;
    std::unique_ptr<SongSession> song = SongSession::Open(path.c_str(), &why);
    if (!song) {
        PrintCannotOpen("tamboril", path, why);
        if (options.tsv) {
            std::printf("%s", OneLine(path).c_str());
            for (int column = 2; column <= kTsvColumns; ++column)
                std::printf("\t-");
            std::printf("\n");
        }
        return false;
    }
    if (options.tsv)
        PrintTsv(path, *song);
    else
        PrintBlock(path, *song, options.loops, options.fadeMs);
    return true;
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* info = app.add_subcommand(
        "info",
        "Show title, form, lengths (one pass and what plays), loop frame and tags of songs");
    info->add_flag(
        "--tsv", options->tsv,
        "One line of 18 tab-separated columns per file: PATH, TITLE, LENGTH_MS (one pass), "
        "LOOP_FRAME, PLAY_MS (what plays with --loops and --fade; one pass with --loops 0), FORM, "
        "then the tags TRACK, GAME, SYSTEM, AUTHOR, DATE, PUBLISHER, DUMPER (or ripper), COMMENT "
        "(or notes), TRACK_JA, GAME_JA, SYSTEM_JA, AUTHOR_JA, empty where the format has no such "
        "field. A file that cannot be opened gets - in every column after its path. Texts are "
        "UTF-8; tabs, CRs and LFs inside a column are shown as spaces");
    AddLoopAndFadeOptions(*info, options->loops, options->fadeMs);
    info->add_option("FILE", options->files, "Song files (" + SongFileTypes() + ")")->required();
    info->callback([options, &status]() {
        // Each song copies these as it opens; the rate is the default's.
        ResetSettingsToDefaults();
        settings.loopCount = options->loops;
        settings.fadeoutTime = options->fadeMs;
        bool allOpened = true;
        for (const std::string& file : options->files)
            allOpened = PrintInfo(file, *options) && allOpened;
        std::fflush(stdout);
        status = allOpened ? kExitDone : kExitCannotOpen;
    });
}
