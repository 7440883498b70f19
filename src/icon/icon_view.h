#pragma once
// The icon being shown and its animation.
#include <optional>

#include "icon/animation.h"
#include "icon/icon_model.h"

namespace marrowin {

struct IconView {
    std::optional<IconModel> currentModel;  // a position inside the current save image
    AnimationState animation;
    uint8_t* textureImage = nullptr;  // TEXTURE_BUFFER_BYTES, owned by the shell
};

}  // namespace marrowin
