// Writes the seed corpus for fuzz_save_image into the folder given: archives built with the
// test fixtures, and archives that pack the real icon files of tests/data.
#include <cstdio>
#include <string>

#include "seed_archives.h"

using namespace marrowin;
using namespace marrowin::fixtures;

namespace {

int written = 0;

void save(const std::string& dir, const std::string& name, const Bytes& b) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
    ++written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
        return 2;
    }
    std::string dir = argv[1];

    for (const auto& [name, bytes] : seedArchives()) save(dir, name, bytes);
    for (const char* sample : REAL_CONTAINER_SAMPLES) {
        Bytes b = readFileBytes(testDataPath(sample));
        std::string name = sample;
        if (!b.empty()) save(dir, name.substr(name.find('/') + 1), b);
    }

    std::printf("%d seeds written to %s\n", written, dir.c_str());
    return written > 0 ? 0 : 1;
}
