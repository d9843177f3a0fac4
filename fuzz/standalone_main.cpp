// Runs a fuzz target over inputs, for builds without libFuzzer (GCC) and for
// replaying a kept corpus or a finding. Each argument is a file, or a folder
// whose files (not its subfolders, not hidden files) are run in name order. Fails when an
// argument cannot be read or no input ran at all: a replay that ran nothing
// has checked nothing. A finding ends the run by itself (a sanitizer report,
// or the target's abort).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The regular files directly inside `folder`, in name order, leaving out
// hidden ones (".keep" and the like); false when the folder cannot be listed.
bool ListFiles(const std::string& folder, std::vector<std::string>& files) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.push_back(path);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    files.insert(files.end(), names.begin(), names.end());
    return true;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (IsFolder(argument) ? !ListFiles(argument, inputs)
                               : (inputs.push_back(argument), false)) {
            std::fprintf(stderr, "cannot list %s\n", argv[i]);
            ++failures;
        }
    }
    int ran = 0;
    std::vector<uint8_t> bytes;
    for (const std::string& path : inputs) {
        if (!ReadFile(path, bytes)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            ++failures;
            continue;
        }
        // A copy of its own, so that a read past the input's end is caught
        // under AddressSanitizer as it is under libFuzzer.
        std::vector<uint8_t> input(bytes);
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++ran;
    }
    std::printf("%d inputs run\n", ran);
    if (ran == 0) {
        std::fprintf(stderr, "no input ran\n");
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
