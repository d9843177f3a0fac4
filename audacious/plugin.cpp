// Tamboril as an Audacious 4.2 input plug-in.
//
// It claims the names the format list claims (formats.h), in any case, and
// ranks before Audacious's general game-music plug-in, which also claims
// .gym. read_tag gives the title, the length that plays with the settings of
// the moment (loops and fade included), the tags and the form of the song as
// its session has them; play drives the session exactly as the Windows
// decode thread does, through PlayThrough: blocks of 30 ms at the song's
// rate until it stops running. Between blocks it obeys Audacious's stop and
// seek requests in the thread's order: a block is rendered, then a stop ends
// the song, a seek drops the block and moves the song by its own seek (to
// any point of the length that plays: a loop or the fade as well), and
// otherwise the block is written. The levels are read from the
// configuration before every block, so a change made on the preferences
// page (or through Audacious's D-Bus ConfigSet) is heard from the next
// block on, as on Windows.
//
// The FM chip, the PSG and the settings record are process-wide, so one song
// plays at a time: play() holds engineLock for the whole song. read_tag and
// is_our_file only read files (opening a song touches no chip) and may run
// on any thread meanwhile; read_tag copies the configuration into the
// settings record first, as play() does, which a song that plays has
// already taken its loop count, fade and rate from.
#include <libaudcore/audstrings.h>
#include <libaudcore/i18n.h>
#include <libaudcore/plugin.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audacious/tamboril_audacious.h"
#include "player/formats.h"
#include "player/session.h"
#include "player/tags.h"

namespace tamboril_audacious {

namespace {

std::mutex engineLock;  // held by play() while a song uses the chips

// Audacious's extensions for the plug-in: every extension of the format
// list's file types in lower case, and of a name ending only its last
// (".GYM.ZIP" gives "zip": Audacious looks at nothing before a name's last
// dot), each once, closed by null. Built as the plug-in is loaded, before
// aud_plugin_instance below and before Audacious reads the list.
const char* const* ExtensionList() {
    static std::vector<std::string> texts;
    static std::vector<const char*> list;
    ForEachExtension(false, [](const char* text, int length) {
        int start = length;
        while (start > 0 && text[start - 1] != '.')
            --start;
        std::string extension(text + start, text + length);
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension.empty()) return;
        for (const std::string& known : texts)
            if (known == extension) return;
        texts.push_back(extension);
    });
    for (const std::string& text : texts)
        list.push_back(text.c_str());
    list.push_back(nullptr);
    return list.data();
}

const char* const* const kExtensions = ExtensionList();

const char kAbout[] =
    N_("Tamboril plays GYM sound logs: plain logs, GYMX files (stored or "
       "compressed) and ZIP archives (.dru, .gym_zip, .gym.zip) with their info "
       "files; and VGM and VGZ files of the YM2612 and SN76489.\n\n"
       "The same engine and the same samples as the Winamp plug-in in_dru.dll.");

// Local file name of an Audacious URI, or empty for anything that is not a
// local file (the loader reads files by name, archives and info files
// included).
StringBuf LocalPath(const char* uri) {
    return uri_to_filename(uri);
}

// What the playlist and the song's information show: the title (the song's
// own track, or the session's title when it has none), the length that
// plays with the settings of the moment, game, author, year, comment and the
// form the file was read in.
void FillTuple(const SongSession& session, Tuple& tuple) {
    const SongTags& tags = session.Tags();
    const char* track = tags.text[kTagTrack];
    const std::string title =
        track[0] != '\0' ? std::string(track) : std::string(session.TitleUtf8());
    tuple.set_str(Tuple::Title, title.c_str());
    tuple.set_int(Tuple::Length, session.PlayMs());
    if (tags.text[kTagGame][0] != '\0') tuple.set_str(Tuple::Album, tags.text[kTagGame]);
    if (tags.text[kTagAuthor][0] != '\0') tuple.set_str(Tuple::Artist, tags.text[kTagAuthor]);
    char year[5];
    if (YearOf(tags.text[kTagDate], year)) tuple.set_int(Tuple::Year, std::atoi(year));
    if (tags.text[kTagComment][0] != '\0') tuple.set_str(Tuple::Comment, tags.text[kTagComment]);
    tuple.set_str(Tuple::Codec, session.Facts().form);
}

}  // namespace

class TamborilPlugin : public InputPlugin {
public:
    static constexpr PluginInfo kInfo = {N_("Tamboril GYM Player"), "tamboril", kAbout,
                                         &preferences, 0};

    // Priority 0: tried before every plug-in of the default priority, the
    // game-music plug-in among them.
    TamborilPlugin() : InputPlugin(kInfo, InputInfo().with_exts(kExtensions).with_priority(0)) {}

    bool init() override {
        EnsureEngineReady();
        return true;
    }

    // A name is ours when a format claims it: by its extension, or by a name
    // ending such as ".gym.zip" (Audacious's extension of "tune.gym.zip" is
    // only "zip").
    bool is_our_file(const char* filename, VFSFile&) override {
        StringBuf path = LocalPath(filename);
        return path && FormatClaimingName(path) != nullptr;
    }

    bool read_tag(const char* filename, VFSFile&, Tuple& tuple, Index<char>*) override {
        StringBuf path = LocalPath(filename);
        if (!path) return false;
        EnsureEngineReady();
        // The length that plays follows the loop count, fade and rate of the
        // moment; a song that plays meanwhile copied its own when it opened.
        LoadSettingsFromConfig();
        std::unique_ptr<SongSession> session = SongSession::Open(path);
        if (!session) return false;
        FillTuple(*session, tuple);
        return true;
    }

    bool play(const char* filename, VFSFile&) override {
        StringBuf path = LocalPath(filename);
        if (!path) return false;
        EnsureEngineReady();
        std::lock_guard<std::mutex> engine(engineLock);
        // The session takes the rate, loop count and fade time as it opens.
        LoadSettingsFromConfig();
        std::unique_ptr<SongSession> session = SongSession::Open(path);
        if (!session) return false;

        // After each block: a stop, a seek (the block dropped) or the block
        // written; then the levels for the next one.
        class AudaciousOutput : public BlockHost {
        public:
            int32_t TakeBlock(const int16_t* frames, int32_t count) override {
                if (check_stop()) return kStopPlaying;
                int32_t next = check_seek();
                if (next < 0) {
                    write_audio(frames, count * 4);
                    next = kKeepPlaying;
                }
                LoadLevelsFromConfig();
                return next;
            }
        } output;

        open_audio(FMT_S16_NE, session->Rate(), 2);
        LoadLevelsFromConfig();
        return PlayThrough(*session, session->BlockFrames(), output);
    }
};

}  // namespace tamboril_audacious

// The plug-in's one exported symbol; the linker's version script hides the
// rest, the engine's names included.
__attribute__((visibility("default"))) tamboril_audacious::TamborilPlugin aud_plugin_instance;
