#pragma once
// The one way save data is read: little-endian values through memcpy, with every offset
// checked against the size of the buffer. Offsets are 64-bit so counts from a file cannot
// wrap them. A read that does not fit yields 0 and reports false.
#include <cstdint>
#include <cstring>
#include <string>

namespace marrowin {

// Offset arithmetic on counts from a file: stops at the largest value instead of wrapping,
// so a sum past the buffer stays past it.
inline uint64_t addSaturating(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
inline uint64_t mulSaturating(uint64_t a, uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

struct ByteView {
    const uint8_t* data = nullptr;
    uint64_t size = 0;

    // True when n bytes starting at off lie inside the view.
    bool fits(uint64_t off, uint64_t n) const { return off <= size && n <= size - off; }

    bool u8(uint64_t off, uint8_t& out) const {
        if (!fits(off, 1)) { out = 0; return false; }
        out = data[off];
        return true;
    }
    bool u16(uint64_t off, uint16_t& out) const {
        if (!fits(off, 2)) { out = 0; return false; }
        out = uint16_t(data[off] | (data[off + 1] << 8));
        return true;
    }
    bool i16(uint64_t off, int16_t& out) const {
        uint16_t v;
        bool ok = u16(off, v);
        out = int16_t(v);
        return ok;
    }
    bool u32(uint64_t off, uint32_t& out) const {
        if (!fits(off, 4)) { out = 0; return false; }
        out = uint32_t(data[off]) | uint32_t(data[off + 1]) << 8 | uint32_t(data[off + 2]) << 16 |
              uint32_t(data[off + 3]) << 24;
        return true;
    }
    bool f32(uint64_t off, float& out) const {
        uint32_t bits;
        bool ok = u32(off, bits);
        std::memcpy(&out, &bits, 4);
        return ok;
    }
    // A text field of at most maxBytes, ended at its first zero byte (a full field needs none).
    std::string text(uint64_t off, uint64_t maxBytes) const {
        std::string out;
        for (uint64_t i = 0; i < maxBytes && fits(off, i + 1) && data[off + i] != 0; ++i)
            out.push_back(char(data[off + i]));
        return out;
    }
    // Convenience forms for places where a missing byte simply reads as zero.
    uint8_t u8(uint64_t off) const { uint8_t v; u8(off, v); return v; }
    uint16_t u16(uint64_t off) const { uint16_t v; u16(off, v); return v; }
    uint32_t u32(uint64_t off) const { uint32_t v; u32(off, v); return v; }
    float f32(uint64_t off) const { float v; f32(off, v); return v; }
};

// Little-endian values written into a buffer the caller has sized.
inline void putU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace marrowin
