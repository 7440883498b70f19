// Loading a large save: read the file, recognise it, find the icon behind thousands of
// entries and decode its texture; and the pieces of that path on their own.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>

#include "base/host_files.h"
#include "archive/save_image.h"
#include "fixtures.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_model.h"

using namespace marrowin;
using namespace marrowin::fixtures;

namespace {

// About 11 MB: 4000 files of 1000 bytes and 1000 of 4000 bytes, then the descriptor and the real OPL icon
// last, so every lookup walks the whole archive.
const Bytes& bigArchive() {
    static const Bytes bytes = [] {
        ArchiveBuilder a("BASLUS-99999BIG");
        for (int i = 0; i < 4000; ++i) a.file("small" + std::to_string(i), Bytes(1000, uint8_t(i)));
        for (int i = 0; i < 1000; ++i) a.file("large" + std::to_string(i), Bytes(4000, uint8_t(i)));
        DescriptorRecipe d;
        d.iconNames = {"opl.icn", "opl.icn", "opl.icn"};
        a.file("icon.sys", buildDescriptor(d));
        a.file("opl.icn", readFileBytes(testDataPath("opl.icn")));
        return a.build();
    }();
    return bytes;
}

const std::string& bigArchivePath() {
    static const std::string path = [] {
        std::string p = "/tmp/marrowin-bench-" + std::to_string(getpid()) + ".psu";
        const Bytes& b = bigArchive();
        FILE* f = std::fopen(p.c_str(), "wb");
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
        return p;
    }();
    return path;
}

void BM_LoadRecogniseDecode(benchmark::State& state) {
    const std::string& path = bigArchivePath();
    std::vector<uint8_t> texture(TEXTURE_BUFFER_BYTES);
    for (auto _ : state) {
        HostFile f = openForReading(path);
        SaveImage image = readSaveImage(f, uint32_t(f.size()));
        f.close();
        if (detectArchiveKind(image) != ArchiveKind::SaveArchive) state.SkipWithError("not recognised");
        std::string icon = readIconFileName(image, 0);
        auto off = findFileEntry(image, icon.c_str());
        if (!off) state.SkipWithError("icon not found");
        decodeTexture(IconModel{&image, *off}, texture.data());
        benchmark::DoNotOptimize(texture.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bigArchive().size()));
    state.counters["archive_MB"] = double(bigArchive().size()) / 1e6;
}
BENCHMARK(BM_LoadRecogniseDecode)->Unit(benchmark::kMillisecond);

void BM_WalkAndLookup(benchmark::State& state) {
    SaveImage image = imageOf(bigArchive());
    for (auto _ : state) benchmark::DoNotOptimize(findFileEntry(image, "opl.icn"));
    state.SetItemsProcessed(int64_t(state.iterations()) * 5005);  // entries visited
}
BENCHMARK(BM_WalkAndLookup)->Unit(benchmark::kMicrosecond);

void BM_DecodeRunLength(benchmark::State& state) {
    SaveImage image = imageOf(readFileBytes(testDataPath("opl.icn")));
    std::vector<uint8_t> texture(TEXTURE_BUFFER_BYTES);
    for (auto _ : state) {
        decodeTexture(IconModel{&image, 0}, texture.data());
        benchmark::DoNotOptimize(texture.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 16384);  // pixels
}
BENCHMARK(BM_DecodeRunLength);

void BM_DecodePlain(benchmark::State& state) {
    ModelRecipe m = triangleModel();
    m.texture = rampTexture();
    SaveImage image = imageOf(buildModel(m));
    std::vector<uint8_t> texture(TEXTURE_BUFFER_BYTES);
    for (auto _ : state) {
        decodeTexture(IconModel{&image, 0}, texture.data());
        benchmark::DoNotOptimize(texture.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 16384);
}
BENCHMARK(BM_DecodePlain);

void BM_ReadAllVertices(benchmark::State& state) {
    SaveImage image = imageOf(readFileBytes(testDataPath("opl.icn")));
    IconModel model{&image, 0};
    ModelHeader h = readModelHeader(model);
    for (auto _ : state) {
        Vertex v;
        uint64_t n = readableVertexCount(model, h);
        for (uint64_t i = 0; i < n; ++i) {
            readVertex(model, h, i, 0, v);
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * h.vertexCount);
}
BENCHMARK(BM_ReadAllVertices);

struct RemoveFile {
    ~RemoveFile() { std::remove(bigArchivePath().c_str()); }
} removeAtExit;

}  // namespace
