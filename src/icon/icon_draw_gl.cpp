#include <GL/gl.h>

#include <vector>

#include "icon/icon_descriptor.h"
#include "icon/icon_draw.h"

namespace marrowin {

void selectIcon(IconView& view, const SaveImage& image, LightSettings lights[3], int index) {
    if (image.empty()) return;
    const std::string name = readIconFileName(image, index);
    const std::optional<uint64_t> found = findFileEntry(image, name.c_str());
    if (!found) {
        view.currentModel.reset();
        return;
    }
    view.currentModel = IconModel{&image, *found};

    // The shell owns the texture buffer; without one, decode into a buffer of our own so the
    // upload still happens.
    std::vector<uint8_t> ownBuffer;
    uint8_t* pixels = view.textureImage;
    if (!pixels) {
        ownBuffer.resize(TEXTURE_BUFFER_BYTES);
        pixels = ownBuffer.data();
    }
    decodeTexture(*view.currentModel, pixels);
    // Rows go up in stream order: the first row of the stream lies at t = 0.
    glTexImage2D(GL_TEXTURE_2D, 0, 3, TEXTURE_SIDE, TEXTURE_SIDE, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 pixels);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);

    loadDescriptorLights(image, lights);
}

void drawIconModel(IconView& view) {
    if (!view.currentModel) return;
    const IconModel& model = *view.currentModel;
    const ModelHeader header = readModelHeader(model);
    stepAnimation(view.animation, header.shapeCount);

    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_TEXTURE_2D);
    glBegin(GL_TRIANGLES);
    // A model without shapes has no positions: it sends an empty batch. Records that reach
    // past the save image are not sent; readableVertexCount stops before them.
    const uint64_t count = header.shapeCount == 0 ? 0 : readableVertexCount(model, header);
    const uint32_t shape = view.animation.shapeIndex;
    constexpr float FIXED = 1.0f / 4096.0f;
    constexpr float COLOUR = 1.0f / 128.0f;
    Vertex v;
    for (uint64_t i = 0; i < count; ++i) {
        if (!readVertex(model, header, i, shape, v)) break;
        glNormal3f(v.normal[0] * FIXED, v.normal[1] * FIXED, v.normal[2] * FIXED);
        glTexCoord2f(v.uv[0] * FIXED, v.uv[1] * FIXED);
        if (v.colour[3] != 0) {
            glColor4f(v.colour[0] * COLOUR, v.colour[1] * COLOUR, v.colour[2] * COLOUR,
                      v.colour[3] * COLOUR);
        } else {
            glColor3f(v.colour[0] * COLOUR, v.colour[1] * COLOUR, v.colour[2] * COLOUR);
        }
        glVertex3f(v.position[0] * FIXED, v.position[1] * FIXED, v.position[2] * FIXED);
    }
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_COLOR_MATERIAL);
}

}  // namespace marrowin
