// Runs a fuzz target over the files named on the command line, for builds
// without libFuzzer (GCC) and for replaying a corpus or a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        FILE* file = std::fopen(argv[i], "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "cannot open %s\n", argv[i]);
            ++failures;
            continue;
        }
        std::vector<uint8_t> bytes;
        uint8_t chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
        std::fclose(file);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    return failures == 0 ? 0 : 1;
}
