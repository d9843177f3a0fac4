// Tamboril as an Audacious 4.2 input plug-in.
//
// It claims names ending .gym, .dru, .gym_zip and .gym.zip (in any case) and
// ranks before Audacious's general game-music plug-in, which also claims
// .gym. read_tag gives the title and the length the loader gives; play drives
// the player exactly as the Windows decode thread does: sampleRate, start,
// then blocks of rate x 30 / 1000 stereo frames until the song stops running.
// Between blocks it obeys Audacious's stop and seek requests in the thread's
// order: a block is rendered, then a stop ends the song, a seek drops the
// block and moves the player by its own seek, and otherwise the block is
// written. The levels are read from the configuration before every block,
// so a change made on the preferences page (or through Audacious's D-Bus
// ConfigSet) is heard from the next block on, as on Windows.
//
// The FM chip, the PSG and the settings record are process-wide, so one song
// plays at a time: play() holds engineLock for the whole song. read_tag and
// is_our_file only read files (the loader touches no chip) and may run on
// any thread meanwhile.
#include <libaudcore/audstrings.h>
#include <libaudcore/i18n.h>
#include <libaudcore/plugin.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "audacious/tamboril_audacious.h"
#include "player/engine.h"
#include "player/player.h"
#include "player/song.h"

namespace tamboril_audacious {

namespace {

std::mutex engineLock;  // held by play() while a song uses the chips

const char* const kExtensions[] = {"gym", "dru", "gym_zip", "zip", nullptr};

const char kAbout[] =
    N_("Tamboril plays GYM sound logs: plain logs, GYMX files (stored or "
       "compressed) and ZIP archives (.dru, .gym_zip, .gym.zip) with their info "
       "files.\n\n"
       "The same engine and the same samples as the Winamp plug-in in_dru.dll.");

// Local file name of an Audacious URI, or empty for anything that is not a
// local file (the loader reads files by name, archives and info files
// included).
StringBuf LocalPath(const char* uri) {
    return uri_to_filename(uri);
}

// A name is ours by its extension, or, for archives, by ".gym.zip" at its
// end: Audacious's extension of "tune.gym.zip" is only "zip".
bool ClaimsName(const char* path) {
    return HasExtension(path, "gym") || HasExtension(path, "dru") ||
           HasExtension(path, "gym_zip") || MatchesArchiveSuffix(path);
}

// Titles are 8-bit text in whatever code page the log was made with;
// Audacious wants UTF-8. Valid UTF-8 passes unchanged, anything else goes
// through Audacious's own guess of the character set, and as a last resort
// bytes above 0x7F become '?'.
StringBuf TitleAsUtf8(const char* title) {
    StringBuf converted = str_to_utf8(title, static_cast<int>(std::strlen(title)));
    if (converted) return converted;
    StringBuf plain = str_copy(title);
    for (int i = 0; i < plain.len(); ++i) {
        if (static_cast<unsigned char>(plain[i]) > 0x7F) plain[i] = '?';
    }
    return plain;
}

}  // namespace

class TamborilPlugin : public InputPlugin {
public:
    static constexpr PluginInfo kInfo = {N_("Tamboril GYM Player"), "tamboril", kAbout,
                                         &preferences, 0};

    // Priority 0: tried before every plug-in of the default priority, the
    // game-music plug-in among them.
    constexpr TamborilPlugin()
        : InputPlugin(kInfo, InputInfo().with_exts(kExtensions).with_priority(0)) {}

    bool init() override {
        EnsureEngineReady();
        return true;
    }

    bool is_our_file(const char* filename, VFSFile&) override {
        StringBuf path = LocalPath(filename);
        return path && ClaimsName(path);
    }

    bool read_tag(const char* filename, VFSFile&, Tuple& tuple, Index<char>*) override {
        StringBuf path = LocalPath(filename);
        if (!path) return false;
        char title[kTitleSize];
        int32_t lengthMs = 0;
        if (!GetSongInfo(path, title, &lengthMs)) return false;
        tuple.set_str(Tuple::Title, TitleAsUtf8(title));
        tuple.set_int(Tuple::Length, lengthMs);
        tuple.set_str(Tuple::Codec, "GYM sound log");
        return true;
    }

    bool play(const char* filename, VFSFile&) override {
        StringBuf path = LocalPath(filename);
        if (!path) return false;
        EnsureEngineReady();
        std::lock_guard<std::mutex> engine(engineLock);
        LoadSettingsFromConfig();

        GymPlayer* player = OpenSong(path);
        if (player == nullptr) return false;
        const PlayerOps& ops = player->ops;
        const int32_t rate = ops.sampleRate(player);
        const int32_t frames = BlockFrames(rate);
        std::vector<int16_t> block(2 * static_cast<size_t>(frames));

        open_audio(FMT_S16_NE, rate, 2);
        ops.start(player);
        while (ops.isRunning(player)) {
            LoadLevelsFromConfig();
            ops.render(player, block.data(), frames);
            if (check_stop()) break;
            int seekMs = check_seek();
            if (seekMs >= 0) {
                ops.seek(player, seekMs);
                continue;
            }
            write_audio(block.data(), frames * 4);
        }
        ops.halt(player);
        ops.destroy(player);
        return true;
    }
};

}  // namespace tamboril_audacious

// The plug-in's one exported symbol; the linker's version script hides the
// rest, the engine's names included.
__attribute__((visibility("default"))) tamboril_audacious::TamborilPlugin aud_plugin_instance;
