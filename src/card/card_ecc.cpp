#include "card/card_ecc.h"

#include <cstring>

namespace marrowin::card {

namespace {

int parity(uint64_t v) {
    v ^= v >> 32;
    v ^= v >> 16;
    v ^= v >> 8;
    v ^= v >> 4;
    v ^= v >> 2;
    v ^= v >> 1;
    return int(v & 1);
}

int bitCount(unsigned v) {
    int n = 0;
    for (; v; v &= v - 1) ++n;
    return n;
}

// Column parity, E and O before the inversion that storing applies. Bit k of O is the parity
// of all bytes whose index has bit k set, so XORs of whole 8-byte words give it: index bits
// 3-6 pick words, bits 0-2 pick bytes within the XOR of all words. Every card page is checked
// on open, so this runs over the whole image; it is written without loops or branches, which
// also keeps the fuzzer from tracing a comparison per byte.
std::array<uint8_t, 3> plainCode(const uint8_t* b) {
    uint64_t w[16];
    std::memcpy(w, b, sizeof w);
    uint64_t odd1 = w[1] ^ w[3] ^ w[5] ^ w[7] ^ w[9] ^ w[11] ^ w[13] ^ w[15];
    uint64_t even1 = w[0] ^ w[2] ^ w[4] ^ w[6] ^ w[8] ^ w[10] ^ w[12] ^ w[14];
    uint64_t all = odd1 ^ even1;
    uint64_t bit4 = w[2] ^ w[3] ^ w[6] ^ w[7] ^ w[10] ^ w[11] ^ w[14] ^ w[15];
    uint64_t bit5 = w[4] ^ w[5] ^ w[6] ^ w[7] ^ w[12] ^ w[13] ^ w[14] ^ w[15];
    uint64_t bit6 = w[8] ^ w[9] ^ w[10] ^ w[11] ^ w[12] ^ w[13] ^ w[14] ^ w[15];
    uint8_t a[8];
    std::memcpy(a, &all, 8);  // byte order kept whatever the host's
    unsigned x = unsigned(a[0] ^ a[1] ^ a[2] ^ a[3] ^ a[4] ^ a[5] ^ a[6] ^ a[7]);
    unsigned odd = unsigned(parity(a[1] ^ a[3] ^ a[5] ^ a[7])) | unsigned(parity(a[2] ^ a[3] ^ a[6] ^ a[7])) << 1 |
                   unsigned(parity(a[4] ^ a[5] ^ a[6] ^ a[7])) << 2 | unsigned(parity(odd1)) << 3 |
                   unsigned(parity(bit4)) << 4 | unsigned(parity(bit5)) << 5 | unsigned(parity(bit6)) << 6;
    // E covers the complementary bytes: the parity of the whole chunk flips every bit.
    unsigned even = odd ^ (0x7Fu * unsigned(parity(x)));
    unsigned c = unsigned(parity(x & 0x55)) | unsigned(parity(x & 0x33)) << 1 |
                 unsigned(parity(x & 0x0F)) << 2 | unsigned(parity(x & 0xAA)) << 4 |
                 unsigned(parity(x & 0xCC)) << 5 | unsigned(parity(x & 0xF0)) << 6;
    return {uint8_t(c), uint8_t(even), uint8_t(odd)};
}

}  // namespace

std::array<uint8_t, 3> chunkEcc(const uint8_t* chunk) {
    std::array<uint8_t, 3> c = plainCode(chunk);
    return {uint8_t(c[0] ^ 0x77), uint8_t(c[1] ^ 0x7F), uint8_t(c[2] ^ 0x7F)};
}

EccVerdict checkChunk(uint8_t* chunk, const uint8_t* stored, bool correct) {
    std::array<uint8_t, 3> computed = chunkEcc(chunk);
    // Bits 3 and 7 of the column byte and bit 7 of the others carry nothing.
    unsigned dc = unsigned(computed[0] ^ stored[0]) & 0x77;
    unsigned de = unsigned(computed[1] ^ stored[1]) & 0x7F;
    unsigned dO = unsigned(computed[2] ^ stored[2]) & 0x7F;
    if (dc == 0 && de == 0 && dO == 0) return EccVerdict::Good;
    if ((de ^ dO) == 0x7F && ((dc >> 4) ^ (dc & 7)) == 7) {
        if (correct) chunk[dO] ^= uint8_t(1u << (dc >> 4));
        return EccVerdict::DataCorrected;
    }
    if (bitCount(dc) + bitCount(de) + bitCount(dO) == 1) return EccVerdict::CodeDamaged;
    return EccVerdict::Uncorrectable;
}

void pageEcc(const uint8_t* page, size_t pageBytes, uint8_t* spare) {
    for (size_t c = 0; c < pageBytes / ECC_CHUNK_BYTES; ++c) {
        std::array<uint8_t, 3> code = chunkEcc(page + c * ECC_CHUNK_BYTES);
        for (size_t k = 0; k < ECC_BYTES_PER_CHUNK; ++k) spare[c * ECC_BYTES_PER_CHUNK + k] = code[k];
    }
}

}  // namespace marrowin::card
