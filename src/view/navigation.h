#pragma once
// Mouse navigation: one movement message at a time turns, moves and zooms the view.
#include <cstdint>

#include "view/view_settings.h"

namespace marrowin {

// Bits of the key state that a movement reports (the values of the Windows mouse message).
constexpr uint32_t MK_LBUTTON = 0x01;
constexpr uint32_t MK_RBUTTON = 0x02;
constexpr uint32_t MK_SHIFT = 0x04;
constexpr uint32_t MK_CONTROL = 0x08;
constexpr uint32_t MK_MBUTTON = 0x10;

// Lowest navigation sensitivity that moving with Shift leaves.
constexpr float MIN_NAVIGATION_RATE = 0.01f;

struct MouseState {
    uint32_t lastKeys = 0;
    int32_t lastX = 0;
    int32_t lastY = 0;
};

// One movement. keys is the whole key state, compared as one number. x and y are client
// coordinates (the window passes only movements over its client area); they are read as
// signed 32-bit values.
// A change that would leave a field infinite or not a number is not stored, so the view
// always stays drawable; moving with Shift turns a rate that is not a finite number into
// MIN_NAVIGATION_RATE.
void navigateMouse(MouseState& mouse, ViewSettings& settings, uint32_t keys, uint32_t x,
                   uint32_t y);

}  // namespace marrowin
