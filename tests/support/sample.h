// The sweeps over every shared song run whole natively and under Wine. Under
// the sanitizers, which run many times slower, they play a sample of the
// songs picked with a fixed seed: the seed and the picks are printed, and
// TAMBORIL_SAMPLE_SEED=n replays another pick (TAMBORIL_SAMPLE_SEED=all
// plays every song).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace support {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr uint32_t kDefaultSampleSeed = 20261208;

// `items` whole without a sanitizer; under one, `count` of them in their
// order, picked by the seed and `salt` (so that, say, each rate of a sweep
// plays other songs). `what` names the sweep in the printed line.
inline std::vector<std::string> SampleUnderSanitizers(const std::vector<std::string>& items,
                                                      size_t count, const std::string& what,
                                                      uint32_t salt = 0) {
    const char* seedText = std::getenv("TAMBORIL_SAMPLE_SEED");
    if (!kSanitized || count >= items.size() ||
        (seedText != nullptr && std::strcmp(seedText, "all") == 0)) {
        return items;
    }
    const uint32_t seed = seedText != nullptr
                              ? static_cast<uint32_t>(std::strtoul(seedText, nullptr, 10))
                              : kDefaultSampleSeed;
    // Selection sampling: each item is kept with the chance of the picks
    // still wanted over the items still left, so the order stays.
    std::mt19937 random(seed + salt);
    std::vector<std::string> picked;
    for (size_t i = 0; i < items.size() && picked.size() < count; ++i) {
        const uint64_t left = items.size() - i;
        const uint64_t wanted = count - picked.size();
        if (random() % left < wanted) picked.push_back(items[i]);
    }
    std::printf("%s: %zu of %zu songs, TAMBORIL_SAMPLE_SEED=%u:", what.c_str(), picked.size(),
                items.size(), static_cast<unsigned>(seed));
    for (const std::string& item : picked) {
        const size_t slash = item.find_last_of('/');
        std::printf(" %s", item.c_str() + (slash == std::string::npos ? 0 : slash + 1));
    }
    std::printf("\n");
    std::fflush(stdout);
    return picked;
}

}  // namespace support
