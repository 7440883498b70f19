#include "archive/entry_header.h"

#include <algorithm>
#include <cstring>

namespace marrowin {

EntryRecord decodeEntry(ByteView bytes, uint64_t off, size_t nameMax) {
    // A header cut by the end reads as the bytes present followed by zeros, field by field:
    // a mode whose low byte is the file's last byte still says whether it is a folder, as the
    // walk reads it.
    uint8_t header[ENTRY_HEADER_SIZE] = {};
    if (off < bytes.size)
        std::memcpy(header, bytes.data + off, size_t(std::min<uint64_t>(ENTRY_HEADER_SIZE, bytes.size - off)));
    const ByteView v{header, ENTRY_HEADER_SIZE};
    off = 0;
    EntryRecord e;
    e.mode = v.u16(off + ENTRY_MODE_OFFSET);
    e.size = v.u32(off + ENTRY_SIZE_OFFSET);
    e.created = stampAt(v, off + ENTRY_CREATED_OFFSET);
    e.cluster = v.u32(off + ENTRY_CLUSTER_OFFSET);
    e.dirEntry = v.u32(off + ENTRY_DIR_ENTRY_OFFSET);
    e.modified = stampAt(v, off + ENTRY_MODIFIED_OFFSET);
    e.attribute = v.u32(off + ENTRY_ATTRIBUTE_OFFSET);
    e.name = v.text(off + ENTRY_NAME_OFFSET, std::min(nameMax, ENTRY_NAME_MAX));
    return e;
}

void encodeEntry(const EntryRecord& e, uint8_t* out) {
    std::memset(out, 0, ENTRY_HEADER_SIZE);
    putU16(out + ENTRY_MODE_OFFSET, e.mode);
    putU32(out + ENTRY_SIZE_OFFSET, e.size);
    std::memcpy(out + ENTRY_CREATED_OFFSET, e.created.data(), e.created.size());
    putU32(out + ENTRY_CLUSTER_OFFSET, e.cluster);
    putU32(out + ENTRY_DIR_ENTRY_OFFSET, e.dirEntry);
    std::memcpy(out + ENTRY_MODIFIED_OFFSET, e.modified.data(), e.modified.size());
    putU32(out + ENTRY_ATTRIBUTE_OFFSET, e.attribute);
    std::memcpy(out + ENTRY_NAME_OFFSET, e.name.data(), std::min(e.name.size(), ENTRY_NAME_MAX));
}

}  // namespace marrowin
