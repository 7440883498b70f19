#pragma once
// A PS2 memory card image held in memory: its file system read, checked and changed. Plain
// C++; the commands read the card into memory, change it here and write a whole new image.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "containers/save_contents.h"

namespace marrowin::card {

// The standard card: 8 MB of data in 16,384 pages of 512 bytes (+16 spare bytes with ECC).
constexpr uint64_t CARD_BYTES_WITH_ECC = 8650752;
constexpr uint64_t CARD_BYTES_WITHOUT_ECC = 8388608;

// What reading or checking a card found.
struct CardProblem {
    enum class Kind { Error, Warning, Corrected };
    Kind kind = Kind::Error;
    std::string text;
};

// One save folder in the card's root.
struct CardSave {
    std::string name;       // save text, raw bytes
    std::string titleUtf8;  // icon.sys title, "" without one
    uint16_t mode = 0;
    Stamp created{};
    Stamp modified{};
    uint32_t fileCount = 0;
    uint32_t clusters = 0;  // the folder's own clusters and its files'
    uint64_t bytes = 0;     // clusters × cluster size
    bool hasIconSys = false;
    bool hasIcons = false;  // every icon icon.sys names is present
};

class MemoryCard {
public:
    // Reads the geometry from the superblock, checks the image size against it, and checks
    // (and, for single-bit errors, corrects) the ECC of every page. False with a message when
    // the image is not a card this program can read.
    static bool open(std::vector<uint8_t> raw, MemoryCard& out, std::vector<CardProblem>& problems,
                     std::string& error);
    // A newly formatted, empty standard card.
    static std::vector<uint8_t> format(bool withEcc);

    bool hasEcc() const;
    uint32_t clusterSize() const;
    uint32_t freeClusters() const;  // below the limit new saves are allocated under

    // Every save folder of the root, in directory order; problems met on the way are added.
    std::vector<CardSave> list(std::vector<CardProblem>* problems = nullptr) const;
    // The folder's files with their metadata. False with a message when it is missing or
    // damaged.
    bool exportSave(std::string_view folder, SaveContents& out, std::string& error) const;
    // Adds the save as a folder. Refuses (changing nothing) when the card lacks room, when a
    // folder of that name exists (unless replace, which deletes it first), or when a name does
    // not fit the card.
    bool importSave(const SaveContents& save, bool replace, std::string& error);
    bool deleteSave(std::string_view folder, std::string& error);
    // Superblock, ECC, FAT chains (each cluster used once, no chain into free space, no lost
    // clusters, no loops) and directory entries. Empty when the card is sound.
    std::vector<CardProblem> check() const;

    // The whole image, spare areas included, with the ECC of every changed page recomputed.
    const std::vector<uint8_t>& image() const { return raw_; }

private:
    std::vector<uint8_t> raw_;
    // Geometry and the rest of the state are the implementation's.
    uint32_t pageSize_ = 512;
    uint32_t rawPageSize_ = 528;
    uint32_t pagesPerCluster_ = 2;
    uint32_t clustersPerCard_ = 0;
    uint32_t allocOffset_ = 0;
    uint32_t allocEnd_ = 0;
};

}  // namespace marrowin::card
