#include "archive/psu_writer.h"

#include <algorithm>

namespace marrowin {

bool PsuWriter::begin(const EntryRecord& folder, uint32_t fileCount) {
    EntryRecord head = folder;
    head.size = fileCount + 2;
    // The folder's field has no room for a terminator when full; nothing runs on past it.
    if (head.name.size() > ENTRY_NAME_FIELD_SIZE) head.name.resize(ENTRY_NAME_FIELD_SIZE);
    uint8_t records[3][ENTRY_HEADER_SIZE];
    encodeEntry(head, records[0]);
    for (int dots = 1; dots <= 2; ++dots) {
        EntryRecord dot;
        dot.mode = MODE_DIRECTORY;
        dot.created = folder.created;
        dot.modified = folder.modified;
        dot.name = dots == 1 ? "." : "..";
        encodeEntry(dot, records[dots]);
    }
    return sink_(&records[0][0], sizeof records);
}

bool PsuWriter::file(const EntryRecord& record) {
    if (!endFile()) return false;
    uint8_t header[ENTRY_HEADER_SIZE];
    encodeEntry(record, header);
    left_ = record.size;
    padding_ = paddedDataSize(record.size) - record.size;
    return sink_(header, sizeof header);
}

bool PsuWriter::data(const uint8_t* bytes, size_t size) {
    const uint64_t n = std::min<uint64_t>(size, left_);
    left_ -= n;
    return n == 0 || sink_(bytes, size_t(n));
}

bool PsuWriter::finish() { return endFile(); }

bool PsuWriter::zeros(uint64_t count) {
    static const uint8_t block[DATA_BLOCK_SIZE] = {};
    for (; count > 0;) {
        const uint64_t n = std::min<uint64_t>(count, sizeof block);
        if (!sink_(block, size_t(n))) return false;
        count -= n;
    }
    return true;
}

bool PsuWriter::endFile() {
    const uint64_t count = left_ + padding_;
    left_ = padding_ = 0;
    return zeros(count);
}

}  // namespace marrowin
