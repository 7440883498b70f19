#pragma once
// Either kind of card behind one face: a card image (read whole into memory) or a PCSX2 folder
// card (read folder by folder). The commands and the windows list, export and change saves
// through this, never asking which kind they hold.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/host_files.h"
#include "base/problem.h"
#include "card/folder_card.h"
#include "card/memory_card.h"
#include "containers/save_contents.h"

namespace marrowin::card {

struct Card {
    std::string path;
    bool isFolder = false;
    MemoryCard image;
    FolderCard folder;
    std::vector<uint8_t> original;  // a card image's bytes as read, for its backup
    std::vector<Problem> openProblems;

    std::vector<CardSave> list(std::vector<Problem>* problems) const;
    uint32_t freeClusters() const;
    uint32_t clusterSize() const;
    bool exportSave(std::string_view name, SaveContents& out, std::string& error,
                    std::vector<Problem>* problems = nullptr) const;
    // What opening found (every page's ECC) and the rest of the card's check.
    std::vector<Problem> check() const;
    const char* kind() const;
    // A card image changes in memory only (see operations/card_change.h for writing it); a
    // folder card is written as it changes. taken says a save of that name is there already.
    bool importSave(const SaveContents& save, bool replace, std::string& error, bool* taken = nullptr);
    bool deleteSave(std::string_view folder, std::string& error);
};

// Opens the card at path, either kind; false with a message naming it.
bool openCard(const std::string& path, Card& out, std::string& error);
// The same through the card's file already open: the card image itself, or a folder card's
// FOLDER_CARD_MARKER (for a change that holds a lock on it).
bool openCard(const std::string& path, HostFile& opened, Card& out, std::string& error);

}  // namespace marrowin::card
