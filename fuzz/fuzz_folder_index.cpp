// A folder card's "_pcsx2_index" is read from a folder anyone may have edited: the reader must
// take any bytes, and what we write from what it read must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "card/folder_card.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    using namespace marrowin::card;
    std::vector<std::string> problems;
    std::vector<FolderIndexEntry> first = parseFolderIndex({reinterpret_cast<const char*>(data), size}, problems);
    for (FolderIndexEntry& e : first) {
        // What we write always carries both times; a missing order stays missing.
        if (e.order < 0) e.order = 0;
        e.hasCreated = e.hasModified = true;
    }
    problems.clear();
    const std::vector<FolderIndexEntry> again = parseFolderIndex(writeFolderIndex(first), problems);
    if (!problems.empty() || again.size() != first.size()) std::abort();
    for (size_t i = 0; i < first.size(); ++i)
        if (again[i].name != first[i].name || again[i].order != first[i].order ||
            again[i].timeCreated != first[i].timeCreated || again[i].timeModified != first[i].timeModified)
            std::abort();
    return 0;
}
