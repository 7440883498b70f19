#pragma once
// The neutral save: one folder of plain files with their metadata, as every container holds
// it. Each reader turns its bytes into this and each writer turns this into bytes; it lives
// here, below the containers, because the .psu reader and writer make and take it too.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry_header.h"
#include "base/problem.h"
#include "base/time_stamp.h"

namespace marrowin {

struct SaveFile {
    std::string name;  // save text, raw bytes
    uint16_t mode = MODE_FILE;
    Stamp created{};
    Stamp modified{};
    uint32_t attribute = 0;
    std::vector<uint8_t> data;
};

struct SaveContents {
    std::string folderName;  // save text, raw bytes
    uint16_t folderMode = MODE_DIRECTORY;
    Stamp created{};
    Stamp modified{};
    uint32_t attribute = 0;
    std::vector<SaveFile> files;  // in the container's order
};

struct ContainerRead {
    bool ok = false;  // contents hold the save (possibly with problems); false: nothing usable
    SaveContents contents;
    // The container's own faults (bad checksum, a stream that ends early, sizes that disagree):
    // errors mean the contents are damaged or incomplete; warnings are oddities a peer is known
    // to produce, which lose nothing.
    std::vector<Problem> problems;
    bool hasErrors() const {
        return std::any_of(problems.begin(), problems.end(),
                           [](const Problem& p) { return p.severity == Severity::Error; });
    }
};

}  // namespace marrowin
