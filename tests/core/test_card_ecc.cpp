// The memory card's per-chunk ECC: known codes, and what a check does with one or two wrong bits.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "card/card_ecc.h"

using namespace marrowin::card;

namespace {

std::array<uint8_t, 3> codeOf(const std::vector<uint8_t>& chunk) { return chunkEcc(chunk.data()); }
std::array<uint8_t, 3> bytes3(uint8_t a, uint8_t b, uint8_t c) { return {a, b, c}; }

std::vector<uint8_t> randomChunk(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> c(ECC_CHUNK_BYTES);
    for (auto& b : c) b = uint8_t(rng());
    return c;
}

}  // namespace

TEST(CardEcc, KnownCodes) {
    std::vector<uint8_t> c(128, 0);
    EXPECT_EQ(codeOf(c), bytes3(0x77, 0x7F, 0x7F));
    c[0] = 0x01;
    EXPECT_EQ(codeOf(c), bytes3(0x70, 0x00, 0x7F));
    c[0] = 0;
    c[127] = 0x80;
    EXPECT_EQ(codeOf(c), bytes3(0x07, 0x7F, 0x00));
    for (int i = 0; i < 128; ++i) c[i] = uint8_t(i);
    EXPECT_EQ(codeOf(c), bytes3(0x77, 0x7F, 0x7F));
}

TEST(CardEcc, ErasedChunkPasses) {
    std::vector<uint8_t> c(128, 0xFF);
    uint8_t stored[3] = {0xFF, 0xFF, 0xFF};
    EXPECT_EQ(checkChunk(c.data(), stored, true), EccVerdict::Good);
    EXPECT_EQ(c, std::vector<uint8_t>(128, 0xFF));
}

TEST(CardEcc, EverySingleDataBitIsCorrected) {
    const std::vector<uint8_t> good = randomChunk(7);
    const std::array<uint8_t, 3> code = codeOf(good);
    for (int bit = 0; bit < 128 * 8; ++bit) {
        std::vector<uint8_t> c = good;
        c[bit / 8] ^= uint8_t(1 << (bit % 8));
        std::vector<uint8_t> untouched = c;
        EXPECT_EQ(checkChunk(c.data(), code.data(), false), EccVerdict::DataCorrected);
        EXPECT_EQ(c, untouched) << "without correct the data stays as it was";
        ASSERT_EQ(checkChunk(c.data(), code.data(), true), EccVerdict::DataCorrected) << bit;
        ASSERT_EQ(c, good) << bit;
    }
}

TEST(CardEcc, EverySingleCodeBitIsADamagedCodeAndUnusedBitsAreIgnored) {
    std::vector<uint8_t> c = randomChunk(11);
    const std::array<uint8_t, 3> code = codeOf(c);
    const uint8_t used[3] = {0x77, 0x7F, 0x7F};
    for (int byte = 0; byte < 3; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            std::array<uint8_t, 3> stored = code;
            stored[byte] ^= uint8_t(1 << bit);
            EccVerdict want = (used[byte] >> bit) & 1 ? EccVerdict::CodeDamaged : EccVerdict::Good;
            EXPECT_EQ(checkChunk(c.data(), stored.data(), true), want) << byte << ":" << bit;
        }
    }
    EXPECT_EQ(c, randomChunk(11));
}

TEST(CardEcc, TwoWrongDataBitsAreNotCorrected) {
    const std::vector<uint8_t> good = randomChunk(3);
    const std::array<uint8_t, 3> code = codeOf(good);
    for (auto [a, b] : {std::pair{0, 1}, {0, 8}, {5, 1000}, {1023, 512}, {17, 23}}) {
        std::vector<uint8_t> c = good;
        c[a / 8] ^= uint8_t(1 << (a % 8));
        c[b / 8] ^= uint8_t(1 << (b % 8));
        std::vector<uint8_t> damaged = c;
        EXPECT_EQ(checkChunk(c.data(), code.data(), true), EccVerdict::Uncorrectable) << a << "," << b;
        EXPECT_EQ(c, damaged);
    }
}

TEST(CardEcc, PageCodeIsTheChunkCodesInOrder) {
    std::vector<uint8_t> page(512);
    for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(i * 7 + (i >> 7));
    uint8_t spare[12];
    pageEcc(page.data(), page.size(), spare);
    for (int k = 0; k < 4; ++k) {
        std::array<uint8_t, 3> c = chunkEcc(page.data() + 128 * k);
        EXPECT_EQ(spare[3 * k], c[0]);
        EXPECT_EQ(spare[3 * k + 1], c[1]);
        EXPECT_EQ(spare[3 * k + 2], c[2]);
    }
}
