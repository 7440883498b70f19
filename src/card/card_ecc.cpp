#include "card/card_ecc.h"

namespace marrowin::card {

namespace {

int parity(unsigned v) {
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

// Column parity, E and O before the inversion that storing applies.
std::array<uint8_t, 3> plainCode(const uint8_t* b) {
    unsigned x = 0, odd = 0, even = 0;
    for (unsigned i = 0; i < ECC_CHUNK_BYTES; ++i) {
        x ^= b[i];
        if (parity(b[i])) {
            odd ^= i;
            even ^= 127 - i;
        }
    }
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
