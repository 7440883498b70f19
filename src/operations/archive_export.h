#pragma once
// Writing saves to disk: a copy under a free name, extraction into a folder, packing a folder.
// Every name that comes from a save is turned into a host name (UTF-8) and made a single
// safe path component, so nothing lands outside the folder given as dir.
#include <optional>
#include <string>
#include <vector>

#include "archive/entry_header.h"
#include "base/host_files.h"
#include "archive/save_image.h"
#include "base/save_text.h"
#include "base/time_stamp.h"

namespace marrowin {

// How the operations treat what is already there and where links lead (command-line options;
// the window uses the defaults).
struct ExportOptions {
    bool keep = false;         // never replace an existing file: it is left alone and reported
    bool followLinks = false;  // packing: also follow links that lead outside the folder
    // Copy and extraction: names Windows takes as they stand (always so on Windows), for
    // folders that will be copied there.
    bool portableNames = false;
    // Packing: the stamp every entry gets; by default the local clock's now.
    std::optional<Stamp> packStamp;
};

// What an operation did, for the command-line companion; the window ignores it.
struct ExportResult {
    bool ok = false;
    std::string path;                 // the archive, copy or folder written (host name)
    std::vector<std::string> files;   // files written inside it (extraction) or packed
    std::string error;                // why it failed, or notes on what it did
    // Written, but not whole: "NAME: why" (cut-off entries, sources that shrank or failed).
    std::vector<std::string> incomplete;
    // Existing files left alone because of ExportOptions::keep.
    std::vector<std::string> kept;
    // Entries written under another name because an earlier entry took theirs: "ENTRY -> FILE".
    std::vector<std::string> renamed;
    // Packing: links that lead outside the folder, left out.
    std::vector<std::string> skipped;

    // True when everything asked for was written whole under its own name.
    bool complete() const { return ok && incomplete.empty() && kept.empty() && renamed.empty(); }
};

// Writes the image's fileSize bytes to "<base>.<ext>", or "<base> (N).<ext>" with the first
// N from 2 up that is free. base is save text (Shift-JIS); it is made a host name here.
// Never replaces a file and never leaves a partial one: the copy is written under a temporary
// name, put on the disk, and then linked under the first free name.
ExportResult writeUniqueCopy(const std::string& baseSaveText, const std::string& extension,
                             const SaveImage& image, const HostFolder& dir = {},
                             const ExportOptions& options = {});

// The copy the window's copy option and `marrowin-cli copy` make: base "<folder> <title>"
// (save text), extension "psu".
ExportResult writeSaveCopy(const SaveImage& image, const HostFolder& dir = {},
                           const ExportOptions& options = {});

// Creates the save's folder (named from the first header's name field) and writes every file
// entry's data into it, replacing files of the same names (unless options.keep). An entry whose
// name an earlier entry of the same archive took is written as "NAME (2)" and so on.
ExportResult extractArchive(const SaveImage& image, const HostFolder& dir = {},
                            const ExportOptions& options = {});

// Writes "<base name>.psu" of the folder's regular files, replacing an archive of that name
// (unless options.keep); nothing when the folder has no regular files. Refuses, writing
// nothing, a folder whose names a save cannot hold faithfully (characters Shift-JIS lacks,
// two names that are one in Shift-JIS) or whose archive would be 4 GiB or more.
ExportResult packFolder(const std::string& folderPath, const HostFolder& dir = {},
                        const ExportOptions& options = {});

// The name extraction gives the file of an entry (save text): one safe host path component
// of at most 255 bytes, in the given style; with portable (always in the Windows style) also
// one Windows takes as it stands.
std::string extractedFileName(std::string_view entryName, HostNameStyle style = NATIVE_HOST_NAME_STYLE,
                              bool portable = false);

}  // namespace marrowin
