#pragma once
// A careful reading of a whole archive: everything that would make a reader, the extraction
// or the icon drawing go wrong or guess. Errors are faults; warnings are oddities that the
// readers live with (padding that is not zero, bytes after a texture, names that only differ
// in letter case).
#include <cstdint>
#include <string>
#include <vector>

#include "archive/save_image.h"
#include "base/problem.h"

namespace marrowin {

// Every problem found, in file order: `where` is the entry's name as save text (empty for the
// archive as a whole), `offset` the entry's header or the field or data at fault. Work is bounded by the file's bytes whatever its counts
// say. An archive that is not recognised (or the refused Ps2PowerSave kind) gets one error and
// nothing more.
std::vector<Problem> checkArchive(const SaveImage& image);

// Where a run-length texture stream ends: `end` is the offset after its last word read, valid
// when `complete`; otherwise `pixels` says how far it got before `limit`.
struct RunLengthExtent {
    bool complete = false;
    uint64_t end = 0;
    uint32_t pixels = 0;
};
// Measures the stream starting at `start` (after the 4-byte word), reading no byte at or past
// `limit` (an offset into the view).
RunLengthExtent measureRunLengthStream(const ByteView& view, uint64_t start, uint64_t limit);

}  // namespace marrowin
