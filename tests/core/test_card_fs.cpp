// The memory card file system: opening, listing, exporting, importing, deleting and checking,
// on the empty sample card and on cards built and damaged by the tests.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "card/memory_card.h"
#include "container_test_support.h"
#include "fixtures.h"

using namespace marrowin;
using namespace marrowin::card;
using marrowin::fixtures::Bytes;
using marrowin::testing::expectWholeSaveSame;

namespace {

constexpr size_t PAGE = 512, RAW_PAGE = 528;

Bytes mc02() { return fixtures::readFileBytes(fixtures::testDataPath("formats/mc02.ps2")); }

Bytes withoutSpare(const Bytes& withSpare) {
    Bytes out;
    for (size_t at = 0; at + RAW_PAGE <= withSpare.size(); at += RAW_PAGE)
        out.insert(out.end(), withSpare.begin() + ptrdiff_t(at), withSpare.begin() + ptrdiff_t(at + PAGE));
    return out;
}

std::string describe(const std::vector<Problem>& problems) {
    std::string s;
    for (const Problem& p : problems)
        s += std::string(p.severity == Severity::Error ? "error: " : p.severity == Severity::Warning ? "warning: " : "corrected: ") + p.text + "\n";
    return s;
}

size_t countKind(const std::vector<Problem>& problems, Severity kind) {
    size_t n = 0;
    for (const Problem& p : problems) n += p.severity == kind;
    return n;
}

MemoryCard openCard(Bytes raw, std::vector<Problem>* problemsOut = nullptr) {
    MemoryCard card;
    std::vector<Problem> problems;
    std::string error;
    EXPECT_TRUE(MemoryCard::open(std::move(raw), card, problems, error)) << error;
    if (problemsOut) *problemsOut = problems;
    else EXPECT_TRUE(problems.empty()) << describe(problems);
    return card;
}

void expectClean(const MemoryCard& card) {
    std::vector<Problem> problems = card.check();
    EXPECT_TRUE(problems.empty()) << describe(problems);
}

// The FAT value of relative cluster n on a standard card without spare bytes.
uint32_t fatValue(const Bytes& image, uint32_t n) { return fixtures::getU32(image, (9 + n / 256) * 1024 + (n % 256) * 4); }
void setFatValue(Bytes& image, uint32_t n, uint32_t v) { fixtures::putU32(image, (9 + n / 256) * 1024 + (n % 256) * 4, v); }

Bytes pattern(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

Bytes iconSys(std::string_view title, std::string_view icon) {
    Bytes b(964, 0);
    fixtures::putBytes(b, 0, "PS2D");
    fixtures::putBytes(b, 0xC0, title);
    for (size_t off : {0x104, 0x144, 0x184}) fixtures::putBytes(b, off, icon);
    return b;
}

SaveFile file(std::string name, Bytes data, uint8_t second) {
    SaveFile f;
    f.name = std::move(name);
    f.mode = 0x8497;
    f.created = stampOf(2018, 4, 21, 23, 53, second);
    f.modified = stampOf(2018, 4, 21, 23, 54, uint8_t(second + 1));
    f.attribute = second;
    f.data = std::move(data);
    return f;
}

SaveContents sampleSave(std::string folder = "BESCES-50501REZ", unsigned seed = 1) {
    SaveContents s;
    s.folderName = std::move(folder);
    s.folderMode = 0x8427;
    s.created = stampOf(2018, 4, 21, 23, 53, 7);
    s.modified = stampOf(2018, 4, 21, 23, 53, 9);
    s.attribute = 0x1234;
    // Sizes around the cluster size, an empty file and a multi-cluster icon.
    s.files.push_back(file("icon.sys", iconSys("\x82\x71\x82\x85\x82\x9A", "rez.ico"), 8));
    s.files.push_back(file("rez.ico", pattern(46360, seed), 9));
    s.files.push_back(file("empty", {}, 10));
    s.files.push_back(file("exact", pattern(1024, seed + 1), 11));
    s.files.push_back(file("BESCES-50501REZ", pattern(3073, seed + 2), 12));
    return s;
}


void importOk(MemoryCard& card, const SaveContents& save, bool replace = false) {
    std::string error;
    ASSERT_TRUE(card.importSave(save, replace, error)) << error;
    expectClean(card);
}

// Where a directory entry with this name sits in an image without spare bytes.
size_t entryOffset(const Bytes& image, std::string_view name) {
    for (size_t at = 0; at + 512 <= image.size(); at += 512)
        if (std::memcmp(&image[at + 0x40], name.data(), name.size()) == 0 && image[at + 0x40 + name.size()] == 0 &&
            (image[at + 1] & 0x80))
            return at;
    ADD_FAILURE() << "no entry " << name;
    return 0;
}

}  // namespace

TEST(CardOpen, EmptySampleCardIsCleanAndEmpty) {
    MemoryCard card = openCard(mc02());
    EXPECT_TRUE(card.hasEcc());
    EXPECT_EQ(card.clusterSize(), 1024u);
    EXPECT_EQ(card.freeClustersInFat(), 8134u);
    // Root at relative 0, new saves below 8,000.
    EXPECT_EQ(card.allocationLimit(), 8000u);
    EXPECT_EQ(card.freeClusters(), 7999u);
    std::vector<Problem> problems;
    EXPECT_TRUE(card.list(&problems).empty());
    EXPECT_TRUE(problems.empty()) << describe(problems);
    expectClean(card);
}

TEST(CardOpen, FormatGivesTheSampleCard) {
    Bytes sample = mc02();
    // The sample's root was stamped 2018-04-22 05:20:15.
    Stamp stamp = stampOf(2018, 4, 22, 5, 20, 15);
    EXPECT_TRUE(MemoryCard::format(true, stamp) == sample);
    EXPECT_TRUE(MemoryCard::format(false, stamp) == withoutSpare(sample));
    Bytes now = MemoryCard::format(true);
    ASSERT_EQ(now.size(), CARD_BYTES_WITH_ECC);
    expectClean(openCard(now));
    EXPECT_EQ(MemoryCard::format(false).size(), CARD_BYTES_WITHOUT_ECC);
}

TEST(CardOpen, RefusesWhatIsNoCard) {
    auto refused = [](Bytes raw, std::string_view says) {
        MemoryCard card;
        std::vector<Problem> problems;
        std::string error;
        EXPECT_FALSE(MemoryCard::open(std::move(raw), card, problems, error));
        EXPECT_NE(error.find(says), std::string::npos) << error;
    };
    Bytes good = MemoryCard::format(false, {});
    refused({}, "not a PS2 memory card");
    refused(Bytes(good.begin(), good.begin() + 4096), "the image is 4096 bytes");
    Bytes longer = good;
    longer.push_back(0);
    refused(longer, "the image is");
    Bytes bad = good;
    bad[0] = 'X';
    refused(bad, "not a PS2 memory card");
    bad = good;
    fixtures::putU16(bad, 0x28, 256);
    refused(bad, "page size 256");
    bad = good;
    fixtures::putU32(bad, 0x38, 9000);  // alloc_end past the card
    refused(bad, "does not fit");
    bad = good;
    fixtures::putU32(bad, 0x50, 100000);  // indirect FAT cluster
    refused(bad, "outside the card");
    bad = good;
    bad[0x150] = 1;
    refused(bad, "card type 1");
}

TEST(CardOpen, ACardOfAnotherSizeIsReadFromItsSuperblock) {
    // A card of 512 clusters: the geometry comes from the superblock, not from a fixed size.
    Bytes small = MemoryCard::format(false, {});
    small.resize(512 * 1024);
    fixtures::putU32(small, 0x30, 512);
    fixtures::putU32(small, 0x38, 400);
    fixtures::putU32(small, 0x40, 63);
    fixtures::putU32(small, 0x44, 62);
    for (uint32_t n = 400; n < 8192; ++n) setFatValue(small, n, 0xFFFFFFFF);
    MemoryCard card = openCard(small);
    EXPECT_FALSE(card.hasEcc());
    EXPECT_EQ(card.allocationLimit(), 400u);
    EXPECT_EQ(card.freeClusters(), 399u);
    importOk(card, sampleSave());
    SaveContents back;
    std::string error;
    ASSERT_TRUE(card.exportSave("BESCES-50501REZ", back, error)) << error;
    expectWholeSaveSame(back, sampleSave());
}

TEST(CardImport, ExportGivesBackTheFilesAndMetadata) {
    for (bool ecc : {true, false}) {
        SCOPED_TRACE(ecc ? "with spare bytes" : "without spare bytes");
        MemoryCard card = openCard(ecc ? mc02() : withoutSpare(mc02()));
        EXPECT_EQ(card.hasEcc(), ecc);
        SaveContents save = sampleSave();
        importOk(card, save);
        EXPECT_EQ(card.image().size(), ecc ? CARD_BYTES_WITH_ECC : CARD_BYTES_WITHOUT_ECC);

        // Opening the written image again finds nothing to correct.
        MemoryCard again = openCard(card.image());
        SaveContents back;
        std::string error;
        ASSERT_TRUE(again.exportSave(save.folderName, back, error)) << error;
        expectWholeSaveSame(back, save);

        std::vector<Problem> problems;
        std::vector<CardSave> saves = again.list(&problems);
        EXPECT_TRUE(problems.empty()) << describe(problems);
        ASSERT_EQ(saves.size(), 1u);
        EXPECT_EQ(saves[0].name, "BESCES-50501REZ");
        EXPECT_EQ(saves[0].titleUtf8, "Ｒｅｚ");
        EXPECT_EQ(saves[0].mode, 0x8427);
        EXPECT_EQ(saves[0].created, save.created);
        EXPECT_EQ(saves[0].modified, save.modified);
        EXPECT_EQ(saves[0].fileCount, 5u);
        // Folder 7 entries: 4 clusters; files 1 + 46 + 0 + 1 + 4.
        EXPECT_EQ(saves[0].clusters, 4u + 1 + 46 + 0 + 1 + 4);
        EXPECT_EQ(saves[0].bytes, uint64_t(saves[0].clusters) * 1024);
        EXPECT_TRUE(saves[0].hasIconSys);
        EXPECT_TRUE(saves[0].hasIcons);
        // The root grew by one cluster for the third root entry.
        EXPECT_EQ(again.freeClusters(), 7999u - saves[0].clusters - 1);
    }
}

TEST(CardImport, WritesOnlyWhatASaveNeedsAndKeepsTheSpareAreaClean) {
    Bytes before = mc02();
    MemoryCard card = openCard(before);
    importOk(card, sampleSave());
    const Bytes& after = card.image();
    // Superblock and backup blocks untouched; spare bytes 12-15 of every written page zero.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + RAW_PAGE * 16, after.begin()));
    EXPECT_TRUE(std::equal(before.begin() + ptrdiff_t(RAW_PAGE * 16352), before.end(), after.begin() + ptrdiff_t(RAW_PAGE * 16352)));
    for (size_t p = 0; p < 16352; ++p) {
        for (size_t k = 12; k < 16; ++k) ASSERT_EQ(after[p * RAW_PAGE + 512 + k], 0) << p;
    }
}

TEST(CardImport, SavesAreListedInRootOrderAndTheRootGrows) {
    MemoryCard card = openCard(withoutSpare(mc02()));
    SaveContents none;
    none.folderName = "EMPTY";  // a save without files is fine
    importOk(card, none);
    for (int i = 0; i < 4; ++i) importOk(card, sampleSave("SAVE" + std::to_string(i), unsigned(i)));
    std::vector<CardSave> saves = card.list();
    ASSERT_EQ(saves.size(), 5u);
    EXPECT_EQ(saves[0].name, "EMPTY");
    EXPECT_EQ(saves[0].fileCount, 0u);
    EXPECT_EQ(saves[0].clusters, 1u);
    EXPECT_FALSE(saves[0].hasIconSys);
    EXPECT_EQ(saves[4].name, "SAVE3");
    for (int i = 0; i < 4; ++i) {
        SaveContents back;
        std::string error;
        ASSERT_TRUE(card.exportSave("SAVE" + std::to_string(i), back, error)) << error;
        expectWholeSaveSame(back, sampleSave("SAVE" + std::to_string(i), unsigned(i)));
    }
    SaveContents back;
    std::string error;
    ASSERT_TRUE(card.exportSave("EMPTY", back, error)) << error;
    EXPECT_TRUE(back.files.empty());
    EXPECT_FALSE(card.exportSave("MISSING", back, error));
    EXPECT_NE(error.find("no save folder"), std::string::npos);
}

TEST(CardImport, DeleteThenImportReusesTheSameClusters) {
    MemoryCard card = openCard(mc02());
    importOk(card, sampleSave("FIRST"));
    uint32_t freeBefore = card.freeClusters();
    importOk(card, sampleSave("SECOND", 5));
    Bytes withBoth = card.image();
    std::string error;
    ASSERT_TRUE(card.deleteSave("SECOND", error)) << error;
    expectClean(card);
    EXPECT_EQ(card.freeClusters(), freeBefore);
    ASSERT_EQ(card.list().size(), 1u);
    SaveContents back;
    EXPECT_FALSE(card.exportSave("SECOND", back, error));
    importOk(card, sampleSave("SECOND", 5));
    EXPECT_TRUE(card.image() == withBoth) << "the same clusters and the same root slot";

    // Deleting the first leaves a hole in the root that the next save takes.
    ASSERT_TRUE(card.deleteSave("FIRST", error)) << error;
    expectClean(card);
    importOk(card, sampleSave("THIRD", 9));
    std::vector<CardSave> saves = card.list();
    ASSERT_EQ(saves.size(), 2u);
    EXPECT_EQ(saves[0].name, "THIRD");
    EXPECT_EQ(saves[1].name, "SECOND");
    EXPECT_FALSE(card.deleteSave("FIRST", error));
}

TEST(CardImport, RefusesBadNamesAndExistingFoldersWithoutChangingAnything) {
    MemoryCard card = openCard(withoutSpare(mc02()));
    importOk(card, sampleSave());
    const Bytes before = card.image();
    auto refused = [&](const SaveContents& save, std::string_view says, bool replace = false) {
        std::string error;
        EXPECT_FALSE(card.importSave(save, replace, error)) << save.folderName;
        EXPECT_NE(error.find(says), std::string::npos) << error;
        EXPECT_TRUE(card.image() == before);
    };
    refused(sampleSave(""), "is empty");
    refused(sampleSave(std::string(33, 'A')), "longer than 32 bytes");
    refused(sampleSave("A/B"), "'/'");
    refused(sampleSave("A\nB"), "control character");
    refused(sampleSave(".."), "reserved");
    SaveContents twice = sampleSave("TWICE");
    twice.files.push_back(twice.files[0]);
    refused(twice, "two files named");
    SaveContents badFile = sampleSave("BADFILE");
    badFile.files[1].name = std::string("a\0b", 3);
    refused(badFile, "control character");
    refused(sampleSave(), "already holds");

    // A 32-byte name fits; replace swaps the save.
    importOk(card, sampleSave(std::string(32, 'N')));
    SaveContents other = sampleSave("BESCES-50501REZ", 42);
    other.files.pop_back();
    importOk(card, other, true);
    SaveContents back;
    std::string error;
    ASSERT_TRUE(card.exportSave("BESCES-50501REZ", back, error)) << error;
    expectWholeSaveSame(back, other);
    ASSERT_TRUE(card.exportSave(std::string(32, 'N'), back, error)) << error;
    EXPECT_EQ(card.list().size(), 2u);
}

TEST(CardImport, AFullCardRefusesOneMoreSaveUnchanged) {
    MemoryCard card = openCard(mc02());
    // Folder (2 clusters for 3 entries) + root growth + one big file: exactly every cluster
    // below the limit.
    SaveContents big;
    big.folderName = "BIG";
    big.files.push_back(file("data", pattern(size_t(card.freeClusters() - 3) * 1024 - 100, 3), 1));
    importOk(card, big);
    EXPECT_EQ(card.freeClusters(), 0u);
    // The console's spares above relative 8,000 stay free.
    EXPECT_EQ(card.freeClustersInFat(), 8134u - 7999u);
    Bytes plain = withoutSpare(card.image());
    EXPECT_EQ(fatValue(plain, 7999) & 0x80000000u, 0x80000000u);
    EXPECT_EQ(fatValue(plain, 8000), 0x7FFFFFFFu);

    const Bytes before = card.image();
    SaveContents one;
    one.folderName = "ONE";
    std::string error;
    EXPECT_FALSE(card.importSave(one, false, error));
    EXPECT_NE(error.find("needs 1 clusters"), std::string::npos) << error;
    EXPECT_NE(error.find("0 are free"), std::string::npos) << error;
    EXPECT_TRUE(card.image() == before);
    // Replacing counts the old save's clusters as free, but a larger one still does not fit.
    SaveContents bigger = big;
    bigger.files.push_back(file("more", pattern(1024, 4), 2));
    EXPECT_FALSE(card.importSave(bigger, true, error));
    EXPECT_NE(error.find("7998 are free"), std::string::npos) << error;
    EXPECT_TRUE(card.image() == before);
    ASSERT_TRUE(card.importSave(big, true, error)) << error;
    EXPECT_TRUE(card.image() == before) << "the same save again fills the same clusters";

    SaveContents back;
    ASSERT_TRUE(card.exportSave("BIG", back, error)) << error;
    expectWholeSaveSame(back, big);
}

TEST(CardImport, BadBlocksAreNotAllocated) {
    Bytes image = withoutSpare(mc02());
    fixtures::putU32(image, 0xD0, 6);  // erase block 6: absolute clusters 48-55, relative 7-14
    MemoryCard card = openCard(image);
    EXPECT_EQ(card.freeClusters(), 7999u - 8);
    importOk(card, sampleSave());
    const Bytes& after = card.image();
    for (uint32_t n = 7; n <= 14; ++n) EXPECT_EQ(fatValue(after, n), 0x7FFFFFFFu) << n;
    EXPECT_NE(fatValue(after, 15), 0x7FFFFFFFu);
}

TEST(CardEccOnOpen, AFlippedDataBitIsCorrectedAndCounted) {
    Bytes sample = mc02();
    MemoryCard ref = openCard(sample);
    importOk(ref, sampleSave());
    Bytes good = ref.image();
    Bytes damaged = good;
    damaged[500 * RAW_PAGE + 77] ^= 0x10;  // inside the save's data
    damaged[82 * RAW_PAGE + 3] ^= 0x01;    // the root's first entry
    // Regression: the superblock was read before its correction, so a wrong bit in alloc_end
    // gave the card a wrong size.
    damaged[0x38] ^= 0x02;
    std::vector<Problem> problems;
    MemoryCard card = openCard(damaged, &problems);
    EXPECT_EQ(countKind(problems, Severity::Corrected), 3u) << describe(problems);
    EXPECT_EQ(problems.size(), 3u) << describe(problems);
    EXPECT_TRUE(card.image() == good);
    EXPECT_EQ(card.freeClustersInFat(), ref.freeClustersInFat());
    expectClean(card);
}

TEST(CardEccOnOpen, AFlippedEccBitIsAWarningAndTwoWrongBitsAnError) {
    Bytes image = mc02();
    image[82 * RAW_PAGE + 512 + 4] ^= 0x02;
    std::vector<Problem> problems;
    MemoryCard card = openCard(image, &problems);
    ASSERT_EQ(problems.size(), 1u) << describe(problems);
    EXPECT_EQ(problems[0].severity, Severity::Warning);
    EXPECT_NE(problems[0].text.find("page 82"), std::string::npos);
    EXPECT_TRUE(card.image() == image);
    EXPECT_EQ(countKind(card.check(), Severity::Warning), 1u);

    image = mc02();
    image[90 * RAW_PAGE + 3] ^= 0x03;
    card = openCard(image, &problems);
    EXPECT_EQ(countKind(problems, Severity::Error), 1u) << describe(problems);
    EXPECT_TRUE(card.image() == image) << "nothing is guessed";
    EXPECT_EQ(countKind(card.check(), Severity::Error), 1u);

    // The same fault in an unused page of the superblock's block only warns.
    image = mc02();
    image[3 * RAW_PAGE + 3] ^= 0x03;
    card = openCard(image, &problems);
    EXPECT_EQ(countKind(problems, Severity::Warning), 1u) << describe(problems);
    EXPECT_EQ(problems.size(), 1u);
}

TEST(CardEccOnOpen, ManyBadPagesAreSummed) {
    Bytes image = mc02();
    for (size_t p = 100; p < 140; ++p) image[p * RAW_PAGE + 512] ^= 0x01;
    std::vector<Problem> problems;
    openCard(image, &problems);
    ASSERT_EQ(problems.size(), 17u) << describe(problems);
    EXPECT_NE(problems.back().text.find("24 more pages"), std::string::npos) << problems.back().text;
}

TEST(CardCheck, AFatLoopIsReportedAndNeverFollowed) {
    MemoryCard card = openCard(withoutSpare(mc02()));
    importOk(card, sampleSave());
    Bytes image = card.image();
    // rez.ico's chain: point its third cluster back at its first.
    size_t entry = entryOffset(image, "rez.ico");
    uint32_t first = fixtures::getU32(image, entry + 0x10);
    uint32_t second = fatValue(image, first) & 0x7FFFFFFF;
    setFatValue(image, second, 0x80000000u | first);
    MemoryCard looped = openCard(image);

    std::vector<Problem> problems = looped.check();
    EXPECT_NE(describe(problems).find("loops back to cluster " + std::to_string(first)), std::string::npos)
        << describe(problems);
    // The clusters cut off by the loop are in use but reachable from nothing.
    EXPECT_NE(describe(problems).find("lost clusters"), std::string::npos);

    std::vector<Problem> listed;
    std::vector<CardSave> saves = looped.list(&listed);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_NE(describe(listed).find("loops back"), std::string::npos) << describe(listed);
    SaveContents back;
    std::string error;
    EXPECT_FALSE(looped.exportSave("BESCES-50501REZ", back, error));
    EXPECT_NE(error.find("rez.ico"), std::string::npos) << error;

    // Changing a damaged card could overwrite what it still holds: refused, nothing changed.
    EXPECT_FALSE(looped.importSave(sampleSave("OTHER"), false, error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    EXPECT_FALSE(looped.deleteSave("BESCES-50501REZ", error));
    EXPECT_TRUE(looped.image() == image);
}

TEST(CardCheck, SharedClustersFreeClustersInChainsAndBadSizesAreErrors) {
    MemoryCard card = openCard(withoutSpare(mc02()));
    importOk(card, sampleSave());
    const Bytes good = card.image();
    size_t icon = entryOffset(good, "rez.ico"), sys = entryOffset(good, "icon.sys");
    auto errorsOf = [](const Bytes& image) { return describe(openCard(image).check()); };

    Bytes shared = good;  // icon.sys's entry points into rez.ico's chain
    fixtures::putU32(shared, sys + 0x10, fixtures::getU32(good, icon + 0x10));
    EXPECT_NE(errorsOf(shared).find("which belongs to"), std::string::npos) << errorsOf(shared);

    Bytes intoFree = good;  // the last cluster of a chain marked free
    uint32_t c = fixtures::getU32(good, sys + 0x10);
    setFatValue(intoFree, c, 0x7FFFFFFF);
    EXPECT_NE(errorsOf(intoFree).find("marks free"), std::string::npos) << errorsOf(intoFree);

    Bytes tooBig = good;  // a size that needs more clusters than the chain has
    fixtures::putU32(tooBig, sys + 0x04, 5000);
    EXPECT_NE(errorsOf(tooBig).find("5000 bytes need 5"), std::string::npos) << errorsOf(tooBig);

    Bytes outside = good;
    setFatValue(outside, c, 0x80000000u | 9000);
    EXPECT_NE(errorsOf(outside).find("outside the allocatable area"), std::string::npos) << errorsOf(outside);

    Bytes badName = good;
    badName[sys + 0x40] = '/';
    EXPECT_NE(errorsOf(badName).find("holds '/'"), std::string::npos) << errorsOf(badName);

    Bytes noDot = good;  // the folder's "." entry renamed
    size_t dot = entryOffset(good, ".");
    (void)dot;
    size_t folderDot = icon - 3 * 512;  // ".", "..", "icon.sys", "rez.ico" in the folder's chain
    ASSERT_EQ(noDot[folderDot + 0x40], '.');
    noDot[folderDot + 0x40] = 'x';
    EXPECT_NE(errorsOf(noDot).find("is not \".\""), std::string::npos) << errorsOf(noDot);
}

TEST(CardList, ASubDirectoryInASaveIsSkippedAndReported) {
    MemoryCard card = openCard(withoutSpare(mc02()));
    // A file whose bytes are a directory's "." and "..": made a folder by its entry's mode.
    Bytes dirBytes(1024, 0);
    fixtures::putU16(dirBytes, 0, 0x8427);
    fixtures::putBytes(dirBytes, 0x40, ".");
    fixtures::putU16(dirBytes, 512, 0x8427);
    fixtures::putBytes(dirBytes, 512 + 0x40, "..");
    SaveContents save = sampleSave();
    save.files.push_back(file("inner", dirBytes, 1));
    importOk(card, save);
    Bytes image = card.image();
    size_t inner = entryOffset(image, "inner");
    fixtures::putU16(image, inner, 0x8427);
    fixtures::putU32(image, inner + 4, 2);
    MemoryCard withDir = openCard(image);
    expectClean(withDir);

    std::vector<Problem> problems;
    std::vector<CardSave> saves = withDir.list(&problems);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].fileCount, 5u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].text.find("sub-directory \"inner\" skipped"), std::string::npos) << problems[0].text;
    SaveContents back;
    std::string error;
    problems.clear();
    ASSERT_TRUE(withDir.exportSave(save.folderName, back, error, &problems)) << error;
    save.files.pop_back();
    expectWholeSaveSame(back, save);
    EXPECT_EQ(problems.size(), 1u);

    // Deleting the save frees the sub-directory's clusters too.
    ASSERT_TRUE(withDir.deleteSave(save.folderName, error)) << error;
    expectClean(withDir);
    EXPECT_EQ(withDir.freeClusters(), 7999u - 1);  // only the root's second cluster stays
}

TEST(CardList, MissingIconsAndTitlesAreShown) {
    MemoryCard card = openCard(withoutSpare(mc02()));
    SaveContents save = sampleSave();
    save.files.erase(save.files.begin() + 1);  // rez.ico
    importOk(card, save);
    std::vector<CardSave> saves = card.list();
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_TRUE(saves[0].hasIconSys);
    EXPECT_FALSE(saves[0].hasIcons);
    EXPECT_EQ(saves[0].titleUtf8, "Ｒｅｚ");
}

TEST(CardImport, ASaveOfVeryManyFilesIsRefusedWithoutTimeBySquare) {
    // Regression: every file's name was compared with every earlier one before the room was
    // counted, seconds of work for a save that could never fit.
    MemoryCard card = openCard(withoutSpare(mc02()));
    SaveContents many;
    many.folderName = "MANY";
    for (int i = 0; i < 60000; ++i) many.files.push_back(file("f" + std::to_string(i), {}, 1));
    const Bytes before = card.image();
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(card.importSave(many, false, error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_NE(error.find("not enough room"), std::string::npos) << error;
    EXPECT_TRUE(card.image() == before);
    // A name given twice is still found among many.
    many.files.resize(3000);
    many.files.push_back(many.files[1234]);
    EXPECT_FALSE(card.importSave(many, false, error));
    EXPECT_NE(error.find("two files named"), std::string::npos) << error;
}
