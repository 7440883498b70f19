#include "icon/icon_model.h"

#include <algorithm>
#include <cstring>

namespace marrowin {

namespace {

inline void putPixel(uint8_t* out, uint16_t p) {
    out[0] = uint8_t((p & 0x1F) << 3);
    out[1] = uint8_t(((p >> 5) & 0x1F) << 3);
    out[2] = uint8_t(((p >> 10) & 0x1F) << 3);
}

inline uint16_t wordAt(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

constexpr uint32_t TEXTURE_PIXELS = TEXTURE_SIDE * TEXTURE_SIDE;

}  // namespace

ModelHeader readModelHeader(const IconModel& model) {
    ModelHeader h;
    if (!model.image) return h;
    ByteView v = model.image->view();
    h.shapeCount = v.u32(addSaturating(model.offset, 4));
    h.textureType = v.u32(addSaturating(model.offset, 8));
    h.vertexCount = v.u32(addSaturating(model.offset, 16));
    return h;
}

uint64_t readableVertexCount(const IconModel& model, const ModelHeader& header) {
    if (!model.image) return 0;
    uint64_t cap = model.image->capacity();
    uint64_t start = addSaturating(model.offset, MODEL_HEADER_SIZE);
    if (start >= cap) return 0;
    uint64_t fit = (cap - start) / vertexRecordSize(header.shapeCount);
    return std::min<uint64_t>(fit, header.vertexCount);
}

bool readVertex(const IconModel& model, const ModelHeader& header, uint64_t index, uint32_t shape,
                Vertex& out) {
    out = Vertex{};
    if (shape >= header.shapeCount || index >= readableVertexCount(model, header)) return false;
    ByteView v = model.image->view();
    uint64_t rec = vertexRecordSize(header.shapeCount);
    uint64_t base = model.offset + MODEL_HEADER_SIZE + index * rec;  // inside the buffer
    uint64_t pos = base + 8 * uint64_t(shape);
    uint64_t normal = base + 8 * uint64_t(header.shapeCount);
    for (int c = 0; c < 3; ++c) {
        v.i16(pos + 2 * c, out.position[c]);
        v.i16(normal + 2 * c, out.normal[c]);
    }
    v.i16(normal + 8, out.uv[0]);
    v.i16(normal + 10, out.uv[1]);
    for (int c = 0; c < 4; ++c) v.u8(normal + 12 + c, out.colour[c]);
    return true;
}

uint64_t textureOffset(const IconModel& model, const ModelHeader& header) {
    uint64_t cap = model.image ? model.image->capacity() : 0;
    uint64_t section = addSaturating(MODEL_HEADER_SIZE,
                                     mulSaturating(header.vertexCount, vertexRecordSize(header.shapeCount)));
    ByteView v = model.image ? model.image->view() : ByteView{};
    uint64_t frameCount = v.u32(addSaturating(addSaturating(model.offset, section), 16));
    uint64_t off = addSaturating(section, 20);
    // Every frame is at least 8 bytes, and once the walk has left the buffer each further
    // frame is a plain 8 bytes (its key count reads 0): finish those in one step instead of
    // looping up to four billion times.
    for (uint64_t f = 0; f < frameCount; ++f) {
        uint64_t at = addSaturating(model.offset, off);
        if (at >= cap) {
            off = addSaturating(off, mulSaturating(frameCount - f, 8));
            break;
        }
        uint64_t keys = v.u32(addSaturating(at, 4));
        off = addSaturating(off, 8 + 8 * keys);
    }
    return off;
}

void decodeTexture(const IconModel& model, uint8_t* image) {
    ModelHeader h = readModelHeader(model);
    if ((h.textureType & 0xFF) == 3) {
        std::memset(image, 128, TEXTURE_IMAGE_BYTES);
        return;
    }
    uint32_t written = 0;  // pixels
    const SaveImage* save = model.image;
    uint64_t cap = save ? save->capacity() : 0;
    uint64_t pos = addSaturating(model.offset, textureOffset(model, h));
    // Words left in the buffer from pos on.
    auto wordsLeft = [&]() -> uint64_t { return pos < cap ? (cap - pos) / 2 : 0; };

    if (!(h.textureType & 8)) {
        uint64_t n = std::min<uint64_t>(TEXTURE_PIXELS, wordsLeft());
        const uint8_t* src = save ? save->bytes + (n ? pos : 0) : nullptr;
        for (uint64_t k = 0; k < n; ++k) putPixel(image + 3 * k, wordAt(src + 2 * k));
        written = uint32_t(n);
    } else {
        pos = addSaturating(pos, 4);  // the length word before the stream is not trusted
        uint32_t left = TEXTURE_PIXELS;
        while (left > 0) {
            uint64_t avail = wordsLeft();
            if (avail == 0) break;
            const uint8_t* src = save->bytes + pos;
            uint16_t c = wordAt(src);
            pos += 2;
            --avail;
            if (c & 0x8000) {
                uint32_t count = std::min<uint32_t>(0x10000u - c, left);
                left -= count;
                uint32_t n = uint32_t(std::min<uint64_t>(count, avail));
                const uint8_t* p = src + 2;
                uint8_t* out = image + 3 * uint64_t(written);
                for (uint32_t k = 0; k < n; ++k) putPixel(out + 3 * k, wordAt(p + 2 * k));
                written += n;
                pos += 2 * uint64_t(n);
                if (n < count) break;  // the stream ends inside the run
            } else {
                uint32_t count = std::min<uint32_t>(c, left);
                left -= count;
                if (avail == 0) break;
                uint16_t pixel = wordAt(src + 2);
                pos += 2;
                uint8_t* out = image + 3 * uint64_t(written);
                if (count > 0) {
                    // One texel, then the run doubles itself: a few copies instead of one per
                    // texel (runs of thousands are common).
                    putPixel(out, pixel);
                    for (uint64_t done = 3, total = 3 * uint64_t(count); done < total;) {
                        uint64_t n = std::min(done, total - done);
                        std::memcpy(out + done, out, n);
                        done += n;
                    }
                }
                written += count;
            }
        }
    }
    // Pixels that a cut-off texture does not reach are black.
    std::memset(image + 3 * uint64_t(written), 0, TEXTURE_IMAGE_BYTES - 3 * uint64_t(written));
}

}  // namespace marrowin
