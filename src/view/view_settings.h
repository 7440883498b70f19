#pragma once
// The one block of 82 floats from which every frame is built.
#include <array>
#include <cstddef>
#include <cstdint>

#include "icon/icon_lighting.h"

namespace marrowin {

struct ViewSettings {
    float fovY;
    float aspect;
    float zNear;
    float zFar;
    float clearColor[3];
    float rotation[3];
    float translation[3];
    float center[3];
    float orthoScale;
    float rate;
    LightSettings lights[3];
    MaterialSettings material;
};
static_assert(sizeof(ViewSettings) == 82 * sizeof(float));

constexpr size_t VIEW_FIELD_COUNT = 82;

// Group g of a light: 0 position, 1 ambient, 2 diffuse, 3 specular.
float* lightGroup(LightSettings& light, size_t g);
const float* lightGroup(const LightSettings& light, size_t g);

// The block as it stands at process start: fovY to rate 0, lights and material at their
// initial values.
ViewSettings initialViewSettings();

// Projection, clear colour, view and navigation fields back to their defaults; aspect,
// lights and material stay.
void resetViewSettings(ViewSettings& settings);

// The fields in block order with the configuration window's edit field ids
// (100-103, 110-112, 120-122, 130-132, 140-143, 150, 200-215, 300-315, 400-415, 500-515).
struct ViewField {
    int id;
    size_t index;      // position among the 82 floats
    const char* name;  // e.g. "fovY", "light0.position.x"
};
extern const std::array<ViewField, VIEW_FIELD_COUNT> VIEW_FIELDS;

float& viewFieldValue(ViewSettings& settings, size_t index);
float viewFieldValue(const ViewSettings& settings, size_t index);
// The field with that edit id, or nullptr.
const ViewField* findViewField(int id);

}  // namespace marrowin
