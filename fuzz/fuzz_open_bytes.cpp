// Opening any save from bytes in memory, as Explorer's handlers do with the stream they are
// given: a save archive, another container or a card image, told by content, then the fields
// the property handler shows. Whatever is opened is a walkable archive of bounded size.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "icon/icon_descriptor.h"
#include "operations/open_save.h"

using namespace marrowin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OpenOptions options;
    options.contents = true;
    OpenedSave save;
    std::string error;
    const bool opened = openSaveBytes(std::vector<uint8_t>(data, data + size), "input", options, save, error);
    if (!opened) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    if (save.image.empty()) std::abort();
    // What the property handler reads from every opened save.
    (void)readSaveTitle(save.image);
    (void)getFolderName(save.image);
    return 0;
}
