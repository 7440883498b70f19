#pragma once
// Every path the user gives goes through loadPath: folders are packed (when the option is
// on), files are read, recognised, named in the caption, copied, extracted and shown.
#include <string>

#include "archive/save_image.h"

namespace marrowin {

// Menu command ids of the three options.
constexpr int CMD_OPT_COPY = 528;
constexpr int CMD_OPT_EXTRACT = 544;
constexpr int CMD_OPT_PACK = 560;

// What a load needs from the window around it.
class LoadHost {
public:
    virtual ~LoadHost() = default;
    virtual void setCaption(const std::string& utf8) = 0;
    virtual bool isOptionOn(int command) = 0;
    // Drops the current model: called before the image it points into is released.
    virtual void clearCurrentModel() = 0;
    // selectIcon with the given index on the (new) current image.
    virtual void selectIcon(int index) = 0;
};

// The one loaded save of the process.
extern SaveImage currentSaveImage;

void loadPath(LoadHost& host, SaveImage& current, const std::string& baseCaption,
              const std::string& path);

}  // namespace marrowin
