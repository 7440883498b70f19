#pragma once
// A card image file on disk: read whole, and replaced only by a complete, synced new image.
// Plain C++ over the host layer, the same on both hosts.
#include <cstdint>
#include <string>
#include <vector>

#include "base/host_files.h"

namespace marrowin::card {

// No card image is larger: PCSX2's largest cards are 64 MB of data plus spare bytes.
constexpr uint64_t CARD_FILE_MAX = 80ull << 20;

// Reads the whole file at path (a regular file, at most CARD_FILE_MAX bytes).
bool readCardFile(const std::string& path, std::vector<uint8_t>& out, std::string& error);
// The same through a file already open (and locked: reading it through another descriptor
// would drop a POSIX lock); path names it in messages.
bool readOpenCardFile(HostFile& file, const std::string& path, std::vector<uint8_t>& out, std::string& error);

// Replaces the card at path by image, so that a failure at any point (a full disk, a kill, a
// power cut after the sync) leaves either the old card or the new one, whole:
//   1. the new image is written to a temporary file in the card's folder and synced;
//   2. with backup, `old` (the card's bytes as read) is written the same way and renamed to
//      "CARD.bak", replacing an older backup;
//   3. the temporary is renamed over the card and the folder synced.
// The original file stays in place, untouched, until step 3. With readState, the card must
// still be that file, of that size and time, just before step 3; otherwise nothing is replaced.
bool replaceCardFile(const std::string& path, const std::vector<uint8_t>& image,
                     const std::vector<uint8_t>& old, bool backup, std::string& error,
                     const FileState* readState = nullptr);

// Writes a new card file; an existing file is replaced only with replace (then as
// replaceCardFile does, without a backup). taken, when given, says a regular file was there.
bool writeNewCardFile(const std::string& path, const std::vector<uint8_t>& image, bool replace,
                      std::string& error, bool* taken = nullptr);

}  // namespace marrowin::card
