// The CodeBreaker reader over untrusted bytes: the declared size bounds what is expanded,
// every record stays inside what came out, and what is read writes and reads back unchanged.
// Mutations of the encrypted payload rarely leave a stream that inflates, so an input that is
// not a CodeBreaker save is taken as the expanded records and wrapped into one first.
#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "containers/cbs_container.h"
#include "fuzz_support.h"

namespace {

using namespace marrowin;
using namespace marrowin::fuzzing;

const ContainerUnderTest CBS{looksLikeCbs, readCbs, writeCbs, "only a CodeBreaker save is read",
                             CBS_NAME_FIELD, CBS_RECORD_HEADER, true};

// A save whose payload expands to exactly `records`.
std::vector<uint8_t> wrapped(const uint8_t* records, size_t size) {
    uLongf packed = compressBound(uLong(size));
    std::vector<uint8_t> file(CBS_HEADER_SIZE + packed, 0);
    if (compress2(file.data() + CBS_HEADER_SIZE, &packed, records, uLong(size), 1) != Z_OK) return {};
    file.resize(CBS_HEADER_SIZE + packed);
    CbsCipher().apply(file.data() + CBS_HEADER_SIZE, packed);
    std::memcpy(file.data(), CBS_MAGIC, sizeof CBS_MAGIC);
    auto put = [&](size_t off, uint32_t v) {
        for (int k = 0; k < 4; ++k) file[off + k] = uint8_t(v >> (8 * k));
    };
    put(CBS_HEADER_SIZE_OFFSET, CBS_HEADER_SIZE);
    put(CBS_EXPANDED_SIZE_OFFSET, uint32_t(size));
    put(CBS_STORED_SIZE_OFFSET, uint32_t(file.size()));
    std::memcpy(file.data() + CBS_FOLDER_NAME_OFFSET, "FUZZ", 4);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> made;
    if (size < sizeof CBS_MAGIC || std::memcmp(data, CBS_MAGIC, sizeof CBS_MAGIC) != 0) {
        if (size > (1u << 16)) return 0;
        made = wrapped(data, size);
        data = made.data();
        size = made.size();
    }
    const ByteView bytes{data, size};
    // Expanding up to 64 MiB is allowed but slow under the sanitizers; 1 MiB covers the code.
    uint32_t declared = 0;
    if (bytes.u32(CBS_EXPANDED_SIZE_OFFSET, declared) && declared > (1u << 20) &&
        declared <= SAVE_EXPANDED_MAX)
        return 0;
    ContainerRead r = readChecked(CBS, bytes, declared, "no more than the declared size");
    if (!r.ok) return 0;
    checkWritesBack(CBS, r.contents);
    return 0;
}
