#pragma once
// A PS2 memory card image held in memory: its file system read, checked and changed. Plain
// C++; the commands read the card into memory, change it here and write a whole new image.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/problem.h"
#include "containers/save_contents.h"

namespace marrowin::card {

// The standard card: 8 MB of data in 16,384 pages of 512 bytes (+16 spare bytes with ECC).
constexpr uint64_t CARD_BYTES_WITH_ECC = 8650752;
constexpr uint64_t CARD_BYTES_WITHOUT_ECC = 8388608;

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
    static bool open(std::vector<uint8_t> raw, MemoryCard& out, std::vector<Problem>& problems,
                     std::string& error);
    // A newly formatted, empty standard card. Its root directory is stamped with the current
    // time in Japan time (UTC+9), as a console stamps what it writes.
    static std::vector<uint8_t> format(bool withEcc);
    // The same with a given stamp for the root directory (repeatable output).
    static std::vector<uint8_t> format(bool withEcc, const Stamp& rootStamp);

    bool hasEcc() const;
    uint32_t clusterSize() const;
    uint32_t freeClusters() const;  // below the limit new saves are allocated under
    // Every free cluster of the FAT, the console's spares above the limit included.
    uint32_t freeClustersInFat() const;
    // New saves get relative clusters below this: the allocatable count rounded down to a
    // multiple of 1,000 (8,000 on a standard card), as the console itself uses the card.
    uint32_t allocationLimit() const;

    // Every save folder of the root, in directory order; problems met on the way are added.
    std::vector<CardSave> list(std::vector<Problem>* problems = nullptr) const;
    // The folder's files with their metadata. False with a message when it is missing or
    // damaged.
    // Sub-directories in the folder, which no save container holds, are skipped and reported
    // in problems when given.
    bool exportSave(std::string_view folder, SaveContents& out, std::string& error,
                    std::vector<Problem>* problems = nullptr) const;
    // Adds the save as a folder. Refuses (changing nothing) when the card lacks room, when a
    // folder of that name exists (taken then says so; unless replace, which deletes it first), or when a name does
    // not fit the card.
    bool importSave(const SaveContents& save, bool replace, std::string& error, bool* taken = nullptr);
    bool deleteSave(std::string_view folder, std::string& error);
    // Superblock, ECC, FAT chains (each cluster used once, no chain into free space, no lost
    // clusters, no loops) and directory entries. Empty when the card is sound. Without
    // withEcc the pages' codes are left out: open() has just checked them all.
    std::vector<Problem> check(bool withEcc = true) const;

    // The whole image, spare areas included, with the ECC of every changed page recomputed.
    const std::vector<uint8_t>& image() const { return raw_; }

private:
    struct Entry;
    struct Claims;
    struct Chain;
    struct Directory;

    // The geometry from the superblock, checked against the image's size (raw_ is not set).
    static bool readGeometry(const std::vector<uint8_t>& raw, MemoryCard& c, std::string& error);
    uint64_t pageOffset(uint64_t page) const { return page * rawPageSize_; }
    bool readBytes(uint32_t absCluster, uint32_t offset, uint8_t* out, uint32_t n) const;
    // Writes into the data of one cluster and recomputes the code of every page touched.
    void writeBytes(uint32_t absCluster, uint32_t offset, const uint8_t* data, uint32_t n);
    // The card cluster holding the FAT's k-th cluster, through the indirect FAT; false when a
    // link points off the card.
    bool fatClusterAt(uint32_t k, uint32_t& fat) const;
    bool fatEntry(uint32_t cluster, uint32_t& value) const;
    // The whole FAT of the allocatable clusters at once, for the scans over every cluster;
    // an entry whose FAT cluster lies outside the card reads as in use (never allocated) and
    // is marked in unreadable when given.
    std::vector<uint32_t> wholeFat(std::vector<bool>* unreadable = nullptr) const;
    bool setFatEntry(uint32_t cluster, uint32_t value);
    bool allocatable(uint32_t cluster) const;
    Chain walk(uint32_t first, Claims& claims, const std::string& label) const;
    std::vector<uint8_t> chainData(const Chain& chain, uint64_t bytes) const;
    Directory readDirectory(uint32_t first, uint32_t length, Claims& claims,
                            const std::string& label) const;
    bool readRoot(Directory& root, Claims& claims, std::string& error) const;
    // The files of a save's directory, in order; a folder inside it is skipped with a warning.
    static std::vector<const Entry*> saveFiles(const Directory& dir, const std::string& label,
                                               std::vector<Problem>* problems);
    // Corrections go into fixInto (the image itself, when opening); none without it.
    void checkEcc(std::vector<Problem>& problems, std::vector<uint8_t>* fixInto) const;
    void checkStructure(std::vector<Problem>& problems) const;
    void checkDirectory(const Directory& dir, const std::string& label, bool isRoot,
                        Claims& claims, int depth, std::vector<Problem>& problems) const;
    bool structureSound(std::string& error) const;
    void freeChain(uint32_t first);
    void freeDirectory(const Directory& dir, int depth);
    bool removeSave(std::string_view folder, std::string& error);
    bool addSave(const SaveContents& save, std::string& error);

    std::vector<uint8_t> raw_;
    uint32_t pageSize_ = 512;
    uint32_t rawPageSize_ = 528;
    uint32_t spareSize_ = 16;
    uint32_t pagesPerCluster_ = 2;
    uint32_t pagesPerBlock_ = 16;
    uint32_t clustersPerCard_ = 0;
    uint32_t allocOffset_ = 0;
    uint32_t allocEnd_ = 0;
    uint32_t backupBlocks_[2] = {0, 0};
    bool ecc_ = true;
    std::array<uint32_t, 32> ifcList_{};
    std::array<int32_t, 32> badBlocks_{};
};

}  // namespace marrowin::card
