// The card window's model in-process: cards of each kind and loose saves opened, listed,
// changed through the card protocol and exported, with real saves from tests/data.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/psu_contents.h"
#include "card/card.h"
#include "card/memory_card.h"
#include "cards/cards_model.h"
#include "export_test_support.h"
#include "fixtures.h"
#include "operations/card_change.h"
#include "operations/open_save.h"

namespace marrowin::cards {
namespace {

using testing::TempDir;

// Real saves, one in each container.
const std::vector<std::string> REAL_SAVES = {
    fixtures::testDataPath("formats/BESLES-50325.PSV"),
    fixtures::testDataPath("formats/final-fantasy12.max"),
    fixtures::testDataPath("formats/tokyo-xtreme-racer-drift-2.14091.cbs"),
    fixtures::testDataPath("formats/max-payne.1394.sps"),
    MARROWIN_SAMPLES "/demo.psu",
};

const NewCardKind CARD_KINDS[] = {NewCardKind::ImageWithEcc, NewCardKind::ImageWithoutEcc, NewCardKind::Folder};

const char* kindName(NewCardKind k) {
    return k == NewCardKind::ImageWithEcc ? "image with ECC" : k == NewCardKind::ImageWithoutEcc ? "image without ECC" : "folder card";
}

std::string makeCard(const TempDir& dir, NewCardKind kind, const std::string& name = "card") {
    const std::string path = dir / name;
    std::string error;
    EXPECT_TRUE(CardsModel::newCard(path, kind, error)) << error;
    return path;
}

std::vector<std::string> foldersOf(const CardsModel& m) {
    std::vector<std::string> names;
    for (const SaveRow& r : m.rows()) names.push_back(r.folder);
    return names;
}

bool cardChecksClean(const std::string& path) {
    card::Card c;
    std::string error;
    if (!card::openCard(path, c, error)) return false;
    return !hasErrors(c.check());
}

// A save archive of one file of `bytes`, written at path.
void writeSaveFile(const std::string& path, const std::string& folder, size_t bytes, uint8_t seed = 3) {
    SaveContents s;
    s.folderName = folder;
    s.created = s.modified = stampOf(2021, 5, 6, 7, 8, 9);
    SaveFile f;
    f.name = "data";
    f.created = f.modified = s.created;
    f.data = testing::patternBytes(bytes, seed);
    s.files.push_back(f);
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(writePsu(s, out, error)) << error;
    testing::writeFile(path, out);
}

std::vector<ImportOutcome::Kind> kindsOf(const std::vector<ImportOutcome>& outcomes) {
    std::vector<ImportOutcome::Kind> kinds;
    for (const ImportOutcome& o : outcomes) kinds.push_back(o.kind);
    return kinds;
}

const AskReplace NEVER_ASKED = [](const ImportQuestion& q) {
    ADD_FAILURE() << "asked about " << q.path;
    return false;
};

TEST(CardsModel, SpaceTextGroupsDigitsAsTheCliDoes) {
    const struct {
        CardSpace space;
        const char* text;
    } rows[] = {
        {{7940, 7999, 1024}, "7,940 of 7,999 clusters free"},
        {{0, 8000, 1024}, "0 of 8,000 clusters free"},
        {{999, 1000, 1024}, "999 of 1,000 clusters free"},
        {{1234567, 1234567, 1024}, "1,234,567 of 1,234,567 clusters free"},
    };
    for (const auto& r : rows) EXPECT_EQ(spaceText(r.space), r.text);
}

TEST(CardsModel, OpensEachKindOfCardWithItsSavesSortedAndItsRoom) {
    for (NewCardKind kind : CARD_KINDS) {
        SCOPED_TRACE(kindName(kind));
        TempDir dir;
        // Told by content: the name says nothing.
        const std::string path = makeCard(dir, kind, "no-extension");
        CardsModel m;
        std::string error;
        ASSERT_TRUE(m.open({path}, error)) << error;
        EXPECT_EQ(m.kind(), kind == NewCardKind::Folder ? SourceKind::FolderCard : SourceKind::CardImage);
        EXPECT_TRUE(m.isCard());
        EXPECT_TRUE(m.rows().empty());
        EXPECT_EQ(m.displayName(), "no-extension");
        const CardSpace empty = m.space();
        EXPECT_GE(empty.totalClusters, 7990u);
        EXPECT_LE(empty.freeClusters, empty.totalClusters);
        EXPECT_EQ(empty.clusterSize, 1024u);

        const std::vector<ImportOutcome> done = m.importFiles(REAL_SAVES, NEVER_ASKED);
        for (const ImportOutcome& o : done) EXPECT_EQ(o.kind, ImportOutcome::Kind::Imported) << o.path << ": " << o.message;
        EXPECT_TRUE(cardChecksClean(path));

        // A fresh window sees what the first one wrote.
        CardsModel again;
        ASSERT_TRUE(again.open({path}, error)) << error;
        const std::vector<std::string> folders = foldersOf(again);
        ASSERT_EQ(folders.size(), REAL_SAVES.size());
        EXPECT_TRUE(std::is_sorted(folders.begin(), folders.end()));
        uint32_t used = 0;
        for (const SaveRow& r : again.rows()) {
            EXPECT_GT(r.clusters, 0u) << r.folderShown;
            EXPECT_EQ(r.bytes, uint64_t(r.clusters) * 1024) << r.folderShown;
            EXPECT_EQ(r.errors, 0) << r.folderShown << ": " << r.firstProblem;
            EXPECT_TRUE(r.sourcePath.empty());
            used += r.clusters;
        }
        // The saves' clusters, and the root directory grown to hold their entries (two a cluster).
        const uint32_t rootGrowth = uint32_t(REAL_SAVES.size() + 2 + 1) / 2 - 1;
        EXPECT_EQ(again.space().freeClusters + used + rootGrowth, empty.freeClusters);
        EXPECT_EQ(again.clustersNeeded({0, 1}), again.rows()[0].clusters + again.rows()[1].clusters);
        EXPECT_FALSE(again.changedOnDisk());
    }
}

TEST(CardsModel, OpensARealCardImageByItsContent) {
    TempDir dir;
    const std::string path = dir / "memory.bin";
    testing::writeFile(path, fixtures::readFileBytes(fixtures::testDataPath("formats/mc02.ps2")));
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open({path}, error)) << error;
    EXPECT_EQ(m.kind(), SourceKind::CardImage);
    EXPECT_TRUE(m.rows().empty());
    EXPECT_TRUE(m.cardProblems().empty());
    EXPECT_NE(m.checkReport().find(path + ": ok"), std::string::npos) << m.checkReport();
}

TEST(CardsModel, OpensSaveFilesInEveryContainerAsLooseSaves) {
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open(REAL_SAVES, error)) << error;
    EXPECT_EQ(m.kind(), SourceKind::LooseSaves);
    EXPECT_FALSE(m.isCard());
    const std::vector<std::string> folders = foldersOf(m);
    ASSERT_EQ(folders.size(), REAL_SAVES.size());
    EXPECT_TRUE(std::is_sorted(folders.begin(), folders.end()));
    const struct {
        const char* folder;
        ContainerKind container;
    } expected[] = {
        {"BASLUS-20963FF1200", ContainerKind::Max},
        {"BESLES-53900-SYS.00", ContainerKind::Cbs},
        {"BASLUS-20230", ContainerKind::SharkPort},
        {"BESLES-50325", ContainerKind::Psv},
    };
    for (const auto& e : expected) {
        const auto it = std::find(folders.begin(), folders.end(), e.folder);
        ASSERT_NE(it, folders.end()) << e.folder;
        const SaveRow& r = m.rows()[size_t(it - folders.begin())];
        EXPECT_EQ(r.container, e.container) << e.folder;
        EXPECT_FALSE(r.sourcePath.empty());
        EXPECT_GT(r.clusters, 0u);
        EXPECT_FALSE(r.title.empty()) << e.folder;
        SaveContents s;
        ASSERT_TRUE(m.saveOf(size_t(it - folders.begin()), s, error)) << error;
        EXPECT_EQ(s.folderName, e.folder);
    }
    EXPECT_NE(m.checkReport().find(": ok"), std::string::npos);
    EXPECT_FALSE(m.changedOnDisk());
}

TEST(CardsModel, RefusesWhatIsNoSaveAndKeepsWhatItHeld) {
    TempDir dir;
    const std::string cardPath = makeCard(dir, NewCardKind::ImageWithEcc);
    const std::string junk = dir / "junk.psu";
    testing::writeFile(junk, std::string("not a save at all"));
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open({REAL_SAVES[0]}, error)) << error;
    const struct {
        std::vector<std::string> paths;
        std::string named;
    } rows[] = {
        {{junk}, junk},
        {{REAL_SAVES[1], cardPath}, cardPath},  // a card among saves
        {{dir / "missing.max"}, dir / "missing.max"},
        {{}, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.named);
        EXPECT_FALSE(m.open(r.paths, error));
        EXPECT_NE(error.find(r.named), std::string::npos) << error;
        EXPECT_EQ(m.kind(), SourceKind::LooseSaves);
        EXPECT_EQ(m.path(), REAL_SAVES[0]);
        EXPECT_EQ(m.rows().size(), 1u);
    }
}

TEST(CardsModel, ImportAsksBeforeReplacingASaveOfTheSameName) {
    for (NewCardKind kind : CARD_KINDS) {
        SCOPED_TRACE(kindName(kind));
        TempDir dir;
        const std::string path = makeCard(dir, kind);
        const std::string first = dir / "first.psu", second = dir / "second.psu";
        writeSaveFile(first, "BASLUS-00001", 3000, 1);
        writeSaveFile(second, "BASLUS-00001", 5000, 2);
        CardsModel m;
        std::string error;
        ASSERT_TRUE(m.open({path}, error)) << error;
        ASSERT_EQ(kindsOf(m.importFiles({first}, NEVER_ASKED)), std::vector{ImportOutcome::Kind::Imported});
        ASSERT_EQ(m.rows().size(), 1u);
        const uint64_t before = m.rows()[0].bytes;

        for (bool yes : {false, true}) {
            SCOPED_TRACE(yes ? "yes" : "no");
            int asked = 0;
            const std::vector<ImportOutcome> r = m.importFiles({second}, [&](const ImportQuestion& q) {
                ++asked;
                EXPECT_EQ(q.path, second);
                EXPECT_EQ(q.folderShown, "BASLUS-00001");
                return yes;
            });
            EXPECT_EQ(asked, 1);
            ASSERT_EQ(r.size(), 1u);
            EXPECT_EQ(r[0].kind, yes ? ImportOutcome::Kind::Replaced : ImportOutcome::Kind::Skipped) << r[0].message;
            ASSERT_EQ(m.rows().size(), 1u);
            EXPECT_EQ(m.rows()[0].bytes > before, yes);
            SaveContents s;
            ASSERT_TRUE(m.saveOf(0, s, error)) << error;
            ASSERT_EQ(s.files.size(), 1u);
            EXPECT_EQ(s.files[0].data.size(), yes ? 5000u : 3000u);
        }
        EXPECT_TRUE(cardChecksClean(path));
        if (kind != NewCardKind::Folder) {
            EXPECT_TRUE(testing::exists(path + ".bak"));
        }
    }
}

TEST(CardsModel, ImportSaysHowMuchRoomASaveNeedsThatDoesNotFit) {
    for (NewCardKind kind : CARD_KINDS) {
        SCOPED_TRACE(kindName(kind));
        TempDir dir;
        const std::string path = makeCard(dir, kind);
        const std::string big = dir / "big.psu", small = dir / "small.psu";
        writeSaveFile(big, "BASLUS-99999", 8200 * 1024);
        writeSaveFile(small, "BASLUS-00002", 2000);
        CardsModel m;
        std::string error;
        ASSERT_TRUE(m.open({path}, error)) << error;
        const uint32_t freeBefore = m.space().freeClusters;
        // The one that fits goes on; the batch is one change.
        const std::vector<ImportOutcome> r = m.importFiles({big, small}, NEVER_ASKED);
        ASSERT_EQ(kindsOf(r), (std::vector{ImportOutcome::Kind::NoRoom, ImportOutcome::Kind::Imported}));
        EXPECT_NE(r[0].message.find("not enough room"), std::string::npos) << r[0].message;
        EXPECT_NE(r[0].message.find("clusters"), std::string::npos) << r[0].message;
        EXPECT_NE(r[0].message.find(big), std::string::npos) << r[0].message;
        EXPECT_EQ(foldersOf(m), std::vector<std::string>{"BASLUS-00002"});
        EXPECT_LT(m.space().freeClusters, freeBefore);
        EXPECT_TRUE(cardChecksClean(path));
    }
}

TEST(CardsModel, ImportRefusesACardAndDamagedSavesNamingThem) {
    TempDir dir;
    const std::string path = makeCard(dir, NewCardKind::ImageWithEcc);
    const std::string other = makeCard(dir, NewCardKind::Folder, "other");
    const std::string junk = dir / "junk.max";
    testing::writeFile(junk, std::string("Ps2PowerSave"));
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open({path}, error)) << error;
    for (const std::string& bad : {other, junk, dir / "missing.psu"}) {
        SCOPED_TRACE(bad);
        const std::vector<ImportOutcome> r = m.importFiles({bad}, NEVER_ASKED);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, ImportOutcome::Kind::Failed);
        EXPECT_NE(r[0].message.find(bad), std::string::npos) << r[0].message;
    }
    EXPECT_TRUE(m.rows().empty());
    // Nothing imported, nothing written: no backup either.
    EXPECT_FALSE(testing::exists(path + ".bak"));

    CardsModel loose;
    ASSERT_TRUE(loose.open({REAL_SAVES[0]}, error)) << error;
    EXPECT_EQ(kindsOf(loose.importFiles({REAL_SAVES[1]}, NEVER_ASKED)), std::vector{ImportOutcome::Kind::Failed});
}

TEST(CardsModel, ExportsInEachContainerWhatReadsBackAsTheSameSave) {
    const ContainerKind containers[] = {ContainerKind::Psu, ContainerKind::Max, ContainerKind::Cbs,
                                        ContainerKind::SharkPort, ContainerKind::Psv};
    TempDir dir;
    const std::string path = makeCard(dir, NewCardKind::ImageWithEcc);
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open({path}, error)) << error;
    m.importFiles(REAL_SAVES, NEVER_ASKED);
    ASSERT_EQ(m.rows().size(), REAL_SAVES.size());
    std::vector<size_t> all;
    for (size_t i = 0; i < m.rows().size(); ++i) all.push_back(i);
    for (ContainerKind kind : containers) {
        SCOPED_TRACE(containerWord(kind));
        const std::string out = dir / containerWord(kind);
        testing::makeDir(out);
        std::vector<std::string> written;
        ASSERT_TRUE(m.exportSaves(all, out, kind, nullptr, written, error)) << error;
        ASSERT_EQ(written.size(), all.size());
        for (size_t i = 0; i < written.size(); ++i) {
            EXPECT_EQ(written[i], out + "/" + m.rows()[i].folder + "." + containerWord(kind));
            OpenOptions what;
            what.image = false;
            what.contents = true;
            OpenedSave back;
            ASSERT_TRUE(openSave(written[i], what, back, error)) << error;
            EXPECT_EQ(back.container, kind);
            SaveContents original;
            ASSERT_TRUE(m.saveOf(i, original, error)) << error;
            EXPECT_EQ(back.contents.folderName, original.folderName);
            ASSERT_EQ(back.contents.files.size(), original.files.size());
            for (size_t k = 0; k < original.files.size(); ++k) {
                EXPECT_EQ(back.contents.files[k].name, original.files[k].name);
                EXPECT_EQ(back.contents.files[k].data, original.files[k].data);
            }
        }
    }
}

TEST(CardsModel, ExportNeverReplacesAFileWithoutAYes) {
    TempDir dir;
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open({REAL_SAVES[1]}, error)) << error;
    const std::string target = dir / "BASLUS-20963FF1200.psu";
    testing::writeFile(target, std::string("keep me"));
    for (bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        std::vector<std::string> asked, written;
        ASSERT_TRUE(m.exportSaves({0}, dir.path(), ContainerKind::Psu,
                                  [&](const std::string& p) {
                                      asked.push_back(p);
                                      return yes;
                                  },
                                  written, error))
            << error;
        EXPECT_EQ(asked, std::vector<std::string>{target});
        EXPECT_EQ(written.size(), yes ? 1u : 0u);
        EXPECT_EQ(testing::readText(target) == "keep me", !yes);
    }
    // The file being exported is never its own output.
    TempDir same;
    const std::string source = same / "BASLUS-20963FF1200.max";
    testing::writeFile(source, fixtures::readFileBytes(REAL_SAVES[1]));
    ASSERT_TRUE(m.open({source}, error)) << error;
    std::vector<std::string> written;
    EXPECT_FALSE(m.exportSaves({0}, same.path(), ContainerKind::Max, [](const std::string&) { return true; }, written,
                               error));
    EXPECT_NE(error.find("not replaced"), std::string::npos) << error;
    EXPECT_EQ(fixtures::readFileBytes(source), fixtures::readFileBytes(REAL_SAVES[1]));
    // A folder that is not there is said, not made.
    EXPECT_FALSE(m.exportSaves({0}, dir / "missing", ContainerKind::Psu, nullptr, written, error));
    EXPECT_NE(error.find(dir / "missing"), std::string::npos) << error;
}

TEST(CardsModel, DeletesTheSelectedSavesInOneChange) {
    for (NewCardKind kind : CARD_KINDS) {
        SCOPED_TRACE(kindName(kind));
        TempDir dir;
        const std::string path = makeCard(dir, kind);
        CardsModel m;
        std::string error;
        ASSERT_TRUE(m.open({path}, error)) << error;
        m.importFiles(REAL_SAVES, NEVER_ASKED);
        std::vector<std::string> left = foldersOf(m);
        ASSERT_EQ(left.size(), REAL_SAVES.size());
        const uint32_t freeBefore = m.space().freeClusters;
        const uint32_t freed = m.clustersNeeded({0, 3});
        ASSERT_TRUE(m.deleteSaves({0, 3}, error)) << error;
        left.erase(left.begin() + 3);
        left.erase(left.begin());
        EXPECT_EQ(foldersOf(m), left);
        // A root directory may give back a cluster of entries too.
        EXPECT_GE(m.space().freeClusters, freeBefore + freed);
        EXPECT_LE(m.space().freeClusters, freeBefore + freed + 1);
        EXPECT_TRUE(cardChecksClean(path));
        EXPECT_NE(m.checkReport().find(path + ": ok"), std::string::npos) << m.checkReport();
    }
}

TEST(CardsModel, NewCardOfEachKindNeverReplacesWhatIsThere) {
    for (NewCardKind kind : CARD_KINDS) {
        SCOPED_TRACE(kindName(kind));
        TempDir dir;
        const std::string path = makeCard(dir, kind);
        if (kind != NewCardKind::Folder) {
            EXPECT_EQ(fixtures::readFileBytes(path).size(),
                      kind == NewCardKind::ImageWithEcc ? card::CARD_BYTES_WITH_ECC : card::CARD_BYTES_WITHOUT_ECC);
        }
        EXPECT_TRUE(cardChecksClean(path));
        std::string error;
        // Over the card just made, and over a file that is no card.
        EXPECT_FALSE(CardsModel::newCard(path, kind, error));
        EXPECT_FALSE(error.empty());
        const std::string other = dir / "notes.txt";
        testing::writeFile(other, std::string("mine"));
        EXPECT_FALSE(CardsModel::newCard(other, kind, error));
        EXPECT_EQ(testing::readText(other), "mine");
    }
}

TEST(CardsModel, ACardDamagedOnDiskShowsInTheCheckReport) {
    TempDir dir;
    const std::string path = makeCard(dir, NewCardKind::ImageWithoutEcc);
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open({path}, error)) << error;
    m.importFiles({REAL_SAVES[4]}, NEVER_ASKED);
    ASSERT_EQ(m.rows().size(), 1u);
    // The save's own directory cluster overwritten: its "." and ".." entries are gone.
    fixtures::Bytes bytes = fixtures::readFileBytes(path);
    const std::string folder = m.rows()[0].folder;
    size_t at = std::string::npos;
    for (size_t off = 0; off + 512 <= bytes.size(); off += 512)
        if (std::memcmp(bytes.data() + off + 0x40, folder.data(), folder.size()) == 0 && (bytes[off + 1] & 0x80) &&
            (bytes[off] & 0x20)) {
            at = off;
            break;
        }
    ASSERT_NE(at, std::string::npos);
    const uint32_t cluster = fixtures::getU32(bytes, at + 0x10);
    // Clusters are 1 KiB; the allocatable area starts at the superblock's alloc_offset (0x34).
    const uint32_t allocOffset = fixtures::getU32(bytes, 0x34);
    const size_t dirAt = size_t(allocOffset + cluster) * 1024;
    ASSERT_LT(dirAt + 1024, bytes.size());
    std::fill(bytes.begin() + long(dirAt), bytes.begin() + long(dirAt) + 1024, 0xAA);
    testing::writeFile(path, bytes);
    EXPECT_TRUE(m.changedOnDisk());
    ASSERT_TRUE(m.reload(error)) << error;
    int errors = 0;
    for (const SaveRow& r : m.rows()) errors += r.errors;
    EXPECT_GT(errors + int(countProblems(m.cardProblems(), Severity::Error)), 0);
    EXPECT_NE(m.checkReport().find(": error: "), std::string::npos) << m.checkReport();
    // A damaged card is refused for a change, with the library's words.
    EXPECT_FALSE(m.deleteSaves({0}, error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
}

#ifndef _WIN32
// Other processes: the CLI as a real program, and a child holding the card's lock.
TEST(CardsModel, ACardChangedByAnotherProgramIsSeenAndReread) {
    for (NewCardKind kind : CARD_KINDS) {
        SCOPED_TRACE(kindName(kind));
        TempDir dir;
        const std::string path = makeCard(dir, kind);
        CardsModel m;
        std::string error;
        ASSERT_TRUE(m.open({path}, error)) << error;
        EXPECT_FALSE(m.changedOnDisk());
        const testing::CliRun run = testing::cli(dir, "card import card '" + REAL_SAVES[1] + "'");
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_TRUE(m.changedOnDisk());
        EXPECT_TRUE(m.rows().empty());
        ASSERT_TRUE(m.reload(error)) << error;
        EXPECT_EQ(foldersOf(m), std::vector<std::string>{"BASLUS-20963FF1200"});
        EXPECT_FALSE(m.changedOnDisk());
    }
}

TEST(CardsModel, ACardAnotherProcessHoldsIsRefusedNamingItAfterTheWait) {
    for (NewCardKind kind : CARD_KINDS) {
        SCOPED_TRACE(kindName(kind));
        TempDir dir;
        const std::string path = makeCard(dir, kind);
        CardsModel m;
        std::string error;
        ASSERT_TRUE(m.open({path}, error)) << error;
        m.importFiles({REAL_SAVES[0]}, NEVER_ASKED);
        ASSERT_EQ(m.rows().size(), 1u);
        m.setLockWait(200);

        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            CardChange change;
            const bool held = change.begin(path, false, 0) == CardChange::Outcome::Done;
            char c = held ? '1' : '0';
            (void)!write(ready[1], &c, 1);
            usleep(1500 * 1000);
            _exit(held ? 0 : 1);
        }
        char c = 0;
        (void)!read(ready[0], &c, 1);
        close(ready[0]);
        close(ready[1]);
        ASSERT_EQ(c, '1');
        const std::string holder = "process " + std::to_string(pid);

        const std::vector<ImportOutcome> r = m.importFiles({REAL_SAVES[1]}, NEVER_ASKED);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, ImportOutcome::Kind::Failed);
        EXPECT_NE(r[0].message.find(holder), std::string::npos) << r[0].message;
        EXPECT_FALSE(m.deleteSaves({0}, error));
        EXPECT_NE(error.find(holder), std::string::npos) << error;
        EXPECT_EQ(m.rows().size(), 1u);

        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
        // Once it lets go, the same change goes through.
        EXPECT_TRUE(m.deleteSaves({0}, error)) << error;
        EXPECT_TRUE(m.rows().empty());
    }
}
#endif

// Counts what it is asked to draw; every picture is one byte, the count so far.
class CountingDrawer : public PictureDrawer {
public:
    int draws = 0;
    bool draw(const SaveImage& image, uint32_t size, std::vector<uint8_t>& rgba, std::string& error) override {
        ++draws;
        if (image.empty()) {
            error = "empty";
            return false;
        }
        rgba.assign(size_t(size) * size * 4, uint8_t(draws));
        return true;
    }
};

TEST(CardsModel, PicturesAreDrawnOnceAndAgainOnlyForASaveThatChanged) {
    TempDir dir;
    const std::string path = makeCard(dir, NewCardKind::ImageWithEcc);
    CardsModel m;
    std::string error;
    ASSERT_TRUE(m.open({path}, error)) << error;
    m.importFiles({REAL_SAVES[1], REAL_SAVES[4]}, NEVER_ASKED);
    ASSERT_EQ(m.rows().size(), 2u);
    CountingDrawer drawer;
    PictureCache cache(drawer, 8);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(cache.pictureOf(m, i).size(), 8u * 8 * 4);
        EXPECT_EQ(cache.pictureOf(m, i).size(), 8u * 8 * 4);
    }
    EXPECT_EQ(drawer.draws, 2);
    EXPECT_TRUE(cache.pictureOf(m, 5).empty());
    // Another save beside them: only it is drawn.
    m.importFiles({REAL_SAVES[3]}, NEVER_ASKED);
    ASSERT_EQ(m.rows().size(), 3u);
    for (size_t i = 0; i < 3; ++i) cache.pictureOf(m, i);
    EXPECT_EQ(drawer.draws, 3);
    cache.clear();
    cache.pictureOf(m, 0);
    EXPECT_EQ(drawer.draws, 4);
}

}  // namespace
}  // namespace marrowin::cards
