#pragma once
// The shape animation, counted in paints.
#include <cstdint>

namespace marrowin {

constexpr uint32_t MAX_PAINTS_PER_STEP = 1u << 30;

struct AnimationState {
    uint32_t shapeIndex = 0;
    uint32_t paintCount = 0;
    uint32_t paintsPerStep = 4;
};

// One paint's step, done before the model is drawn.
void stepAnimation(AnimationState& state, uint32_t shapeCount);
void animateFaster(AnimationState& state);
void animateSlower(AnimationState& state);

}  // namespace marrowin
