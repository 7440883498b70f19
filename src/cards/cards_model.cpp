#include "cards/cards_model.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "archive/psu_contents.h"
#include "base/save_text.h"
#include "card/card.h"
#include "card/card_file.h"
#include "card/folder_card.h"
#include "card/memory_card.h"
#include "operations/archive_export.h"
#include "operations/card_change.h"
#include "operations/open_save.h"

namespace marrowin::cards {

namespace {

constexpr std::string_view CARD_MAGIC = "Sony PS2 Memory Card Format ";
constexpr uint32_t CLUSTER_BYTES = 1024;

// A card image is told by its superblock, whatever the file is called.
bool isCardImageFile(const std::string& path) {
    if (pathKind(path) != PathKind::File) return false;
    HostFile f = openForReading(path);
    if (!f.isOpen()) return false;
    char head[CARD_MAGIC.size()];
    return f.read(head, sizeof head) == sizeof head && std::string_view(head, sizeof head) == CARD_MAGIC;
}

bool isAnyCard(const std::string& path) { return card::isFolderCard(path) || isCardImageFile(path); }

// Folder names come from the save: nothing in them may steer a terminal or a list control.
std::string shownName(std::string_view saveText) {
    const std::string text = saveTextToDisplay(saveText);
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            static const char HEX[] = "0123456789abcdef";
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

// What a save takes on a standard card: its directory entries two to a cluster (with "." and
// ".."), and each file's data in whole clusters.
uint32_t clustersOnCard(const SaveContents& save) {
    uint64_t n = (uint64_t(save.files.size()) + 2 + 1) / 2;
    for (const SaveFile& f : save.files) n += (uint64_t(f.data.size()) + CLUSTER_BYTES - 1) / CLUSTER_BYTES;
    return uint32_t(std::min<uint64_t>(n, UINT32_MAX));
}

uint64_t dataBytes(const SaveContents& save) {
    uint64_t n = 0;
    for (const SaveFile& f : save.files) n += f.data.size();
    return n;
}

// Whether a card check's finding is about this save: the library names the save (or a file in
// it) in quotes at the start of its text, or in `where`.
bool concerns(const Problem& p, const std::string& folder, bool folderCard) {
    if (!p.where.empty()) return p.where == folder || p.where.rfind(folder + "/", 0) == 0;
    std::vector<std::string> labels{saveTextToDisplay(folder)};
    if (folderCard) {
        bool exact = false;
        labels.push_back(card::folderCardHostName(folder, exact));
    }
    for (const std::string& l : labels)
        if (p.text.rfind("\"" + l + "\"", 0) == 0 || p.text.rfind("\"" + l + "/", 0) == 0) return true;
    return false;
}

void countInto(SaveRow& row, const Problem& p) {
    if (p.severity == Severity::Error) {
        if (row.errors == 0) row.firstProblem = p.text;
        ++row.errors;
    } else {
        if (row.errors == 0 && row.warnings == 0) row.firstProblem = p.text;
        ++row.warnings;
    }
}

std::string groupedDigits(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string baseName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && (p.back() == '/' || (lastPathSeparator(p) == p.size() - 1))) p.pop_back();
    const size_t slash = lastPathSeparator(p);
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The reason a change stopped, in the library's words (the CLI adds its flags; a window has none).
std::string refusalText(const CardChange& change, CardChange::Outcome outcome, const std::string& path) {
    std::string text;
    switch (outcome) {
    case CardChange::Outcome::Done:
        break;
    case CardChange::Outcome::Failed:
        text = change.error();
        break;
    case CardChange::Outcome::Damaged:
        for (const Problem& p : change.problems()) text += path + ": error: " + p.text + "\n";
        text += path + ": the card is damaged; nothing changed";
        break;
    case CardChange::Outcome::WouldDamage:
        for (const Problem& p : change.problems()) text += path + ": the changed card would have an error: " + p.text + "\n";
        text += path + ": nothing written";
        break;
    }
    return text;
}

// A save file to put on a card, read whole in any container; false with the reason naming it.
bool readImportedSave(const std::string& path, SaveContents& out, std::string& error) {
    if (isAnyCard(path)) {
        error = path + ": a memory card, not a save: open it to copy its saves";
        return false;
    }
    return openSaveToImport(path, out, error);
}

// What is open; the model's State is this (a plain struct the loaders below can fill).
struct SourceState {
    SourceKind kind = SourceKind::None;
    std::string path;
    std::vector<SaveRow> rows;
    std::vector<Problem> cardProblems;
    CardSpace space;
    // What was read, to tell when it changed: the card file (or a folder card's marker and its
    // folder), or each loose save's file.
    std::vector<std::pair<std::string, FileState>> watched;
    // The card as read, for exports and pictures; the lock is never held past a change.
    card::Card card;
    // Loose saves: each as read, in the rows' order, with its container's own findings.
    std::vector<SaveContents> loose;
    std::vector<std::vector<Problem>> looseProblems;
    std::vector<std::string> paths;  // what open() was given, for reload()
    int lockWaitMs = CARD_LOCK_WAIT_MS;
};

}  // namespace

struct CardsModel::State : SourceState {};

namespace {

void watch(SourceState& s, const std::string& path) {
    FileState st;
    if (!stateOfPath(path, st)) st = FileState{};
    s.watched.emplace_back(path, st);
}

bool loadCard(const std::string& path, SourceState& s, std::string& error);
bool loadLoose(const std::vector<std::string>& paths, SourceState& s, std::string& error);
void importBatch(const std::string& cardPath, const std::vector<std::string>& files, const AskReplace& ask,
                 const Progress& progress, int waitMs, std::vector<ImportOutcome>& outcomes);

}  // namespace

std::string spaceText(const CardSpace& space) {
    return groupedDigits(space.freeClusters) + " of " + groupedDigits(space.totalClusters) + " clusters free";
}

CardsModel::CardsModel() : state_(std::make_unique<State>()) {}
CardsModel::~CardsModel() = default;

namespace {

bool loadCard(const std::string& path, SourceState& s, std::string& error) {
    s.path = path;
    const bool folder = card::isFolderCard(path);
    // Taken before reading, so a change made while we read shows as a change.
    if (folder) {
        watch(s, path + "/" + card::FOLDER_CARD_MARKER);
        watch(s, path);
    } else {
        watch(s, path);
    }
    if (!card::openCard(path, s.card, error)) return false;
    s.kind = s.card.isFolder ? SourceKind::FolderCard : SourceKind::CardImage;
    std::vector<Problem> found;
    const std::vector<card::CardSave> saves = s.card.list(&found);
    std::vector<Problem> checked = s.card.check();
    for (Problem& p : checked) {
        const bool seen = std::any_of(found.begin(), found.end(), [&](const Problem& q) { return q.text == p.text; });
        if (!seen) found.push_back(std::move(p));
    }
    for (const card::CardSave& v : saves) {
        SaveRow r;
        r.folder = v.name;
        r.folderShown = shownName(v.name);
        r.title = v.titleUtf8;
        r.bytes = v.bytes;
        r.clusters = v.clusters;
        r.modified = v.modified;
        s.rows.push_back(std::move(r));
    }
    for (const Problem& p : found) {
        bool placed = false;
        for (SaveRow& r : s.rows)
            if (concerns(p, r.folder, s.card.isFolder)) {
                countInto(r, p);
                placed = true;
                break;
            }
        if (!placed) s.cardProblems.push_back(p);
    }
    std::stable_sort(s.rows.begin(), s.rows.end(), [](const SaveRow& a, const SaveRow& b) { return a.folder < b.folder; });
    s.space.clusterSize = s.card.clusterSize();
    s.space.freeClusters = s.card.freeClusters();
    if (s.card.isFolder) {
        // The folder card's capacity: what its saves and root directory take, and what is free.
        uint64_t used = (uint64_t(saves.size()) + 2 + 1) / 2;
        for (const card::CardSave& v : saves) used += v.clusters;
        s.space.totalClusters = uint32_t(std::min<uint64_t>(used + s.space.freeClusters, UINT32_MAX));
    } else {
        s.space.totalClusters = s.card.image.allocationLimit();
    }
    return true;
}

bool loadLoose(const std::vector<std::string>& paths, SourceState& s, std::string& error) {
    s.kind = SourceKind::LooseSaves;
    s.path = paths.front();
    struct Item {
        SaveRow row;
        SaveContents contents;
        std::vector<Problem> problems;
    };
    std::vector<Item> items;
    for (const std::string& path : paths) {
        if (isAnyCard(path)) {
            error = path + ": a memory card: open it on its own";
            return false;
        }
        watch(s, path);
        OpenOptions what;
        what.image = false;
        what.contents = true;
        what.cards = false;
        OpenedSave opened;
        if (!openSave(path, what, opened, error)) return false;
        Item it;
        it.contents = std::move(opened.contents);
        it.problems = std::move(opened.problems);
        SaveRow& r = it.row;
        r.folder = it.contents.folderName;
        r.folderShown = shownName(r.folder);
        r.title = saveTextToDisplay(shiftJisTitleOf(it.contents));
        r.bytes = dataBytes(it.contents);
        r.clusters = clustersOnCard(it.contents);
        r.modified = it.contents.modified;
        for (const Problem& p : it.problems) countInto(r, p);
        r.sourcePath = path;
        r.container = opened.container == ContainerKind::Unknown ? ContainerKind::Psu : opened.container;
        items.push_back(std::move(it));
    }
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.row.folder < b.row.folder; });
    for (Item& it : items) {
        s.rows.push_back(std::move(it.row));
        s.loose.push_back(std::move(it.contents));
        s.looseProblems.push_back(std::move(it.problems));
    }
    // A standard card's room, for what the selection would need.
    s.space = CardSpace{};
    return true;
}

}  // namespace

bool CardsModel::open(const std::vector<std::string>& paths, std::string& error) {
    if (paths.empty()) {
        error = "nothing to open";
        return false;
    }
    auto next = std::make_unique<State>();
    next->lockWaitMs = state_->lockWaitMs;
    next->paths = paths;
    const bool ok = paths.size() == 1 && isAnyCard(paths[0]) ? loadCard(paths[0], *next, error)
                                                              : loadLoose(paths, *next, error);
    if (!ok) return false;
    state_ = std::move(next);
    return true;
}

void CardsModel::close() {
    const int wait = state_->lockWaitMs;
    state_ = std::make_unique<State>();
    state_->lockWaitMs = wait;
}

void CardsModel::setLockWait(int waitMs) { state_->lockWaitMs = waitMs; }

SourceKind CardsModel::kind() const { return state_->kind; }
const std::string& CardsModel::path() const { return state_->path; }
std::string CardsModel::displayName() const { return state_->path.empty() ? std::string() : baseName(state_->path); }
const std::vector<SaveRow>& CardsModel::rows() const { return state_->rows; }
const std::vector<Problem>& CardsModel::cardProblems() const { return state_->cardProblems; }
CardSpace CardsModel::space() const { return state_->space; }

uint32_t CardsModel::clustersNeeded(const std::vector<size_t>& rows) const {
    uint64_t n = 0;
    for (size_t i : rows)
        if (i < state_->rows.size()) n += state_->rows[i].clusters;
    return uint32_t(std::min<uint64_t>(n, UINT32_MAX));
}

bool CardsModel::changedOnDisk() const {
    for (const auto& [path, was] : state_->watched) {
        FileState now;
        if (!stateOfPath(path, now)) now = FileState{};
        if (!(now == was)) return true;
    }
    return false;
}

bool CardsModel::reload(std::string& error) {
    if (state_->kind == SourceKind::None) return true;
    const std::vector<std::string> paths = state_->paths;
    return open(paths, error);
}

bool CardsModel::saveOf(size_t row, SaveContents& out, std::string& error) const {
    const State& s = *state_;
    if (row >= s.rows.size()) {
        error = "no such save";
        return false;
    }
    if (s.kind == SourceKind::LooseSaves) {
        out = s.loose[row];
        return true;
    }
    return s.card.exportSave(s.rows[row].folder, out, error);
}

bool CardsModel::imageOf(size_t row, SaveImage& out, std::string& error) const {
    SaveContents save;
    if (!saveOf(row, save, error)) return false;
    error.clear();
    out = psuImageOf(save, &error);
    if (out.empty()) {
        if (error.empty()) error = "not enough memory for the save";
        return false;
    }
    return true;
}

std::vector<ImportOutcome> CardsModel::importFiles(const std::vector<std::string>& files, const AskReplace& ask,
                                                   const Progress& progress) {
    std::vector<ImportOutcome> outcomes;
    for (const std::string& f : files) outcomes.push_back({f, ImportOutcome::Kind::Failed, {}});
    if (!isCard()) {
        for (ImportOutcome& o : outcomes) o.message = "no card is open to import into";
        return outcomes;
    }
    const std::string cardPath = state_->path;
    importBatch(cardPath, files, ask, progress, state_->lockWaitMs, outcomes);
    // Reread whatever happened: the card may have changed even where this batch failed.
    std::string error;
    reload(error);
    return outcomes;
}

namespace {

// One change for the whole batch: the lock is let go when it returns.
void importBatch(const std::string& cardPath, const std::vector<std::string>& files, const AskReplace& ask,
                 const Progress& progress, int waitMs, std::vector<ImportOutcome>& outcomes) {
    CardChange change;
    const CardChange::Outcome began = change.begin(cardPath, false, waitMs);
    if (began != CardChange::Outcome::Done) {
        const std::string why = refusalText(change, began, cardPath);
        for (ImportOutcome& o : outcomes) o.message = why;
        return;
    }
    card::Card& c = change.card();
    // Japan time on a card image, as a console stamps; UTC on a folder card, which the emulator
    // reads as UTC.
    const Stamp now = stampNow(c.isFolder ? StampClock::Utc : StampClock::Japan);
    std::vector<card::CardSave> onCard = c.list(nullptr);
    bool changed = false;
    for (size_t i = 0; i < files.size(); ++i) {
        if (progress && !progress(i, files.size())) {
            for (size_t k = i; k < files.size(); ++k) {
                outcomes[k].kind = ImportOutcome::Kind::Skipped;
                outcomes[k].message = "stopped";
            }
            break;
        }
        ImportOutcome& o = outcomes[i];
        SaveContents save;
        std::string error;
        if (!readImportedSave(files[i], save, error)) {
            o.message = error;
            continue;
        }
        completeMetadata(save, now);
        bool taken = false;
        bool replaced = false;
        if (!c.importSave(save, false, error, &taken) && taken) {
            ImportQuestion q;
            q.path = files[i];
            q.folderShown = shownName(save.folderName);
            q.incomingTitle = saveTextToDisplay(shiftJisTitleOf(save));
            for (const card::CardSave& v : onCard)
                if (v.name == save.folderName) q.existingTitle = v.titleUtf8;
            if (!ask || !ask(q)) {
                o.kind = ImportOutcome::Kind::Skipped;
                o.message = error;
                continue;
            }
            error.clear();
            replaced = true;
            if (c.importSave(save, true, error)) error.clear();
        }
        if (!error.empty()) {
            o.kind = error.rfind("not enough room", 0) == 0 ? ImportOutcome::Kind::NoRoom : ImportOutcome::Kind::Failed;
            o.message = files[i] + ": " + error;
            continue;
        }
        o.kind = replaced ? ImportOutcome::Kind::Replaced : ImportOutcome::Kind::Imported;
        changed = true;
        onCard = c.list(nullptr);
    }
    if (progress) progress(files.size(), files.size());
    if (changed) {
        const CardChange::Outcome done = change.commit(true);
        if (done != CardChange::Outcome::Done) {
            const std::string why = refusalText(change, done, cardPath);
            for (ImportOutcome& o : outcomes)
                if (o.kind == ImportOutcome::Kind::Imported || o.kind == ImportOutcome::Kind::Replaced) {
                    o.kind = ImportOutcome::Kind::Failed;
                    o.message = why;
                }
        }
    }
}

}  // namespace

bool CardsModel::exportSaves(const std::vector<size_t>& rows, const std::string& folder, ContainerKind container,
                             const AskOverwrite& ask, std::vector<std::string>& written, std::string& error,
                             const Progress& progress) {
    written.clear();
    error.clear();
    if (containerWord(container)[0] == 0) {
        error = "no container chosen to export into";
        return false;
    }
    const OpenFolder out = openFolder(folder);
    if (!out.isOpen()) {
        error = folder + ": cannot open the folder: " + errnoText(errno);
        return false;
    }
    // Never written over: the card itself, nor a loose save being exported.
    std::vector<FileId> sources;
    for (const auto& [path, st] : state_->watched) {
        FileId id;
        if (identityOfPath(path, id)) sources.push_back(id);
    }
    std::vector<std::string> failures;
    auto fail = [&](const std::string& text) { failures.push_back(text); };
    for (size_t k = 0; k < rows.size(); ++k) {
        if (progress && !progress(k, rows.size())) break;
        const size_t row = rows[k];
        if (row >= state_->rows.size()) {
            fail("no such save");
            continue;
        }
        const SaveRow& r = state_->rows[row];
        SaveContents save;
        std::vector<uint8_t> bytes;
        std::string why;
        std::vector<Problem> left;
        bool exported;
        if (state_->kind == SourceKind::LooseSaves) {
            exported = saveOf(row, save, why);
        } else {
            exported = state_->card.exportSave(r.folder, save, why, &left);
        }
        // What a container cannot hold is left out and said: nothing is lost quietly.
        for (const Problem& p : left) fail(r.folderShown + ": left out: " + p.text);
        if (!exported || !writeContainer(container, save, bytes, why)) {
            fail(r.folderShown + ": " + why);
            continue;
        }
        const std::string name = extractedFileName(r.folder, NATIVE_HOST_NAME_STYLE, false) + "." + containerWord(container);
        const std::string target = folder + "/" + name;
        const NameInfo there = lookUpName(out.ref(), name);
        bool replace = false;
        if (there.kind != PathKind::Missing) {
            FileId id;
            if (identityOfPath(target, id) && std::find(sources.begin(), sources.end(), id) != sources.end()) {
                fail(r.folderShown + ": " + target + " is what is being exported; not replaced");
                continue;
            }
            if (there.kind != PathKind::File) {
                fail(r.folderShown + ": " + target + ": not a regular file; not replaced");
                continue;
            }
            if (!ask || !ask(target)) continue;
            replace = true;
        }
        TemporaryFile temp;
        int err = 0;
        if (!temp.create(out.ref()) || !temp.file().write(bytes.data(), bytes.size()) || !temp.finish())
            err = errno ? errno : EIO;
        else
            err = replace ? temp.placeReplacing(name) : temp.placeWithoutReplacing(name);
        if (err) {
            fail(r.folderShown + ": " + target + ": " + (err == EEXIST ? std::string("already exists") : errnoText(err)));
            continue;
        }
        written.push_back(target);
    }
    if (progress) progress(rows.size(), rows.size());
    if (!written.empty() && !syncFolder(out.ref())) fail(folder + ": cannot sync the folder: " + errnoText(errno));
    for (const std::string& f : failures) error += (error.empty() ? "" : "\n") + f;
    return failures.empty();
}

bool CardsModel::deleteSaves(const std::vector<size_t>& rows, std::string& error) {
    error.clear();
    if (!isCard()) {
        error = "no card is open to delete from";
        return false;
    }
    std::vector<std::string> folders;
    for (size_t i : rows)
        if (i < state_->rows.size()) folders.push_back(state_->rows[i].folder);
    if (folders.empty()) return true;
    const std::string cardPath = state_->path;
    bool ok = true;
    {
        CardChange change;
        const CardChange::Outcome began = change.begin(cardPath, false, state_->lockWaitMs);
        if (began != CardChange::Outcome::Done) {
            error = refusalText(change, began, cardPath);
            return false;
        }
        std::vector<std::string> failures;
        bool changed = false;
        for (const std::string& f : folders) {
            std::string why;
            if (change.card().deleteSave(f, why)) changed = true;
            else failures.push_back(shownName(f) + ": " + why);
        }
        if (changed) {
            const CardChange::Outcome done = change.commit(true);
            if (done != CardChange::Outcome::Done) failures.push_back(refusalText(change, done, cardPath));
        }
        for (const std::string& f : failures) error += (error.empty() ? "" : "\n") + f;
        ok = failures.empty();
    }
    std::string reread;
    if (!reload(reread) && ok) {
        error = reread;
        ok = false;
    }
    return ok;
}

std::string CardsModel::checkReport() const {
    const State& s = *state_;
    std::string report;
    if (s.kind == SourceKind::None) return "nothing is open\n";
    if (s.kind == SourceKind::LooseSaves) {
        for (size_t i = 0; i < s.rows.size(); ++i) {
            const std::string& shown = s.rows[i].sourcePath;
            for (const Problem& p : s.looseProblems[i])
                report += shown + ": " + severityWord(p.severity) + ": " + p.text + "\n";
            if (s.looseProblems[i].empty()) report += shown + ": ok\n";
        }
        return report;
    }
    // The card as it is on disk now, as the CLI's check reads it.
    card::Card c;
    std::string error;
    if (!card::openCard(s.path, c, error)) return s.path + ": error: " + error + "\n";
    const std::vector<Problem> problems = c.check();
    for (const Problem& p : problems) report += s.path + ": " + severityWord(p.severity) + ": " + p.text + "\n";
    const size_t errors = countProblems(problems, Severity::Error);
    if (problems.empty())
        report += s.path + ": ok\n";
    else
        report += s.path + ": " + std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
                  std::to_string(problems.size() - errors) + " other\n";
    return report;
}

bool CardsModel::newCard(const std::string& path, NewCardKind kind, std::string& error) {
    if (kind == NewCardKind::Folder) return card::FolderCard::format(path, error);
    return card::writeNewCardFile(path, card::MemoryCard::format(kind == NewCardKind::ImageWithEcc), false, error);
}

// ---- pictures ------------------------------------------------------------------------------

PictureCache::PictureCache(PictureDrawer& drawer, uint32_t size) : drawer_(drawer), size_(size) {}

void PictureCache::clear() { entries_.clear(); }

const std::vector<uint8_t>& PictureCache::pictureOf(const CardsModel& model, size_t row) {
    static const std::vector<uint8_t> NONE;
    if (row >= model.rows().size()) return NONE;
    const SaveRow& r = model.rows()[row];
    std::string key = (r.sourcePath.empty() ? model.path() : r.sourcePath) + '\0' + r.folder + '\0';
    key.append(reinterpret_cast<const char*>(r.modified.data()), r.modified.size());
    key += '\0' + std::to_string(r.bytes);
    for (const Entry& e : entries_)
        if (e.key == key) return e.rgba;
    Entry e;
    e.key = std::move(key);
    SaveImage image;
    std::string error;
    if (!model.imageOf(row, image, error) || !drawer_.draw(image, size_, e.rgba, error)) e.rgba.clear();
    entries_.push_back(std::move(e));
    return entries_.back().rgba;
}

}  // namespace marrowin::cards
