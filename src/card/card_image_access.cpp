// Raw page access, the FAT through the indirect FAT, chains and directories.
#include "card/card_ecc.h"
#include "card/memory_card_internal.h"

namespace marrowin::card {

// ---- raw access ------------------------------------------------------------------------------

bool MemoryCard::readBytes(uint32_t absCluster, uint32_t offset, uint8_t* out, uint32_t n) const {
    ByteView v{raw_.data(), raw_.size()};
    uint64_t page = uint64_t(absCluster) * pagesPerCluster_;
    while (n > 0) {
        uint64_t p = page + offset / pageSize_;
        uint32_t in = offset % pageSize_;
        uint32_t take = std::min(n, pageSize_ - in);
        uint64_t at = pageOffset(p) + in;
        if (p >= page + pagesPerCluster_ || !v.fits(at, take)) return false;
        std::memcpy(out, raw_.data() + at, take);
        out += take;
        offset += take;
        n -= take;
    }
    return true;
}

void MemoryCard::writeBytes(uint32_t absCluster, uint32_t offset, const uint8_t* data, uint32_t n) {
    uint64_t page = uint64_t(absCluster) * pagesPerCluster_;
    while (n > 0) {
        uint64_t p = page + offset / pageSize_;
        uint32_t in = offset % pageSize_;
        uint32_t take = std::min(n, pageSize_ - in);
        uint64_t at = pageOffset(p);
        if (p >= page + pagesPerCluster_ || at > raw_.size() || rawPageSize_ > raw_.size() - at)
            return;
        std::memcpy(raw_.data() + at + in, data, take);
        if (ecc_) {
            uint8_t* spare = raw_.data() + at + pageSize_;
            std::fill(spare, spare + spareSize_, uint8_t(0));
            pageEcc(raw_.data() + at, pageSize_, spare);
        }
        data += take;
        offset += take;
        n -= take;
    }
}

bool MemoryCard::fatClusterAt(uint32_t k, uint32_t& fat) const {
    if (k / FAT_PER_CLUSTER >= IFC_SLOTS) return false;
    uint32_t indirect = ifcList_[k / FAT_PER_CLUSTER];
    uint8_t b[4];
    if (indirect >= clustersPerCard_ || !readBytes(indirect, (k % FAT_PER_CLUSTER) * 4, b, 4))
        return false;
    fat = ByteView{b, 4}.u32(0);
    return fat < clustersPerCard_;
}

bool MemoryCard::fatEntry(uint32_t cluster, uint32_t& value) const {
    value = 0;
    uint32_t fat = 0;
    uint8_t b[4];
    if (!fatClusterAt(cluster / FAT_PER_CLUSTER, fat) || !readBytes(fat, (cluster % FAT_PER_CLUSTER) * 4, b, 4))
        return false;
    value = ByteView{b, 4}.u32(0);
    return true;
}

std::vector<uint32_t> MemoryCard::wholeFat(std::vector<bool>* unreadable) const {
    std::vector<uint32_t> fat(allocEnd_, FAT_LAST);
    if (unreadable) unreadable->assign(allocEnd_, true);
    uint8_t b[CLUSTER_BYTES];
    for (uint32_t k = 0; uint64_t(k) * FAT_PER_CLUSTER < allocEnd_; ++k) {
        if (k / FAT_PER_CLUSTER >= IFC_SLOTS) break;
        uint32_t cluster = 0;
        if (!fatClusterAt(k, cluster) || !readBytes(cluster, 0, b, CLUSTER_BYTES)) continue;
        ByteView v{b, CLUSTER_BYTES};
        for (uint32_t i = 0; i < FAT_PER_CLUSTER && uint64_t(k) * FAT_PER_CLUSTER + i < allocEnd_; ++i) {
            fat[size_t(k) * FAT_PER_CLUSTER + i] = v.u32(4 * i);
            if (unreadable) (*unreadable)[size_t(k) * FAT_PER_CLUSTER + i] = false;
        }
    }
    return fat;
}

bool MemoryCard::setFatEntry(uint32_t cluster, uint32_t value) {
    uint32_t fat = 0;
    if (!fatClusterAt(cluster / FAT_PER_CLUSTER, fat)) return false;
    uint8_t b[4];
    putU32(b, value);
    writeBytes(fat, (cluster % FAT_PER_CLUSTER) * 4, b, 4);
    return true;
}

// Whether a new save may use this relative cluster: below the limit, outside the bad blocks
// and the backup blocks.
bool MemoryCard::allocatable(uint32_t cluster) const {
    if (cluster >= allocationLimit()) return false;
    uint64_t block = (uint64_t(allocOffset_) + cluster) * pagesPerCluster_ / pagesPerBlock_;
    if (block == backupBlocks_[0] || block == backupBlocks_[1]) return false;
    for (int32_t bad : badBlocks_)
        if (bad >= 0 && uint64_t(bad) == block) return false;
    return true;
}

MemoryCard::Chain MemoryCard::walk(uint32_t first, Claims& claims, const std::string& label) const {
    Chain c;
    uint32_t id = claims.add(label);
    uint32_t cur = first;
    // Each step claims a cluster nobody held, so this ends within allocEnd_ steps.
    for (;;) {
        if (cur >= allocEnd_) {
            c.fault = "points to cluster " + std::to_string(cur) + ", outside the allocatable area";
            break;
        }
        if (uint32_t o = claims.owner[cur]) {
            c.fault = o == id ? "loops back to cluster " + std::to_string(cur)
                              : "runs into cluster " + std::to_string(cur) + ", which belongs to " +
                                    claims.labels[o - 1];
            break;
        }
        claims.owner[cur] = id;
        c.clusters.push_back(cur);
        uint32_t v;
        if (!fatEntry(cur, v)) {
            c.fault = "has cluster " + std::to_string(cur) + ", whose FAT entry cannot be read";
            break;
        }
        if (!(v & FAT_IN_USE)) {
            c.fault = "holds cluster " + std::to_string(cur) + ", which the FAT marks free";
            break;
        }
        if (v == FAT_LAST) break;
        cur = v & ~FAT_IN_USE;
    }
    return c;
}

std::vector<uint8_t> MemoryCard::chainData(const Chain& chain, uint64_t bytes) const {
    uint64_t have = uint64_t(chain.clusters.size()) * CLUSTER_BYTES;
    std::vector<uint8_t> out(size_t(std::min(bytes, have)));
    for (size_t i = 0; i * CLUSTER_BYTES < out.size(); ++i) {
        uint32_t n = uint32_t(std::min<uint64_t>(CLUSTER_BYTES, out.size() - i * CLUSTER_BYTES));
        if (!readBytes(allocOffset_ + chain.clusters[i], 0, out.data() + i * CLUSTER_BYTES, n))
            std::fill(out.begin() + ptrdiff_t(i * CLUSTER_BYTES), out.begin() + ptrdiff_t(i * CLUSTER_BYTES + n), 0);
    }
    return out;
}

MemoryCard::Directory MemoryCard::readDirectory(uint32_t first, uint32_t length, Claims& claims,
                                                const std::string& label) const {
    Directory d;
    d.length = length;
    d.chain = walk(first, claims, label);
    uint64_t count = std::min<uint64_t>(length, uint64_t(d.chain.clusters.size()) * ENTRIES_PER_CLUSTER);
    std::vector<uint8_t> bytes = chainData(d.chain, count * ENTRY_BYTES);
    d.entries.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i) d.entries.push_back(Entry::decode(&bytes[size_t(i * ENTRY_BYTES)]));
    return d;
}

bool MemoryCard::readRoot(Directory& root, Claims& claims, std::string& error) const {
    uint8_t first[ENTRY_BYTES];
    if (!readBytes(allocOffset_, 0, first, ENTRY_BYTES)) {
        error = "the root directory cannot be read";
        return false;
    }
    Entry self = Entry::decode(first);
    root = readDirectory(0, self.size, claims, "the root directory");
    if (root.entries.size() < 2) {
        error = "the root directory is damaged (" +
                (root.chain.fault.empty() ? "it holds " + std::to_string(root.entries.size()) + " entries"
                                          : "its chain " + root.chain.fault) + ")";
        return false;
    }
    return true;
}

}  // namespace marrowin::card
