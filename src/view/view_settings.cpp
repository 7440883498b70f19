#include "view/view_settings.h"

#include <algorithm>

namespace marrowin {

namespace {

void set4(float (&v)[4], float a, float b, float c, float d) {
    v[0] = a;
    v[1] = b;
    v[2] = c;
    v[3] = d;
}

}  // namespace

ViewSettings initialViewSettings() {
    ViewSettings s{};
    // fovY to rate stay 0 until the GL context is made and resets them.
    const float lightPosition[3][4] = {{-10, 0, 0, 1}, {0, 0, -10, 1}, {10, 0, 10, 1}};
    const float lightDiffuse[3][4] = {{0.5f, 0.4f, 0.4f, 1}, {0.5f, 0.4f, 0.4f, 1}, {0.2f, 0.15f, 0.15f, 1}};
    for (int k = 0; k < 3; ++k) {
        LightSettings& l = s.lights[k];
        set4(l.position, lightPosition[k][0], lightPosition[k][1], lightPosition[k][2], lightPosition[k][3]);
        set4(l.ambient, 0.1f, 0.1f, 0.1f, 1);
        set4(l.diffuse, lightDiffuse[k][0], lightDiffuse[k][1], lightDiffuse[k][2], lightDiffuse[k][3]);
        set4(l.specular, 0.5f, 0.5f, 0.5f, 1);
    }
    set4(s.material.ambient, 0.1f, 0.1f, 0.1f, 1);
    set4(s.material.diffuse, 0.6f, 0.6f, 0.6f, 1);
    set4(s.material.specular, 1, 1, 1, 1);
    set4(s.material.shininess, 10, 10, 10, 1);
    return s;
}

void resetViewSettings(ViewSettings& s) {
    s.fovY = 45;
    s.zNear = 1;
    s.zFar = 1000;
    s.clearColor[0] = 0.2265625f;
    s.clearColor[1] = 0.4296875f;
    s.clearColor[2] = 0.64453125f;
    s.rotation[0] = -180;
    s.rotation[1] = 0;
    s.rotation[2] = 0;
    s.translation[0] = 0;
    s.translation[1] = 0;
    s.translation[2] = -12.5f;
    s.center[0] = 0;
    s.center[1] = 0;
    s.center[2] = 0;
    s.orthoScale = 0.005f;
    s.rate = 0.25f;
}

const std::array<ViewField, VIEW_FIELD_COUNT> VIEW_FIELDS = {{
    ViewField{100, 0, "fovY"},
    ViewField{101, 1, "aspect"},
    ViewField{102, 2, "zNear"},
    ViewField{103, 3, "zFar"},
    ViewField{110, 4, "clearColor.r"},
    ViewField{111, 5, "clearColor.g"},
    ViewField{112, 6, "clearColor.b"},
    ViewField{120, 7, "rotation.x"},
    ViewField{121, 8, "rotation.y"},
    ViewField{122, 9, "rotation.z"},
    ViewField{130, 10, "translation.x"},
    ViewField{131, 11, "translation.y"},
    ViewField{132, 12, "translation.z"},
    ViewField{140, 13, "center.x"},
    ViewField{141, 14, "center.y"},
    ViewField{142, 15, "center.z"},
    ViewField{143, 16, "orthoScale"},
    ViewField{150, 17, "rate"},
    ViewField{200, 18, "light0.position.x"},
    ViewField{201, 19, "light0.position.y"},
    ViewField{202, 20, "light0.position.z"},
    ViewField{203, 21, "light0.position.w"},
    ViewField{204, 22, "light0.ambient.r"},
    ViewField{205, 23, "light0.ambient.g"},
    ViewField{206, 24, "light0.ambient.b"},
    ViewField{207, 25, "light0.ambient.a"},
    ViewField{208, 26, "light0.diffuse.r"},
    ViewField{209, 27, "light0.diffuse.g"},
    ViewField{210, 28, "light0.diffuse.b"},
    ViewField{211, 29, "light0.diffuse.a"},
    ViewField{212, 30, "light0.specular.r"},
    ViewField{213, 31, "light0.specular.g"},
    ViewField{214, 32, "light0.specular.b"},
    ViewField{215, 33, "light0.specular.a"},
    ViewField{300, 34, "light1.position.x"},
    ViewField{301, 35, "light1.position.y"},
    ViewField{302, 36, "light1.position.z"},
    ViewField{303, 37, "light1.position.w"},
    ViewField{304, 38, "light1.ambient.r"},
    ViewField{305, 39, "light1.ambient.g"},
    ViewField{306, 40, "light1.ambient.b"},
    ViewField{307, 41, "light1.ambient.a"},
    ViewField{308, 42, "light1.diffuse.r"},
    ViewField{309, 43, "light1.diffuse.g"},
    ViewField{310, 44, "light1.diffuse.b"},
    ViewField{311, 45, "light1.diffuse.a"},
    ViewField{312, 46, "light1.specular.r"},
    ViewField{313, 47, "light1.specular.g"},
    ViewField{314, 48, "light1.specular.b"},
    ViewField{315, 49, "light1.specular.a"},
    ViewField{400, 50, "light2.position.x"},
    ViewField{401, 51, "light2.position.y"},
    ViewField{402, 52, "light2.position.z"},
    ViewField{403, 53, "light2.position.w"},
    ViewField{404, 54, "light2.ambient.r"},
    ViewField{405, 55, "light2.ambient.g"},
    ViewField{406, 56, "light2.ambient.b"},
    ViewField{407, 57, "light2.ambient.a"},
    ViewField{408, 58, "light2.diffuse.r"},
    ViewField{409, 59, "light2.diffuse.g"},
    ViewField{410, 60, "light2.diffuse.b"},
    ViewField{411, 61, "light2.diffuse.a"},
    ViewField{412, 62, "light2.specular.r"},
    ViewField{413, 63, "light2.specular.g"},
    ViewField{414, 64, "light2.specular.b"},
    ViewField{415, 65, "light2.specular.a"},
    ViewField{500, 66, "material.ambient.r"},
    ViewField{501, 67, "material.ambient.g"},
    ViewField{502, 68, "material.ambient.b"},
    ViewField{503, 69, "material.ambient.a"},
    ViewField{504, 70, "material.diffuse.r"},
    ViewField{505, 71, "material.diffuse.g"},
    ViewField{506, 72, "material.diffuse.b"},
    ViewField{507, 73, "material.diffuse.a"},
    ViewField{508, 74, "material.specular.r"},
    ViewField{509, 75, "material.specular.g"},
    ViewField{510, 76, "material.specular.b"},
    ViewField{511, 77, "material.specular.a"},
    ViewField{512, 78, "material.shininess.0"},
    ViewField{513, 79, "material.shininess.1"},
    ViewField{514, 80, "material.shininess.2"},
    ViewField{515, 81, "material.shininess.3"},
}};

float* lightGroup(LightSettings& l, size_t g) {
    switch (g) {
        case 0: return l.position;
        case 1: return l.ambient;
        case 2: return l.diffuse;
        default: return l.specular;
    }
}

const float* lightGroup(const LightSettings& l, size_t g) {
    return lightGroup(const_cast<LightSettings&>(l), g);
}

namespace {

float* groupOf(MaterialSettings& m, size_t g) {
    switch (g) {
        case 0: return m.ambient;
        case 1: return m.diffuse;
        case 2: return m.specular;
        default: return m.shininess;
    }
}

// Named member access for each index, so no pointer walks from one member into the next.
float* fieldPointer(ViewSettings& s, size_t i) {
    if (i >= VIEW_FIELD_COUNT) return nullptr;
    switch (i) {
        case 0: return &s.fovY;
        case 1: return &s.aspect;
        case 2: return &s.zNear;
        case 3: return &s.zFar;
        case 16: return &s.orthoScale;
        case 17: return &s.rate;
        default: break;
    }
    if (i < 7) return &s.clearColor[i - 4];
    if (i < 10) return &s.rotation[i - 7];
    if (i < 13) return &s.translation[i - 10];
    if (i < 16) return &s.center[i - 13];
    size_t j = i - 18;
    if (j < 48) return &lightGroup(s.lights[j / 16], (j % 16) / 4)[j % 4];
    j -= 48;
    return &groupOf(s.material, j / 4)[j % 4];
}

}  // namespace

float& viewFieldValue(ViewSettings& settings, size_t index) {
    // An index past the block lands on a scratch value instead of outside it.
    static thread_local float scratch = 0;
    float* p = fieldPointer(settings, index);
    if (!p) {
        scratch = 0;
        return scratch;
    }
    return *p;
}

float viewFieldValue(const ViewSettings& settings, size_t index) {
    float* p = fieldPointer(const_cast<ViewSettings&>(settings), index);
    return p ? *p : 0.0f;
}

const ViewField* findViewField(int id) {
    auto it = std::lower_bound(VIEW_FIELDS.begin(), VIEW_FIELDS.end(), id,
                               [](const ViewField& f, int v) { return f.id < v; });
    return it != VIEW_FIELDS.end() && it->id == id ? &*it : nullptr;
}

}  // namespace marrowin
