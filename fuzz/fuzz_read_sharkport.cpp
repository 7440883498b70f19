// The SharkPort reader over untrusted bytes: lengths from the file never reach past it, and
// what is read writes and reads back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "containers/save_contents.h"
#include "containers/sharkport_container.h"

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
    ContainerRead r = readSharkPort(bytes);
    check(r.ok || r.hasErrors(), "a refusal says why");
    check(!r.ok || looksLikeSharkPort(bytes, size), "only a SharkPort save is read");
    if (!r.ok) return 0;
    uint64_t total = 0;
    for (const SaveFile& f : r.contents.files) {
        check(f.name.size() <= SHARKPORT_NAME_FIELD, "names bounded by their field");
        total += f.data.size();
    }
    check(total <= size, "data comes from the file");
    check(r.contents.folderName.size() <= SHARKPORT_NAME_FIELD, "the folder name bounded by its field");

    std::vector<uint8_t> out;
    std::string error;
    if (!writeSharkPort(r.contents, out, error)) return 0;  // names cards cannot take
    ContainerRead back = readSharkPort({out.data(), out.size()});
    check(back.ok && back.problems.empty(), "a written save reads without problems");
    check(sameSave(r.contents, back.contents), "the same save comes back");
    return 0;
}
