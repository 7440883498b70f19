#pragma once
// The neutral save: one folder of plain files with their metadata, as every container holds
// it. Each reader turns its bytes into this and each writer turns this into bytes; it lives
// here, below the containers, because the .psu reader and writer make and take it too.
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

// A file's or the folder's entry record without its data, and back: the fields every
// container and a card keep alike. The folder's record counts no entries here.
inline EntryRecord entryRecordOf(const SaveFile& f) {
    return {f.mode, uint32_t(f.data.size()), f.created, f.modified, 0, 0, f.attribute, f.name};
}
inline EntryRecord entryRecordOf(const SaveContents& c) {
    return {c.folderMode, 0, c.created, c.modified, 0, 0, c.attribute, c.folderName};
}
inline SaveFile saveFileOf(const EntryRecord& e) {
    return {e.name, e.mode, e.created, e.modified, e.attribute, {}};
}
inline void takeFolderRecord(SaveContents& c, const EntryRecord& e) {
    c.folderName = e.name;
    c.folderMode = e.mode;
    c.created = e.created;
    c.modified = e.modified;
    c.attribute = e.attribute;
}

struct ContainerRead {
    bool ok = false;  // contents hold the save (possibly with problems); false: nothing usable
    SaveContents contents;
    // The container's own faults (bad checksum, a stream that ends early, sizes that disagree):
    // errors mean the contents are damaged or incomplete; warnings are oddities a peer is known
    // to produce, which lose nothing.
    std::vector<Problem> problems;
    bool hasErrors() const { return marrowin::hasErrors(problems); }
};

}  // namespace marrowin
