// The bundled demo save: reproducible from its generator, and a complete save.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <set>

#include "archive/save_image.h"
#include "export_test_support.h"
#include "fixtures.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_model.h"

namespace marrowin {
namespace {

const std::string SAMPLE = std::string(MARROWIN_SAMPLES) + "/demo.psu";

TEST(Sample, RegeneratesByteForByte) {
    testing::TempDir dir;
    std::string cmd = "'" MARROWIN_MAKE_SAMPLE "' '" + (dir / "demo.psu") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto made = fixtures::readFileBytes(dir / "demo.psu");
    auto bundled = fixtures::readFileBytes(SAMPLE);
    ASSERT_FALSE(bundled.empty());
    EXPECT_TRUE(made == bundled) << "samples/demo.psu is stale: regenerate it with make-sample";
}

TEST(Sample, HoldsThreeDifferentTexturedAnimatedIcons) {
    SaveImage image = fixtures::imageOf(fixtures::readFileBytes(SAMPLE));
    ASSERT_EQ(detectArchiveKind(image), ArchiveKind::SaveArchive);
    EXPECT_EQ(getFolderName(image), "BADATA-MARROWIN");
    EXPECT_EQ(readSaveTitle(image).substr(0, 16),
              "\x82\x6c\x82\x60\x82\x71\x82\x71\x82\x6e\x82\x76\x82\x68\x82\x6d");
    std::set<std::string> textures;
    for (int i = 0; i < 3; ++i) {
        auto at = findFileEntry(image, readIconFileName(image, i).c_str());
        ASSERT_TRUE(at) << i;
        IconModel model{&image, *at};
        ModelHeader h = readModelHeader(model);
        EXPECT_GE(h.shapeCount, 3u);
        EXPECT_EQ(h.vertexCount % 3, 0u);
        EXPECT_EQ(readableVertexCount(model, h), h.vertexCount);
        std::string rgb(TEXTURE_IMAGE_BYTES, '\0');
        decodeTexture(model, reinterpret_cast<uint8_t*>(rgb.data()));
        textures.insert(rgb);
    }
    EXPECT_EQ(textures.size(), 3u);
}

}  // namespace
}  // namespace marrowin
