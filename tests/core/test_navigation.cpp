#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "view/navigation.h"
#include "view/view_settings.h"

using namespace marrowin;

namespace {

// Settings as after start-up, with a distinct aspect to see that resets keep it.
ViewSettings startSettings() {
    ViewSettings s = initialViewSettings();
    s.aspect = 1.5f;
    resetViewSettings(s);
    return s;
}

// Records (keys, x, y), then moves by (dx, dy) with the same keys.
void drag(MouseState& m, ViewSettings& s, uint32_t keys, int x, int y, int dx, int dy) {
    navigateMouse(m, s, keys, uint32_t(x), uint32_t(y));
    navigateMouse(m, s, keys, uint32_t(x + dx), uint32_t(y + dy));
}

bool sameBlock(const ViewSettings& a, const ViewSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(Navigation, FirstMovementOnlyRecords) {
    for (uint32_t keys : {1u, 2u, 3u, 4u, 8u, 12u, 16u}) {
        MouseState m;
        ViewSettings s = startSettings();
        s.fovY = 30;  // so a reset would show
        const ViewSettings before = s;
        navigateMouse(m, s, keys, 50, 70);
        EXPECT_TRUE(sameBlock(s, before)) << "keys " << keys;
        EXPECT_EQ(m.lastKeys, keys);
        EXPECT_EQ(m.lastX, 50);
        EXPECT_EQ(m.lastY, 70);
    }
}

TEST(Navigation, LeftButtonTurnsAboutXAndY) {
    MouseState m;
    ViewSettings s = startSettings();
    drag(m, s, MK_LBUTTON, 100, 100, 4, -4);  // equal magnitudes: both kept
    EXPECT_FLOAT_EQ(s.rotation[0], -180.0f - 1.0f);
    EXPECT_FLOAT_EQ(s.rotation[1], 1.0f);
    EXPECT_FLOAT_EQ(s.rotation[2], 0.0f);
}

TEST(Navigation, LargerMovementWinsSmallerIsDropped) {
    MouseState m;
    ViewSettings s = startSettings();
    navigateMouse(m, s, MK_LBUTTON, 10, 3);  // first with this key state: records
    EXPECT_EQ(s.rotation[1], 0.0f);
    navigateMouse(m, s, MK_LBUTTON, 20, 6);
    EXPECT_EQ(s.rotation[1], 2.5f);
    EXPECT_EQ(s.rotation[0], -180.0f);
    navigateMouse(m, s, MK_LBUTTON, 21, 14);  // |dy| larger: only rotation.x moves
    EXPECT_EQ(s.rotation[0], -178.0f);
    EXPECT_EQ(s.rotation[1], 2.5f);
}

TEST(Navigation, RightButtonMovesAgainstPointer) {
    MouseState m;
    ViewSettings s = startSettings();
    drag(m, s, MK_RBUTTON, 10, 10, 8, 0);
    EXPECT_EQ(s.translation[0], -2.0f);
    navigateMouse(m, s, MK_RBUTTON, 18, 14);
    EXPECT_EQ(s.translation[1], 1.0f);
    EXPECT_EQ(s.translation[2], -12.5f);
}

TEST(Navigation, BothButtonsMoveAlongZ) {
    MouseState m;
    ViewSettings s = startSettings();
    drag(m, s, MK_LBUTTON | MK_RBUTTON, 10, 10, 0, 4);
    EXPECT_EQ(s.translation[2], -13.5f);
    EXPECT_EQ(s.translation[0], 0.0f);
}

TEST(Navigation, MiddleButtonTurnsAboutZAndMovesAlongZ) {
    MouseState m;
    ViewSettings s = startSettings();
    drag(m, s, MK_MBUTTON, 10, 10, 4, 4);
    EXPECT_EQ(s.rotation[2], -1.0f);
    EXPECT_EQ(s.translation[2], -13.5f);
}

TEST(Navigation, ShiftChangesRateThenFieldOfViewWithNewRate) {
    MouseState m;
    ViewSettings s = startSettings();
    drag(m, s, MK_SHIFT, 0, 0, 10, 10);
    EXPECT_EQ(s.rate, float(0.25 + 10 * 0.01));
    EXPECT_EQ(s.fovY, float(45.0 + 10 * double(s.rate)));

    MouseState n;
    ViewSettings t = startSettings();
    drag(n, t, MK_SHIFT, 0, 0, 0, 8);
    EXPECT_EQ(t.rate, 0.25f);
    EXPECT_EQ(t.fovY, 47.0f);
}

TEST(Navigation, RateHasFloorAtOneHundredth) {
    MouseState m;
    ViewSettings s = startSettings();
    drag(m, s, MK_SHIFT, 200, 0, -100, 0);
    EXPECT_EQ(s.rate, 0.01f);
    EXPECT_EQ(s.fovY, 45.0f);
    navigateMouse(m, s, MK_SHIFT, 99, 0);
    EXPECT_EQ(s.rate, 0.01f);
}

TEST(Navigation, ShiftRaisesZeroOrNegativeRateEvenWithoutMovement) {
    MouseState m;
    ViewSettings s = startSettings();
    s.rate = 0;
    drag(m, s, MK_LBUTTON, 0, 0, 10, 0);
    EXPECT_EQ(s.rotation[1], 0.0f);  // scaled by 0
    s.rate = -1;
    drag(m, s, MK_SHIFT, 0, 0, 0, 0);
    EXPECT_EQ(s.rate, 0.01f);
}

TEST(Navigation, CtrlResetsViewKeepingLightsMaterialAndAspect) {
    MouseState m;
    ViewSettings s = startSettings();
    s.fovY = 10;
    s.rotation[1] = 33;
    s.rate = 2;
    s.center[0] = 4;
    s.lights[1].diffuse[0] = 0.75f;
    s.material.shininess[0] = 3;
    ViewSettings expected = s;
    resetViewSettings(expected);
    drag(m, s, MK_CONTROL, 5, 5, 1, 0);
    EXPECT_TRUE(sameBlock(s, expected));
    EXPECT_EQ(s.aspect, 1.5f);
    EXPECT_EQ(s.lights[1].diffuse[0], 0.75f);
    EXPECT_EQ(s.material.shininess[0], 3.0f);
    EXPECT_EQ(s.rate, 0.25f);
}

TEST(Navigation, ShiftCtrlMovesClipPlanesByWholePixels) {
    MouseState m;
    ViewSettings s = startSettings();
    s.rate = 3;
    drag(m, s, MK_SHIFT | MK_CONTROL, 10, 10, -1, 0);
    EXPECT_EQ(s.zNear, 0.0f);
    navigateMouse(m, s, MK_SHIFT | MK_CONTROL, 9, 30);
    EXPECT_EQ(s.zFar, 1020.0f);
}

TEST(Navigation, KeyStatesWithoutRowChangeNothing) {
    for (uint32_t keys : {0u, 5u, 6u, 9u, 10u, 7u, 0x20u, 0x21u, 0x11u}) {
        MouseState m;
        ViewSettings s = startSettings();
        const ViewSettings before = s;
        drag(m, s, keys, 10, 10, 7, 3);
        EXPECT_TRUE(sameBlock(s, before)) << "keys " << keys;
    }
}

TEST(Navigation, ChangedKeyStateOnlyRecordsFirst) {
    MouseState m;
    ViewSettings s = startSettings();
    drag(m, s, MK_LBUTTON | MK_SHIFT, 0, 0, 10, 0);
    navigateMouse(m, s, MK_LBUTTON, 20, 0);  // key state 5 then 1: records only
    EXPECT_EQ(s.rotation[1], 0.0f);
    EXPECT_EQ(m.lastKeys, MK_LBUTTON);
    navigateMouse(m, s, MK_LBUTTON, 24, 0);
    EXPECT_EQ(s.rotation[1], 1.0f);
}

TEST(Navigation, NegativeCoordinatesCountAsNegative) {
    MouseState m;
    ViewSettings s = startSettings();
    navigateMouse(m, s, MK_LBUTTON, 4, 0);
    navigateMouse(m, s, MK_LBUTTON, uint32_t(-4), 0);
    EXPECT_EQ(m.lastX, -4);
    EXPECT_EQ(s.rotation[1], -2.0f);
}

TEST(Navigation, SumsOutsideFloatRangeAreNotStored) {
    MouseState m;
    ViewSettings s = startSettings();
    s.rate = std::numeric_limits<float>::max();
    drag(m, s, MK_LBUTTON, 0, 0, 100, 0);
    EXPECT_EQ(s.rotation[1], 0.0f);  // would be infinite

    s.rate = std::numeric_limits<float>::infinity();
    drag(m, s, MK_RBUTTON, 0, 0, 0, 0);  // 0 x inf is NaN
    EXPECT_EQ(s.translation[0], 0.0f);
    EXPECT_EQ(s.translation[1], 0.0f);
}

TEST(Navigation, ShiftRepairsRateThatIsNotFinite) {
    for (float bad : {std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity(),
                      std::numeric_limits<float>::quiet_NaN()}) {
        MouseState m;
        ViewSettings s = startSettings();
        s.rate = bad;
        drag(m, s, MK_SHIFT, 0, 0, 3, 0);
        EXPECT_EQ(s.rate, 0.01f);
        EXPECT_TRUE(std::isfinite(s.fovY));
    }
}
