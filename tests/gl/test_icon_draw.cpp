#include <GL/gl.h>
#include <GL/glu.h>

#include <cstring>

#include "fixtures.h"
#include "gl_support.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_draw.h"
#include "icon/icon_model.h"

using namespace marrowin;
using namespace marrowin::gltest;
using namespace marrowin::fixtures;

namespace {

std::vector<uint8_t> readTexture() {
    std::vector<uint8_t> pixels(TEXTURE_IMAGE_BYTES, 0);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// A triangle of one shape per entry in `centres` (x offsets, in units), wound so that it faces
// the default view (which turns half a turn about X).
ModelRecipe shapesModel(const std::vector<float>& centres) {
    ModelRecipe m;
    m.shapeCount = uint32_t(centres.size());
    m.vertices.resize(3);
    const int16_t corners[3][2] = {{0, -4096}, {-4096, 4096}, {4096, 4096}};
    for (int k = 0; k < 3; ++k) {
        m.vertices[k].normal = {0, 0, -4096, 0};
        m.vertices[k].colour = {128, 128, 128, 0};
        for (float c : centres)
            m.vertices[k].positions.push_back(
                {int16_t(corners[k][0] + int(c * 4096)), corners[k][1], 0, 0});
    }
    m.texture = plainTexture(0x7FFF);
    return m;
}

}  // namespace

class IconDraw : public GLFixture {
protected:
    // Loads the bytes as the current save image.
    void load(const Bytes& bytes) { image = imageOf(bytes); }

    // Window position (x, y from the top) of a model point under this frame's matrices.
    std::pair<int, int> project(double x, double y, double z) {
        GLdouble model[16], proj[16], wx, wy, wz;
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, model);
        glGetDoublev(GL_PROJECTION_MATRIX, proj);
        glGetIntegerv(GL_VIEWPORT, viewport);
        gluProject(x, y, z, model, proj, viewport, &wx, &wy, &wz);
        return {int(wx), int(HEIGHT) - 1 - int(wy)};
    }
    bool drawnAt(std::pair<int, int> p) { return !(front(p.first, p.second) == backgroundOf(settings)); }

    SaveImage image;
};

TEST_F(IconDraw, SelectUploadsDecodedTextureUnflipped) {
    ModelRecipe model = triangleModel();
    model.texture = rampTexture();
    load(iconSave({}, model));
    selectIcon(view, image, settings.lights, 0);
    ASSERT_TRUE(view.currentModel);
    EXPECT_EQ(view.currentModel->image, &image);

    std::vector<uint8_t> decoded(TEXTURE_BUFFER_BYTES);
    decodeTexture(*view.currentModel, decoded.data());
    EXPECT_EQ(std::memcmp(view.textureImage, decoded.data(), TEXTURE_IMAGE_BYTES), 0);
    // Row 0 of the texture (t = 0) is the first row of the stream.
    EXPECT_EQ(readTexture(), std::vector<uint8_t>(decoded.begin(), decoded.begin() + TEXTURE_IMAGE_BYTES));

    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 128);
    GLint binding = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &binding);
    EXPECT_EQ(binding, 0);  // the default texture, no texture object
}

TEST_F(IconDraw, OnlyTheMinificationFilterIsSet) {
    load(iconSave());
    selectIcon(view, image, settings.lights, 0);
    GLint minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 0, envMode = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    EXPECT_EQ(minFilter, GL_LINEAR);
    EXPECT_EQ(magFilter, GL_LINEAR);
    EXPECT_EQ(wrapS, GL_REPEAT);
    EXPECT_EQ(wrapT, GL_REPEAT);
    EXPECT_EQ(envMode, GL_MODULATE);
}

TEST_F(IconDraw, SelectLoadsTheDescriptorLights) {
    DescriptorRecipe d;
    d.lightColour[2][1] = 0.875f;
    d.ambient[0] = 0.125f;
    load(iconSave(d));
    LightSettings expected[3];
    std::memcpy(expected, settings.lights, sizeof expected);
    ASSERT_TRUE(loadDescriptorLights(image, expected));
    selectIcon(view, image, settings.lights, 0);
    EXPECT_EQ(std::memcmp(settings.lights, expected, sizeof expected), 0);
    paint();
    GLfloat diffuse[4];
    glGetLightfv(GL_LIGHT2, GL_DIFFUSE, diffuse);
    EXPECT_EQ(diffuse[1], settings.lights[2].diffuse[1]);
}

TEST_F(IconDraw, RealRunLengthCodedModelUploadsItsTexture) {
    Bytes sys = readFileBytes(testDataPath("opl-icon.sys"));
    Bytes icn = readFileBytes(testDataPath("opl.icn"));
    ASSERT_FALSE(sys.empty());
    ASSERT_FALSE(icn.empty());
    load(ArchiveBuilder().file("icon.sys", sys).file("opl.icn", icn).build());
    selectIcon(view, image, settings.lights, 2);
    ASSERT_TRUE(view.currentModel);
    EXPECT_EQ(readTexture(), std::vector<uint8_t>(view.textureImage,
                                                  view.textureImage + TEXTURE_IMAGE_BYTES));
    paint(2);
    EXPECT_LT(countFront(backgroundOf(settings)), size_t(WIDTH) * HEIGHT);
}

TEST_F(IconDraw, NameWithoutEntryLeavesNoModelButKeepsTextureAndLights) {
    DescriptorRecipe d;
    d.iconNames[1] = "missing.icn";
    ModelRecipe model = triangleModel();
    model.texture = rampTexture();
    load(iconSave(d, model));
    selectIcon(view, image, settings.lights, 0);
    const std::vector<uint8_t> texture = readTexture();
    settings.lights[0].diffuse[0] = 0.3125f;  // as if edited after the selection
    const ViewSettings before = settings;

    selectIcon(view, image, settings.lights, 1);
    EXPECT_FALSE(view.currentModel);
    EXPECT_EQ(readTexture(), texture);
    EXPECT_EQ(std::memcmp(&settings, &before, sizeof before), 0);
    paint(2);
    EXPECT_EQ(countFront(backgroundOf(settings)), size_t(WIDTH) * HEIGHT);
}

TEST_F(IconDraw, NoSaveImageChangesNothing) {
    load(iconSave());
    selectIcon(view, image, settings.lights, 0);
    ASSERT_TRUE(view.currentModel);
    const auto model = view.currentModel;
    const ViewSettings before = settings;
    SaveImage none;
    selectIcon(view, none, settings.lights, 1);
    EXPECT_EQ(view.currentModel->offset, model->offset);
    EXPECT_EQ(std::memcmp(&settings, &before, sizeof before), 0);
}

TEST_F(IconDraw, TriangleLandsWhereTheProjectionPutsIt) {
    load(iconSave({}, shapesModel({0})));
    selectIcon(view, image, settings.lights, 0);
    paint(2);
    EXPECT_TRUE(drawnAt(project(0, 0.3, 0)));
    EXPECT_FALSE(drawnAt(project(0, -1.5, 0)));  // beyond the tip
    EXPECT_FALSE(drawnAt(project(2, 0.9, 0)));   // beside the base
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
}

TEST_F(IconDraw, BackFacesAreCulled) {
    load(iconSave({}, shapesModel({0})));
    selectIcon(view, image, settings.lights, 0);
    settings.rotation[1] = 180;  // shows the triangle's back
    paint(2);
    EXPECT_EQ(countFront(backgroundOf(settings)), size_t(WIDTH) * HEIGHT);
}

TEST_F(IconDraw, EachPaintDrawsTheShapeOfTheAnimation) {
    load(iconSave({}, shapesModel({-2.5f, 2.5f})));
    selectIcon(view, image, settings.lights, 0);
    view.animation.paintsPerStep = 1;
    paint();  // advances to shape 1 before drawing
    EXPECT_EQ(view.animation.shapeIndex, 1u);
    paint();  // shape 0, on a cleared buffer
    const auto left = project(-2.5, 0.3, 0), right = project(2.5, 0.3, 0);
    EXPECT_TRUE(drawnAt(left));
    EXPECT_FALSE(drawnAt(right));
    paint();
    EXPECT_FALSE(drawnAt(left));
    EXPECT_TRUE(drawnAt(right));
}

TEST_F(IconDraw, VertexAttributesAreConvertedFromFixedPoint) {
    ModelRecipe m = shapesModel({0});
    m.vertices[2].colour = {128, 64, 0, 0};
    m.vertices[2].normal = {0, 4096, 0, 0};
    m.vertices[2].uv = {2048, -4096};
    load(iconSave({}, m));
    selectIcon(view, image, settings.lights, 0);
    paint();
    GLfloat colour[4], normal[3], uv[4], diffuse[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetFloatv(GL_CURRENT_NORMAL, normal);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, uv);
    EXPECT_EQ(std::vector<float>(colour, colour + 4), (std::vector<float>{1, 0.5f, 0, 1}));
    EXPECT_EQ(std::vector<float>(normal, normal + 3), (std::vector<float>{0, 1, 0}));
    EXPECT_EQ(uv[0], 0.5f);
    EXPECT_EQ(uv[1], -1.0f);
    // Colour tracking put the last colour into the material; the next frame sets it again.
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    EXPECT_EQ(diffuse[1], 0.5f);
    applyLights(settings);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    EXPECT_EQ(diffuse[1], settings.material.diffuse[1]);

    m.vertices[2].colour = {128, 64, 0, 64};
    load(iconSave({}, m));
    selectIcon(view, image, settings.lights, 0);
    paint();
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(std::vector<float>(colour, colour + 4), (std::vector<float>{1, 0.5f, 0, 0.5f}));
}

TEST_F(IconDraw, ModelWithoutShapesDrawsNothingWhileCountersRun) {
    ModelRecipe m = shapesModel({0});
    m.shapeCount = 0;  // records are then 16 bytes: normal, uv, colour
    load(iconSave({}, m));
    selectIcon(view, image, settings.lights, 0);
    ASSERT_TRUE(view.currentModel);
    paint(3);
    EXPECT_EQ(view.animation.paintCount, 3u);
    EXPECT_EQ(view.animation.shapeIndex, 0u);
    EXPECT_EQ(countFront(backgroundOf(settings)), size_t(WIDTH) * HEIGHT);
}

TEST_F(IconDraw, VertexCountPastTheImageDrawsOnlyWholeRecords) {
    ModelRecipe m = shapesModel({0});
    m.vertexCountOverride = 0xFFFFFFFFu;
    load(iconSave({}, m));
    selectIcon(view, image, settings.lights, 0);
    ASSERT_TRUE(view.currentModel);
    paint(2);  // the stored triangle still shows; the rest is whatever bytes follow it
    EXPECT_TRUE(drawnAt(project(0, 0.3, 0)));
    EXPECT_EQ(view.animation.paintCount, 2u);
}
