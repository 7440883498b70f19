#include "archive/save_loading.h"

#include <cstdint>

#include "archive/archive_export.h"
#include "archive/host_files.h"
#include "archive/save_text.h"
#include "icon/icon_descriptor.h"

namespace marrowin {

SaveImage currentSaveImage;

namespace {

// An image can only be addressed with 32 bits: a larger file is not a save we can hold.
constexpr int64_t LARGEST_LOADABLE = int64_t(UINT32_MAX);

void dropCurrent(LoadHost& host, SaveImage& current) {
    if (current.empty()) return;
    // The model points into the image, so it goes first.
    host.clearCurrentModel();
    releaseSaveImage(current);
}

}  // namespace

void loadPath(LoadHost& host, SaveImage& current, const std::string& baseCaption,
              const std::string& path) {
    PathKind kind = pathKind(path);
    if (kind == PathKind::Folder || kind == PathKind::Missing) {
        // A missing path takes this way too; packing then finds nothing to write.
        if (kind == PathKind::Folder && host.isOptionOn(CMD_OPT_PACK)) packFolder(path);
        return;
    }

    HostFile file = openForReading(path);
    if (!file.isOpen()) return;
    int64_t size = file.size();

    dropCurrent(host, current);
    if (size < 0 || size > LARGEST_LOADABLE) {
        // The old save is gone already: end empty, under the window's own caption.
        host.setCaption(baseCaption);
        return;
    }
    current = readSaveImage(file, uint32_t(size));
    file.close();

    host.setCaption(baseCaption);
    if (detectArchiveKind(current) != ArchiveKind::SaveArchive) {
        releaseSaveImage(current);
        return;
    }

    std::string folder = getFolderName(current);
    std::string title = readSaveTitle(current);
    host.setCaption(saveTextToDisplay(folder) + " " + saveTextToDisplay(title) + " - " +
                    baseCaption);

    if (host.isOptionOn(CMD_OPT_COPY)) writeSaveCopy(current);
    if (host.isOptionOn(CMD_OPT_EXTRACT)) extractArchive(current);

    host.selectIcon(0);
}

}  // namespace marrowin
