// Every container's writer and reader together: a save made from the input bytes, written as
// each container and read back, must come back the same in what that container keeps.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "containers/save_contents.h"

namespace {

using namespace marrowin;

void check(bool ok, const char* kind, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken for %s: %s\n", kind, what);
        std::abort();
    }
}

// Takes bytes from the front of the input, zeros once it runs out.
struct Taker {
    const uint8_t* data;
    size_t size;
    uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    uint16_t u16() { return uint16_t(byte() | byte() << 8); }
    Stamp stamp() {
        Stamp s{};
        for (uint8_t& b : s) b = byte();
        return s;
    }
    // 1 to 32 bytes, none of them NUL.
    std::string name() {
        const size_t n = 1 + byte() % SAVE_NAME_MAX;
        std::string s;
        for (size_t i = 0; i < n; ++i) s.push_back(char(1 + byte() % 255));
        return s;
    }
};

SaveContents contentsOf(const uint8_t* data, size_t size) {
    Taker t{data, size};
    SaveContents c;
    c.folderName = t.name();
    // Modes always carry the in-use and kind bits, as a save's do.
    c.folderMode = uint16_t(t.u16() | 0x8020);
    c.created = t.stamp();
    c.modified = t.stamp();
    // At least one file: a .psu of none is not told from other files by its content.
    const size_t files = 1 + t.byte() % 5;
    for (size_t i = 0; i < files; ++i) {
        SaveFile f;
        f.name = t.name();
        f.mode = uint16_t((t.u16() | 0x8010) & ~0x0020);
        f.created = t.stamp();
        f.modified = t.stamp();
        // No longer than what the input still holds, so small inputs stay fast to compress.
        const size_t n = std::min<size_t>(t.u16() % 4096, t.size);
        for (size_t k = 0; k < n; ++k) f.data.push_back(t.byte());
        c.files.push_back(std::move(f));
    }
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const SaveContents c = contentsOf(data, size);
    for (ContainerKind kind : {ContainerKind::Psu, ContainerKind::Max, ContainerKind::Cbs,
                               ContainerKind::SharkPort, ContainerKind::Psv}) {
        const char* word = containerWord(kind);
        std::vector<uint8_t> out;
        std::string error;
        // A writer may refuse what it cannot hold (sizes, names); never silently.
        if (!writeContainer(kind, c, out, error)) {
            check(!error.empty(), word, "a refusal says why");
            continue;
        }
        check(detectContainer({out.data(), out.size()}, out.size()) == kind, word, "recognised");
        ContainerRead r = readContainer(kind, {out.data(), out.size()});
        check(r.ok && !r.hasErrors(), word, "what was written reads without errors");
        const SaveContents& b = r.contents;
        check(b.folderName == c.folderName, word, "folder name");
        check(b.files.size() == c.files.size(), word, "file count");
        const bool metadata = kind != ContainerKind::Max;
        if (metadata)
            check(b.folderMode == c.folderMode && b.created == c.created && b.modified == c.modified,
                  word, "folder mode and stamps");
        for (size_t i = 0; i < c.files.size() && i < b.files.size(); ++i) {
            check(b.files[i].name == c.files[i].name, word, "file name");
            check(b.files[i].data == c.files[i].data, word, "file data");
            if (metadata)
                check(b.files[i].mode == c.files[i].mode && b.files[i].created == c.files[i].created &&
                          b.files[i].modified == c.files[i].modified,
                      word, "file mode and stamps");
        }
    }
    return 0;
}
