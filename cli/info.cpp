// tamboril info: what the loader makes of each file.
//
//   tamboril info FILE...        a block per file: title, length, loop, form
//   tamboril info --tsv FILE...  one line per file:
//                                PATH<TAB>TITLE<TAB>LENGTH_MS<TAB>LOOP_FRAME,
//                                PATH<TAB>-<TAB>-<TAB>- when it cannot be opened
// Tabs, CRs and LFs in paths and titles are shown as blanks so that every file
// stays on one line. Exit status 1 when any file could not be opened.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "player/session.h"
#include "player/song.h"

namespace {

struct InfoOptions {
    bool tsv = false;
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

// Prints one file; false when it cannot be opened. The file is loaded once.
bool PrintInfo(const std::string& path, bool tsv) {
    const char* why = nullptr;
    std::unique_ptr<SongSession> song = SongSession::Open(path.c_str(), &why);
    if (!song) {
        PrintCannotOpen("tamboril", path, why);
        if (tsv) std::printf("%s\t-\t-\t-\n", OneLine(path).c_str());
        return false;
    }
    const SongFacts facts = song->Facts();
    if (tsv) {
        std::printf("%s\t%s\t%d\t%u\n", OneLine(path).c_str(), OneLine(song->Title()).c_str(),
                    facts.lengthMs, facts.loop);
    } else {
        std::printf("%s\n", path.c_str());
        std::printf("  title   %s\n", song->Title());
        std::printf("  length  %d ms (%s)\n", facts.lengthMs, Clock(facts.lengthMs).c_str());
        std::printf("  loop    %u\n", facts.loop);
        std::printf("  form    %s\n", facts.form);
    }
    return true;
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* info = app.add_subcommand("info", "Show title, length, loop frame and form of songs");
    info->add_flag("--tsv", options->tsv,
                   "One tab-separated line per file: PATH, TITLE, LENGTH_MS, LOOP_FRAME");
    info->add_option("FILE", options->files, "Song files (" + SongFileTypes() + ")")->required();
    info->callback([options, &status]() {
        bool allOpened = true;
        for (const std::string& file : options->files)
            allOpened = PrintInfo(file, options->tsv) && allOpened;
        std::fflush(stdout);
        status = allOpened ? kExitDone : kExitCannotOpen;
    });
}
