// Conversions per second: the four real samples, each read from one container and written as
// another, for every pair (what `marrowin-cli convert` does between reading and writing files).
#include <benchmark/benchmark.h>

#include <string>

#include "containers/save_contents.h"
#include "fixtures.h"

using namespace marrowin;

namespace {

const ContainerKind KINDS[] = {ContainerKind::Psu, ContainerKind::Max, ContainerKind::Cbs,
                               ContainerKind::SharkPort, ContainerKind::Psv};

const char* const SAMPLES[] = {"formats/final-fantasy12.max", "formats/tokyo-xtreme-racer-drift-2.14091.cbs",
                               "formats/max-payne.1394.sps", "formats/BESLES-50325.PSV"};

// The four samples as every container, written once up front; empty where a writer failed.
const std::vector<std::vector<uint8_t>>& samplesAs(ContainerKind kind) {
    static const std::vector<std::vector<std::vector<uint8_t>>> files = [] {
        std::vector<std::vector<std::vector<uint8_t>>> out(std::size(KINDS));
        for (const char* path : SAMPLES) {
            fixtures::Bytes b = fixtures::readFileBytes(fixtures::testDataPath(path));
            const ByteView v{b.data(), b.size()};
            ContainerRead r = readContainer(detectContainer(v, b.size()), v);
            for (size_t i = 0; i < std::size(KINDS); ++i) {
                std::vector<uint8_t> written;
                std::string error;
                if (r.ok && writeContainer(KINDS[i], r.contents, written, error))
                    out[i].push_back(std::move(written));
            }
        }
        return out;
    }();
    for (size_t i = 0; i < std::size(KINDS); ++i)
        if (KINDS[i] == kind) return files[i];
    return files[0];
}

void convert(benchmark::State& state) {
    const ContainerKind from = KINDS[state.range(0)], to = KINDS[state.range(1)];
    const std::vector<std::vector<uint8_t>>& inputs = samplesAs(from);
    if (inputs.size() != std::size(SAMPLES)) {
        state.SkipWithError("a sample cannot be written as this container");
        return;
    }
    state.SetLabel(std::string(containerWord(from)) + " -> " + containerWord(to));
    std::vector<uint8_t> out;
    std::string error;
    int64_t bytes = 0;
    for (auto _ : state) {
        for (const std::vector<uint8_t>& in : inputs) {
            ContainerRead r = readContainer(from, {in.data(), in.size()});
            if (!r.ok || !writeContainer(to, r.contents, out, error)) {
                state.SkipWithError("conversion failed");
                return;
            }
            benchmark::DoNotOptimize(out.data());
            bytes += int64_t(in.size());
        }
    }
    state.SetBytesProcessed(bytes);
    state.counters["conversions"] =
        benchmark::Counter(double(state.iterations() * std::size(SAMPLES)), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(convert)->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}})->Unit(benchmark::kMicrosecond);
