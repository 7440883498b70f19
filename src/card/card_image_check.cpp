// Checking a card's file system: chains, directories, lost clusters.
#include "card/card_ecc.h"
#include "card/memory_card_internal.h"

namespace marrowin::card {

// ---- checking ------------------------------------------------------------------------------

std::vector<Problem> MemoryCard::check(bool withEcc) const {
    std::vector<Problem> problems;
    for (int32_t bad : badBlocks_)
        if (bad >= 0 && uint64_t(bad) * pagesPerBlock_ >= uint64_t(clustersPerCard_) * pagesPerCluster_)
            problems.push_back({Severity::Warning, {}, 0,
                                "the bad block list names block " + std::to_string(bad) + ", past the card's end"});
    if (ecc_ && withEcc) checkEcc(problems, nullptr);
    checkStructure(problems);
    return problems;
}

void MemoryCard::checkStructure(std::vector<Problem>& problems) const {
    using K = Severity;
    Claims claims(allocEnd_);
    Directory root;
    std::string error;
    if (!readRoot(root, claims, error)) {
        problems.push_back({K::Error, {}, 0, error});
        return;
    }
    checkDirectory(root, "the root directory", true, claims, 0, problems);

    // FAT entries in use that no chain reached.
    uint32_t lost = 0, unreadable = 0;
    std::vector<bool> unread;
    std::vector<uint32_t> fat = wholeFat(&unread);
    for (uint32_t c = 0; c < allocEnd_; ++c) {
        if (unread[c]) ++unreadable;
        else if ((fat[c] & FAT_IN_USE) && claims.owner[c] == 0) ++lost;
    }
    if (unreadable)
        problems.push_back({K::Error, {}, 0, std::to_string(unreadable) +
                                          " FAT entries cannot be read (their FAT cluster is outside the card)"});
    if (lost)
        problems.push_back({K::Warning, {}, 0, std::to_string(lost) +
                                            " clusters are marked in use but belong to no file or folder "
                                            "(lost clusters; their space is wasted)"});
}

void MemoryCard::checkDirectory(const Directory& dir, const std::string& label, bool isRoot,
                                Claims& claims, int depth, std::vector<Problem>& problems) const {
    using K = Severity;
    if (!dir.chain.fault.empty()) problems.push_back({K::Error, {}, 0, label + ": its chain " + dir.chain.fault});
    uint32_t needed = ceilDiv(uint64_t(dir.length) * ENTRY_BYTES, CLUSTER_BYTES);
    if (dir.chain.fault.empty() && dir.chain.clusters.size() != needed)
        problems.push_back({K::Error, {}, 0, label + ": its chain has " + std::to_string(dir.chain.clusters.size()) +
                                          " clusters; " + std::to_string(dir.length) + " entries need " +
                                          std::to_string(needed)});
    if (dir.length < 2) {
        problems.push_back({K::Error, {}, 0, label + ": its length " + std::to_string(dir.length) +
                                          " leaves no room for \".\" and \"..\""});
    }
    const char* dots[2] = {".", ".."};
    for (size_t i = 0; i < 2 && i < dir.entries.size(); ++i) {
        const Entry& e = dir.entries[i];
        if (!e.exists() || !e.isDir() || e.name != dots[i])
            problems.push_back({K::Error, {}, 0, label + ": entry " + std::to_string(i) + " is not \"" + dots[i] + "\""});
    }
    if (isRoot && !dir.entries.empty() && dir.entries[0].cluster != 0)
        problems.push_back({K::Error, {}, 0, "the root directory's \".\" entry points to cluster " +
                                          std::to_string(dir.entries[0].cluster) + " (0 expected)"});

    std::vector<std::string> names;
    for (size_t j = 2; j < dir.entries.size(); ++j) {
        const Entry& e = dir.entries[j];
        if (!e.exists()) continue;
        std::string prefix = isRoot ? "" : label.substr(1, label.size() - 2) + "/";
        std::string entryLabel = "\"" + prefix + saveTextToDisplay(e.name) + "\"";
        if (std::string why = nameProblem(e.name); !why.empty())
            problems.push_back({K::Error, {}, 0, label + ": the name of entry " + std::to_string(j) + " " + why});
        if (std::find(names.begin(), names.end(), e.name) != names.end())
            problems.push_back({K::Error, {}, 0, label + ": " + entryLabel + " appears twice"});
        names.push_back(e.name);
        if (e.isDir() == e.isFile()) {
            problems.push_back({K::Error, {}, 0, entryLabel + ": its mode " + std::to_string(e.mode) +
                                              " is neither a file's nor a folder's"});
            continue;
        }
        if (e.isFile()) {
            if (e.cluster == NO_CLUSTER) {
                if (e.size != 0)
                    problems.push_back({K::Error, {}, 0, entryLabel + ": " + std::to_string(e.size) +
                                                      " bytes but no cluster"});
                continue;
            }
            Chain chain = walk(e.cluster, claims, entryLabel);
            if (!chain.fault.empty()) {
                problems.push_back({K::Error, {}, 0, entryLabel + ": its chain " + chain.fault});
                continue;
            }
            uint32_t want = ceilDiv(e.size, CLUSTER_BYTES);
            if (chain.clusters.size() != want)
                problems.push_back({K::Error, {}, 0, entryLabel + ": its chain has " + std::to_string(chain.clusters.size()) +
                                                  " clusters; " + std::to_string(e.size) + " bytes need " +
                                                  std::to_string(want)});
            continue;
        }
        if (depth + 1 >= MAX_DEPTH) {
            problems.push_back({K::Error, {}, 0, entryLabel + ": folders nested too deep"});
            continue;
        }
        Directory sub = readDirectory(e.cluster, e.size, claims, entryLabel);
        checkDirectory(sub, entryLabel, false, claims, depth + 1, problems);
    }
}

bool MemoryCard::structureSound(std::string& error) const {
    std::vector<Problem> problems;
    checkStructure(problems);
    for (const Problem& p : problems) {
        if (p.severity == Severity::Error) {
            error = "the card's file system is damaged (" + p.text + "); nothing was changed";
            return false;
        }
    }
    return true;
}

}  // namespace marrowin::card
