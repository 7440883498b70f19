#pragma once
// The 512-byte record that opens every archive entry, and its time stamp.
#include <cstddef>
#include <cstdint>

namespace marrowin {

constexpr uint32_t ENTRY_HEADER_SIZE = 512;
constexpr uint32_t DATA_BLOCK_SIZE = 1024;
constexpr uint16_t MODE_DIRECTORY = 0x8427;
constexpr uint16_t MODE_FILE = 0x8497;
constexpr uint8_t MODE_DIRECTORY_BIT = 0x20;  // tested in byte 0 only

// Offsets inside an EntryHeader.
constexpr size_t ENTRY_MODE_OFFSET = 0;
constexpr size_t ENTRY_SIZE_OFFSET = 4;
constexpr size_t ENTRY_CREATED_OFFSET = 8;
constexpr size_t ENTRY_MODIFIED_OFFSET = 24;
constexpr size_t ENTRY_NAME_OFFSET = 64;
constexpr size_t ENTRY_NAME_FIELD_SIZE = 64;
// A file name may run on past its field up to the end of the header.
constexpr size_t ENTRY_NAME_MAX = ENTRY_HEADER_SIZE - ENTRY_NAME_OFFSET;  // 448

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

// The header as it lies in the file. Only ever filled by memcpy from / to bytes.
struct EntryHeader {
    uint8_t mode[2];
    uint8_t zero2[2];
    uint8_t size[4];
    EntryTime created;
    uint8_t zero16[8];
    EntryTime modified;
    uint8_t zero32[32];
    char name[64];
    uint8_t rest[384];
};
static_assert(sizeof(EntryHeader) == ENTRY_HEADER_SIZE);
static_assert(offsetof(EntryHeader, size) == ENTRY_SIZE_OFFSET);
static_assert(offsetof(EntryHeader, created) == ENTRY_CREATED_OFFSET);
static_assert(offsetof(EntryHeader, modified) == ENTRY_MODIFIED_OFFSET);
static_assert(offsetof(EntryHeader, name) == ENTRY_NAME_OFFSET);

}  // namespace marrowin
