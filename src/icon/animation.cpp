#include "icon/animation.h"

namespace marrowin {

void stepAnimation(AnimationState& state, uint32_t shapeCount) {
    state.paintCount += 1;
    if (state.paintCount >= state.paintsPerStep) {
        state.paintCount = 0;
        state.shapeIndex += 1;
    }
    // Also brings back an index left over from a model with more shapes.
    if (state.shapeIndex >= shapeCount) state.shapeIndex = 0;
}

void animateFaster(AnimationState& state) {
    state.paintsPerStep = (state.paintsPerStep + 1) >> 1;
}

void animateSlower(AnimationState& state) {
    if (state.paintsPerStep < MAX_PAINTS_PER_STEP) state.paintsPerStep *= 2;
}

}  // namespace marrowin
