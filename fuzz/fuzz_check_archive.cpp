// The archive check over untrusted bytes: it must end quickly whatever the counts say, and
// what it reports must hold together.
#include <cstdint>

#include "operations/archive_check.h"
#include "archive/save_image.h"
#include "fuzz_support.h"

using marrowin::fuzzing::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace marrowin;
    if (size > UINT32_MAX) return 0;
    static SaveImage image;  // one buffer for the whole run
    if (!refillSaveImage(image, data, uint32_t(size))) return 0;
    std::vector<Problem> problems = checkArchive(image);

    const bool archive = detectArchiveKind(image) == ArchiveKind::SaveArchive;
    check(archive || (problems.size() == 1 && problems[0].severity == Severity::Error),
          "an archive that is not recognised gets one error");
    uint64_t previous = 0;
    for (const Problem& p : problems) {
        check(!p.text.empty(), "every problem says what it is");
        check(p.offset >= previous, "problems come in file order");
        // Offsets point into the file, or just past it where something runs off its end.
        check(p.offset <= uint64_t(size) + 2 * ENTRY_HEADER_SIZE, "offsets near the file");
        check(p.where.size() <= ENTRY_NAME_MAX, "entry names bounded by their header");
        previous = p.offset;
    }
    // The same bytes give the same report (checked on inputs of scripts/fuzz.sh's -max_len;
    // a larger save given by hand is checked once).
    if (size <= (1u << 19)) check(checkArchive(image).size() == problems.size(), "the check is repeatable");
    return 0;
}
