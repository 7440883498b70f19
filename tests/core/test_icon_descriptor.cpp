// Icon descriptor: title, icon names and lights, from built and from real descriptors.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/save_text.h"
#include "fixtures.h"
#include "icon/icon_descriptor.h"

using namespace marrowin;
using namespace marrowin::fixtures;

namespace {

void fillLights(LightSettings l[3], float v) {
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 4; ++c) l[k].position[c] = l[k].ambient[c] = l[k].diffuse[c] = l[k].specular[c] = v;
}

SaveImage saveWithDescriptorFile(const Bytes& sys, const std::string& entryName = "icon.sys") {
    return imageOf(ArchiveBuilder().file(entryName, sys).build());
}

}  // namespace

TEST(Descriptor, NoDescriptorGivesEmptyTextsAndKeepsLights) {
    SaveImage img = imageOf(ArchiveBuilder().file("icon.icn", buildModel(triangleModel())).build());
    EXPECT_EQ(readSaveTitle(img), "");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(readIconFileName(img, i), "");
    LightSettings l[3];
    fillLights(l, 7);
    EXPECT_FALSE(loadDescriptorLights(img, l));
    EXPECT_EQ(l[2].specular[3], 7);
    EXPECT_EQ(l[0].position[0], 7);
}

TEST(Descriptor, FoundUnderAnyNameAndTheLastOneWins) {
    DescriptorRecipe first, second;
    first.title = "FIRST";
    first.iconNames = {"a.icn", "b.icn", "c.icn"};
    second.title = "SECOND";
    second.iconNames = {"x.icn", "y.icn", "z.icn"};
    second.lightColour[1][2] = 0.75f;
    Bytes b = ArchiveBuilder()
                  .file("whatever", buildDescriptor(first))
                  .file("icon.icn", buildModel(triangleModel()))
                  .file("zz", buildDescriptor(second))
                  .build();
    SaveImage img = imageOf(b);
    EXPECT_EQ(readSaveTitle(img), "SECOND");
    EXPECT_EQ(readIconFileName(img, 0), "x.icn");
    EXPECT_EQ(readIconFileName(img, 1), "y.icn");
    EXPECT_EQ(readIconFileName(img, 2), "z.icn");
    EXPECT_EQ(readIconFileName(img, 3), "");
    EXPECT_EQ(readIconFileName(img, -1), "");
    LightSettings l[3];
    fillLights(l, 0);
    EXPECT_TRUE(loadDescriptorLights(img, l));
    EXPECT_EQ(l[1].diffuse[2], 0.75f);
}

TEST(Descriptor, SixtyFourByteTitleTakesNoByteBeyondTheField) {
    DescriptorRecipe d;
    d.title = std::string(64, 'T');
    Bytes sys = buildDescriptor(d);
    putBytes(sys, 256, "XXXX");
    EXPECT_EQ(readSaveTitle(saveWithDescriptorFile(sys)), std::string(64, 'T'));
    d.iconNames[2] = std::string(64, 'n');
    sys = buildDescriptor(d);
    sys.resize(452);  // ends right after the last name: the slack must not become part of it
    EXPECT_EQ(readIconFileName(saveWithDescriptorFile(sys), 2), std::string(64, 'n'));
}

TEST(Descriptor, LightsFollowTheTable) {
    DescriptorRecipe d;
    const float dirs[3][4] = {{1, 2, 3, 0}, {0, -4, 0.5f, 1}, {-1, 0, 0, 0.25f}};
    const float cols[3][4] = {{0.1f, 0.2f, 0.3f, 0.4f}, {1, 1, 1, 1}, {0, 0.5f, 0, 2}};
    memcpy(d.lightDirection, dirs, sizeof dirs);
    memcpy(d.lightColour, cols, sizeof cols);
    const float amb[4] = {0.5f, 0.5f, 0.3f, 1};
    memcpy(d.ambient, amb, sizeof amb);
    LightSettings l[3];
    fillLights(l, 9);
    ASSERT_TRUE(loadDescriptorLights(saveWithDescriptorFile(buildDescriptor(d)), l));
    for (int k = 0; k < 3; ++k) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(l[k].position[c], -dirs[k][c]) << k << c;
        EXPECT_EQ(l[k].position[3], dirs[k][3]);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(l[k].diffuse[c], cols[k][c]);
            EXPECT_EQ(l[k].specular[c], 1.0f);
            if (k) {
                EXPECT_EQ(l[k].ambient[c], 0.0f);
            }
        }
    }
    EXPECT_TRUE(std::signbit(l[1].position[0]));  // a stored 0 becomes -0
    EXPECT_EQ(l[0].ambient[0], float(0.5 * 0.1));
    EXPECT_EQ(l[0].ambient[2], float(double(0.3f) * 0.1));
    EXPECT_EQ(l[0].ambient[3], 1.0f);
}

TEST(Descriptor, NonFiniteComponentKeepsThePreviousValue) {
    DescriptorRecipe d;
    d.lightDirection[0][0] = std::numeric_limits<float>::infinity();
    d.lightDirection[0][1] = 2;
    d.lightColour[2][3] = std::numeric_limits<float>::quiet_NaN();
    d.ambient[0] = -std::numeric_limits<float>::infinity();
    LightSettings l[3];
    fillLights(l, 5);
    ASSERT_TRUE(loadDescriptorLights(saveWithDescriptorFile(buildDescriptor(d)), l));
    EXPECT_EQ(l[0].position[0], 5);
    EXPECT_EQ(l[0].position[1], -2);
    EXPECT_EQ(l[2].diffuse[3], 5);
    EXPECT_EQ(l[0].ambient[0], 5);
    EXPECT_EQ(l[1].ambient[0], 0);
}

TEST(Descriptor, ShortDescriptorIsReadAtFullLayoutFromWhatFollows) {
    DescriptorRecipe d;
    d.title = "CUT";
    Bytes sys = buildDescriptor(d);
    sys.resize(200);  // the entry ends inside the title field
    Bytes b = ArchiveBuilder().rawFile("icon.sys", 200, sys).build();
    b.resize(b.size() + 100, 'w');  // bytes that follow belong to no entry but are read
    SaveImage img = imageOf(b);
    EXPECT_EQ(readSaveTitle(img), "CUT");
    EXPECT_EQ(readIconFileName(img, 0), std::string(40, 'w'));  // offsets 260-299 of the data
    // The descriptor is the very last thing: reads run into the zero slack, never beyond.
    Bytes tail = ArchiveBuilder().rawFile("icon.sys", 964, Bytes{'P', 'S', '2', 'D'}).build();
    EXPECT_EQ(readSaveTitle(imageOf(tail)), "");
}

TEST(Descriptor, RealOplDescriptorsDecodeToReadableTitles) {
    Bytes sys = readFileBytes(testDataPath("opl-icon.sys"));
    ASSERT_EQ(sys.size(), 964u);
    SaveImage img = saveWithDescriptorFile(sys);
    std::string title = saveTextToDisplay(readSaveTitle(img));
    // Two lines in one field, with no separator between them.
    EXPECT_EQ(title, "Ｏｐｅｎ　ＰＳ２　ＬｏａｄｅｒＳｅｔｔｉｎｇｓ");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(readIconFileName(img, i), "opl.icn");

    Bytes sysJ = readFileBytes(testDataPath("opl-icon_J.sys"));
    SaveImage imgJ = saveWithDescriptorFile(sysJ);
    std::string titleJ = saveTextToDisplay(readSaveTitle(imgJ));
    EXPECT_EQ(titleJ, "あなたのシステム設定ファイル");
    EXPECT_EQ(readIconFileName(imgJ, 0), "_SCE8");
    LightSettings l[3];
    fillLights(l, 0);
    EXPECT_TRUE(loadDescriptorLights(imgJ, l));
    EXPECT_EQ(l[0].position[3], 1.0f);
}
