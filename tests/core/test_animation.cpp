#include <gtest/gtest.h>

#include <vector>

#include "icon/animation.h"

using namespace marrowin;

namespace {
std::vector<uint32_t> shapesDrawn(AnimationState& s, uint32_t shapeCount, int paints) {
    std::vector<uint32_t> out;
    for (int i = 0; i < paints; ++i) {
        stepAnimation(s, shapeCount);
        out.push_back(s.shapeIndex);
    }
    return out;
}
}  // namespace

TEST(Animation, FreshCountersShowFirstShapeThreePaintsThenFourEach) {
    AnimationState s;
    std::vector<uint32_t> expected = {0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0, 1};
    EXPECT_EQ(shapesDrawn(s, 3, 16), expected);
}

TEST(Animation, OnePaintPerStepAdvancesEveryPaint) {
    AnimationState s;
    s.paintsPerStep = 1;
    EXPECT_EQ(shapesDrawn(s, 3, 5), (std::vector<uint32_t>{1, 2, 0, 1, 2}));
}

TEST(Animation, OneShapeAlwaysDrawsShapeZero) {
    AnimationState s;
    s.paintsPerStep = 1;
    EXPECT_EQ(shapesDrawn(s, 1, 4), (std::vector<uint32_t>{0, 0, 0, 0}));
}

TEST(Animation, IndexLeftFromLargerModelReturnsToZeroBeforeUse) {
    AnimationState s;
    s.shapeIndex = 5;
    stepAnimation(s, 2);
    EXPECT_EQ(s.shapeIndex, 0u);
    EXPECT_EQ(s.paintCount, 1u);
}

TEST(Animation, NoShapesKeepsIndexZeroWhileCountersRun) {
    AnimationState s;
    s.paintsPerStep = 2;
    stepAnimation(s, 0);
    stepAnimation(s, 0);
    EXPECT_EQ(s.shapeIndex, 0u);
    EXPECT_EQ(s.paintCount, 0u);
}

TEST(Animation, FasterHalvesRoundingUpDownToOne) {
    AnimationState s;
    animateFaster(s);
    EXPECT_EQ(s.paintsPerStep, 2u);
    s.paintsPerStep = 3;
    animateFaster(s);
    EXPECT_EQ(s.paintsPerStep, 2u);
    s.paintsPerStep = 1;
    animateFaster(s);
    EXPECT_EQ(s.paintsPerStep, 1u);
    s.paintsPerStep = MAX_PAINTS_PER_STEP;
    animateFaster(s);
    EXPECT_EQ(s.paintsPerStep, 1u << 29);
}

TEST(Animation, SlowerDoublesAndStopsAtLimit) {
    AnimationState s;
    animateSlower(s);
    EXPECT_EQ(s.paintsPerStep, 8u);
    for (int i = 0; i < 40; ++i) animateSlower(s);
    EXPECT_EQ(s.paintsPerStep, MAX_PAINTS_PER_STEP);
}

TEST(Animation, SpeedChangeLeavesCountersAndAdvancesOnNextPaint) {
    AnimationState s;
    s.paintsPerStep = 8;
    for (int i = 0; i < 5; ++i) stepAnimation(s, 3);
    animateFaster(s);  // 4: paintCount 5 is already past it
    EXPECT_EQ(s.paintCount, 5u);
    EXPECT_EQ(s.shapeIndex, 0u);
    stepAnimation(s, 3);
    EXPECT_EQ(s.shapeIndex, 1u);
    EXPECT_EQ(s.paintCount, 0u);
}
