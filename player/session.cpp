#include "player/session.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file.h"
#include "player/engine.h"
#include "player/song.h"

SongSession::SongSession(const SongFormat& format, SongPlayer* player, const char* path)
    : format_(&format), player_(player), rate_(player->ops.sampleRate(player)) {
    facts_ = SongFacts{};
    facts_.title = facts_.form = "";
    player->ops.describe(player, &facts_);
    // The song's own title, or the file's name in brackets.
    if (facts_.title[0] != 0) {
        JoinTitle(facts_.title, "", title_);
    } else {
        JoinTitle("", PathFileName(path), title_);
    }
    bool utf8 = !(format.eightBitText && facts_.title[0] != 0);
    for (const char* at = title_; utf8 && *at != 0;) {
        const char* from = at;
        // U+FFFD stands for a malformed byte unless the text spells it out.
        if (NextUtf8(&at) == 0xFFFD)
            utf8 = at - from == 3 && std::memcmp(from, "\xEF\xBF\xBD", 3) == 0;
    }
    if (utf8) {
        std::memcpy(titleUtf8_, title_, kTitleSize);
    } else {
        Windows1252ToUtf8(reinterpret_cast<const uint8_t*>(title_), kTitleSize, titleUtf8_,
                          sizeof titleUtf8_);
    }
}

SongSession::~SongSession() {
    player_->ops.halt(player_);
    player_->ops.destroy(player_);
}

std::unique_ptr<SongSession> SongSession::Load(SongSource* source, const char** why) {
    const SongFormat& format = FormatForFile(source->path, source->bytes, source->size);
    SongPlayer* player = format.load(source);
    std::free(source->bytes);
    source->bytes = nullptr;
    if (player == nullptr) {
        if (why != nullptr && source->refusal != nullptr) *why = source->refusal;
        return nullptr;
    }
    std::unique_ptr<SongSession> session(new (std::nothrow)
                                             SongSession(format, player, source->path));
    if (!session) player->ops.destroy(player);
    return session;
}

std::unique_ptr<SongSession> SongSession::Open(const char* path, const char** why) {
    uint32_t size = 0;
    uint8_t* bytes = platform::ReadWholeFile(path, kSourceSpare, kSongFileLimit, &size);
    if (bytes == nullptr) return nullptr;
    SongSource source = {path, bytes, size, nullptr, 0, nullptr};
    return Load(&source, why);
}

std::unique_ptr<SongSession> SongSession::OpenBytes(const char* name, const uint8_t* bytes,
                                                    uint32_t size, const CompanionFile* companions,
                                                    int32_t companionCount, const char** why) {
    static const CompanionFile kNoCompanions[1] = {{"", nullptr, 0}};
    if (size > kSongFileLimit) return nullptr;
    uint8_t* copy = static_cast<uint8_t*>(std::calloc(size + kSourceSpare, 1));
    if (copy == nullptr) return nullptr;
    if (size > 0) std::memcpy(copy, bytes, size);
    SongSource source = {name,
                         copy,
                         size,
                         companions != nullptr ? companions : kNoCompanions,
                         companions != nullptr ? companionCount : 0,
                         nullptr};
    return Load(&source, why);
}

int32_t SongSession::BlockFrames() const {
    return ::BlockFrames(rate_);
}

int32_t SongSession::ThreadPriority() const {
    return player_->ops.threadPriority(player_);
}

void SongSession::Start() {
    player_->ops.start(player_);
}

void SongSession::Render(int16_t* buffer, int32_t frames) {
    player_->ops.render(player_, buffer, frames);
}

void SongSession::Seek(int32_t ms) {
    player_->ops.seek(player_, ms);
}

int32_t SongSession::PositionMs() const {
    return player_->ops.positionMs(player_);
}

int32_t SongSession::LoopsDone() const {
    return player_->ops.loopsDone(player_);
}

bool SongSession::Running() const {
    return player_->ops.isRunning(player_) != 0;
}

bool PlayThrough(SongSession& session, int32_t blockFrames, BlockHost& host, int32_t firstFrames) {
    if (blockFrames < 1) blockFrames = 1;
    if (firstFrames < 1) firstFrames = blockFrames;
    const int32_t most = firstFrames > blockFrames ? firstFrames : blockFrames;
    std::unique_ptr<int16_t[]> block(new (std::nothrow) int16_t[2 * static_cast<size_t>(most)]);
    if (!block) return false;
    session.Start();
    for (int32_t frames = firstFrames; session.Running(); frames = blockFrames) {
        session.Render(block.get(), frames);
        const int32_t next = host.TakeBlock(block.get(), frames);
        if (next == BlockHost::kStopPlaying) break;
        if (next >= 0) session.Seek(next);
    }
    return true;
}

int GetSongInfo(const char* path, char* title, int32_t* lengthMs) {
    std::unique_ptr<SongSession> session = SongSession::Open(path);
    if (!session) return 0;
    if (title != nullptr) std::memcpy(title, session->Title(), kTitleSize);
    if (lengthMs != nullptr) *lengthMs = session->PlayMs();
    return 1;
}
