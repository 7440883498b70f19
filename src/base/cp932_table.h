#pragma once
// Code page 932 (Shift-JIS as Windows has it) as data, generated once by
// tools/make_cp932_table.cpp. Code points are all in the Basic Multilingual Plane; 0 = none.
#include <cstddef>
#include <cstdint>

namespace marrowin::cp932 {

constexpr unsigned TRAIL_FIRST = 0x40, TRAIL_LAST = 0xFC;
constexpr size_t LEAD_COUNT = (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1);
constexpr size_t TRAIL_COUNT = TRAIL_LAST - TRAIL_FIRST + 1;

// Bytes 0x80-0xFF standing alone (lead bytes have none).
extern const uint16_t SINGLE[128];
// Lead bytes 0x81-0x9F then 0xE0-0xFC, by trail byte 0x40-0xFC.
extern const uint16_t DOUBLE[LEAD_COUNT][TRAIL_COUNT];

// The way back, sorted by code point: the code the converter gives each character it decodes
// to (for a character with two codes, the one Windows gives).
struct Reverse {
    uint16_t codePoint;
    uint16_t code;
};
extern const Reverse REVERSE[];
extern const size_t REVERSE_COUNT;

}  // namespace marrowin::cp932
