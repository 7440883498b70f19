// Opening a card image: the geometry from its superblock and the ECC of every page.
#include "card/card_ecc.h"
#include "card/memory_card_internal.h"

namespace marrowin::card {

// ---- opening -------------------------------------------------------------------------------

bool MemoryCard::readGeometry(const std::vector<uint8_t>& raw, MemoryCard& c, std::string& error) {
    ByteView v{raw.data(), raw.size()};
    if (raw.size() < 0x154 || std::memcmp(raw.data(), MAGIC, MAGIC_SIZE) != 0) {
        error = "not a PS2 memory card image (no \"Sony PS2 Memory Card Format\" superblock)";
        return false;
    }
    c.pageSize_ = v.u16(SB_PAGE_LEN);
    c.pagesPerCluster_ = v.u16(SB_PAGES_PER_CLUSTER);
    c.pagesPerBlock_ = v.u16(SB_PAGES_PER_BLOCK);
    c.clustersPerCard_ = v.u32(SB_CLUSTERS);
    c.allocOffset_ = v.u32(SB_ALLOC_OFFSET);
    c.allocEnd_ = v.u32(SB_ALLOC_END);
    c.backupBlocks_[0] = v.u32(SB_BACKUP1);
    c.backupBlocks_[1] = v.u32(SB_BACKUP2);
    for (uint32_t i = 0; i < IFC_SLOTS; ++i) {
        c.ifcList_[i] = v.u32(SB_IFC + 4 * i);
        c.badBlocks_[i] = int32_t(v.u32(SB_BAD_BLOCKS + 4 * i));
    }
    uint8_t type = v.u8(SB_TYPE);
    uint32_t root = v.u32(SB_ROOT);

    auto refuse = [&](const std::string& why) {
        error = "unsupported memory card: " + why;
        return false;
    };
    if (c.pageSize_ != 512 && c.pageSize_ != 1024)
        return refuse("page size " + std::to_string(c.pageSize_) + " (512 or 1024 expected)");
    if (uint64_t(c.pageSize_) * c.pagesPerCluster_ != CLUSTER_BYTES)
        return refuse("cluster size " + std::to_string(uint64_t(c.pageSize_) * c.pagesPerCluster_) +
                      " (1024 expected)");
    if (c.pagesPerBlock_ != 16)
        return refuse(std::to_string(c.pagesPerBlock_) + " pages per erase block (16 expected)");
    if (type != 2) return refuse("card type " + std::to_string(type) + " (2, a PS2 card, expected)");
    if (root != 0) return refuse("root directory at cluster " + std::to_string(root) + " (0 expected)");
    if (c.clustersPerCard_ == 0 || c.allocEnd_ == 0 ||
        uint64_t(c.allocOffset_) + c.allocEnd_ > c.clustersPerCard_)
        return refuse("allocatable area " + std::to_string(c.allocOffset_) + " + " +
                      std::to_string(c.allocEnd_) + " clusters does not fit a card of " +
                      std::to_string(c.clustersPerCard_));
    // The indirect clusters the FAT of alloc_end entries needs must lie on the card.
    uint32_t fatClusters = ceilDiv(c.allocEnd_, FAT_PER_CLUSTER);
    uint32_t indirects = ceilDiv(fatClusters, FAT_PER_CLUSTER);
    if (indirects > IFC_SLOTS) return refuse("more allocatable clusters than a FAT can list");
    for (uint32_t i = 0; i < indirects; ++i)
        if (c.ifcList_[i] >= c.clustersPerCard_)
            return refuse("indirect FAT cluster " + std::to_string(c.ifcList_[i]) + " is outside the card");

    c.spareSize_ = c.pageSize_ / 32;
    uint64_t pages = uint64_t(c.clustersPerCard_) * c.pagesPerCluster_;
    uint64_t withEcc = pages * (c.pageSize_ + c.spareSize_);
    uint64_t withoutEcc = pages * c.pageSize_;
    if (raw.size() == withEcc) {
        c.ecc_ = true;
        c.rawPageSize_ = c.pageSize_ + c.spareSize_;
    } else if (raw.size() == withoutEcc) {
        c.ecc_ = false;
        c.rawPageSize_ = c.pageSize_;
    } else {
        error = "the image is " + std::to_string(raw.size()) + " bytes; its superblock describes a card of " +
                std::to_string(withEcc) + " bytes with spare areas or " + std::to_string(withoutEcc) +
                " without";
        return false;
    }
    return true;
}

bool MemoryCard::open(std::vector<uint8_t> raw, MemoryCard& out, std::vector<Problem>& problems,
                      std::string& error) {
    MemoryCard c;
    if (!readGeometry(raw, c, error)) return false;
    c.raw_ = std::move(raw);
    if (c.ecc_) {
        std::vector<uint8_t> superblock(c.raw_.begin(), c.raw_.begin() + ptrdiff_t(c.pageSize_));
        c.checkEcc(problems, &c.raw_);
        if (!std::equal(superblock.begin(), superblock.end(), c.raw_.begin())) {
            // A wrong bit in the superblock itself: the geometry is read again, corrected.
            MemoryCard fixed;
            if (!readGeometry(c.raw_, fixed, error)) return false;
            fixed.raw_ = std::move(c.raw_);
            c = std::move(fixed);
        }
    }
    out = std::move(c);
    return true;
}

// Checks the code of every page. The pages the file system never reads (the rest of the
// superblock's block, the backup blocks) may hold stale bytes on real cards: their faults are
// only warnings.
void MemoryCard::checkEcc(std::vector<Problem>& problems, std::vector<uint8_t>* fixInto) const {
    bool correct = fixInto != nullptr;
    uint64_t pages = uint64_t(clustersPerCard_) * pagesPerCluster_;
    uint32_t chunks = pageSize_ / ECC_CHUNK_BYTES;
    std::vector<uint64_t> fixed, damagedCode, bad, badUnused;
    std::vector<uint8_t> data(pageSize_);
    for (uint64_t p = 0; p < pages; ++p) {
        const uint8_t* page = raw_.data() + pageOffset(p);
        const uint8_t* spare = page + pageSize_;
        bool good = true;
        for (uint32_t k = 0; k < chunks && good; ++k) {
            std::array<uint8_t, 3> code = chunkEcc(page + k * ECC_CHUNK_BYTES);
            const uint8_t* s = spare + k * ECC_BYTES_PER_CHUNK;
            good = ((code[0] ^ s[0]) & 0x77) == 0 && ((code[1] ^ s[1]) & 0x7F) == 0 && ((code[2] ^ s[2]) & 0x7F) == 0;
        }
        if (good) continue;
        // Corrections are made on a copy of the page, written back only when asked.
        std::memcpy(data.data(), page, pageSize_);
        bool wasFixed = false, wasDamaged = false, wasBad = false;
        for (uint32_t k = 0; k < chunks; ++k) {
            switch (checkChunk(data.data() + k * ECC_CHUNK_BYTES, spare + k * ECC_BYTES_PER_CHUNK, true)) {
                case EccVerdict::Good: break;
                case EccVerdict::DataCorrected: wasFixed = true; break;
                case EccVerdict::CodeDamaged: wasDamaged = true; break;
                case EccVerdict::Uncorrectable: wasBad = true; break;
            }
        }
        uint64_t block = p / pagesPerBlock_;
        bool unused = (block == 0 && p != 0) || block == backupBlocks_[0] || block == backupBlocks_[1];
        if (wasBad) (unused ? badUnused : bad).push_back(p);
        if (wasFixed) {
            fixed.push_back(p);
            if (fixInto) std::memcpy(fixInto->data() + pageOffset(p), data.data(), pageSize_);
        }
        if (wasDamaged) damagedCode.push_back(p);
    }
    auto report = [&](const std::vector<uint64_t>& list, Severity kind, const std::string& what) {
        for (size_t i = 0; i < list.size() && i < MAX_PAGE_MESSAGES; ++i)
            problems.push_back({kind, {}, 0, "page " + std::to_string(list[i]) + ": " + what});
        if (list.size() > MAX_PAGE_MESSAGES)
            problems.push_back({kind, {}, 0, std::to_string(list.size() - MAX_PAGE_MESSAGES) +
                                          " more pages: " + what});
    };
    report(fixed, correct ? Severity::Corrected : Severity::Warning,
           correct ? "one wrong data bit, corrected by its ECC" : "one wrong data bit, which its ECC corrects");
    report(damagedCode, Severity::Warning, "a damaged ECC byte (the data is good)");
    report(bad, Severity::Error, "data and ECC disagree beyond repair");
    report(badUnused, Severity::Warning,
           "data and ECC disagree beyond repair (a page the file system does not use)");
}

}  // namespace marrowin::card
