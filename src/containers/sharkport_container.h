#pragma once
// SharkPort / X-Port (".sps", ".xps") layout: a magic string, three length-prefixed strings,
// then a body of records (the folder's, then each file's followed by its data) and a 32-bit
// sum over the body. Nothing is aligned.
#include <cstddef>
#include <cstdint>

namespace marrowin {

constexpr char SHARKPORT_MAGIC[] = "SharkPortSave";
constexpr uint32_t SHARKPORT_MAGIC_LENGTH = 13;
static_assert(sizeof SHARKPORT_MAGIC == SHARKPORT_MAGIC_LENGTH + 1);
constexpr size_t SHARKPORT_STRINGS_OFFSET = 0x15;  // after the magic and a zero word

// Record fields (relative to the record); readers use only what lies before RECORD_USED.
constexpr uint16_t SHARKPORT_RECORD_LENGTH = 0xFA;
constexpr size_t SHARKPORT_RECORD_USED = 0x62;
constexpr size_t SHARKPORT_NAME = 0x02;
constexpr size_t SHARKPORT_NAME_FIELD = 64;
constexpr size_t SHARKPORT_SIZE = 0x42;  // folder: entries counting "." and ".."; file: bytes
constexpr size_t SHARKPORT_MODE = 0x4E;  // big-endian
constexpr size_t SHARKPORT_CREATED = 0x52;
constexpr size_t SHARKPORT_MODIFIED = 0x5A;
constexpr size_t SHARKPORT_FILE_COUNT = 0x66;  // folder: files; file: 1
constexpr size_t SHARKPORT_CREATED_COPY = 0x6A;
constexpr size_t SHARKPORT_ASCII_TITLE = 0x72;  // folder: title; file: its name again
constexpr size_t SHARKPORT_SJIS_TITLE = 0xB2;   // likewise, in Shift-JIS
constexpr size_t SHARKPORT_TITLE_FIELD = 64;

static_assert(SHARKPORT_NAME + SHARKPORT_NAME_FIELD == SHARKPORT_SIZE);
static_assert(SHARKPORT_MODIFIED + 8 == SHARKPORT_RECORD_USED);
static_assert(SHARKPORT_SJIS_TITLE + SHARKPORT_TITLE_FIELD + 8 == SHARKPORT_RECORD_LENGTH);

// The sum stored after the body: each byte shifted left by the running sum mod 24, added.
uint32_t sharkPortChecksum(const uint8_t* data, size_t size, uint32_t sum = 0);

}  // namespace marrowin
