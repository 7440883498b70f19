// The card change protocol in-process: a change holds the card from reading to replacing, and
// never writes over a card that is no longer the one it read.
#include <gtest/gtest.h>

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
#ifdef _WIN32
#include <chrono>
#include <filesystem>
#endif

#include "card/card_file.h"
#include "card/folder_card.h"
#include "card/memory_card.h"
#include "export_test_support.h"
#include "fixtures.h"
#include "operations/card_change.h"

namespace marrowin {
namespace {

using Outcome = CardChange::Outcome;
using fixtures::Bytes;
using testing::TempDir;

SaveContents smallSave(const std::string& folder, uint8_t seed) {
    SaveContents s;
    s.folderName = folder;
    s.created = s.modified = stampOf(2020, 1, 2, 3, 4, 5);
    SaveFile f;
    f.name = "data";
    f.created = f.modified = s.created;
    f.data = testing::patternBytes(3000, seed);
    s.files.push_back(f);
    return s;
}

std::vector<std::string> foldersOn(const std::string& path) {
    card::Card c;
    std::string error;
    EXPECT_TRUE(card::openCard(path, c, error)) << error;
    std::vector<std::string> names;
    for (const card::CardSave& s : c.list(nullptr)) names.push_back(s.name);
    return names;
}

std::string newCard(const TempDir& dir, bool folder) {
    const std::string path = dir / "card";
    std::string error;
    EXPECT_TRUE(folder ? card::FolderCard::format(path, error)
                       : card::writeNewCardFile(path, card::MemoryCard::format(true), false, error))
        << error;
    return path;
}

#ifndef _WIN32
// A child process that holds a change of the card open for holdMs, then ends without writing.
// Gives its pid once it holds the card.
pid_t holdCard(const std::string& path, int holdMs) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        CardChange change;
        const bool held = change.begin(path, false, 0) == Outcome::Done;
        char c = held ? '1' : '0';
        (void)!write(ready[1], &c, 1);
        usleep(useconds_t(holdMs) * 1000);
        _exit(held ? 0 : 1);
    }
    char c = 0;
    (void)!read(ready[0], &c, 1);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(c, '1');
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

#endif

TEST(CardChange, CommitsTheChangedCardAndKeepsTheOldAsBackup) {
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder card" : "card image");
        TempDir dir;
        const std::string path = newCard(dir, folder);
        CardChange change;
        ASSERT_EQ(change.begin(path, false), Outcome::Done) << change.error();
        std::string error;
        ASSERT_TRUE(change.card().importSave(smallSave("BASLUS-00001", 1), false, error)) << error;
        ASSERT_EQ(change.commit(true), Outcome::Done) << change.error();
        EXPECT_EQ(foldersOn(path), std::vector<std::string>{"BASLUS-00001"});
        if (!folder) {
            EXPECT_TRUE(foldersOn(path + ".bak").empty());
        }
    }
}

#ifndef _WIN32
// Other processes holding the card, from fork: POSIX only.
TEST(CardChange, AnotherHolderMakesItWaitThenFailNamingIt) {
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder card" : "card image");
        TempDir dir;
        const std::string path = newCard(dir, folder);
        const pid_t holder = holdCard(path, 800);
        CardChange change;
        EXPECT_EQ(change.begin(path, false, 200), Outcome::Failed);
        EXPECT_NE(change.error().find("process " + std::to_string(holder)), std::string::npos) << change.error();
        // Given long enough, the same change gets the card once the holder lets go.
        CardChange patient;
        EXPECT_EQ(patient.begin(path, false, 5000), Outcome::Done) << patient.error();
        EXPECT_EQ(waitFor(holder), 0);
    }
}

TEST(CardChange, AWaiterLocksTheCardThatReplacedTheOneItWaitedFor) {
    TempDir dir;
    const std::string path = newCard(dir, false);
    // The child imports a save and replaces the card while the parent waits for it.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        CardChange change;
        bool ok = change.begin(path, false, 0) == Outcome::Done;
        char c = '1';
        (void)!write(go[1], &c, 1);
        usleep(300 * 1000);
        std::string error;
        ok = ok && change.card().importSave(smallSave("BASLUS-00001", 1), false, error) &&
             change.commit(false) == Outcome::Done;
        _exit(ok ? 0 : 1);
    }
    char c = 0;
    ASSERT_EQ(read(go[0], &c, 1), 1);
    close(go[0]);
    close(go[1]);
    CardChange change;
    ASSERT_EQ(change.begin(path, false, 5000), Outcome::Done) << change.error();
    EXPECT_EQ(waitFor(pid), 0);
    std::string error;
    ASSERT_TRUE(change.card().importSave(smallSave("BASLUS-00002", 2), false, error)) << error;
    ASSERT_EQ(change.commit(false), Outcome::Done) << change.error();
    EXPECT_EQ(foldersOn(path), (std::vector<std::string>{"BASLUS-00001", "BASLUS-00002"}));
}

#endif

TEST(CardChange, ACardChangedBehindItsBackIsNotWrittenOver) {
    TempDir dir;
    const std::string path = newCard(dir, false);
    CardChange change;
    ASSERT_EQ(change.begin(path, false), Outcome::Done) << change.error();
    std::string error;
    ASSERT_TRUE(change.card().importSave(smallSave("BASLUS-00001", 1), false, error)) << error;
    // A program that takes no lock puts another card in its place meanwhile.
    card::MemoryCard other;
    std::vector<Problem> problems;
    ASSERT_TRUE(card::MemoryCard::open(card::MemoryCard::format(true), other, problems, error)) << error;
    ASSERT_TRUE(other.importSave(smallSave("BASLUS-99999", 9), false, error)) << error;
#ifdef _WIN32
    // Windows lets nobody replace a file that is open: the other program writes over its
    // bytes instead, as the card is shared for writing.
    {
        testing::writeFile(path, other.image());
        namespace files = std::filesystem;
        const files::path native = testing::nativePath(path);
        files::last_write_time(native, files::last_write_time(native) + std::chrono::seconds(5));
    }
#else
    ASSERT_TRUE(card::writeNewCardFile(path, other.image(), true, error)) << error;
#endif
    EXPECT_EQ(change.commit(true), Outcome::Failed);
    EXPECT_NE(change.error().find("changed by another program"), std::string::npos) << change.error();
    EXPECT_EQ(foldersOn(path), std::vector<std::string>{"BASLUS-99999"});
    EXPECT_FALSE(testing::exists(path + ".bak"));
}

#ifndef _WIN32
TEST(CardChange, ACardTheUserCannotWriteIsLeftAlone) {
    // Regression: the card was replaced by rename, which a read-only file does not stop.
    TempDir dir;
    const std::string path = newCard(dir, false);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const Bytes before = fixtures::readFileBytes(path);
    // Root may write any file: the change then runs as an ordinary user in a child process.
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    }
    const pid_t pid = asRoot ? fork() : 0;
    if (pid == 0) {
        if (asRoot && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        CardChange change;
        const bool refused = change.begin(path, false) == Outcome::Failed &&
                             change.error().find("cannot be changed") != std::string::npos;
        if (asRoot) _exit(refused ? 0 : 1);
        EXPECT_TRUE(refused) << change.error();
    } else {
        EXPECT_EQ(waitFor(pid), 0);
    }
    EXPECT_TRUE(fixtures::readFileBytes(path) == before);
}
#endif

#ifdef _WIN32
// Windows locks belong to the handle, so a second change in this process stands for another
// program's.
TEST(CardChange, AnotherHolderMakesItWaitThenFail) {
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder card" : "card image");
        TempDir dir;
        const std::string path = newCard(dir, folder);
        {
            CardChange holder;
            ASSERT_EQ(holder.begin(path, false, 0), Outcome::Done) << holder.error();
            CardChange change;
            EXPECT_EQ(change.begin(path, false, 200), Outcome::Failed);
            EXPECT_NE(change.error().find("another change of this card is under way"), std::string::npos)
                << change.error();
        }
        CardChange later;
        EXPECT_EQ(later.begin(path, false, 0), Outcome::Done) << later.error();
    }
}

// What a commit on Windows lets go of before replacing the card is taken again by the next one.
TEST(CardChange, ChangesOneAfterAnotherKeepEachOthersSaves) {
    TempDir dir;
    const std::string path = newCard(dir, false);
    for (uint8_t k = 1; k <= 2; ++k) {
        CardChange change;
        ASSERT_EQ(change.begin(path, false), Outcome::Done) << change.error();
        std::string error;
        ASSERT_TRUE(change.card().importSave(smallSave("BASLUS-0000" + std::to_string(k), k), false, error))
            << error;
        ASSERT_EQ(change.commit(true), Outcome::Done) << change.error();
    }
    EXPECT_EQ(foldersOn(path), (std::vector<std::string>{"BASLUS-00001", "BASLUS-00002"}));
    EXPECT_EQ(foldersOn(path + ".bak"), std::vector<std::string>{"BASLUS-00001"});
}

TEST(CardChange, ACardTheUserCannotWriteIsLeftAlone) {
    TempDir dir;
    const std::string path = newCard(dir, false);
    namespace files = std::filesystem;
    files::permissions(testing::nativePath(path), files::perms::owner_write | files::perms::group_write |
                                                      files::perms::others_write,
                       files::perm_options::remove);
    const Bytes before = fixtures::readFileBytes(path);
    CardChange change;
    EXPECT_EQ(change.begin(path, false), Outcome::Failed);
    EXPECT_NE(change.error().find("cannot be changed"), std::string::npos) << change.error();
    EXPECT_TRUE(fixtures::readFileBytes(path) == before);
    files::permissions(testing::nativePath(path), files::perms::owner_write, files::perm_options::add);
}
#endif

TEST(CardChange, WhatIsNoCardIsRefusedWithItsReason) {
    TempDir dir;
    testing::makeDir(dir / "plain");
    struct Case {
        std::string path;
        const char* says;
    } cases[] = {
        {dir / "missing", "cannot open"},
        {dir / "plain", "no folder card"},
    };
    for (const Case& c : cases) {
        CardChange change;
        EXPECT_EQ(change.begin(c.path, false), Outcome::Failed) << c.path;
        EXPECT_NE(change.error().find(c.says), std::string::npos) << change.error();
    }
}

}  // namespace
}  // namespace marrowin
