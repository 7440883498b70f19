#pragma once
// The list's pictures drawn by the off-screen renderer: each save's normal icon filling a
// transparent square, the same picture as the CLI's thumbnail of that size.
#include <cstdint>
#include <memory>
#include <string>

#include "cards/cards_model.h"

namespace marrowin::cards {

// Null with a message when no off-screen surface can be had (no EGL display, no WGL context).
// The drawer holds one surface of size × size and must be used from the thread that made it.
std::unique_ptr<PictureDrawer> makeIconPictureDrawer(uint32_t size, std::string& error);

}  // namespace marrowin::cards
