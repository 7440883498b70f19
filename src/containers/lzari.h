#pragma once
// LZARI: LZSS over a 4096-byte ring (matches of 3..60 bytes) whose literals and lengths are
// arithmetic-coded with an adaptive model and whose positions with a fixed one. Action Replay
// MAX saves hold their records in it. Plain functions over byte buffers.
#include <cstdint>
#include <vector>

#include "base/byte_reader.h"

namespace marrowin {

enum class LzariStatus {
    Complete,   // the declared number of bytes was produced
    EndsEarly,  // the stream ran out (see LzariDecoded::data)
    TooLarge,   // the declared size is above the caller's bound; nothing was allocated
};

struct LzariDecoded {
    LzariStatus status = LzariStatus::Complete;
    // Complete: exactly the declared bytes. EndsEarly: only the bytes produced before the
    // decoder first looked past the input, which a cut-off stream still decodes correctly.
    std::vector<uint8_t> data;
    // Input bytes the decoder looked at (its 17-bit look-ahead included); bytes after these
    // were never needed.
    uint64_t inputBytesUsed = 0;
};

struct LzariDecodeOptions {
    // The coder looks up to 17 bits ahead, so a whole stream needs a few zero bits after its
    // last byte; a stream that needs more than this many is cut off (or hostile).
    uint32_t maxBitsPastEnd = 64;
    // Stop as soon as the last input byte has been fetched, as one peer's decoder does; only
    // for checking that what we write survives such readers.
    bool stopWhenInputFetched = false;
};

// Decodes `declaredSize` bytes from `input`. A declared size above `maxSize` is refused
// before any allocation.
LzariDecoded lzariDecode(ByteView input, uint64_t declaredSize, uint64_t maxSize,
                         const LzariDecodeOptions& options = {});

// Greedy LZSS (hash chains) with the exact coder and models above. An empty input gives an
// empty stream.
std::vector<uint8_t> lzariEncode(const uint8_t* data, size_t size);
inline std::vector<uint8_t> lzariEncode(const std::vector<uint8_t>& data) {
    return lzariEncode(data.data(), data.size());
}

// The fixed cumulative table of match positions (4097 entries, pcum[0] the total).
const uint32_t* lzariPositionTable();

}  // namespace marrowin
