// View settings: initial block, reset, and the edit field table.
#include <gtest/gtest.h>

#include <set>

#include "view/view_settings.h"

using namespace marrowin;

TEST(ViewSettings, InitialBlockHasZeroProjectionAndTheStartingLights) {
    ViewSettings s = initialViewSettings();
    for (size_t i = 0; i < 18; ++i) EXPECT_EQ(viewFieldValue(s, i), 0.0f) << i;
    const float pos[3][4] = {{-10, 0, 0, 1}, {0, 0, -10, 1}, {10, 0, 10, 1}};
    const float dif[3][4] = {{0.5f, 0.4f, 0.4f, 1}, {0.5f, 0.4f, 0.4f, 1}, {0.2f, 0.15f, 0.15f, 1}};
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(s.lights[k].position[c], pos[k][c]);
            EXPECT_EQ(s.lights[k].ambient[c], c == 3 ? 1.0f : 0.1f);
            EXPECT_EQ(s.lights[k].diffuse[c], dif[k][c]);
            EXPECT_EQ(s.lights[k].specular[c], c == 3 ? 1.0f : 0.5f);
        }
    const float mat[16] = {0.1f, 0.1f, 0.1f, 1, 0.6f, 0.6f, 0.6f, 1, 1, 1, 1, 1, 10, 10, 10, 1};
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(viewFieldValue(s, 66 + i), mat[i]) << i;
}

TEST(ViewSettings, ResetSetsTheDefaultsAndKeepsAspectLightsMaterial) {
    ViewSettings s = initialViewSettings();
    for (size_t i = 0; i < VIEW_FIELD_COUNT; ++i) viewFieldValue(s, i) = 3.0f;
    resetViewSettings(s);
    EXPECT_EQ(s.fovY, 45);
    EXPECT_EQ(s.aspect, 3);
    EXPECT_EQ(s.zNear, 1);
    EXPECT_EQ(s.zFar, 1000);
    EXPECT_EQ(s.clearColor[0], 58.0f / 256);
    EXPECT_EQ(s.clearColor[1], 110.0f / 256);
    EXPECT_EQ(s.clearColor[2], 165.0f / 256);
    EXPECT_EQ(s.rotation[0], -180);
    EXPECT_EQ(s.rotation[1], 0);
    EXPECT_EQ(s.translation[2], -12.5f);
    EXPECT_EQ(s.center[1], 0);
    EXPECT_EQ(s.orthoScale, 0.005f);
    EXPECT_EQ(s.rate, 0.25f);
    for (size_t i = 18; i < VIEW_FIELD_COUNT; ++i) EXPECT_EQ(viewFieldValue(s, i), 3.0f) << i;
}

TEST(ViewFields, IdsFollowTheDialogMapInBlockOrder) {
    std::vector<int> expected;
    for (int id = 100; id <= 103; ++id) expected.push_back(id);
    for (int g : {110, 120, 130})
        for (int i = 0; i < 3; ++i) expected.push_back(g + i);
    for (int id = 140; id <= 143; ++id) expected.push_back(id);
    expected.push_back(150);
    for (int g : {200, 300, 400, 500})
        for (int i = 0; i < 16; ++i) expected.push_back(g + i);
    ASSERT_EQ(expected.size(), VIEW_FIELD_COUNT);
    std::set<std::string> names;
    for (size_t i = 0; i < VIEW_FIELD_COUNT; ++i) {
        EXPECT_EQ(VIEW_FIELDS[i].id, expected[i]);
        EXPECT_EQ(VIEW_FIELDS[i].index, i);
        names.insert(VIEW_FIELDS[i].name);
        EXPECT_EQ(findViewField(expected[i]), &VIEW_FIELDS[i]);
    }
    EXPECT_EQ(names.size(), VIEW_FIELD_COUNT);
    EXPECT_EQ(findViewField(104), nullptr);
    EXPECT_EQ(findViewField(999), nullptr);
}

TEST(ViewFields, ValueIndexesReachTheNamedMembers) {
    ViewSettings s{};
    viewFieldValue(s, findViewField(101)->index) = 1.5f;
    viewFieldValue(s, findViewField(143)->index) = 2.5f;
    viewFieldValue(s, findViewField(150)->index) = 3.5f;
    viewFieldValue(s, findViewField(203)->index) = 4.5f;
    viewFieldValue(s, findViewField(309)->index) = 5.5f;
    viewFieldValue(s, findViewField(415)->index) = 6.5f;
    viewFieldValue(s, findViewField(512)->index) = 7.5f;
    EXPECT_EQ(s.aspect, 1.5f);
    EXPECT_EQ(s.orthoScale, 2.5f);
    EXPECT_EQ(s.rate, 3.5f);
    EXPECT_EQ(s.lights[0].position[3], 4.5f);
    EXPECT_EQ(s.lights[1].diffuse[1], 5.5f);
    EXPECT_EQ(s.lights[2].specular[3], 6.5f);
    EXPECT_EQ(s.material.shininess[0], 7.5f);
    // Every index reaches a distinct float, in memory order.
    for (size_t i = 1; i < VIEW_FIELD_COUNT; ++i)
        EXPECT_EQ(&viewFieldValue(s, i), &viewFieldValue(s, i - 1) + 1) << i;
    EXPECT_EQ(viewFieldValue(static_cast<const ViewSettings&>(s), VIEW_FIELD_COUNT), 0.0f);
}
