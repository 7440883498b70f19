// The Action Replay MAX reader (LZARI decoding included) over untrusted bytes: the declared
// size bounds what comes out, names stay in their fields, and what is read writes and reads
// back unchanged. The input's head is also compressed and decompressed again.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "containers/lzari.h"
#include "containers/save_contents.h"

namespace {

using namespace marrowin;

// 64 MiB is allowed but slow under the sanitizers; a few times the real saves' size covers
// the code, and the write-back (compressing again) is done for the smaller ones.
constexpr uint64_t DECLARED_LIMIT = 128u << 10;
constexpr uint64_t ROUND_TRIP_LIMIT = 32u << 10;
constexpr size_t ENCODED_HEAD = 4u << 10;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool sameSave(const SaveContents& a, const SaveContents& b) {
    if (a.folderName != b.folderName || a.files.size() != b.files.size()) return false;
    for (size_t i = 0; i < a.files.size(); ++i)
        if (a.files[i].name != b.files[i].name || a.files[i].data != b.files[i].data) return false;
    return true;
}

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
    ContainerRead r = readMax(bytes);
    check(r.ok || r.hasErrors(), "a refusal says why");
    check(!r.ok || looksLikeMax(bytes, size), "only a MAX save is read");
    if (!r.ok) return 0;
    uint64_t total = 0;
    for (const SaveFile& f : r.contents.files) {
        check(f.name.size() <= SAVE_NAME_MAX, "names bounded by their field");
        check(f.mode == MODE_FILE && f.created == Stamp{} && f.modified == Stamp{},
              "no invented metadata");
        total += 36 + f.data.size();
    }
    check(total <= declared, "no more than the declared size");
    check(r.contents.folderName.size() <= SAVE_NAME_MAX, "the folder name bounded by its field");

    if (declared > ROUND_TRIP_LIMIT) return 0;
    std::vector<uint8_t> out;
    std::string error;
    if (!writeMax(r.contents, out, error)) return 0;  // an empty name, which it refuses
    ContainerRead back = readMax({out.data(), out.size()});
    check(back.ok && back.problems.empty(), "a written save reads without problems");
    check(sameSave(r.contents, back.contents), "the same save comes back");
    return 0;
}
