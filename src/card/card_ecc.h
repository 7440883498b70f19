#pragma once
// The Hamming code a PS2 memory card keeps in each page's spare area: 3 bytes per 128-byte
// chunk, every used bit stored inverted (so an erased page, all 0xFF, passes).
#include <array>
#include <cstddef>
#include <cstdint>

namespace marrowin::card {

constexpr size_t ECC_CHUNK_BYTES = 128;
constexpr size_t ECC_BYTES_PER_CHUNK = 3;

// The three stored bytes for one 128-byte chunk.
std::array<uint8_t, 3> chunkEcc(const uint8_t* chunk);

enum class EccVerdict {
    Good,           // data and code agree
    DataCorrected,  // one data bit was wrong and has been flipped back (when asked to correct)
    CodeDamaged,    // one bit of the stored code is wrong; the data is good
    Uncorrectable,  // more than one bit differs
};

// Compares the stored code of a chunk with its data. With correct, a single wrong data bit is
// flipped back in place; without, the chunk is left alone and the verdict says what would be.
EccVerdict checkChunk(uint8_t* chunk, const uint8_t* stored, bool correct);

// Writes the code of a whole page (pageBytes / 128 chunks) to spare, in chunk order.
void pageEcc(const uint8_t* page, size_t pageBytes, uint8_t* spare);

}  // namespace marrowin::card
