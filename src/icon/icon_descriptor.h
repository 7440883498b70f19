#pragma once
// The save's icon descriptor: the file entry whose data begin with "PS2D".
#include <string>

#include "archive/save_image.h"
#include "icon/icon_lighting.h"
#include "icon/icon_sys.h"

namespace marrowin {


// What icons 0, 1 and 2 are for: "normal", "copy", "delete".
extern const char* const ICON_ROLE_NAMES[3];

// True when a file entry's data at dataOffset begin with "PS2D": a descriptor, whatever its
// name.
bool isDescriptorData(const SaveImage& image, uint64_t dataOffset);

// Title of the last descriptor, 0 to 64 bytes of save text; empty without one.
std::string readSaveTitle(const SaveImage& image);
// File name of icon 0 (normal), 1 (copy) or 2 (delete); empty without a descriptor.
std::string readIconFileName(const SaveImage& image, int index);
// Writes each descriptor's lights into lights[0..2], the last one winning.
// True when at least one descriptor was found.
bool loadDescriptorLights(const SaveImage& image, LightSettings lights[3]);

}  // namespace marrowin
