#pragma once
// Selecting one of a save's icons and drawing it (OpenGL; the context must be current).
#include "archive/save_image.h"
#include "icon/icon_lighting.h"
#include "icon/icon_view.h"

namespace marrowin {

// Finds icon `index` (0 normal, 1 copy, 2 delete) of the image, decodes and uploads its
// texture and loads the descriptor's lights into lights[0..2]. Nothing changes for an empty
// image; a name that finds no entry leaves no current model.
void selectIcon(IconView& view, const SaveImage& image, LightSettings lights[3], int index);

// One paint: animation step, then the model's triangles.
void drawIconModel(IconView& view);

}  // namespace marrowin
