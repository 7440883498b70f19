// The CodeBreaker reader over untrusted bytes: the declared size bounds what is expanded,
// every record stays inside what came out, and what is read writes and reads back unchanged.
// Mutations of the encrypted payload rarely leave a stream that inflates, so an input that is
// not a CodeBreaker save is taken as the expanded records and wrapped into one first.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "containers/cbs_container.h"
#include "containers/save_contents.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool sameSave(const marrowin::SaveContents& a, const marrowin::SaveContents& b) {
    if (a.folderName != b.folderName || a.folderMode != b.folderMode || a.created != b.created ||
        a.modified != b.modified || a.files.size() != b.files.size())
        return false;
    for (size_t i = 0; i < a.files.size(); ++i) {
        const marrowin::SaveFile& x = a.files[i];
        const marrowin::SaveFile& y = b.files[i];
        if (x.name != y.name || x.mode != y.mode || x.created != y.created ||
            x.modified != y.modified || x.data != y.data)
            return false;
    }
    return true;
}

// A save whose payload expands to exactly `records`.
std::vector<uint8_t> wrapped(const uint8_t* records, size_t size) {
    using namespace marrowin;
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
    using namespace marrowin;
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
    ContainerRead r = readCbs(bytes);
    check(r.ok || r.hasErrors(), "a refusal says why");
    check(!r.ok || looksLikeCbs(bytes, size), "only a CodeBreaker save is read");
    if (!r.ok) return 0;
    uint64_t total = 0;
    for (const SaveFile& f : r.contents.files) {
        check(f.name.size() <= CBS_NAME_FIELD, "names bounded by their field");
        total += CBS_RECORD_HEADER + f.data.size();
    }
    check(total <= declared, "no more than the declared size");
    check(r.contents.folderName.size() <= CBS_NAME_FIELD, "the folder name bounded by its field");

    std::vector<uint8_t> out;
    std::string error;
    if (!writeCbs(r.contents, out, error)) return 0;  // an empty name, which it refuses
    ContainerRead back = readCbs({out.data(), out.size()});
    check(back.ok && back.problems.empty(), "a written save reads without problems");
    check(sameSave(r.contents, back.contents), "the same save comes back");
    return 0;
}
