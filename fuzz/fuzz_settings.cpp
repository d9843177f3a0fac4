// Fuzz target: the settings store. Arbitrary bytes become plugin.ini beside
// the library, which is loaded (every key read, then written back in its
// canonical form), saved from the record, and loaded again. The second load
// must give the record the first gave, every field must hold a value the
// configuration pages can show, and the file must not grow on the second
// round: otherwise a setting drifts from one start of the host to the next.
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "fuzz/fuzz_files.h"
#include "host/shell.h"
#include "player/settings.h"

namespace {

struct Record {
    int32_t fields[7];
    bool operator==(const Record& other) const {
        return std::memcmp(fields, other.fields, sizeof fields) == 0;
    }
};

Record Snapshot() {
    return {{settings.frequency, settings.priority, settings.loopCount, settings.fadeoutTime,
             settings.volumeFm, settings.volumeSsg, settings.volumePcm}};
}

bool IsChoice(const SettingChoice* table, int32_t value) {
    for (const SettingChoice* entry = table; entry->name != nullptr; ++entry) {
        if (entry->value == value) return true;
    }
    return false;
}

long FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Natively the instance handle is the library's path as text.
    static const std::string library = fuzzfiles::Scratch() + "in_dru.so";
    static const std::string ini = fuzzfiles::Scratch() + "plugin.ini";
    if (!fuzzfiles::WriteBytes(ini, data, size)) return 0;
    platform::InstanceHandle instance = const_cast<char*>(library.c_str());

    LoadSettings(instance);
    if (ini != iniPath) std::abort();
    const Record first = Snapshot();
    if (!IsChoice(frequencyChoices, first.fields[0]) ||
        !IsChoice(priorityChoices, first.fields[1])) {
        std::abort();
    }
    SaveMainSettings();
    SaveVolumeSettings();
    const long savedSize = FileSize(ini);
    LoadSettings(instance);
    if (!(Snapshot() == first)) std::abort();
    if (FileSize(ini) != savedSize) std::abort();
    return 0;
}
