// LZARI: known streams, round trips through both ends, and decoding of cut-off, padded and
// hostile streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "containers/lzari.h"

using namespace marrowin;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

LzariDecoded decode(const Bytes& stream, uint64_t size, const LzariDecodeOptions& o = {}) {
    return lzariDecode(ByteView{stream.data(), stream.size()}, size, 1u << 26, o);
}

// Save-like data: runs, repeats at many distances, text and noise.
Bytes mixedData(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < size) {
        switch (rng() % 4) {
            case 0: b.insert(b.end(), rng() % 200, uint8_t(rng())); break;
            case 1:
                if (!b.empty()) {
                    size_t back = 1 + rng() % std::min<size_t>(b.size(), 5000);
                    size_t n = 3 + rng() % 80;
                    for (size_t i = 0; i < n; ++i) b.push_back(b[b.size() - back]);
                }
                break;
            case 2: {
                std::string t = "icon.sys PS2D BASLUS-20963 ";
                b.insert(b.end(), t.begin(), t.end());
                break;
            }
            default:
                for (int i = rng() % 64; i > 0; --i) b.push_back(uint8_t(rng()));
        }
    }
    b.resize(size);
    return b;
}

Bytes hex(const std::string& s) {
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += 3) b.push_back(uint8_t(std::stoi(s.substr(i, 2), nullptr, 16)));
    return b;
}

}  // namespace

TEST(Lzari, PositionTableHasItsCheckValues) {
    const uint32_t* pcum = lzariPositionTable();
    EXPECT_EQ(pcum[0], 28568u);
    EXPECT_EQ(pcum[1], 28519u);
    EXPECT_EQ(pcum[2048], 5433u);
    EXPECT_EQ(pcum[4095], 2u);
    EXPECT_EQ(pcum[4096], 0u);
}

TEST(Lzari, KnownStreamsDecodeAndTheMatchlessOneIsEncodedExactly) {
    struct Vector {
        Bytes input;
        Bytes stream;
    };
    Bytes abc;
    for (int i = 0; i < 8; ++i) abc.insert(abc.end(), {'A', 'B', 'C'});
    abc.insert(abc.end(), 8, 0);
    abc.insert(abc.end(), 4, ' ');
    const Vector vectors[] = {
        {bytesOf("You'll never see it coming."),
         hex("b7 25 f0 18 b2 12 33 5a a4 e9 fb 33 89 32 0e b1 6e 45 7e f6 db 80 3a a6 92 11 f8 ")},
        {bytesOf("PS2 save PS2 save PS2 save"), hex("be 8e c9 f6 a7 59 45 de d5 5b 78 ")},
        {abc, hex("ca d4 e5 68 69 13 3d 4f 94 8a e7 3c 45 20 24 67 c0 ")},
    };
    for (const Vector& v : vectors) {
        LzariDecoded d = decode(v.stream, v.input.size());
        EXPECT_EQ(d.status, LzariStatus::Complete);
        EXPECT_EQ(d.data, v.input);
    }
    // No repeated three bytes: every conforming encoder gives exactly this.
    EXPECT_EQ(lzariEncode(vectors[0].input), vectors[0].stream);
}

TEST(Lzari, RoundTripsRandomRepetitiveAndMixedData) {
    std::mt19937 rng(7);
    for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(59), size_t(60),
                        size_t(61), size_t(1000), size_t(4095), size_t(4096), size_t(4097),
                        size_t(5000)}) {
        Bytes random(size), repetitive(size), spaces(size, ' ');
        for (auto& b : random) b = uint8_t(rng());
        for (size_t i = 0; i < size; ++i) repetitive[i] = uint8_t("abcab\0\0x"[i % 8]);
        for (const Bytes* in : {&random, &repetitive, &spaces}) {
            Bytes stream = lzariEncode(*in);
            if (size == 0) { EXPECT_TRUE(stream.empty()); }
            LzariDecoded d = decode(stream, in->size());
            EXPECT_EQ(d.status, LzariStatus::Complete) << size;
            EXPECT_EQ(d.data, *in) << size;
        }
    }
    // Long enough for many count halvings and ring wraps; compresses like save data should.
    Bytes big = mixedData(600000, 3);
    Bytes stream = lzariEncode(big);
    EXPECT_LT(stream.size(), big.size() / 2);
    EXPECT_EQ(decode(stream, big.size()).data, big);
}

TEST(Lzari, TrailingBytesAreIgnoredAndTheLookAheadIsCounted) {
    Bytes in = mixedData(20000, 11);
    Bytes stream = lzariEncode(in);
    LzariDecoded plain = decode(stream, in.size());
    ASSERT_EQ(plain.data, in);
    // The decoder reads a little past a whole stream, never further than its look-ahead.
    EXPECT_EQ(plain.inputBytesUsed, stream.size());
    for (uint8_t fill : {0x00, 0xFF}) {
        Bytes padded = stream;
        padded.insert(padded.end(), 16, fill);
        LzariDecoded d = decode(padded, in.size());
        EXPECT_EQ(d.status, LzariStatus::Complete);
        EXPECT_EQ(d.data, in);
        EXPECT_LE(d.inputBytesUsed, stream.size() + 3);
    }
}

TEST(Lzari, CutOffStreamEndsEarlyWithOnlyBytesItReallyHolds) {
    Bytes in = mixedData(50000, 5);
    Bytes stream = lzariEncode(in);
    for (size_t keep : {size_t(0), size_t(1), size_t(2), stream.size() / 3, stream.size() - 50}) {
        Bytes cut(stream.begin(), stream.begin() + ptrdiff_t(keep));
        LzariDecoded d = decode(cut, in.size());
        EXPECT_EQ(d.status, LzariStatus::EndsEarly) << keep;
        ASSERT_LE(d.data.size(), in.size());
        EXPECT_TRUE(std::equal(d.data.begin(), d.data.end(), in.begin())) << keep;
        if (keep > 100) { EXPECT_GT(d.data.size(), in.size() / 10); }
    }
    // A declared size larger than the stream holds is the same fault.
    LzariDecoded longer = decode(stream, in.size() + 500);
    EXPECT_EQ(longer.status, LzariStatus::EndsEarly);
    EXPECT_LE(longer.data.size(), in.size());
}

TEST(Lzari, HostileStreamsStopAndLargeSizesAreRefusedUnallocated) {
    LzariDecoded refused = lzariDecode(ByteView{}, 0xFFFFFFFFu, 1u << 26);
    EXPECT_EQ(refused.status, LzariStatus::TooLarge);
    EXPECT_EQ(refused.data.capacity(), 0u);
    // A tiny stream declaring the most a save may hold stops at its end, whatever its bytes.
    for (uint8_t fill : {0x00, 0xFF, 0x5A}) {
        Bytes junk(64, fill);
        LzariDecoded d = decode(junk, 1u << 26);
        EXPECT_EQ(d.status, LzariStatus::EndsEarly);
        EXPECT_LT(d.data.size(), 100000u);
    }
    EXPECT_EQ(decode({}, 0).status, LzariStatus::Complete);
}

TEST(Lzari, PeerThatStopsAtTheLastInputByteNeedsTrailingZeros) {
    LzariDecodeOptions stopAtEnd;
    stopAtEnd.stopWhenInputFetched = true;
    size_t short_ = 0;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        Bytes in = mixedData(3000 + seed * 100, seed);
        Bytes stream = lzariEncode(in);
        // Without help such a decoder loses the last bytes (what the peer does to real files)...
        if (decode(stream, in.size(), stopAtEnd).data.size() < in.size()) ++short_;
        // ... and with four zero bytes after the stream it gets every one.
        stream.insert(stream.end(), 4, 0);
        LzariDecoded d = decode(stream, in.size(), stopAtEnd);
        EXPECT_EQ(d.status, LzariStatus::Complete) << seed;
        EXPECT_EQ(d.data, in) << seed;
    }
    EXPECT_GT(short_, 0u);
}
