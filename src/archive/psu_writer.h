#pragma once
// The one writer of .psu bytes, front to back through a sink: writePsu fills memory with it and
// packFolder streams a folder's files through it into a file. It lays the folder's entry, "."
// and "..", then each file's record and its data filled out to whole blocks.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "archive/entry_header.h"

namespace marrowin {

// What the folder's three entries take, and what one file takes after them.
constexpr uint64_t PSU_FOLDER_ENTRIES_SIZE = 3 * uint64_t(ENTRY_HEADER_SIZE);
constexpr uint64_t psuFileSpan(uint64_t dataSize) { return ENTRY_HEADER_SIZE + paddedDataSize(dataSize); }

class PsuWriter {
public:
    using Sink = std::function<bool(const uint8_t* bytes, size_t size)>;
    explicit PsuWriter(Sink sink) : sink_(std::move(sink)) {}

    // The folder's entry (its size counting fileCount files and the two dot entries; its name
    // cut to the 64-byte field), then "." and ".." with the folder's stamps.
    bool begin(const EntryRecord& folder, uint32_t fileCount);
    // Ends the file before, then writes the record of one whose data (record.size bytes) follow.
    bool file(const EntryRecord& record);
    // Part of the current file's data; bytes past what its record announced are not written.
    bool data(const uint8_t* bytes, size_t size);
    // Ends the last file. A file whose source gave fewer bytes than its record said is filled
    // with zeros, so the layout still matches every header.
    bool finish();

    // Data bytes the current file's record announced and were not given.
    uint64_t missing() const { return left_; }

private:
    bool zeros(uint64_t count);
    bool endFile();

    Sink sink_;
    uint64_t left_ = 0;
    uint64_t padding_ = 0;
};

}  // namespace marrowin
