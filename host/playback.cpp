// Play, Stop, Pause and seeking, and the decode thread that renders 30 ms
// blocks through the player's operations and pumps them to the host's output
// module.
//
// Requests reach the thread through `requestBits` (set by an atomic OR, taken
// with one atomic exchange between blocks) and the auto-reset `wakeEvent`,
// which is also the thread's sleep. The thread never blocks in the output
// module: it polls CanWrite and waits on wakeEvent for 10 ms at a time.
#include <cstring>

#include "host/shell.h"
#include "player/engine.h"
#include "player/player.h"
#include "player/song.h"

platform::Handle wakeEvent = nullptr;
platform::Handle doneEvent = nullptr;
char currentFile[kPathSize] = "";
volatile int32_t songLengthMs = 0;

namespace {

constexpr int32_t REQUEST_STOP = 0x02;
constexpr int32_t REQUEST_SEEK = 0x40;
constexpr int32_t kStopMask = 0x03;  // either low bit stops the thread
constexpr int kStopBit = 1;
constexpr int kSeekBit = 6;

constexpr int32_t kFallbackRate = 44100;  // output rate when there is no player
// Twice the largest block, for what the host's DSP may add to it.
constexpr int32_t kPcmBlockFrames = 2 * kMaxBlockFrames;
constexpr int32_t kBytesPerFrame = 4;      // 16-bit stereo
constexpr uint32_t kPollMs = 10;

// Win32 thread priorities, indexed by the Priority setting (1 ... 5); 0 and 6
// are never chosen by the settings.
constexpr int threadPriorityMap[] = {-15, -2, -1, 0, 1, 2, 15};

volatile int32_t requestBits = 0;
volatile int32_t playFree = 1;  // 1 while no song is in play
volatile int32_t stopFree = 1;  // 1 while no Stop runs
volatile int32_t seekTargetMs = 0;
volatile int32_t paused = 0;

// Used by the decode thread alone.
int32_t blockTimeMs = 0;
int16_t pcmBlock[2 * kPcmBlockFrames];

Out_Module* Output() { return inModule.outMod; }

void MakeRequest(int bit) {
    if (wakeEvent == nullptr) return;
    platform::AtomicOr(&requestBits, 1 << bit);
    platform::SetEvent(wakeEvent);
}

void DeInitVisualisation() {
    if (inModule.SAVSADeInit != nullptr) inModule.SAVSADeInit();
}

// Waits until the output can take `bytes`, or a request arrives; returns the
// request (0 when there is room). A wake with no request bits is a stop.
int32_t WaitForRoom(int32_t bytes) {
    uint32_t wait = platform::WaitForSingleObject(wakeEvent, 0);
    while (wait == platform::kWaitTimeout) {
        if (Output()->CanWrite() >= bytes) return 0;
        wait = platform::WaitForSingleObject(wakeEvent, kPollMs);
    }
    int32_t req = platform::AtomicExchange(&requestBits, 0);
    return req != 0 ? req : REQUEST_STOP;
}

// Lets the output play out what it holds. 0 when it has, else the request
// that came first, always with the stop bit: a seek here ends as a stop.
int32_t Drain() {
    uint32_t wait = platform::WaitForSingleObject(wakeEvent, 0);
    while (wait == platform::kWaitTimeout) {
        if (Output()->IsPlaying() == 0) return 0;
        wait = platform::WaitForSingleObject(wakeEvent, kPollMs);
    }
    int32_t req = platform::AtomicExchange(&requestBits, 0);
    if ((req & kStopMask) == 0) req |= REQUEST_STOP;
    return req;
}

int32_t ClampPriorityIndex(int32_t index) {
    const int32_t last = static_cast<int32_t>(sizeof threadPriorityMap / sizeof threadPriorityMap[0]) - 1;
    return index < 0 ? 0 : (index > last ? last : index);
}

uint32_t DecodeThread(void* argument) {
    GymPlayer* player = static_cast<GymPlayer*>(argument);
    const PlayerOps& ops = player->ops;
    platform::AtomicExchange(&paused, 0);
    platform::AtomicExchange(&requestBits, 0);
    platform::ResetEvent(wakeEvent);
    platform::ResetEvent(doneEvent);

    const int32_t rate = ops.sampleRate(player);
    int32_t frames = BlockFrames(rate);
    if (frames > kMaxBlockFrames) frames = kMaxBlockFrames;
    if (frames < 0) frames = 0;
    platform::SetThreadPriority(threadPriorityMap[ClampPriorityIndex(ops.threadPriority(player))]);
    ops.start(player);

    Out_Module* out = Output();
    int32_t lastLoops = -1;
    int32_t req = 0;
    bool drain = ops.isRunning(player) == 0;
    while (!drain) {
        blockTimeMs = ops.positionMs(player);
        const int32_t loops = ops.loopsDone(player);
        if (loops != lastLoops) {
            if (inModule.SetInfo != nullptr) inModule.SetInfo(loops, rate / 1000, 2, 0);
            lastLoops = loops;
        }
        ops.render(player, pcmBlock, frames);
        if (inModule.SAAddPCMData != nullptr) inModule.SAAddPCMData(pcmBlock, 2, 16, blockTimeMs);
        if (inModule.VSAAddPCMData != nullptr) inModule.VSAAddPCMData(pcmBlock, 2, 16, blockTimeMs);

        int32_t n = frames;
        if (inModule.dsp_isactive != nullptr && inModule.dsp_isactive() != 0 &&
            inModule.dsp_dosamples != nullptr) {
            n = inModule.dsp_dosamples(pcmBlock, frames, 16, 2, rate);
            // A DSP may hand back more than the block, but never more than
            // the buffer holds, and never a negative count.
            if (n < 0) n = 0;
            if (n > kPcmBlockFrames) n = kPcmBlockFrames;
        }
        const int32_t bytes = kBytesPerFrame * n;

        req = WaitForRoom(bytes);
        if ((req & kStopMask) != 0) break;
        if ((req & REQUEST_SEEK) != 0) {
            // The block just rendered is dropped: it was only shown to the
            // visualisation. A newer target stored meanwhile is kept.
            const int32_t target = platform::AtomicRead(&seekTargetMs);
            out->Flush(target);
            ops.seek(player, target);
            platform::AtomicCompareExchange(&seekTargetMs, 0, target);
            req = 0;
        } else if (out->CanWrite() >= bytes) {
            out->Write(reinterpret_cast<char*>(pcmBlock), bytes);
        }
        drain = ops.isRunning(player) == 0;
    }
    if (drain) req = Drain();

    ops.halt(player);
    ops.destroy(player);
    if (req == 0 && inModule.hMainWindow != nullptr) {
        platform::PostMessageA(inModule.hMainWindow, kEndOfFileMessage, 0, 0);
    }
    platform::AtomicExchange(&playFree, 1);
    platform::SetEvent(doneEvent);
    return 0;
}

// Copies `path` into `currentFile` when it fits with its terminator.
bool RememberPath(const char* path) {
    const size_t length = std::strlen(path);
    if (length >= sizeof currentFile) return false;
    AcquireInfo();
    std::memcpy(currentFile, path, length + 1);
    ReleaseInfo();
    return true;
}

}  // namespace

// 0 when the song plays; -1 when it cannot be played (the host moves on to
// the next entry; nothing was opened or announced); 1 when a song is already
// in play, the output cannot be opened, or the decode thread cannot run.
int Play(const char* file) {
    if (platform::AtomicExchange(&playFree, 0) != 1) return 1;
    if (file == nullptr || !RememberPath(file)) {
        platform::AtomicExchange(&playFree, 1);
        return -1;
    }
    int length = platform::AtomicRead(&songLengthMs);
    GetFileInfo(nullptr, nullptr, &length);
    platform::AtomicExchange(&songLengthMs, length);

    GymPlayer* player = OpenSong(file);
    if (player == nullptr) {
        platform::AtomicExchange(&playFree, 1);
        return -1;
    }
    const int32_t rate = player->ops.sampleRate(player);

    Out_Module* out = Output();
    const int latency = out != nullptr ? out->Open(rate, 2, 16, 0, 0) : -1;
    if (latency < 0) {
        player->ops.destroy(player);
        platform::AtomicExchange(&playFree, 1);
        return 1;
    }
    if (inModule.SetInfo != nullptr) inModule.SetInfo(0, rate / 1000, 2, 0);
    if (inModule.SAVSAInit != nullptr) inModule.SAVSAInit(latency, rate);
    if (inModule.VSASetInfo != nullptr) inModule.VSASetInfo(rate, 2);
    out->SetVolume(-666);

    if (wakeEvent != nullptr && doneEvent != nullptr &&
        platform::StartDetachedThread(DecodeThread, player)) {
        return 0;
    }
    // No thread can run: undo everything, as if the song had never started.
    player->ops.destroy(player);
    out->Close();
    DeInitVisualisation();
    platform::AtomicExchange(&playFree, 1);
    return 1;
}

void Stop() {
    if (platform::AtomicExchange(&stopFree, 0) != 1) return;
    while (platform::AtomicRead(&playFree) == 0) {
        MakeRequest(kStopBit);
        if (platform::WaitForSingleObject(doneEvent, kPollMs) == platform::kWaitFailed) {
            platform::Sleep(kPollMs);
        }
    }
    if (Output() != nullptr) Output()->Close();
    DeInitVisualisation();
    platform::AtomicExchange(&stopFree, 1);
}

void Pause() {
    platform::AtomicExchange(&paused, 1);
    if (Output() != nullptr) Output()->Pause(1);
}

void UnPause() {
    platform::AtomicExchange(&paused, 0);
    if (Output() != nullptr) Output()->Pause(0);
}

int IsPaused() { return platform::AtomicRead(&paused); }

int GetOutputTime() { return Output() != nullptr ? Output()->GetOutputTime() : 0; }

void SetOutputTime(int ms) {
    platform::AtomicExchange(&seekTargetMs, ms);
    MakeRequest(kSeekBit);
}
