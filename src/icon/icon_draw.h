#pragma once
// Selecting one of a save's icons and drawing it (OpenGL; the context must be current).
#include "archive/save_image.h"
#include "icon/icon_view.h"
#include "view/view_settings.h"

namespace marrowin {

constexpr int CMD_ICON_NORMAL = 784;
constexpr int CMD_ICON_COPY = 800;
constexpr int CMD_ICON_DELETE = 816;
constexpr int CMD_ANIM_FASTER = 832;
constexpr int CMD_ANIM_SLOWER = 848;

// Finds icon `index` (0 normal, 1 copy, 2 delete) of the image, decodes and uploads its
// texture and loads the descriptor's lights into the settings. Nothing changes for an empty
// image; a name that finds no entry leaves no current model.
void selectIcon(IconView& view, const SaveImage& image, ViewSettings& settings, int index);

// One paint: animation step, then the model's triangles.
void drawIconModel(IconView& view);

}  // namespace marrowin
