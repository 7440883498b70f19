// Packing and extraction throughput on a folder of 200 files (20 MB), next to `cp -r` of the
// same files timed the same way. The counter x_cp is the mean time over cp's fastest run
// (lower is better); compare the BM_CpRecursive row for the noise of a shared machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "operations/archive_export.h"
#include "archive/save_image.h"
#include "core/export_test_support.h"
#include "fixtures.h"

namespace {

using namespace marrowin;

constexpr int FILES = 200;
constexpr size_t FILE_SIZE = 100 * 1024 + 300;  // not a whole number of blocks

struct Setup {
    testing::TempDir dir;
    uint64_t bytes = 0;
    double cpSeconds = 0;

    Setup() {
        testing::makeDir(dir / "SRC");
        for (int i = 0; i < FILES; ++i) {
            testing::writeFile(dir / "SRC/file" + std::to_string(i), testing::patternBytes(FILE_SIZE, uint8_t(i)));
            bytes += FILE_SIZE;
        }
        testing::makeDir(dir / "cp");
        // The fastest of a few runs (the machine is shared), after one to warm the cache.
        std::string cmd = "cp -r '" + (dir / "SRC") + "' '" + (dir / "cp") + "/'";
        std::vector<double> runs;
        for (int i = 0; i < 9; ++i) {
            auto t0 = std::chrono::steady_clock::now();
            if (std::system(cmd.c_str()) != 0) std::abort();
            runs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        cpSeconds = *std::min_element(runs.begin() + 1, runs.end());
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

void report(benchmark::State& state, double seconds) {
    Setup& s = setup();
    state.SetBytesProcessed(int64_t(state.iterations() * s.bytes));
    state.counters["x_cp"] = seconds / double(state.iterations()) / s.cpSeconds;
    state.counters["cp_ms"] = s.cpSeconds * 1000;
}

void BM_PackFolder(benchmark::State& state) {
    Setup& s = setup();
    testing::makeDir(s.dir / "pack");
    int fd = ::open((s.dir / "pack").c_str(), O_RDONLY | O_DIRECTORY);
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        ExportResult r = packFolder(s.dir / "SRC", fd);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!r.ok) state.SkipWithError(r.error.c_str());
    }
    ::close(fd);
    report(state, total);
}
BENCHMARK(BM_PackFolder)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ExtractArchive(benchmark::State& state) {
    Setup& s = setup();
    testing::makeDir(s.dir / "ex");
    int fd = ::open((s.dir / "ex").c_str(), O_RDONLY | O_DIRECTORY);
    if (!packFolder(s.dir / "SRC", fd).ok) std::abort();
    SaveImage image = fixtures::imageOf(fixtures::readFileBytes(s.dir / "ex/SRC.psu"));
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        ExportResult r = extractArchive(image, fd);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!r.ok) state.SkipWithError(r.error.c_str());
    }
    ::close(fd);
    report(state, total);
}
BENCHMARK(BM_ExtractArchive)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_CpRecursive(benchmark::State& state) {
    Setup& s = setup();
    std::string cmd = "cp -r '" + (s.dir / "SRC") + "' '" + (s.dir / "cp") + "/'";
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("cp failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    report(state, total);
}
BENCHMARK(BM_CpRecursive)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
