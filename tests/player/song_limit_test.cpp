// Songs over the size limit are refused at once and cheaply: by their stated
// size before anything is inflated, and where the stated size lies, no later
// than when the data passes it. Natively the test counts every byte the
// loader has allocated at once (malloc and friends are wrapped for this
// program alone), so a loader that asks for a stated size up front, or reads
// a whole bomb, fails here even where the memory would have been there.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <string>
#include <vector>

#include "bomb_files.h"
#include "player/session.h"
#include "player/song.h"
#include "song_builder.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAMBORIL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define TAMBORIL_SANITIZED 1
#endif
#endif
#if defined(__GLIBC__) && !defined(TAMBORIL_SANITIZED)
#define TAMBORIL_COUNT_ALLOCATIONS 1
#endif

#ifdef TAMBORIL_COUNT_ALLOCATIONS
#include <malloc.h>

#include <atomic>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};

void Count(int64_t change) {
    const int64_t now = liveBytes.fetch_add(change) + change;
    int64_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
    void* block = __libc_malloc(size);
    if (block) Count(static_cast<int64_t>(malloc_usable_size(block)));
    return block;
}
void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    if (block) Count(static_cast<int64_t>(malloc_usable_size(block)));
    return block;
}
void* realloc(void* old, size_t size) {
    const int64_t before = old ? static_cast<int64_t>(malloc_usable_size(old)) : 0;
    void* block = __libc_realloc(old, size);
    if (block) {
        // Both blocks may exist for a moment while the data moves.
        Count(static_cast<int64_t>(malloc_usable_size(block)));
        Count(-before);
    }
    return block;
}
void free(void* block) {
    if (block) Count(-static_cast<int64_t>(malloc_usable_size(block)));
    __libc_free(block);
}
}
#endif

namespace {

constexpr int64_t kMiB = 1 << 20;

// What one load cost: its time and the most it had allocated at once
// (-1 where that is not counted).
struct LoadCost {
    bool loaded = false;
    int32_t lengthMs = 0;
    std::chrono::milliseconds time{0};
    int64_t peakBytes = -1;
};

LoadCost Load(const std::string& path) {
    LoadCost cost;
#ifdef TAMBORIL_COUNT_ALLOCATIONS
    const int64_t base = liveBytes.load();
    peakBytes.store(base);
#endif
    // Processor time, so that a loaded machine does not count.
    const std::clock_t start = std::clock();
    GymPlayer* player = OpenSong(path.c_str());
    cost.time = std::chrono::milliseconds((std::clock() - start) * 1000 / CLOCKS_PER_SEC);
#ifdef TAMBORIL_COUNT_ALLOCATIONS
    cost.peakBytes = peakBytes.load() - base;
#endif
    cost.loaded = player != nullptr;
    if (player) cost.lengthMs = SongLengthMs(player);
    DestroyPlayer(player);
    return cost;
}

const std::vector<BombFile>& Bombs() {
    static const std::vector<BombFile> files = WriteBombFiles(TempDir());
    return files;
}

// Each bomb: refused or loaded as it must be, within a second, with at most
// what its stated size allows in memory.
TEST(SongSizeLimit, BombsAreRefusedAtOnce) {
    for (const BombFile& bomb : Bombs()) {
        SCOPED_TRACE(bomb.what);
        const LoadCost cost = Load(bomb.path);
        EXPECT_EQ(cost.loaded, !bomb.refused);
        if (!bomb.refused) {
            EXPECT_EQ(cost.lengthMs, static_cast<int32_t>(bomb.songBytes * 100 / 6));
        }
        EXPECT_LT(cost.time.count(), 1000);
        // A refusal by stated size reads the file (at most a few hundred KiB
        // here) and nothing more; a lie costs at most what it states, and the
        // one stating the limit at most the limit.
        const int64_t bound = bomb.what.find("stating the limit") != std::string::npos
                                  ? kSongSizeLimit + 2 * kMiB
                              : bomb.refused ? 2 * kMiB
                                             : 4 * kMiB;
        if (cost.peakBytes >= 0) {
            EXPECT_LE(cost.peakBytes, bound) << cost.peakBytes / kMiB << " MiB";
        }
        char title[kTitleSize] = "untouched";
        int32_t length = -1;
        EXPECT_EQ(GetSongInfo(bomb.path.c_str(), title, &length), bomb.refused ? 0 : 1);
    }
}

// At the limit a song loads; one byte more is refused, in each form that
// states a size.
TEST(SongSizeLimit, TheLimitItselfLoads) {
    const std::string dir = TempDir();
    for (uint32_t size :
         {static_cast<uint32_t>(kSongSizeLimit), static_cast<uint32_t>(kSongSizeLimit + 1)}) {
        const bool fits = size <= kSongSizeLimit;
        const std::string gymx = dir + "gymx_" + std::to_string(size) + ".gym";
        ASSERT_TRUE(WriteFileBytes(gymx, MakeGymxOfZeros(size, size)));
        EXPECT_EQ(Load(gymx).loaded, fits) << size;
        const std::string zip = dir + "zip_" + std::to_string(size) + ".gym.zip";
        ASSERT_TRUE(WriteFileBytes(zip, MakeZipOfZeros(size, size)));
        EXPECT_EQ(Load(zip).loaded, fits) << size;
    }
}

// A directory stating a size its packed data cannot give (the data ends
// first) costs only what arrives: the entry's buffer grows with the data
// instead of being allocated at the stated size. The archive then reads as
// a plain log, as any unreadable entry does.
TEST(SongSizeLimit, StatedSizeIsNotAllocatedUpFront) {
    std::vector<uint8_t> body(3000, 0x00);
    std::vector<ZipEntry> entries = {{"s.gym", body}};
    entries[0].claimedSize = 60u << 20;
    entries[0].claimedPackedSize = (60u << 20) / 1000;
    const std::string path = TempPath("claims60.gym.zip");
    ASSERT_TRUE(WriteFileBytes(path, MakeZip(entries)));
    const LoadCost cost = Load(path);
    ASSERT_TRUE(cost.loaded);
    EXPECT_EQ(cost.lengthMs, 0) << "read as a plain log";
    if (cost.peakBytes >= 0) {
        EXPECT_LE(cost.peakBytes, 2 * kMiB) << cost.peakBytes / kMiB << " MiB";
    } else {
        GTEST_SKIP() << "allocations are counted in the plain native build only";
    }
}

}  // namespace
