#pragma once
// A 3D icon file inside a save, used where it lies, and its texture.
#include <cstdint>

#include "archive/save_image.h"

namespace marrowin {

constexpr uint32_t TEXTURE_SIDE = 128;
constexpr uint32_t TEXTURE_IMAGE_BYTES = 128 * 128 * 3;  // 49,152
constexpr uint32_t TEXTURE_BUFFER_BYTES = 0xC400;        // what the shell allocates
constexpr uint32_t MODEL_HEADER_SIZE = 20;

// Position of a model's data inside a save image. Owns nothing.
struct IconModel {
    const SaveImage* image = nullptr;
    uint64_t offset = 0;
};

struct ModelHeader {
    uint32_t shapeCount = 0;
    uint32_t textureType = 0;
    uint32_t vertexCount = 0;
};
ModelHeader readModelHeader(const IconModel& model);

// 8 x (shapeCount + 2), in 64 bits.
inline uint64_t vertexRecordSize(uint32_t shapeCount) { return 8 * (uint64_t(shapeCount) + 2); }

// How many of the header's vertex records lie wholly inside the save image's buffer.
// Drawing reads only these.
uint64_t readableVertexCount(const IconModel& model, const ModelHeader& header);

struct Vertex {
    int16_t position[3];  // of the asked shape; w not read
    int16_t normal[3];
    int16_t uv[2];
    uint8_t colour[4];
};
// Reads vertex `index` with the position of `shape`; false (and zeros) when the record is not
// wholly inside the buffer or shape >= shapeCount.
bool readVertex(const IconModel& model, const ModelHeader& header, uint64_t index, uint32_t shape,
                Vertex& out);

// Offset (from the model's start) where the texture data begin, walking the animation
// section; the result may lie past the buffer.
uint64_t textureOffset(const IconModel& model, const ModelHeader& header);

// Writes all 49,152 bytes of image (128 x 128 RGB, stream order). Never reads outside the
// save image's buffer; pixels a cut-off stream does not reach are written black.
void decodeTexture(const IconModel& model, uint8_t* image);

}  // namespace marrowin
