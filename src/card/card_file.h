#pragma once
// A card image file on disk: read whole, and replaced only by a complete, synced new image.
// Plain C++ over the host layer, the same on both hosts.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace marrowin::card {

// No card image is larger: PCSX2's largest cards are 64 MB of data plus spare bytes.
constexpr uint64_t CARD_FILE_MAX = 80ull << 20;

// A path from this program's UTF-8 text, for std::filesystem on either host.
std::filesystem::path cardFsPath(const std::string& path);


// Reads the whole file at path (a regular file, at most CARD_FILE_MAX bytes).
bool readCardFile(const std::string& path, std::vector<uint8_t>& out, std::string& error);

// Replaces the card at path by image, so that a failure at any point (a full disk, a kill, a
// power cut after the sync) leaves either the old card or the new one, whole:
//   1. the new image is written to a temporary file in the card's folder and synced;
//   2. with backup, `old` (the card's bytes as read) is written the same way and renamed to
//      "CARD.bak", replacing an older backup;
//   3. the temporary is renamed over the card and the folder synced.
// The original file stays in place, untouched, until step 3.
bool replaceCardFile(const std::string& path, const std::vector<uint8_t>& image,
                     const std::vector<uint8_t>& old, bool backup, std::string& error);

// Writes a new card file; an existing file is replaced only with replace (then as
// replaceCardFile does, without a backup).
bool writeNewCardFile(const std::string& path, const std::vector<uint8_t>& image, bool replace,
                      std::string& error);

}  // namespace marrowin::card
