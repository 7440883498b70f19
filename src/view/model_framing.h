#pragma once
// Choosing a view that shows a whole model, for pictures that should be filled by the icon
// (thumbnails) rather than shown from the window's fixed distance.
#include <cstdint>

#include "icon/icon_model.h"
#include "view/view_settings.h"

namespace marrowin {

// Moves the view (translation, near and far planes) so that every vertex of `shape`, as
// the settings' rotation turns it, lies inside the picture that the settings' field of view
// and aspect make, filling `fill` (0 to 1] of its width or height. The rotation, field of view and
// lights stay. Gives false and changes nothing when the model has no vertex to frame.
bool frameModel(ViewSettings& settings, const IconModel& model, uint32_t shape, float fill = 0.9f);

}  // namespace marrowin
