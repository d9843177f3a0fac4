// make_seeds: writes the fuzz targets' starting inputs (fuzz/seeds.h) into
// OUT/TARGET/ (load, song, chip, settings, shell, vgm). With the demo song they
// seed a new corpus; `make fuzz` merges what grows from them into fuzz/corpus.
//
//   tamboril_fuzz_seeds OUT
#include <cstdio>
#include <string>

#include <sys/stat.h>

#include "fuzz/seeds.h"
#include "song_builder.h"

namespace {

bool WriteAll(const std::string& folder, const Seeds& seeds) {
    mkdir(folder.c_str(), 0755);
    for (auto& [name, bytes] : seeds) {
        if (!WriteFileBytes(folder + "/" + name, bytes)) {
            std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    mkdir(out.c_str(), 0755);
    const bool ok = WriteAll(out + "/load", SongSeeds()) && WriteAll(out + "/song", SongSeeds()) &&
                    WriteAll(out + "/chip", ChipSeeds()) &&
                    WriteAll(out + "/settings", SettingsSeeds()) &&
                    WriteAll(out + "/shell", ShellSeeds()) && WriteAll(out + "/vgm", VgmSeeds());
    return ok ? 0 : 1;
}
