// The .psv reader over untrusted bytes: it ends quickly whatever the counts and offsets say,
// never holds more than it may, and what it gives back writes and reads again unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "containers/save_contents.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

namespace {

// What the table's records would copy together, whichever count the reader takes: records may
// share data, so this can be far more than the input.
uint64_t declaredData(marrowin::ByteView v) {
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
    using namespace marrowin;
    const ByteView bytes{data, size};
    // Tens of megabytes of copies per input would slow the search to a crawl; the bound on
    // them has its own test.
    if (declaredData(bytes) > (1u << 20)) return 0;
    ContainerRead r = readPsv(bytes);
    check(r.ok || r.hasErrors(), "a refusal says why");
    check(!r.ok || looksLikePsv(bytes, size), "only a .psv is read");
    if (!r.ok) return 0;
    uint64_t total = 0;
    for (const SaveFile& f : r.contents.files) {
        check(f.name.size() <= SAVE_NAME_MAX, "names bounded by their field");
        total += f.data.size();
    }
    check(total <= SAVE_EXPANDED_MAX, "data bounded in total");
    check(r.contents.folderName.size() <= SAVE_NAME_MAX, "the folder name bounded by its field");

    // What was read, written again, reads back the same and without problems.
    std::vector<uint8_t> out;
    std::string error;
    if (!writePsv(r.contents, out, error)) return 0;  // an empty name, which it refuses
    ContainerRead back = readPsv({out.data(), out.size()});
    check(back.ok && back.problems.empty(), "a written .psv reads without problems");
    check(back.contents.files.size() == r.contents.files.size(), "the same files");
    for (size_t i = 0; i < back.contents.files.size(); ++i)
        check(back.contents.files[i].name == r.contents.files[i].name &&
                  back.contents.files[i].data == r.contents.files[i].data,
              "the same names and data");
    return 0;
}
