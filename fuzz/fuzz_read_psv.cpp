// The .psv reader over untrusted bytes: it ends quickly whatever the counts and offsets say,
// never holds more than it may, and what it gives back writes and reads again unchanged.
#include <algorithm>
#include <cstdint>

#include "fuzz_support.h"

namespace {

using namespace marrowin;
using namespace marrowin::fuzzing;

// Names and data are compared on the way back, not the stamps and modes.
const ContainerUnderTest PSV{looksLikePsv, readPsv, writePsv, "only a .psv is read", SAVE_NAME_MAX, 0, false};

// What the table's records would copy together, whichever count the reader takes: records may
// share data, so this can be far more than the input.
uint64_t declaredData(ByteView v) {
    if (v.size < 0xA0) return 0;
    const uint64_t entries = v.u32(0x78);
    const uint64_t n = std::min<uint64_t>(std::max<uint64_t>(v.u32(0x64), entries < 2 ? 0 : entries - 2),
                                          (v.size - 0xA0) / 60);
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; ++i) total += v.u32(0xA0 + 60 * i + 0x10);
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView bytes{data, size};
    // Tens of megabytes of copies per input would slow the search to a crawl; the bound on
    // them has its own test.
    if (declaredData(bytes) > (1u << 20)) return 0;
    ContainerRead r = readChecked(PSV, bytes, SAVE_EXPANDED_MAX, "data bounded in total");
    if (!r.ok) return 0;
    checkWritesBack(PSV, r.contents);
    return 0;
}
