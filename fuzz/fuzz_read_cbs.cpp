// The CodeBreaker reader over untrusted bytes: the declared size bounds what is expanded,
// every record stays inside what came out, and what is read writes and reads back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace marrowin;
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
