#pragma once
// What every container reader's fuzz target asks of what it reads: a refusal says why, only
// its own kind of file is read, names stay inside their fields, and what was read writes and
// reads back the same. Each target adds the bounds and limits of its own format.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "containers/save_contents.h"

namespace marrowin::fuzzing {

inline void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

struct ContainerUnderTest {
    bool (*looksLike)(ByteView, uint64_t);
    ContainerRead (*read)(ByteView);
    bool (*write)(const SaveContents&, std::vector<uint8_t>&, std::string&);
    const char* onlyItsOwn;    // "only a ... is read"
    size_t nameField;          // longest name the format holds
    uint64_t recordOverhead;   // bytes each file takes besides its data
    bool keepsMetadata;        // stamps and modes survive a write and read
};

// Reads `bytes`; what the files take (overhead and data) must stay within `bound`, which
// `boundWhat` names.
inline ContainerRead readChecked(const ContainerUnderTest& t, ByteView bytes, uint64_t bound, const char* boundWhat) {
    ContainerRead r = t.read(bytes);
    check(r.ok || r.hasErrors(), "a refusal says why");
    check(!r.ok || t.looksLike(bytes, bytes.size), t.onlyItsOwn);
    if (!r.ok) return r;
    uint64_t total = 0;
    for (const SaveFile& f : r.contents.files) {
        check(f.name.size() <= t.nameField, "names bounded by their field");
        total += t.recordOverhead + f.data.size();
    }
    check(total <= bound, boundWhat);
    check(r.contents.folderName.size() <= t.nameField, "the folder name bounded by its field");
    return r;
}

inline bool sameSave(const SaveContents& a, const SaveContents& b, bool metadata) {
    if (a.folderName != b.folderName || a.files.size() != b.files.size()) return false;
    if (metadata && (a.folderMode != b.folderMode || a.created != b.created || a.modified != b.modified))
        return false;
    for (size_t i = 0; i < a.files.size(); ++i) {
        const SaveFile& x = a.files[i];
        const SaveFile& y = b.files[i];
        if (x.name != y.name || x.data != y.data) return false;
        if (metadata && (x.mode != y.mode || x.created != y.created || x.modified != y.modified))
            return false;
    }
    return true;
}

// A save the writer refuses (an empty name, names cards cannot take) is left there.
inline void checkWritesBack(const ContainerUnderTest& t, const SaveContents& contents) {
    std::vector<uint8_t> out;
    std::string error;
    if (!t.write(contents, out, error)) return;
    ContainerRead back = t.read({out.data(), out.size()});
    check(back.ok && back.problems.empty(), "a written save reads without problems");
    check(sameSave(contents, back.contents, t.keepsMetadata), "the same save comes back");
}

}  // namespace marrowin::fuzzing
