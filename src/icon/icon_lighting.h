#pragma once
// The lights and material an icon is drawn with: an icon descriptor brings its own lights,
// and the view's settings block holds them beside its other fields.

namespace marrowin {

struct LightSettings {
    float position[4];
    float ambient[4];
    float diffuse[4];
    float specular[4];
};

struct MaterialSettings {
    float ambient[4];
    float diffuse[4];
    float specular[4];
    float shininess[4];
};

}  // namespace marrowin
