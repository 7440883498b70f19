// The Action Replay MAX reader (LZARI decoding included) over untrusted bytes: the declared
// size bounds what comes out, names stay in their fields, and what is read writes and reads
// back unchanged. The input's head is also compressed and decompressed again.
#include <algorithm>
#include <cstdint>

#include "containers/lzari.h"
#include "fuzz_support.h"

namespace {

using namespace marrowin;
using namespace marrowin::fuzzing;

// 64 MiB is allowed but slow under the sanitizers; a few times the real saves' size covers
// the code, and the write-back (compressing again) is done for the smaller ones.
constexpr uint64_t DECLARED_LIMIT = 128u << 10;
constexpr uint64_t ROUND_TRIP_LIMIT = 32u << 10;
constexpr size_t ENCODED_HEAD = 4u << 10;

// Each record has a 36-byte header; stamps and modes are not kept.
const ContainerUnderTest MAX{looksLikeMax, readMax, writeMax, "only a MAX save is read", SAVE_NAME_MAX, 36,
                             false};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView bytes{data, size};

    size_t head = std::min(size, ENCODED_HEAD);
    std::vector<uint8_t> stream = lzariEncode(data, head);
    LzariDecoded again = lzariDecode({stream.data(), stream.size()}, head, head);
    check(again.status == LzariStatus::Complete && again.data.size() == head &&
              std::equal(again.data.begin(), again.data.end(), data),
          "compressed bytes decompress to themselves");

    uint32_t declared = 0;
    if (bytes.u32(0x58, declared) && declared > DECLARED_LIMIT) {
        if (declared > SAVE_EXPANDED_MAX && looksLikeMax(bytes, size)) {
            ContainerRead r = readMax(bytes);
            check(!r.ok && r.hasErrors(), "an oversized declared size is refused");
        }
        return 0;
    }
    ContainerRead r = readChecked(MAX, bytes, declared, "no more than the declared size");
    if (!r.ok) return 0;
    for (const SaveFile& f : r.contents.files)
        check(f.mode == MODE_FILE && f.created == Stamp{} && f.modified == Stamp{},
              "no invented metadata");

    if (declared > ROUND_TRIP_LIMIT) return 0;
    checkWritesBack(MAX, r.contents);
    return 0;
}
