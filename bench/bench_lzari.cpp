// LZARI throughput (bytes of decoded data per second) on the Final Fantasy XII save and on a
// few megabytes of save data (that save's files repeated).
#include <benchmark/benchmark.h>

#include "containers/lzari.h"
#include "containers/save_contents.h"
#include "fixtures.h"

using namespace marrowin;
using namespace marrowin::fixtures;

namespace {

// The sample's decoded records.
const Bytes& sampleRecords() {
    static const Bytes records = [] {
        Bytes file = readFileBytes(testDataPath("formats/final-fantasy12.max"));
        uint32_t declared = file.size() >= 0x5C ? getU32(file, 0x58) : 0;
        ByteView stream{file.data() + 0x5C, file.size() >= 0x5C ? file.size() - 0x5C : 0};
        return lzariDecode(stream, declared, SAVE_EXPANDED_MAX).data;
    }();
    return records;
}

const Bytes& largeRecords() {
    static const Bytes records = [] {
        Bytes b;
        while (b.size() < (4u << 20)) b.insert(b.end(), sampleRecords().begin(), sampleRecords().end());
        return b;
    }();
    return records;
}

void encode(benchmark::State& state, const Bytes& in) {
    if (in.empty()) state.SkipWithError("no sample");
    size_t streamSize = 0;
    for (auto _ : state) {
        Bytes stream = lzariEncode(in);
        streamSize = stream.size();
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.counters["ratio"] = in.empty() ? 0 : double(streamSize) / double(in.size());
}

void decode(benchmark::State& state, const Bytes& in) {
    if (in.empty()) state.SkipWithError("no sample");
    Bytes stream = lzariEncode(in);
    for (auto _ : state) {
        LzariDecoded d = lzariDecode(ByteView{stream.data(), stream.size()}, in.size(), SAVE_EXPANDED_MAX);
        if (d.data.size() != in.size()) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(d.data.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

// The sample exactly as stored (its own encoder's stream).
void BM_DecodeSampleFile(benchmark::State& state) {
    Bytes file = readFileBytes(testDataPath("formats/final-fantasy12.max"));
    if (file.size() < 0x5C) {
        state.SkipWithError("no sample");
        return;
    }
    uint32_t declared = getU32(file, 0x58);
    for (auto _ : state) {
        LzariDecoded d = lzariDecode(ByteView{file.data() + 0x5C, file.size() - 0x5C}, declared,
                                     SAVE_EXPANDED_MAX);
        benchmark::DoNotOptimize(d.data.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * declared);
}

void BM_EncodeSample(benchmark::State& state) { encode(state, sampleRecords()); }
void BM_DecodeSample(benchmark::State& state) { decode(state, sampleRecords()); }
void BM_EncodeLarge(benchmark::State& state) { encode(state, largeRecords()); }
void BM_DecodeLarge(benchmark::State& state) { decode(state, largeRecords()); }

}  // namespace

BENCHMARK(BM_DecodeSampleFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLarge)->Unit(benchmark::kMillisecond);
