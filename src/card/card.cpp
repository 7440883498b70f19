// The one face over both kinds of card.
#include "card/card.h"

#include "card/card_file.h"

namespace marrowin::card {

std::vector<CardSave> Card::list(std::vector<Problem>* p) const { return isFolder ? folder.list(p) : image.list(p); }

uint32_t Card::freeClusters() const { return isFolder ? folder.freeClusters() : image.freeClusters(); }

uint32_t Card::clusterSize() const { return isFolder ? folder.clusterSize() : image.clusterSize(); }

bool Card::exportSave(std::string_view name, SaveContents& out, std::string& error,
                      std::vector<Problem>* problems) const {
    return isFolder ? folder.exportSave(name, out, error, problems) : image.exportSave(name, out, error, problems);
}

std::vector<Problem> Card::check() const {
    std::vector<Problem> all = openProblems;
    // open() has checked every page's ECC of an image already.
    std::vector<Problem> rest = isFolder ? folder.check() : image.check(false);
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

const char* Card::kind() const {
    if (isFolder) return "folder card";
    return image.hasEcc() ? "card image with ECC" : "card image without ECC";
}

bool Card::importSave(const SaveContents& save, bool replace, std::string& error, bool* taken) {
    return isFolder ? folder.importSave(save, replace, error, taken) : image.importSave(save, replace, error, taken);
}

bool Card::deleteSave(std::string_view name, std::string& error) {
    return isFolder ? folder.deleteSave(name, error) : image.deleteSave(name, error);
}

namespace {

bool openCardWith(const std::string& path, HostFile* opened, Card& out, std::string& error) {
    out.path = path;
    if (isFolderCard(path)) {
        out.isFolder = true;
        return FolderCard::open(path, out.folder, error, opened);
    }
    if (pathKind(path) == PathKind::Folder) {
        error = path + ": a folder, but no folder card (no " + FOLDER_CARD_MARKER + ")";
        return false;
    }
    if (!(opened ? readOpenCardFile(*opened, path, out.original, error) : readCardFile(path, out.original, error)))
        return false;
    std::string why;
    if (!MemoryCard::open(out.original, out.image, out.openProblems, why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace

bool openCard(const std::string& path, Card& out, std::string& error) {
    return openCardWith(path, nullptr, out, error);
}

bool openCard(const std::string& path, HostFile& opened, Card& out, std::string& error) {
    return openCardWith(path, &opened, out, error);
}

}  // namespace marrowin::card
