#pragma once
// Changing a card without ever leaving it damaged or losing another run's change: lock it, check
// it, change it in memory, check it again, write the whole new image beside it, sync, keep the
// old one as CARD.bak, and only then put the new one in its place.
#include <string>
#include <vector>

#include "base/host_files.h"
#include "base/problem.h"
#include "card/card.h"

namespace marrowin {

// How long a change waits for another one on the same card before it gives up.
constexpr int CARD_LOCK_WAIT_MS = 10000;

class CardChange {
public:
    enum class Outcome {
        Done,
        Failed,       // error() says why; nothing changed
        Damaged,      // the card's check found the errors in problems(); nothing changed
        WouldDamage,  // the changed card would have the new errors in problems(); nothing written
    };

    // Locks the card (a card image's file, a folder card's FOLDER_CARD_MARKER) for the whole
    // change, waiting up to waitMs for another change to end, then reads and checks it. A
    // damaged card is refused unless force.
    Outcome begin(const std::string& path, bool force, int waitMs = CARD_LOCK_WAIT_MS);

    card::Card& card() { return card_; }
    // What the check at begin() found.
    const std::vector<Problem>& before() const { return before_; }

    // Puts a changed card image in place of the old one (see card::replaceCardFile), after
    // checking it again: a new image with errors the old one did not have is never written.
    // A folder card is written as it changes: nothing is left to do for it.
    Outcome commit(bool backup);

    const std::string& error() const { return error_; }
    const std::vector<Problem>& problems() const { return problems_; }

private:
    card::Card card_;
    HostFile lock_;  // the card is read through it and it stays open to the end
    FileState readState_;
    std::vector<Problem> before_, problems_;
    std::string error_;
};

}  // namespace marrowin
