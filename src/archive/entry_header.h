#pragma once
// The 512-byte entry record: the header that opens every entry of a save archive, and the same
// layout as a memory card's directory entry. This is its one codec: every reader and writer of
// archives and cards goes through decodeEntry and encodeEntry.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/byte_reader.h"
#include "base/time_stamp.h"

namespace marrowin {

constexpr uint32_t ENTRY_HEADER_SIZE = 512;
constexpr uint32_t DATA_BLOCK_SIZE = 1024;
constexpr uint16_t MODE_DIRECTORY = 0x8427;
constexpr uint16_t MODE_FILE = 0x8497;
constexpr uint8_t MODE_DIRECTORY_BIT = 0x20;  // tested in byte 0 only

// Byte 0 is always zero; the year is 16-bit little-endian.
struct EntryTime {
    uint8_t zero = 0;
    uint8_t seconds = 0;
    uint8_t minutes = 0;
    uint8_t hours = 0;
    uint8_t day = 0;
    uint8_t month = 0;
    uint8_t yearLow = 0;
    uint8_t yearHigh = 0;
    uint16_t year() const { return uint16_t(yearLow | (yearHigh << 8)); }
};
static_assert(sizeof(EntryTime) == 8);

// The record as it lies in the file; only its layout is used (offsets below), never a cast.
// Archives written here keep cluster, dirEntry and the unused bytes zero.
struct EntryHeader {
    uint8_t mode[2];
    uint8_t unused2[2];
    uint8_t size[4];       // a file's bytes; a folder's entries counting "." and ".."
    EntryTime created;
    uint8_t cluster[4];    // on a card: the first cluster (0xFFFFFFFF for an empty file)
    uint8_t dirEntry[4];   // on a card, in a folder's ".": the folder's index in its parent
    EntryTime modified;
    uint8_t attribute[4];
    uint8_t unused36[28];
    char name[64];         // a card keeps 32 bytes; an archive's file name may run on
    uint8_t rest[384];
};
static_assert(sizeof(EntryHeader) == ENTRY_HEADER_SIZE);

constexpr size_t ENTRY_MODE_OFFSET = offsetof(EntryHeader, mode);
constexpr size_t ENTRY_SIZE_OFFSET = offsetof(EntryHeader, size);
constexpr size_t ENTRY_CREATED_OFFSET = offsetof(EntryHeader, created);
constexpr size_t ENTRY_CLUSTER_OFFSET = offsetof(EntryHeader, cluster);
constexpr size_t ENTRY_DIR_ENTRY_OFFSET = offsetof(EntryHeader, dirEntry);
constexpr size_t ENTRY_MODIFIED_OFFSET = offsetof(EntryHeader, modified);
constexpr size_t ENTRY_ATTRIBUTE_OFFSET = offsetof(EntryHeader, attribute);
constexpr size_t ENTRY_NAME_OFFSET = offsetof(EntryHeader, name);
constexpr size_t ENTRY_NAME_FIELD_SIZE = sizeof(EntryHeader::name);
static_assert(ENTRY_SIZE_OFFSET == 4 && ENTRY_CREATED_OFFSET == 8 && ENTRY_CLUSTER_OFFSET == 0x10 &&
              ENTRY_DIR_ENTRY_OFFSET == 0x14 && ENTRY_MODIFIED_OFFSET == 0x18 &&
              ENTRY_ATTRIBUTE_OFFSET == 0x20 && ENTRY_NAME_OFFSET == 0x40);
// A file name may run on past its field up to the end of the header.
constexpr size_t ENTRY_NAME_MAX = ENTRY_HEADER_SIZE - ENTRY_NAME_OFFSET;  // 448
// A card's directory entry keeps a name of at most 32 bytes.
constexpr size_t CARD_ENTRY_NAME_MAX = 32;

// The decoded record.
struct EntryRecord {
    uint16_t mode = 0;
    uint32_t size = 0;
    Stamp created{};
    Stamp modified{};
    uint32_t cluster = 0;
    uint32_t dirEntry = 0;
    uint32_t attribute = 0;
    std::string name;  // save text, raw bytes
};

// Reads the record at `off`; bytes past the view read as zero. The name is at most nameMax
// bytes (ENTRY_NAME_FIELD_SIZE for a folder name, ENTRY_NAME_MAX for an archive's file name,
// CARD_ENTRY_NAME_MAX on a card), ended by its first zero byte.
EntryRecord decodeEntry(ByteView bytes, uint64_t off, size_t nameMax);

// Writes the record into the 512 bytes at `out`, every other byte zero. The name is written
// whole up to ENTRY_NAME_MAX bytes: what a container allows is the caller's check.
void encodeEntry(const EntryRecord& record, uint8_t* out);

// A file's data in an archive is filled out to whole DATA_BLOCK_SIZE blocks.
constexpr uint64_t paddedDataSize(uint64_t size) {
    return (size + (DATA_BLOCK_SIZE - 1)) & ~uint64_t(DATA_BLOCK_SIZE - 1);
}

}  // namespace marrowin
