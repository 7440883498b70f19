#pragma once
// Writing saves to disk: a copy under a free name, extraction into a folder, packing a folder.
// Every name that comes from a save is turned into a host name (UTF-8) and made a single
// safe path component, so nothing lands outside the directory given as dirFd.
#include <fcntl.h>

#include <string>
#include <vector>

#include "archive/entry_header.h"
#include "archive/host_files.h"
#include "archive/save_image.h"

namespace marrowin {

// What an operation did, for the command-line companion; the window ignores it.
struct ExportResult {
    bool ok = false;
    std::string path;                 // the archive, copy or folder written (host name)
    std::vector<std::string> files;   // files written inside it (extraction)
    std::string error;                // why it failed or what was passed over
};

// Writes the image's fileSize bytes to "<base>.<ext>", or "<base> (N).<ext>" with the first
// N from 2 up that is free. base is save text (Shift-JIS); it is made a host name here.
// Never replaces a file and never leaves a partial one.
ExportResult writeUniqueCopy(const std::string& baseSaveText, const std::string& extension,
                             const SaveImage& image, int dirFd = AT_FDCWD);

// The copy the window's copy option and `marrowin-cli copy` make: base "<folder> <title>"
// (save text), extension "psu".
ExportResult writeSaveCopy(const SaveImage& image, int dirFd = AT_FDCWD);

// Creates the save's folder (named from the first header's name field) and writes every file
// entry's data into it, replacing files of the same names.
ExportResult extractArchive(const SaveImage& image, int dirFd = AT_FDCWD);

// Writes "<base name>.psu" of the folder's regular files, replacing an archive of that name;
// nothing when the folder has no regular files.
ExportResult packFolder(const std::string& folderPath, int dirFd = AT_FDCWD);

// The name extraction gives the file of an entry (save text): one safe host path component
// of at most 255 bytes.
std::string extractedFileName(std::string_view entryName);

// Sets the created and modified stamps of a 512-byte header.
void stampEntryTimes(uint8_t* header, const LocalTime& time);

}  // namespace marrowin
