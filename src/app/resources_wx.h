#pragma once
// Window resources built into the program (menu, configuration window, icon), so it runs from
// any folder.
#include <cstddef>

class wxIcon;

namespace marrowin {

struct EmbeddedResource {
    const char* name;
    const unsigned char* data;
    size_t size;
};
// Ends with a null name; generated at build time from res/.
extern const EmbeddedResource EMBEDDED_RESOURCES[];

const EmbeddedResource* findResource(const char* name);

// Hands main.xrc and sub1.xrc to wxXmlResource; false when one does not parse.
bool loadWindowResources();

// The "ICON" icon.
wxIcon programIcon();

}  // namespace marrowin
