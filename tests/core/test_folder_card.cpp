// PCSX2 folder cards: the index, times, host names, and saves written and read back as the
// emulator lays them out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "card/folder_card.h"
#include "container_test_support.h"
#include "fixtures.h"

// Plain C++ file helpers (std::filesystem), so these tests run on both hosts.
namespace marrowin::card {
namespace {

namespace fs = std::filesystem;
using fixtures::Bytes;
using marrowin::testing::expectWholeSaveSame;

class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = (fs::temp_directory_path() /
                 ("marrowin-folder-card-" + std::to_string(tick) + "-" + std::to_string(counter++)))
                    .string();
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void makeDir(const std::string& path) { fs::create_directory(path); }
void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}
void writeFile(const std::string& path, const std::string& text) { writeFile(path, Bytes(text.begin(), text.end())); }
std::string readText(const std::string& path) {
    const Bytes b = fixtures::readFileBytes(path);
    return std::string(b.begin(), b.end());
}
std::vector<std::string> namesIn(const std::string& path) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
Bytes patternBytes(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

TEST(FolderCard, IndexReadsBlockAndFlowMappingsAndQuotedKeys) {
    std::vector<std::string> problems;
    const auto entries = parseFolderIndex(
        "%ROOT:\n  timeCreated: 100\n  timeModified: 200\n"
        "icon.sys: {order: 2, timeCreated: 5, timeModified: 6}\n"
        "\"a: b\":\n  order: 1\n"
        "'it''s':\n  order: x\n  timeCreated: 9999999999999999999\n"
        "garbage line\n",
        problems);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "%ROOT");
    EXPECT_EQ(entries[0].timeModified, 200);
    EXPECT_EQ(entries[1].name, "icon.sys");
    EXPECT_EQ(entries[1].order, 2);
    EXPECT_EQ(entries[1].timeCreated, 5);
    EXPECT_EQ(entries[2].name, "a: b");
    EXPECT_EQ(entries[3].name, "it's");
    EXPECT_EQ(problems.size(), 3u);  // "x", a number past 64 bits, the garbage line
    EXPECT_FALSE(entries[3].hasCreated);

    // What we write reads back, keys that need quoting included.
    std::vector<FolderIndexEntry> written = {{"$ROOT", 0, 1, 2, true, true},
                                             {"odd \"name\"\\#", 1, 3, 4, true, true},
                                             {"-dash", 2, 5, 6, true, true}};
    problems.clear();
    const auto back = parseFolderIndex(writeFolderIndex(written), problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(back.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i].name, written[i].name);
        EXPECT_EQ(back[i].order, written[i].order);
        EXPECT_EQ(back[i].timeModified, written[i].timeModified);
    }
}

TEST(FolderCard, TimesAreUtcUnixSeconds) {
    EXPECT_EQ(stampOfUnixSeconds(0), stampOf(1970, 1, 1, 0, 0, 0));
    EXPECT_EQ(stampOfUnixSeconds(1190678457), stampOf(2007, 9, 25, 0, 0, 57));
    EXPECT_EQ(stampOfUnixSeconds(951782400), stampOf(2000, 2, 29, 0, 0, 0));
    EXPECT_EQ(stampOfUnixSeconds(-1), stampOf(1969, 12, 31, 23, 59, 59));
    EXPECT_EQ(unixSecondsOfStamp(stampOf(2007, 9, 25, 0, 0, 57)), 1190678457);
    EXPECT_EQ(unixSecondsOfStamp(Stamp{}), 0);  // month 0
    EXPECT_EQ(unixSecondsOfStamp(stampOf(2000, 13, 1, 0, 0, 0)), 0);
}

TEST(FolderCard, HostNamesAreCleanedAndSayWhenTheyLoseTheName) {
    bool exact = false;
    EXPECT_EQ(folderCardHostName("BESLES-50325", exact), "BESLES-50325");
    EXPECT_TRUE(exact);
    EXPECT_EQ(folderCardHostName("A:B%C|\"<>\\", exact), "A_B_C_____");
    EXPECT_FALSE(exact);
    EXPECT_EQ(folderCardHostName("end. ", exact), "end__");
    EXPECT_FALSE(exact);
    EXPECT_EQ(folderCardHostName("..", exact), "__");
    EXPECT_EQ(folderCardHostName("_pcsx2_index", exact), "__pcsx2_index");
    EXPECT_FALSE(exact);
}

SaveContents save(const std::string& name, std::vector<std::pair<std::string, size_t>> files) {
    SaveContents s;
    s.folderName = name;
    s.created = stampOf(2011, 1, 2, 3, 4, 5);
    s.modified = stampOf(2012, 6, 7, 8, 9, 10);
    uint8_t seed = 1;
    for (auto& [fname, size] : files) {
        SaveFile f;
        f.name = fname;
        f.created = stampOf(2010, 1, 1, 1, 1, seed);
        f.modified = stampOf(2010, 2, 2, 2, 2, seed);
        f.data = patternBytes(size, seed++);
        s.files.push_back(f);
    }
    return s;
}


TEST(FolderCard, SavesRoundTripWithMetaEntriesOnlyForWhatTheHostCannotSay) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(FolderCard::format(dir / "card", error)) << error;
    EXPECT_EQ(fixtures::readFileBytes(dir / "card/_pcsx2_superblock").size(), FOLDER_CARD_MARKER_BYTES);
    FolderCard card;
    ASSERT_TRUE(FolderCard::open(dir / "card", card, error)) << error;
    // Order on the card is not name order.
    const SaveContents plain = save("PLAIN", {{"zz", 10}, {"icon.sys", 0}, {"aa", 3000}});
    SaveContents odd = save("ODD:NAME.", {{"a|b", 5}, {"mode", 6}, {"zero", 7}});
    odd.folderMode = 0x8467;
    odd.files[1].mode = 0x8417;
    odd.files[1].attribute = 3;
    odd.files[2].created = Stamp{};  // no Unix time says this
    ASSERT_TRUE(card.importSave(plain, false, error)) << error;
    ASSERT_TRUE(card.importSave(odd, false, error)) << error;

    EXPECT_EQ(namesIn(dir / "card/PLAIN"), (std::vector<std::string>{"_pcsx2_index", "aa", "icon.sys", "zz"}));
    EXPECT_EQ(namesIn(dir / "card/ODD_NAME_"),
              (std::vector<std::string>{"_pcsx2_index", "_pcsx2_meta", "_pcsx2_meta_directory", "a_b", "mode", "zero"}));
    EXPECT_EQ(namesIn(dir / "card/ODD_NAME_/_pcsx2_meta"), (std::vector<std::string>{"a_b", "mode", "zero"}));

    FolderCard again;
    ASSERT_TRUE(FolderCard::open(dir / "card", again, error)) << error;
    SaveContents out;
    ASSERT_TRUE(again.exportSave("PLAIN", out, error)) << error;
    expectWholeSaveSame(plain, out);
    ASSERT_TRUE(again.exportSave("ODD:NAME.", out, error)) << error;
    expectWholeSaveSame(odd, out);
    EXPECT_TRUE(again.check().empty());
    // Root: 2 clusters; PLAIN: 3 + 1 + 0 + 3; ODD: 3 + 3.
    EXPECT_EQ(again.freeClusters(), 8000u - 2 - 7 - 6);
}

TEST(FolderCard, ReadsWhatTheEmulatorWritesAndSkipsItsOwnFiles) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(FolderCard::format(dir / "card", error)) << error;
    makeDir(dir / "card/SAVE");
    writeFile(dir / "card/SAVE/late", std::string("L"));
    writeFile(dir / "card/SAVE/early", std::string("E"));
    writeFile(dir / "card/SAVE/unindexed", std::string("U"));
    writeFile(dir / "card/SAVE/_pcsx2_index",
              std::string("%ROOT: {timeCreated: 1190678457, timeModified: 1190678458}\n"
                          "late:\n  order: 9\n  timeCreated: 0\n  timeModified: 60\n"
                          "early:\n  order: 2\n"));
    // The meta entry gives the file's real name and times.
    Bytes meta(0x60, 0);
    fixtures::putU16(meta, 0, 0x8497);
    const Stamp metaTime = stampOf(2001, 2, 3, 4, 5, 6);
    std::copy(metaTime.begin(), metaTime.end(), meta.begin() + 0x18);
    fixtures::putBytes(meta, 0x40, "Late?");
    makeDir(dir / "card/SAVE/_pcsx2_meta");
    writeFile(dir / "card/SAVE/_pcsx2_meta/late", meta);
    makeDir(dir / "card/_pcsx2_deleted_OLD");
    writeFile(dir / "card/loose-file", std::string("not a save"));

    makeDir(dir / "card/SAVE/inner");  // no save holds folders: left out and said

    FolderCard card;
    ASSERT_TRUE(FolderCard::open(dir / "card", card, error)) << error;
    const std::vector<CardSave> saves = card.list();
    ASSERT_EQ(saves.size(), 1u);
    SaveContents s;
    std::vector<Problem> leftOut;
    ASSERT_TRUE(card.exportSave("SAVE", s, error, &leftOut)) << error;
    ASSERT_EQ(leftOut.size(), 1u);
    EXPECT_NE(leftOut[0].text.find("inner"), std::string::npos) << leftOut[0].text;
    EXPECT_EQ(s.created, stampOf(2007, 9, 25, 0, 0, 57));
    EXPECT_EQ(s.modified, stampOf(2007, 9, 25, 0, 0, 58));
    ASSERT_EQ(s.files.size(), 3u);
    EXPECT_EQ(s.files[0].name, "unindexed");
    EXPECT_EQ(s.files[1].name, "early");
    EXPECT_EQ(s.files[2].name, "Late?");
    EXPECT_EQ(s.files[2].modified, metaTime);
}

TEST(FolderCard, DeleteRenamesAndReplaceKeepsTheOldAside) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(FolderCard::format(dir / "card", error)) << error;
    FolderCard card;
    ASSERT_TRUE(FolderCard::open(dir / "card", card, error)) << error;
    ASSERT_TRUE(card.importSave(save("S", {{"a", 1}}), false, error)) << error;
    EXPECT_FALSE(card.importSave(save("S", {{"b", 1}}), false, error));
    ASSERT_TRUE(card.importSave(save("S", {{"b", 2}}), true, error)) << error;
    EXPECT_EQ(namesIn(dir / "card"), (std::vector<std::string>{"S", "_pcsx2_deleted_S", "_pcsx2_superblock"}));
    EXPECT_EQ(namesIn(dir / "card/S"), (std::vector<std::string>{"_pcsx2_index", "b"}));
    ASSERT_TRUE(card.deleteSave("S", error)) << error;
    EXPECT_EQ(namesIn(dir / "card"),
              (std::vector<std::string>{"_pcsx2_deleted_S", "_pcsx2_deleted_S-2", "_pcsx2_superblock"}));
    EXPECT_TRUE(card.list().empty());
    EXPECT_FALSE(card.deleteSave("S", error));
}

TEST(FolderCard, RefusesWhatDoesNotFitAndLeavesNothing) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(FolderCard::format(dir / "card", error)) << error;
    FolderCard card;
    ASSERT_TRUE(FolderCard::open(dir / "card", card, error)) << error;
    EXPECT_FALSE(card.importSave(save("BIG", {{"x", 7997 * 1024}}), false, error));
    EXPECT_TRUE(error.find("room") != std::string::npos) << error;
    EXPECT_FALSE(card.importSave(save("0123456789012345678901234567890123", {{"x", 1}}), false, error));
    EXPECT_FALSE(card.importSave(save("TWICE", {{"x", 1}, {"x", 2}}), false, error));
    EXPECT_FALSE(card.importSave(save("META", {{"_pcsx2_index", 1}}), false, error));
    EXPECT_EQ(namesIn(dir / "card"), (std::vector<std::string>{"_pcsx2_superblock"}));
    // Exactly what there is fits: root 2 clusters, folder 2, data 7996.
    ASSERT_TRUE(card.importSave(save("FITS", {{"x", 7996 * 1024}}), false, error)) << error;
    EXPECT_EQ(card.freeClusters(), 0u);

    // A folder of the emulator's card that the card could not hold is an error of check.
    makeDir(dir / "card/MORE");
    writeFile(dir / "card/MORE/f", patternBytes(2048));
    ASSERT_TRUE(FolderCard::open(dir / "card", card, error)) << error;
    std::vector<Problem> problems = card.check();
    ASSERT_FALSE(problems.empty());
    EXPECT_EQ(problems.back().severity, Severity::Error);
}

TEST(FolderCard, OnlyAFolderWithTheMarkerIsACard) {
    TempDir dir;
    makeDir(dir / "plain");
    EXPECT_FALSE(isFolderCard(dir / "plain"));
    FolderCard card;
    std::string error;
    EXPECT_FALSE(FolderCard::open(dir / "plain", card, error));
    writeFile(dir / "plain/_pcsx2_superblock", Bytes(8192, 0));
    EXPECT_TRUE(isFolderCard(dir / "plain"));
    ASSERT_TRUE(FolderCard::open(dir / "plain", card, error)) << error;
    ASSERT_FALSE(card.check().empty());  // an unformatted card
    EXPECT_EQ(card.check()[0].severity, Severity::Error);
    writeFile(dir / "file", std::string("x"));
    EXPECT_FALSE(FolderCard::format(dir / "file", error));
    EXPECT_EQ(readText(dir / "file"), "x");
}

}  // namespace
}  // namespace marrowin::card
