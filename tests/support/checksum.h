// FNV-1a, 64 bits: the checksum every render comparison uses, the native
// tool's --checksum included. Samples are hashed as their little-endian
// bytes, whatever the machine's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace support {

constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

// `count` integers, each as its sizeof(Word) little-endian bytes.
template <typename Word>
uint64_t Fnv1aLittleEndian(const Word* words, size_t count, uint64_t hash = kFnvOffset) {
    static_assert(std::is_integral<Word>::value, "integers only");
    using Unsigned = typename std::make_unsigned<Word>::type;
    for (size_t i = 0; i < count; ++i) {
        const Unsigned word = static_cast<Unsigned>(words[i]);
        for (size_t byte = 0; byte < sizeof(Word); ++byte) {
            hash = (hash ^ ((word >> (8 * byte)) & 0xFFu)) * kFnvPrime;
        }
    }
    return hash;
}

// 16-bit PCM, left then right, as the tool writes it.
inline uint64_t Fnv1a(const std::vector<int16_t>& samples) {
    return Fnv1aLittleEndian(samples.data(), samples.size());
}

// The FM chip's 32-bit mix.
inline uint64_t Fnv1a(const std::vector<int32_t>& samples) {
    return Fnv1aLittleEndian(samples.data(), samples.size());
}

// Bytes as they stand, e.g. a WAV file's data chunk.
inline uint64_t Fnv1a(const std::string& bytes) {
    return Fnv1aLittleEndian(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace support
