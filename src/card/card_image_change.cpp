// Changing a card image: deleting and adding save folders.
#include "card/card_ecc.h"
#include "card/memory_card_internal.h"

#include <unordered_set>

namespace marrowin::card {

// ---- changing ------------------------------------------------------------------------------

void MemoryCard::freeChain(uint32_t first) {
    Claims claims(allocEnd_);
    Chain chain = walk(first, claims, "");
    for (uint32_t c : chain.clusters) {
        uint32_t v;
        if (fatEntry(c, v)) setFatEntry(c, v & ~FAT_IN_USE);
    }
}

void MemoryCard::freeDirectory(const Directory& dir, int depth) {
    for (size_t j = 2; j < dir.entries.size(); ++j) {
        const Entry& e = dir.entries[j];
        if (!e.exists()) continue;
        if (e.isDir() && depth + 1 < MAX_DEPTH) {
            Claims claims(allocEnd_);
            freeDirectory(readDirectory(e.cluster, e.size, claims, ""), depth + 1);
        }
        if (e.cluster != NO_CLUSTER) freeChain(e.cluster);
        // Clear EXISTS in the entry itself; the slot keeps everything else.
        uint32_t slot = uint32_t(j);
        uint8_t mode[2];
        putU16(mode, uint16_t(e.mode & ~M_EXISTS));
        writeBytes(allocOffset_ + dir.chain.clusters[slot / ENTRIES_PER_CLUSTER],
                   (slot % ENTRIES_PER_CLUSTER) * ENTRY_BYTES + uint32_t(ENTRY_MODE_OFFSET), mode, 2);
    }
}

bool MemoryCard::removeSave(std::string_view folder, std::string& error) {
    Claims claims(allocEnd_);
    Directory root;
    if (!readRoot(root, claims, error)) return false;
    for (size_t i = 2; i < root.entries.size(); ++i) {
        const Entry& f = root.entries[i];
        if (!f.exists() || !f.isDir() || f.name != folder) continue;
        Directory dir = readDirectory(f.cluster, f.size, claims, "");
        freeDirectory(dir, 0);
        freeChain(f.cluster);
        uint8_t mode[2];
        putU16(mode, uint16_t(f.mode & ~M_EXISTS));
        writeBytes(allocOffset_ + root.chain.clusters[i / ENTRIES_PER_CLUSTER],
                   uint32_t(i % ENTRIES_PER_CLUSTER) * ENTRY_BYTES + uint32_t(ENTRY_MODE_OFFSET), mode, 2);
        return true;
    }
    error = "no save folder " + shown(folder) + " on the card";
    return false;
}

bool MemoryCard::deleteSave(std::string_view folder, std::string& error) {
    if (!structureSound(error)) return false;
    return removeSave(folder, error);
}

bool MemoryCard::importSave(const SaveContents& save, bool replace, std::string& error, bool* taken) {
    if (std::string why = nameProblem(save.folderName); !why.empty()) {
        error = "the folder name " + shown(save.folderName) + " " + why;
        return false;
    }
    // A folder's entries fill at most every allocatable cluster: a save with more files cannot
    // fit, and is refused before any per-file work.
    if (uint64_t(save.files.size()) + 2 > uint64_t(allocEnd_) * ENTRIES_PER_CLUSTER) {
        error = "not enough room on the card: the save holds " + std::to_string(save.files.size()) + " files";
        return false;
    }
    std::unordered_set<std::string_view> names;
    names.reserve(save.files.size());
    for (size_t i = 0; i < save.files.size(); ++i) {
        const SaveFile& f = save.files[i];
        if (std::string why = nameProblem(f.name); !why.empty()) {
            error = "the file name " + shown(f.name) + " " + why;
            return false;
        }
        if (!names.insert(f.name).second) {
            error = "the save holds two files named " + shown(f.name);
            return false;
        }
        if (f.data.size() > UINT32_MAX) {
            error = shown(f.name) + " is larger than a card file can be";
            return false;
        }
    }
    if (!structureSound(error)) return false;

    // Work on a copy, so a refusal half way leaves this card as it was.
    MemoryCard work = *this;
    {
        Claims claims(allocEnd_);
        Directory root;
        if (!readRoot(root, claims, error)) return false;
        for (size_t i = 2; i < root.entries.size(); ++i) {
            const Entry& e = root.entries[i];
            if (!e.exists() || e.name != save.folderName) continue;
            if (!e.isDir()) {
                error = "the card's root holds a file named " + shown(save.folderName);
                return false;
            }
            if (!replace) {
                error = "the card already holds " + shown(save.folderName) ;
                if (taken) *taken = true;
                return false;
            }
            if (!work.removeSave(save.folderName, error)) return false;
            break;
        }
    }
    if (!work.addSave(save, error)) return false;
    *this = std::move(work);
    return true;
}

bool MemoryCard::addSave(const SaveContents& save, std::string& error) {
    Claims claims(allocEnd_);
    Directory root;
    if (!readRoot(root, claims, error)) return false;

    // The slot: the first deleted entry, else one past the end (which may need a cluster).
    uint32_t slot = uint32_t(root.entries.size());
    for (size_t i = 2; i < root.entries.size(); ++i)
        if (!root.entries[i].exists()) {
            slot = uint32_t(i);
            break;
        }
    bool rootGrows = slot >= root.chain.clusters.size() * ENTRIES_PER_CLUSTER;

    uint64_t entries = uint64_t(save.files.size()) + 2;
    uint64_t needed = ceilDiv(entries, ENTRIES_PER_CLUSTER) + (rootGrows ? 1 : 0);
    for (const SaveFile& f : save.files) needed += ceilDiv(f.data.size(), CLUSTER_BYTES);
    uint32_t free = freeClusters();
    if (needed > free) {
        error = "not enough room on the card: the save needs " + std::to_string(needed) +
                " clusters of 1 KiB, " + std::to_string(free) + " are free";
        return false;
    }

    // Lowest free clusters first; each chain is linked as it grows.
    uint32_t next = 0;
    std::vector<uint32_t> fat = wholeFat();
    auto allocate = [&](uint32_t count) {
        std::vector<uint32_t> chain;
        while (chain.size() < count && next < allocEnd_) {
            uint32_t c = next++;
            if (!allocatable(c) || (fat[c] & FAT_IN_USE)) continue;
            chain.push_back(c);
        }
        return chain;
    };
    auto link = [&](const std::vector<uint32_t>& chain) {
        for (size_t i = 0; i < chain.size(); ++i)
            setFatEntry(chain[i], i + 1 < chain.size() ? FAT_IN_USE | chain[i + 1] : FAT_LAST);
    };
    std::vector<uint32_t> rootExtra = allocate(rootGrows ? 1 : 0);
    std::vector<uint32_t> folderChain = allocate(ceilDiv(entries, ENTRIES_PER_CLUSTER));
    std::vector<std::vector<uint32_t>> fileChains;
    for (const SaveFile& f : save.files) fileChains.push_back(allocate(ceilDiv(f.data.size(), CLUSTER_BYTES)));

    // Data first, then the FAT, then the entries, then the root entry: an interrupted write
    // leaves lost clusters at worst, never a folder pointing at garbage.
    std::vector<uint8_t> cluster(CLUSTER_BYTES);
    for (size_t i = 0; i < save.files.size(); ++i) {
        const std::vector<uint8_t>& data = save.files[i].data;
        for (size_t k = 0; k < fileChains[i].size(); ++k) {
            std::fill(cluster.begin(), cluster.end(), uint8_t(0));
            size_t at = k * CLUSTER_BYTES;
            std::memcpy(cluster.data(), data.data() + at, std::min<size_t>(CLUSTER_BYTES, data.size() - at));
            writeBytes(allocOffset_ + fileChains[i][k], 0, cluster.data(), CLUSTER_BYTES);
        }
    }
    for (const auto& chain : fileChains) link(chain);
    link(folderChain);
    if (rootGrows) {
        setFatEntry(root.chain.clusters.back(), FAT_IN_USE | rootExtra[0]);
        link(rootExtra);
        std::fill(cluster.begin(), cluster.end(), uint8_t(0));
        writeBytes(allocOffset_ + rootExtra[0], 0, cluster.data(), CLUSTER_BYTES);
        root.chain.clusters.push_back(rootExtra[0]);
    }

    const Entry& rootSelf = root.entries[0];
    std::vector<Entry> folder;
    Entry dot;
    dot.mode = MODE_DIRECTORY;
    dot.created = dot.modified = save.created;
    dot.cluster = 0;
    dot.dirEntry = slot;
    dot.name = ".";
    folder.push_back(dot);
    Entry dotdot;
    dotdot.mode = MODE_DIRECTORY;
    dotdot.created = rootSelf.created;
    dotdot.modified = rootSelf.modified;
    dotdot.name = "..";
    folder.push_back(dotdot);
    for (size_t i = 0; i < save.files.size(); ++i) {
        const SaveFile& f = save.files[i];
        Entry e;
        // The card must see a file whatever the source said.
        e.mode = uint16_t((f.mode & ~M_DIR) | M_EXISTS | M_FILE);
        e.size = uint32_t(f.data.size());
        e.created = f.created;
        e.modified = f.modified;
        e.cluster = fileChains[i].empty() ? NO_CLUSTER : fileChains[i][0];
        e.attribute = f.attribute;
        e.name = f.name;
        folder.push_back(e);
    }
    for (size_t k = 0; k < folderChain.size(); ++k) {
        std::fill(cluster.begin(), cluster.end(), uint8_t(0));
        for (size_t h = 0; h < ENTRIES_PER_CLUSTER && k * ENTRIES_PER_CLUSTER + h < folder.size(); ++h) {
            std::vector<uint8_t> b = folder[k * ENTRIES_PER_CLUSTER + h].encoded();
            std::memcpy(cluster.data() + h * ENTRY_BYTES, b.data(), ENTRY_BYTES);
        }
        writeBytes(allocOffset_ + folderChain[k], 0, cluster.data(), CLUSTER_BYTES);
    }

    Entry f;
    f.mode = uint16_t((save.folderMode & ~M_FILE) | M_EXISTS | M_DIR);
    f.size = uint32_t(entries);
    f.created = save.created;
    f.modified = save.modified;
    f.cluster = folderChain[0];
    f.attribute = save.attribute;
    f.name = save.folderName;
    std::vector<uint8_t> b = f.encoded();
    writeBytes(allocOffset_ + root.chain.clusters[slot / ENTRIES_PER_CLUSTER],
               (slot % ENTRIES_PER_CLUSTER) * ENTRY_BYTES, b.data(), ENTRY_BYTES);
    if (slot >= root.entries.size()) {
        uint8_t length[4];
        putU32(length, slot + 1);
        writeBytes(allocOffset_, uint32_t(ENTRY_SIZE_OFFSET), length, 4);
    }
    return true;
}

}  // namespace marrowin::card
