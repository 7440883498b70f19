// The card change protocol: lock, check, change, check again, replace.
#include "operations/card_change.h"

#include <cerrno>

#include "card/card_file.h"
#include "card/folder_card.h"

namespace marrowin {

namespace {

std::string lockedFileOf(const std::string& path) {
    if (!card::isFolderCard(path)) return path;
    const char last = path.empty() ? '/' : path.back();
    return path + (last == '/' || last == '\\' ? "" : "/") + card::FOLDER_CARD_MARKER;
}

}  // namespace

CardChange::Outcome CardChange::begin(const std::string& path, bool force, int waitMs) {
    card_ = card::Card{};
    before_.clear();
    problems_.clear();
    error_.clear();
    if (pathKind(path) == PathKind::Folder && !card::isFolderCard(path)) {
        card::openCard(path, card_, error_);  // says why it is no card
        return Outcome::Failed;
    }
    // Another change replaces a card image by a new file: the lock taken on the old one is then
    // worth nothing, and the file the path names now is locked instead.
    for (int attempt = 0;; ++attempt) {
        const std::string target = lockedFileOf(path);
        lock_ = openForChange(target);
        if (!lock_.isOpen()) {
            const int err = errno;
            card::Card probe;
            if (pathKind(target) == PathKind::File && (err == EACCES || err == EPERM || err == EROFS))
                error_ = path + ": cannot be changed: " + errnoText(err) + "; nothing changed";
            else if (card::openCard(path, probe, error_))  // else error_ says why it is no card
                error_ = path + ": cannot open: " + errnoText(err);
            return Outcome::Failed;
        }
        long holder = 0;
        const int err = lockFileExclusive(lock_, waitMs, holder);
        if (err == EWOULDBLOCK) {
            error_ = path + ": another change of this card is under way" +
                     (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) + "; waited " +
                     std::to_string(waitMs / 1000) + " s; nothing changed";
            return Outcome::Failed;
        }
        if (err) {
            error_ = path + ": cannot lock: " + errnoText(err);
            return Outcome::Failed;
        }
        FileState now;
        if (!stateOfFile(lock_, readState_)) {
            error_ = path + ": cannot read: " + errnoText(errno);
            return Outcome::Failed;
        }
        if (stateOfPath(target, now) && now.id == readState_.id) break;
        if (attempt >= 100) {
            error_ = path + ": replaced again and again while waiting for it; nothing changed";
            return Outcome::Failed;
        }
    }
    if (!card::openCard(path, lock_, card_, error_)) return Outcome::Failed;
    before_ = card_.check();
    if (hasErrors(before_) && !force) {
        for (const Problem& p : before_)
            if (p.severity == Severity::Error) problems_.push_back(p);
        return Outcome::Damaged;
    }
    return Outcome::Done;
}

CardChange::Outcome CardChange::commit(bool backup) {
    problems_.clear();
    if (card_.isFolder) return Outcome::Done;
    for (const Problem& p : card_.image.check()) {
        if (p.severity != Severity::Error) continue;
        bool known = false;
        for (const Problem& b : before_) known = known || (b.severity == p.severity && b.text == p.text);
        if (!known) problems_.push_back(p);
    }
    if (!problems_.empty()) return Outcome::WouldDamage;
    if (!HOST_REPLACES_OPEN_FILES) lock_.close();
    if (!card::replaceCardFile(card_.path, card_.image.image(), card_.original, backup, error_, &readState_))
        return Outcome::Failed;
    return Outcome::Done;
}

}  // namespace marrowin
