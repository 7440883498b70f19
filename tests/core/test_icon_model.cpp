// Icon model: header, vertex records, texture location and decoding, hostile counts.
#include <gtest/gtest.h>

#include <set>

#include "fixtures.h"
#include "icon/icon_model.h"

using namespace marrowin;
using namespace marrowin::fixtures;

namespace {

// A save whose only file is the model; the model lies at offset 2048.
struct ModelSave {
    explicit ModelSave(const Bytes& model) : image(imageOf(ArchiveBuilder().file("icon.icn", model).build())) {
        auto off = findFileEntry(image, "icon.icn");
        EXPECT_TRUE(off.has_value());
        m = IconModel{&image, off.value_or(0)};
    }
    SaveImage image;
    IconModel m;
};

// The model as the whole image (no archive around it, nothing after it but the slack).
struct BareModel {
    explicit BareModel(const Bytes& model) : image(imageOf(model)), m{&image, 0} {}
    SaveImage image;
    IconModel m;
};

std::vector<uint8_t> decode(const IconModel& m) {
    std::vector<uint8_t> out(TEXTURE_BUFFER_BYTES, 0xEE);
    decodeTexture(m, out.data());
    return out;
}

void expectPixel(const std::vector<uint8_t>& img, size_t k, uint8_t r, uint8_t g, uint8_t b) {
    EXPECT_EQ(img[3 * k], r) << k;
    EXPECT_EQ(img[3 * k + 1], g) << k;
    EXPECT_EQ(img[3 * k + 2], b) << k;
}

ModelRecipe codedModel(std::vector<uint16_t> stream, uint32_t type = 0x0E) {
    ModelRecipe m = triangleModel();
    m.textureType = type;
    m.texture = std::move(stream);
    return m;
}

}  // namespace

TEST(ModelHeader, FieldsAndVertexRecords) {
    ModelRecipe recipe;
    recipe.shapeCount = 2;
    recipe.textureType = 0x0C;
    recipe.vertices.resize(2);
    recipe.vertices[1].positions = {{1, 2, 3, 99}, {-4, -5, -6, 99}};
    recipe.vertices[1].normal = {7, 8, 9, 99};
    recipe.vertices[1].uv = {-10, 11};
    recipe.vertices[1].colour = {128, 1, 255, 64};
    ModelSave s(buildModel(recipe));
    ModelHeader h = readModelHeader(s.m);
    EXPECT_EQ(h.shapeCount, 2u);
    EXPECT_EQ(h.textureType, 0x0Cu);
    EXPECT_EQ(h.vertexCount, 2u);
    EXPECT_EQ(vertexRecordSize(2), 32u);
    EXPECT_EQ(readableVertexCount(s.m, h), 2u);

    Vertex v;
    ASSERT_TRUE(readVertex(s.m, h, 1, 1, v));
    EXPECT_EQ(v.position[0], -4);
    EXPECT_EQ(v.position[2], -6);
    EXPECT_EQ(v.normal[1], 8);
    EXPECT_EQ(v.uv[0], -10);
    EXPECT_EQ(v.uv[1], 11);
    EXPECT_EQ(v.colour[2], 255);
    EXPECT_EQ(v.colour[3], 64);
    ASSERT_TRUE(readVertex(s.m, h, 1, 0, v));
    EXPECT_EQ(v.position[1], 2);
    EXPECT_FALSE(readVertex(s.m, h, 1, 2, v));  // no third shape
    EXPECT_FALSE(readVertex(s.m, h, 2, 0, v));  // no third vertex
    EXPECT_EQ(v.position[0], 0);
}

TEST(ModelHeader, HostileVertexCountIsBoundedByTheBuffer) {
    ModelRecipe recipe = triangleModel();
    recipe.vertexCountOverride = 0xFFFFFFFF;
    BareModel bm(buildModel(recipe));
    ModelHeader h = readModelHeader(bm.m);
    uint64_t n = readableVertexCount(bm.m, h);
    EXPECT_EQ(n, (bm.image.capacity() - 20) / 24);
    Vertex v;
    EXPECT_TRUE(readVertex(bm.m, h, n - 1, 0, v));
    EXPECT_FALSE(readVertex(bm.m, h, n, 0, v));

    recipe.shapeCount = 0xFFFFFFFF;  // one record is bigger than any buffer
    BareModel huge(buildModel(recipe));
    EXPECT_EQ(readableVertexCount(huge.m, readModelHeader(huge.m)), 0u);
    // A model position past the buffer reads nothing.
    IconModel outside{&bm.image, bm.image.capacity() + 5};
    EXPECT_EQ(readableVertexCount(outside, h), 0u);
}

TEST(TextureOffset, WalksVerticesAndFrames) {
    ModelRecipe recipe = triangleModel();
    recipe.frameKeyCounts = {2};
    BareModel a(buildModel(recipe));
    EXPECT_EQ(textureOffset(a.m, readModelHeader(a.m)), 136u);
    recipe.frameKeyCounts = {};
    BareModel b(buildModel(recipe));
    EXPECT_EQ(textureOffset(b.m, readModelHeader(b.m)), 20u + 72u + 20u);
    recipe.frameKeyCounts = {0, 3, 1};
    BareModel c(buildModel(recipe));
    EXPECT_EQ(textureOffset(c.m, readModelHeader(c.m)), 112u + 8 + 32 + 16);
}

TEST(TextureOffset, HugeCountsNeitherWrapNorLoopLong) {
    ModelRecipe recipe = triangleModel();
    recipe.frameCountOverride = 0xFFFFFFFF;  // frames run off the buffer at once
    BareModel a(buildModel(recipe));
    uint64_t off = textureOffset(a.m, readModelHeader(a.m));
    EXPECT_GT(off, a.image.capacity());
    EXPECT_GE(off, 112u + 8ull * 0xFFFFFFFF);

    recipe.frameCountOverride.reset();
    recipe.shapeCount = 0xFFFFFFFF;
    recipe.vertexCountOverride = 0xFFFFFFFF;
    BareModel b(buildModel(recipe));
    uint64_t big = textureOffset(b.m, readModelHeader(b.m));
    EXPECT_EQ(big, UINT64_MAX);  // about 2^67 bytes: saturates instead of wrapping to 32

    auto img = decode(b.m);  // the texture lies past the buffer: all black
    for (size_t i = 0; i < TEXTURE_IMAGE_BYTES; ++i) ASSERT_EQ(img[i], 0) << i;
    EXPECT_EQ(img[TEXTURE_IMAGE_BYTES], 0xEE);  // the buffer's last 1024 bytes are not touched
}

TEST(DecodeTexture, LowByte3IsUniformGreyAndReadsNothingMore) {
    for (uint32_t type : {3u, 0x103u, 0xFFFFFF03u}) {
        ModelRecipe recipe = triangleModel();
        recipe.textureType = type;
        Bytes model = buildModel(recipe);
        model.resize(20);  // nothing after the header at all
        BareModel bm(model);
        auto img = decode(bm.m);
        for (size_t i = 0; i < TEXTURE_IMAGE_BYTES; ++i) ASSERT_EQ(img[i], 128) << type;
        EXPECT_EQ(img[TEXTURE_IMAGE_BYTES], 0xEE);
    }
}

TEST(DecodeTexture, PlainTypesConvertFiveBitChannels) {
    for (uint32_t type : {0u, 7u, 0x107u}) {
        ModelRecipe recipe = triangleModel();
        recipe.textureType = type;
        recipe.texture = rampTexture();
        recipe.texture[0] = 0x1F;
        recipe.texture[1] = 0x801F;
        recipe.texture[2] = 0x3E0;
        recipe.texture[3] = 0x7C00;
        ModelSave s(buildModel(recipe));
        auto img = decode(s.m);
        expectPixel(img, 0, 248, 0, 0);
        expectPixel(img, 1, 248, 0, 0);
        expectPixel(img, 2, 0, 248, 0);
        expectPixel(img, 3, 0, 0, 248);
        uint16_t p = 16383 & 0x7FFF;
        expectPixel(img, 16383, uint8_t((p & 31) << 3), uint8_t(((p >> 5) & 31) << 3), uint8_t(((p >> 10) & 31) << 3));
    }
}

TEST(DecodeTexture, CodedTypesAndRunRules) {
    // 8, 0xC and 0xB are coded; one repeat run of 0x4000 fills everything.
    for (uint32_t type : {8u, 0xCu, 0xBu}) {
        std::vector<uint16_t> s;
        rleRepeat(s, 0x4000, 0x7FFF);
        ModelSave ms(buildModel(codedModel(s, type)));
        auto img = decode(ms.m);
        for (size_t i = 0; i < TEXTURE_IMAGE_BYTES; ++i) ASSERT_EQ(img[i], 248) << type;
    }
    // 0xC000 then 16384 literal pixels.
    std::vector<uint16_t> lit = rampTexture();
    std::vector<uint16_t> s{0xC000};
    s.insert(s.end(), lit.begin(), lit.end());
    ModelSave a(buildModel(codedModel(s)));
    auto img = decode(a.m);
    expectPixel(img, 1, 8, 0, 0);
    expectPixel(img, 16383, (16383 & 31) << 3, ((16383 >> 5) & 31) << 3, ((16383 >> 10) & 31) << 3);
}

TEST(DecodeTexture, ZeroRunConsumesItsPixelAndLongRunsAreShortened) {
    std::vector<uint16_t> s;
    rleRepeat(s, 0, 0x001F);       // writes nothing, consumes two words
    rleRepeat(s, 2, 0x03E0);       // 2 green
    rleLiteral(s, {0x7C00, 0x1F});  // blue, red
    s.push_back(0x8000);           // 32768 literals, cut to the 16380 left
    for (int i = 0; i < 16380; ++i) s.push_back(0x7FFF);
    rleRepeat(s, 5, 0x001F);       // never read
    ModelSave ms(buildModel(codedModel(s)));
    auto img = decode(ms.m);
    expectPixel(img, 0, 0, 248, 0);
    expectPixel(img, 1, 0, 248, 0);
    expectPixel(img, 2, 0, 0, 248);
    expectPixel(img, 3, 248, 0, 0);
    expectPixel(img, 4, 248, 248, 248);
    expectPixel(img, 16383, 248, 248, 248);
    EXPECT_EQ(img[TEXTURE_IMAGE_BYTES], 0xEE);
}

TEST(DecodeTexture, CutOffStreamsStopAndLeaveTheRestBlack) {
    // A repeat run whose pixel word is missing, at the very end of the image.
    std::vector<uint16_t> s;
    rleRepeat(s, 100, 0x7FFF);
    s.push_back(50);  // a count whose pixel word is the slack's first zero
    Bytes model = buildModel(codedModel(s));
    BareModel bm(model);
    std::vector<uint8_t> img(TEXTURE_BUFFER_BYTES, 0xEE);
    decodeTexture(bm.m, img.data());
    expectPixel(img, 99, 248, 248, 248);
    // After the model come 1024 zero bytes of slack: zero repeat runs, read to the end.
    for (size_t k = 100; k < 16384; ++k) ASSERT_EQ(img[3 * k], 0) << k;

    // A literal run that the buffer cuts: what is there is written, the rest black.
    std::vector<uint16_t> lit{0x8000};
    Bytes m2 = buildModel(codedModel(lit));
    Bytes tailFill(2000, 0xFF);  // 0xFFFF pixels = white
    m2.insert(m2.end(), tailFill.begin(), tailFill.end());
    BareModel b2(m2);
    decodeTexture(b2.m, img.data());
    expectPixel(img, 0, 248, 248, 248);
    expectPixel(img, 999, 248, 248, 248);
    // The slack reads as pixel 0 up to the end of the buffer, then black anyway.
    expectPixel(img, 16383, 0, 0, 0);

    // A plain texture with too few pixels.
    ModelRecipe p = triangleModel();
    p.texture.resize(10, 0x7FFF);
    BareModel b3(buildModel(p));
    decodeTexture(b3.m, img.data());
    expectPixel(img, 9, 248, 248, 248);
    expectPixel(img, 10, 0, 0, 0);
    expectPixel(img, 16383, 0, 0, 0);
}

namespace {

struct RealModel {
    explicit RealModel(const char* file) : bytes(readFileBytes(testDataPath(file))), image(imageOf(bytes)), m{&image, 0} {}
    Bytes bytes;
    SaveImage image;
    IconModel m;
};

// How many different colours a decoded image holds: a real picture has many.
size_t distinctColours(const std::vector<uint8_t>& img) {
    std::set<uint32_t> colours;
    for (size_t k = 0; k < 16384; ++k) colours.insert(img[3 * k] << 16 | img[3 * k + 1] << 8 | img[3 * k + 2]);
    return colours.size();
}

}  // namespace

TEST(RealIcons, OplIconDecodesAllPixels) {
    RealModel r("opl.icn");
    ASSERT_EQ(r.bytes.size(), 21744u);
    ModelHeader h = readModelHeader(r.m);
    EXPECT_EQ(h.shapeCount, 1u);
    EXPECT_EQ(h.vertexCount, 792u);
    EXPECT_EQ(h.textureType & 0xFF, 0x0Eu);
    EXPECT_EQ(readableVertexCount(r.m, h), 792u);
    uint64_t tex = textureOffset(r.m, h);
    EXPECT_LT(tex, r.bytes.size());

    // The stream must complete inside the file: followed by 0xFF instead of zeros, the
    // picture may not change.
    auto img = decode(r.m);
    Bytes padded = r.bytes;
    padded.resize(padded.size() + 4096, 0xFF);
    SaveImage other = imageOf(padded);
    std::vector<uint8_t> img2(TEXTURE_BUFFER_BYTES, 0xEE);
    decodeTexture(IconModel{&other, 0}, img2.data());
    EXPECT_TRUE(std::equal(img.begin(), img.begin() + TEXTURE_IMAGE_BYTES, img2.begin()));
    EXPECT_GT(distinctColours(img), 20u);
}

TEST(RealIcons, DefaultIconWithNonsenseLengthWordDecodesFully) {
    RealModel r("default-icon.icn");
    ModelHeader h = readModelHeader(r.m);
    EXPECT_EQ(h.textureType & 0xFF, 0x0Eu);
    uint64_t tex = textureOffset(r.m, h);
    ASSERT_LT(tex + 4, r.bytes.size());
    auto img = decode(r.m);
    Bytes padded = r.bytes;
    padded.resize(padded.size() + 4096, 0xFF);
    SaveImage other = imageOf(padded);
    std::vector<uint8_t> img2(TEXTURE_BUFFER_BYTES, 0xEE);
    decodeTexture(IconModel{&other, 0}, img2.data());
    EXPECT_TRUE(std::equal(img.begin(), img.begin() + TEXTURE_IMAGE_BYTES, img2.begin()));
    EXPECT_GT(distinctColours(img), 4u);
    Vertex v;
    EXPECT_TRUE(readVertex(r.m, h, h.vertexCount - 1, h.shapeCount - 1, v));
}
