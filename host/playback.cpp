// Play, Stop, Pause and seeking, and the decode thread that renders 30 ms
// blocks of a song session and pumps them to the host's output module.
//
// Requests reach the thread through `requestBits` (set by an atomic OR, taken
// with one atomic exchange between blocks) and the auto-reset `wakeEvent`,
// which is also the thread's sleep. The thread never blocks in the output
// module: it polls CanWrite and waits on wakeEvent for 10 ms at a time.
//
// The thread's handle is kept until the thread has ended: Stop (and Quit)
// wait on the thread itself, so nothing of the library runs once they have
// returned, and the host may unload it at once. A thread that ended by
// itself is reaped by the next Play or Stop.
#include <cstring>
#include <memory>

#include "host/shell.h"
#include "player/engine.h"
#include "player/session.h"

platform::Handle wakeEvent = nullptr;
char currentFile[kPathSize] = "";
volatile int32_t songLengthMs = 0;

namespace {

constexpr int32_t REQUEST_STOP = 0x02;
constexpr int32_t REQUEST_SEEK = 0x40;
constexpr int32_t kStopMask = 0x03;  // either low bit stops the thread
constexpr int kStopBit = 1;
constexpr int kSeekBit = 6;

// Twice the largest block, for what the host's DSP may add to it.
constexpr int32_t kPcmBlockFrames = 2 * kMaxBlockFrames;
constexpr int32_t kBytesPerFrame = 4;  // 16-bit stereo
// The output's Write takes at most 8,192 bytes at a time; every block of
// every rate fits, a block a DSP has lengthened may not.
constexpr int32_t kMaxWriteFrames = 8192 / kBytesPerFrame;
// The visualisation hooks read this many frames from what they are given.
constexpr int32_t kVisFrames = 576;
constexpr uint32_t kPollMs = 10;

// Win32 thread priorities, indexed by the Priority setting (1 ... 5); 0 and 6
// are never chosen by the settings.
constexpr int threadPriorityMap[] = {-15, -2, -1, 0, 1, 2, 15};

volatile int32_t requestBits = 0;
volatile int32_t playFree = 1;    // 1 while no song is in play
volatile int32_t stopFree = 1;    // 1 while no Stop runs
volatile int32_t threadFree = 1;  // 1 while nobody uses decodeThread
volatile int32_t seekTargetMs = 0;
volatile int32_t paused = 0;

// The decode thread's handle, from its start until it is reaped; null when
// there is none. Read and written only while holding threadFree.
platform::ThreadHandle decodeThread = nullptr;

// The rate the output was opened with, Hz: written by Play before the thread
// starts, read by the thread.
int32_t songRate = 0;

// Used by the decode thread alone.
int32_t blockTimeMs = 0;
int16_t pcmBlock[2 * kPcmBlockFrames];
int16_t visBlock[2 * kVisFrames];  // the latest kVisFrames frames rendered, oldest first

Out_Module* Output() {
    return inModule.outMod;
}

void MakeRequest(int bit) {
    if (wakeEvent == nullptr) return;
    platform::AtomicOr(&requestBits, 1 << bit);
    platform::SetEvent(wakeEvent);
}

void DeInitVisualisation() {
    if (inModule.SAVSADeInit != nullptr) inModule.SAVSADeInit();
}

void TakeWord(volatile int32_t* word) {
    while (platform::AtomicExchange(word, 0) != 1)
        platform::Sleep(1);
}

void GiveWord(volatile int32_t* word) {
    platform::AtomicExchange(word, 1);
}

// Closes the decode thread's handle once the thread has ended, waiting up to
// `waitMs` for that. True when no thread is left; `*hadThread` tells whether
// there was one.
bool ReapThread(uint32_t waitMs, bool* hadThread) {
    TakeWord(&threadFree);
    *hadThread = decodeThread != nullptr;
    if (decodeThread != nullptr &&
        platform::WaitForThread(decodeThread, waitMs) == platform::kWaitObject0) {
        platform::CloseThread(decodeThread);
        decodeThread = nullptr;
    }
    const bool gone = decodeThread == nullptr;
    GiveWord(&threadFree);
    return gone;
}

// The block as the visualisation sees it: at least kVisFrames frames, the
// block preceded by the end of the ones before it (silence before the
// first). Sets `*timestampMs` to the time of the first frame given.
int16_t* VisualisationBlock(int32_t frames, int32_t rate, int32_t* timestampMs) {
    *timestampMs = blockTimeMs;
    if (frames >= kVisFrames) return pcmBlock;
    const int32_t kept = kVisFrames - frames;
    std::memmove(visBlock, visBlock + 2 * frames, kBytesPerFrame * static_cast<size_t>(kept));
    std::memcpy(visBlock + 2 * kept, pcmBlock, kBytesPerFrame * static_cast<size_t>(frames));
    const int32_t earlierMs = blockTimeMs - kept * 1000 / rate;
    *timestampMs = earlierMs > 0 ? earlierMs : 0;
    return visBlock;
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
// CanWrite comes before every IsPlaying: some outputs move their buffer on
// only when asked for room.
int32_t Drain() {
    uint32_t wait = platform::WaitForSingleObject(wakeEvent, 0);
    while (wait == platform::kWaitTimeout) {
        Output()->CanWrite();
        if (Output()->IsPlaying() == 0) return 0;
        wait = platform::WaitForSingleObject(wakeEvent, kPollMs);
    }
    int32_t req = platform::AtomicExchange(&requestBits, 0);
    if ((req & kStopMask) == 0) req |= REQUEST_STOP;
    return req;
}

int32_t ClampPriorityIndex(int32_t index) {
    const int32_t last =
        static_cast<int32_t>(sizeof threadPriorityMap / sizeof threadPriorityMap[0]) - 1;
    return index < 0 ? 0 : (index > last ? last : index);
}

uint32_t DecodeThread(void* argument) {
    // The thread owns the session from here on.
    std::unique_ptr<SongSession> song(static_cast<SongSession*>(argument));
    const int32_t rate = songRate;
    int32_t frames = song->BlockFrames();
    if (frames > kMaxBlockFrames) frames = kMaxBlockFrames;
    if (frames < 0) frames = 0;
    std::memset(visBlock, 0, sizeof visBlock);
    platform::SetThreadPriority(threadPriorityMap[ClampPriorityIndex(song->ThreadPriority())]);
    song->Start();

    Out_Module* out = Output();
    int32_t lastLoops = -1;
    int32_t req = 0;
    bool drain = !song->Running();
    while (!drain) {
        blockTimeMs = song->PositionMs();
        const int32_t loops = song->LoopsDone();
        if (loops != lastLoops) {
            if (inModule.SetInfo != nullptr) inModule.SetInfo(loops, rate / 1000, 2, 0);
            lastLoops = loops;
        }
        song->Render(pcmBlock, frames);
        int32_t visMs = 0;
        int16_t* vis = VisualisationBlock(frames, rate, &visMs);
        if (inModule.SAAddPCMData != nullptr) inModule.SAAddPCMData(vis, 2, 16, visMs);
        if (inModule.VSAAddPCMData != nullptr) inModule.VSAAddPCMData(vis, 2, 16, visMs);

        int32_t n = frames;
        if (inModule.dsp_isactive != nullptr && inModule.dsp_isactive() != 0 &&
            inModule.dsp_dosamples != nullptr) {
            n = inModule.dsp_dosamples(pcmBlock, frames, 16, 2, rate);
            // A DSP may hand back more than the block, but never more than
            // the buffer holds, and never a negative count.
            if (n < 0) n = 0;
            if (n > kPcmBlockFrames) n = kPcmBlockFrames;
        }

        // In pieces the output takes, each after its own wait; a block of
        // no frames still waits once, so requests are seen.
        int32_t done = 0;
        do {
            const int32_t piece = n - done < kMaxWriteFrames ? n - done : kMaxWriteFrames;
            const int32_t bytes = kBytesPerFrame * piece;
            req = WaitForRoom(bytes);
            if ((req & kStopMask) != 0) break;
            if ((req & REQUEST_SEEK) != 0) {
                // The rest of the block is dropped; all of it was shown to
                // the visualisation. A newer target stored meanwhile is kept.
                const int32_t target = platform::AtomicRead(&seekTargetMs);
                out->Flush(target);
                song->Seek(target);
                platform::AtomicCompareExchange(&seekTargetMs, 0, target);
                req = 0;
                break;
            }
            if (out->CanWrite() >= bytes) {
                out->Write(reinterpret_cast<char*>(pcmBlock + 2 * done), bytes);
            }
            done += piece;
        } while (done < n);
        if ((req & kStopMask) != 0) break;
        drain = !song->Running();
    }
    if (drain) req = Drain();

    song.reset();
    if (req == 0 && inModule.hMainWindow != nullptr) {
        platform::PostMessageA(inModule.hMainWindow, kEndOfFileMessage, 0, 0);
    }
    platform::AtomicExchange(&playFree, 1);
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
    // A song that played out leaves its thread ending or ended.
    bool hadThread = false;
    while (!ReapThread(kPollMs, &hadThread)) {
    }
    if (file == nullptr || !RememberPath(file)) {
        platform::AtomicExchange(&playFree, 1);
        return -1;
    }
    std::unique_ptr<SongSession> song = SongSession::Open(file);
    if (!song) {
        platform::AtomicExchange(&playFree, 1);
        return -1;
    }
    // The length that plays with the settings this song took when it opened.
    platform::AtomicExchange(&songLengthMs, song->PlayMs());
    const int32_t rate = song->Rate();

    Out_Module* out = Output();
    const int latency = out != nullptr ? out->Open(rate, 2, 16, 0, 0) : -1;
    if (latency < 0) {
        platform::AtomicExchange(&playFree, 1);
        return 1;
    }
    if (inModule.SetInfo != nullptr) inModule.SetInfo(0, rate / 1000, 2, 0);
    if (inModule.SAVSAInit != nullptr) inModule.SAVSAInit(latency, rate);
    if (inModule.VSASetInfo != nullptr) inModule.VSASetInfo(rate, 2);
    out->SetVolume(-666);

    // Whatever was asked before this song is forgotten; a request or a pause
    // made from now on, even before the thread runs, is kept.
    platform::AtomicExchange(&paused, 0);
    platform::AtomicExchange(&requestBits, 0);
    platform::ResetEvent(wakeEvent);
    songRate = rate;
    // The handle is stored before anyone can look for it: a short song's
    // thread may give playFree back at once, and the next Play (from another
    // of the host's threads) must find this thread to reap, not an empty slot
    // that this Play fills later over its own thread's handle.
    TakeWord(&threadFree);
    platform::ThreadHandle thread =
        wakeEvent != nullptr ? platform::StartThread(DecodeThread, song.get()) : nullptr;
    decodeThread = thread;
    GiveWord(&threadFree);
    if (thread != nullptr) {
        song.release();  // the thread's now
        return 0;
    }
    // No thread can run: undo everything, as if the song had never started.
    song.reset();
    out->Close();
    DeInitVisualisation();
    platform::AtomicExchange(&playFree, 1);
    return 1;
}

void EndDecodeThread() {
    for (;;) {
        // A song is in play until its thread gives playFree back; a Play may
        // hold it before its thread has started.
        const bool inPlay = platform::AtomicRead(&playFree) == 0;
        if (inPlay) MakeRequest(kStopBit);
        bool hadThread = false;
        const bool gone = ReapThread(kPollMs, &hadThread);
        if (gone && !inPlay) return;
        if (!hadThread) platform::Sleep(kPollMs);
    }
}

void Stop() {
    if (platform::AtomicExchange(&stopFree, 0) != 1) return;
    EndDecodeThread();
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

int IsPaused() {
    return platform::AtomicRead(&paused);
}

int GetOutputTime() {
    return Output() != nullptr ? Output()->GetOutputTime() : 0;
}

void SetOutputTime(int ms) {
    platform::AtomicExchange(&seekTargetMs, ms);
    MakeRequest(kSeekBit);
}
