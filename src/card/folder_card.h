#pragma once
// PCSX2's folder memory card: a host folder standing for a card. Each sub-folder is a save
// whose ordinary files are the save's files; "_pcsx2_index" (YAML) keeps their order and
// times, "_pcsx2_meta_directory" and "_pcsx2_meta/<file>" the raw directory entries of what
// plain host files cannot say (a mode other than the usual, an attribute, a name the host
// could not take). Plain C++ over the host layer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/host_files.h"
#include "card/memory_card.h"
#include "containers/save_contents.h"

namespace marrowin::card {

// The file whose presence makes a folder a card: the card's first erase block.
constexpr const char* FOLDER_CARD_MARKER = "_pcsx2_superblock";
constexpr size_t FOLDER_CARD_MARKER_BYTES = 8192;

// A folder holding FOLDER_CARD_MARKER.
bool isFolderCard(const std::string& path);

// The folder or file name a card name gets on the host, and whether that name alone gives the
// card name back (otherwise a meta entry keeps it).
std::string folderCardHostName(std::string_view cardName, bool& exact);

// Order and times of one save folder's files, as "_pcsx2_index" keeps them.
struct FolderIndexEntry {
    std::string name;  // host name; "$ROOT" for the folder itself
    int64_t order = 0;  // 0: none given
    int64_t timeCreated = 0;
    int64_t timeModified = 0;
    bool hasCreated = false, hasModified = false;
};
// Parses the block and flow mappings PCSX2 writes; what it cannot read goes into problems.
std::vector<FolderIndexEntry> parseFolderIndex(std::string_view text, std::vector<std::string>& problems);
std::string writeFolderIndex(const std::vector<FolderIndexEntry>& entries);

class FolderCard {
public:
    // Reads every save of the card folder into memory. False with a message when the folder
    // cannot be read or is no card.
    static bool open(const std::string& path, FolderCard& out, std::string& error);
    // The same with FOLDER_CARD_MARKER already open (and locked: it is read through that file
    // alone, since opening it again would drop a POSIX lock).
    static bool open(const std::string& path, FolderCard& out, std::string& error, HostFile* superblock);
    // Makes a new, empty folder card at path: a missing folder, or an empty one.
    static bool format(const std::string& path, std::string& error);

    uint32_t clusterSize() const { return 1024; }
    uint32_t freeClusters() const;

    std::vector<CardSave> list(std::vector<Problem>* problems = nullptr) const;
    // What the save folder holds that no save can (sub-folders, links) is reported in problems
    // when given.
    bool exportSave(std::string_view folder, SaveContents& out, std::string& error,
                    std::vector<Problem>* problems = nullptr) const;
    // Writes the save as a new sub-folder, built under a name the emulator ignores and renamed
    // into place once whole. With replace an existing save of that name is first put aside as
    // "_pcsx2_deleted_..." (as the emulator deletes). Refuses, writing nothing, what does not
    // fit the card.
    bool importSave(const SaveContents& save, bool replace, std::string& error, bool* taken = nullptr);
    // Renames the save's folder "_pcsx2_deleted_<name>", as the emulator does.
    bool deleteSave(std::string_view folder, std::string& error);
    std::vector<Problem> check() const;

private:
    struct Save {
        std::string hostName;
        SaveContents contents;
        std::vector<Problem> problems;
        std::vector<Problem> leftOut;  // links and folders in it, which no save holds
        uint32_t clusters() const;
    };
    const Save* find(std::string_view cardName) const;
    uint32_t capacity() const;
    uint32_t usedClusters() const;
    bool readSave(const std::string& hostName, Save& out) const;

    std::string path_;
    std::vector<uint8_t> superblock_;
    std::vector<Save> saves_;
    std::vector<Problem> problems_;  // of the card folder itself
};

}  // namespace marrowin::card
