#include "icon/icon_descriptor.h"

#include <cmath>

namespace marrowin {

const char* const ICON_ROLE_NAMES[3] = {"normal", "copy", "delete"};

bool isDescriptorData(const SaveImage& image, uint64_t dataOffset) {
    const ByteView v = image.view();
    return v.u8(dataOffset) == 'P' && v.u8(dataOffset + 1) == 'S' && v.u8(dataOffset + 2) == '2' &&
           v.u8(dataOffset + 3) == 'D';
}

namespace {

// Calls fn(dataOffset) for every descriptor in archive order.
template <class Fn>
void forEachDescriptor(const SaveImage& image, Fn&& fn) {
    walkFileEntries(image, [&](const FileEntry& e) {
        if (isDescriptorData(image, e.dataOffset)) fn(e.dataOffset);
    });
}

// A value that is not a finite number leaves the light's component as it was.
void store(float& target, float value) {
    if (std::isfinite(value)) target = value;
}

}  // namespace

std::string readSaveTitle(const SaveImage& image) {
    std::string title;
    ByteView v = image.view();
    // The caption takes the first 64 of the title's 68 bytes.
    forEachDescriptor(image, [&](uint64_t data) {
        title = readIconSysFields(v, data).title.substr(0, DESCRIPTOR_TEXT_SIZE);
    });
    return title;
}

std::string readIconFileName(const SaveImage& image, int index) {
    std::string name;
    if (index < 0 || index > 2) return name;
    ByteView v = image.view();
    forEachDescriptor(image, [&](uint64_t data) { name = readIconSysFields(v, data).iconNames[index]; });
    return name;
}

bool loadDescriptorLights(const SaveImage& image, LightSettings lights[3]) {
    bool found = false;
    ByteView v = image.view();
    forEachDescriptor(image, [&](uint64_t data) {
        found = true;
        for (int k = 0; k < 3; ++k) {
            LightSettings& l = lights[k];
            uint64_t dir = data + 80 + 16 * uint64_t(k);
            uint64_t colour = data + 128 + 16 * uint64_t(k);
            for (int c = 0; c < 3; ++c) store(l.position[c], -v.f32(dir + 4 * c));
            store(l.position[3], v.f32(dir + 12));
            if (k == 0) {
                for (int c = 0; c < 3; ++c) store(l.ambient[c], float(double(v.f32(data + 176 + 4 * c)) * 0.1));
                store(l.ambient[3], v.f32(data + 188));
            } else {
                for (float& a : l.ambient) a = 0;
            }
            for (int c = 0; c < 4; ++c) store(l.diffuse[c], v.f32(colour + 4 * c));
            for (float& s : l.specular) s = 1;
        }
    });
    return found;
}

}  // namespace marrowin
