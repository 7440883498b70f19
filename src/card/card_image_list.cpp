// The card's saves: listing them and reading one out whole.
#include "card/card_ecc.h"
#include "card/memory_card_internal.h"
#include "icon/icon_sys.h"

namespace marrowin::card {

// ---- queries -------------------------------------------------------------------------------

bool MemoryCard::hasEcc() const { return ecc_; }
uint32_t MemoryCard::clusterSize() const { return pageSize_ * pagesPerCluster_; }

uint32_t MemoryCard::allocationLimit() const {
    // Cards too small for the rounding keep every cluster.
    return allocEnd_ >= 1000 ? allocEnd_ / 1000 * 1000 : allocEnd_;
}

uint32_t MemoryCard::freeClusters() const {
    std::vector<uint32_t> fat = wholeFat();
    uint32_t n = 0;
    for (uint32_t c = 0; c < allocEnd_; ++c)
        if (!(fat[c] & FAT_IN_USE) && allocatable(c)) ++n;
    return n;
}

uint32_t MemoryCard::freeClustersInFat() const {
    uint32_t n = 0;
    for (uint32_t v : wholeFat())
        if (!(v & FAT_IN_USE)) ++n;
    return n;
}

std::vector<const MemoryCard::Entry*> MemoryCard::saveFiles(const Directory& dir, const std::string& label,
                                                            std::vector<Problem>* problems) {
    std::vector<const Entry*> files;
    for (size_t j = 2; j < dir.entries.size(); ++j) {
        const Entry& e = dir.entries[j];
        if (!e.exists()) continue;
        if (e.isDir()) {
            addProblem(problems, Severity::Warning,
                       label + ": sub-directory " + shown(e.name) + " skipped (a save holds only files)");
            continue;
        }
        if (e.isFile()) files.push_back(&e);
    }
    return files;
}

std::vector<CardSave> MemoryCard::list(std::vector<Problem>* problems) const {
    std::vector<CardSave> saves;
    Claims claims(allocEnd_);
    Directory root;
    std::string error;
    if (!readRoot(root, claims, error)) {
        addProblem(problems, Severity::Error, error);
        return saves;
    }
    if (!root.chain.fault.empty())
        addProblem(problems, Severity::Error, "the root directory's chain " + root.chain.fault);
    if (root.entries.size() < root.length)
        addProblem(problems, Severity::Error,
                   "the root directory holds " + std::to_string(root.entries.size()) + " of its " +
                       std::to_string(root.length) + " entries");
    for (size_t i = 2; i < root.entries.size(); ++i) {
        const Entry& f = root.entries[i];
        if (!f.exists() || !f.isDir()) continue;
        CardSave s;
        s.name = f.name;
        s.mode = f.mode;
        s.created = f.created;
        s.modified = f.modified;
        std::string label = shown(f.name);
        Directory dir = readDirectory(f.cluster, f.size, claims, label);
        if (!dir.chain.fault.empty())
            addProblem(problems, Severity::Error, label + ": its chain " + dir.chain.fault);
        s.clusters = uint32_t(dir.chain.clusters.size());
        std::vector<std::string> names;
        Chain iconSys;
        uint32_t iconSysSize = 0;
        for (const Entry* file : saveFiles(dir, label, problems)) {
            const Entry& e = *file;
            ++s.fileCount;
            names.push_back(e.name);
            if (e.size == 0 && e.cluster == NO_CLUSTER) continue;
            std::string fileLabel = shown(f.name + "/" + e.name);
            Chain chain = walk(e.cluster, claims, fileLabel);
            if (!chain.fault.empty())
                addProblem(problems, Severity::Error, fileLabel + ": its chain " + chain.fault);
            s.clusters += uint32_t(chain.clusters.size());
            if (e.name == "icon.sys") {
                iconSys = std::move(chain);
                iconSysSize = e.size;
            }
        }
        s.bytes = uint64_t(s.clusters) * clusterSize();
        s.hasIconSys = std::find(names.begin(), names.end(), "icon.sys") != names.end();
        if (s.hasIconSys) {
            std::vector<uint8_t> sys = chainData(iconSys, iconSysSize);
            const IconSysFields fields = readIconSysFields(ByteView{sys.data(), sys.size()});
            s.titleUtf8 = saveTextToDisplay(fields.title);
            s.hasIcons = true;
            for (const std::string& icon : fields.iconNames)
                if (icon.empty() || std::find(names.begin(), names.end(), icon) == names.end())
                    s.hasIcons = false;
        }
        saves.push_back(std::move(s));
    }
    return saves;
}

bool MemoryCard::exportSave(std::string_view folder, SaveContents& out, std::string& error,
                            std::vector<Problem>* problems) const {
    Claims claims(allocEnd_);
    Directory root;
    if (!readRoot(root, claims, error)) return false;
    const Entry* f = nullptr;
    for (size_t i = 2; i < root.entries.size() && !f; ++i)
        if (root.entries[i].exists() && root.entries[i].isDir() && root.entries[i].name == folder)
            f = &root.entries[i];
    if (!f) {
        error = "no save folder " + shown(folder) + " on the card";
        return false;
    }
    std::string label = shown(f->name);
    Directory dir = readDirectory(f->cluster, f->size, claims, label);
    if (dir.entries.size() < f->size) {
        error = label + " is damaged: its directory chain " +
                (dir.chain.fault.empty() ? "is shorter than its " + std::to_string(f->size) + " entries"
                                         : dir.chain.fault);
        return false;
    }
    SaveContents s;
    s.folderName = f->name;
    s.folderMode = f->mode;
    s.created = f->created;
    s.modified = f->modified;
    s.attribute = f->attribute;
    for (const Entry* entry : saveFiles(dir, label, problems)) {
        const Entry& e = *entry;
        SaveFile file;
        file.name = e.name;
        file.mode = e.mode;
        file.created = e.created;
        file.modified = e.modified;
        file.attribute = e.attribute;
        if (!(e.size == 0 && e.cluster == NO_CLUSTER)) {
            std::string fileLabel = shown(f->name + "/" + e.name);
            Chain chain = walk(e.cluster, claims, fileLabel);
            if (uint64_t(chain.clusters.size()) * CLUSTER_BYTES < e.size) {
                error = fileLabel + " is damaged: its chain " +
                        (chain.fault.empty() ? "holds fewer bytes than its size " + std::to_string(e.size)
                                             : chain.fault);
                return false;
            }
            if (!chain.fault.empty())
                addProblem(problems, Severity::Error, fileLabel + ": its chain " + chain.fault);
            file.data = chainData(chain, e.size);
        }
        s.files.push_back(std::move(file));
    }
    out = std::move(s);
    return true;
}

}  // namespace marrowin::card
