#include "view/navigation.h"

#include <cmath>

namespace marrowin {

namespace {

// Adds in double precision and stores the sum rounded to float; a sum that does not fit a
// finite float is dropped so the field keeps its value.
void addToField(float& field, double amount) {
    // Rounding to float turns a sum beyond the float range into an infinity; a NaN or
    // infinite field or amount gives a sum that is not finite either.
    const float stored = float(double(field) + amount);
    if (std::isfinite(stored)) field = stored;
}

void addScaled(float& field, int64_t n, float rate) { addToField(field, double(n) * double(rate)); }

}  // namespace

void navigateMouse(MouseState& mouse, ViewSettings& s, uint32_t keys, uint32_t x, uint32_t y) {
    const int32_t sx = int32_t(x);
    const int32_t sy = int32_t(y);
    int64_t dx = int64_t(sx) - mouse.lastX;
    int64_t dy = int64_t(sy) - mouse.lastY;
    mouse.lastX = sx;
    mouse.lastY = sy;

    const int64_t adx = dx < 0 ? -dx : dx;
    const int64_t ady = dy < 0 ? -dy : dy;
    if (ady > adx) dx = 0;
    if (adx > ady) dy = 0;

    if (keys == mouse.lastKeys) {
        switch (keys) {
        case MK_LBUTTON:
            addScaled(s.rotation[0], dy, s.rate);
            addScaled(s.rotation[1], dx, s.rate);
            break;
        case MK_RBUTTON:
            addScaled(s.translation[0], -dx, s.rate);
            addScaled(s.translation[1], dy, s.rate);
            break;
        case MK_LBUTTON | MK_RBUTTON:
            addScaled(s.translation[2], -dy, s.rate);
            break;
        case MK_SHIFT: {
            float rate = float(double(s.rate) + double(dx) * 0.01);
            // The floor also catches a rate that is NaN or infinite.
            if (!(std::isfinite(rate) && double(rate) >= 0.01)) rate = MIN_NAVIGATION_RATE;
            s.rate = rate;
            addScaled(s.fovY, dy, s.rate);
            break;
        }
        case MK_CONTROL:
            resetViewSettings(s);
            break;
        case MK_SHIFT | MK_CONTROL:
            addToField(s.zNear, double(dx));
            addToField(s.zFar, double(dy));
            break;
        case MK_MBUTTON:
            addScaled(s.rotation[2], -dx, s.rate);
            addScaled(s.translation[2], -dy, s.rate);
            break;
        default:
            break;
        }
    }
    mouse.lastKeys = keys;
}

}  // namespace marrowin
