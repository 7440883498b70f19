#pragma once
// CodeBreaker (".cbs") layout: a 0x128-byte header, then the records (64-byte header and
// data each, no padding) deflated with zlib and XORed with a fixed RC4 keystream.
#include <cstddef>
#include <cstdint>

namespace marrowin {

constexpr uint8_t CBS_MAGIC[4] = {'C', 'F', 'U', 0};
constexpr uint32_t CBS_UNKNOWN_WORD = 0x1F40;  // found in every save; written as found
constexpr uint32_t CBS_HEADER_SIZE = 0x128;
// Saves with a shorter header exist; the fields we read all lie before this.
constexpr uint32_t CBS_HEADER_MIN = 0x7C;

constexpr size_t CBS_MAGIC_OFFSET = 0x00;
constexpr size_t CBS_UNKNOWN_OFFSET = 0x04;
constexpr size_t CBS_HEADER_SIZE_OFFSET = 0x08;
constexpr size_t CBS_EXPANDED_SIZE_OFFSET = 0x0C;
constexpr size_t CBS_STORED_SIZE_OFFSET = 0x10;  // payload length or whole file size
constexpr size_t CBS_FOLDER_NAME_OFFSET = 0x14;
constexpr size_t CBS_FOLDER_CREATED_OFFSET = 0x34;
constexpr size_t CBS_FOLDER_MODIFIED_OFFSET = 0x3C;
constexpr size_t CBS_FOLDER_MODE_OFFSET = 0x48;  // u32; 0x4C stays zero
constexpr size_t CBS_TITLE_OFFSET = 0x5C;
// The title area is 204 bytes; some tools split it into a 72-byte title and a description.
constexpr size_t CBS_TITLE_FIELD = 72;
constexpr size_t CBS_NAME_FIELD = 32;

constexpr size_t CBS_RECORD_HEADER = 0x40;
constexpr size_t CBS_RECORD_CREATED = 0x00;
constexpr size_t CBS_RECORD_MODIFIED = 0x08;
constexpr size_t CBS_RECORD_SIZE = 0x10;
constexpr size_t CBS_RECORD_MODE = 0x14;
constexpr size_t CBS_RECORD_NAME = 0x20;

static_assert(CBS_FOLDER_MODE_OFFSET + 4 <= CBS_HEADER_MIN);
static_assert(CBS_FOLDER_NAME_OFFSET + CBS_NAME_FIELD == CBS_FOLDER_CREATED_OFFSET);
static_assert(CBS_TITLE_OFFSET + 204 == CBS_HEADER_SIZE);
static_assert(CBS_RECORD_NAME + CBS_NAME_FIELD == CBS_RECORD_HEADER);

// The payload's RC4 keystream. It starts from a fixed permutation (there is no key), and
// apply() XORs the next `size` bytes of it over data, so the same call encrypts and decrypts
// and a payload may be handled in pieces.
struct CbsCipher {
    uint8_t s[256];
    uint8_t i = 0;
    uint8_t j = 0;
    CbsCipher();
    void apply(uint8_t* data, size_t size);
};

}  // namespace marrowin
