// marrowin-cli card as a person runs it, on card images and folder cards: what goes on comes
// off the same, and a card is never left damaged or half-written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "card/memory_card.h"
#include "containers/save_contents.h"
#include "export_test_support.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::Bytes;
using fixtures::readFileBytes;
using testing::CliRun;
using testing::TempDir;
using testing::cli;
using testing::exists;
using testing::namesIn;
using testing::patternBytes;
using testing::writeFile;

bool has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// A save with every piece of metadata set, so the card has nothing to fill in.
SaveContents fullSave(const std::string& folder, size_t bytes, uint8_t seed = 1) {
    SaveContents s;
    s.folderName = folder;
    s.created = stampOf(2019, 3, 4, 5, 6, 7);
    s.modified = stampOf(2020, 1, 2, 3, 4, 5);
    for (int i = 0; i < 3; ++i) {
        SaveFile f;
        f.name = "file" + std::to_string(i);
        f.created = stampOf(2018, 1, 1, 0, 0, uint8_t(i));
        f.modified = stampOf(2018, 2, 2, 0, 0, uint8_t(i));
        f.data = patternBytes(i == 0 ? bytes : 100 * i, uint8_t(seed + i));
        s.files.push_back(f);
    }
    return s;
}

Bytes psuOf(const SaveContents& s) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(writePsu(s, out, error)) << error;
    return out;
}

bool anyTemporary(const std::string& dir) {
    for (const std::string& n : namesIn(dir))
        if (n.rfind(".marrowin-", 0) == 0) return true;
    return false;
}

struct Kinds {
    const char* label;
    const char* format;  // arguments of card format for "card"
};
const Kinds CARD_KINDS[] = {
    {"image with ECC", "card format card"},
    {"image without ECC", "card format --no-ecc card"},
    {"folder card", "card format --folder card"},
};

TEST(CliCard, ImportThenExportGivesTheSameFiles) {
    for (const Kinds& k : CARD_KINDS) {
        SCOPED_TRACE(k.label);
        TempDir dir;
        ASSERT_EQ(cli(dir, k.format).code, 0);
        const Bytes a = psuOf(fullSave("BASLUS-11111AAA", 5000, 1));
        SaveContents odd = fullSave("BESLES-22222:B<>", 2048, 9);
        odd.folderMode = 0x8467;
        odd.files[1].attribute = 7;
        odd.files[2].name = "trailing. ";
        const Bytes b = psuOf(odd);
        writeFile(dir / "a.psu", a);
        writeFile(dir / "b.psu", b);
        CliRun r = cli(dir, "card import card a.psu b.psu");
        ASSERT_EQ(r.code, 0) << r.err;
        r = cli(dir, "card export -C out card");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(readFileBytes(dir / "out/BASLUS-11111AAA.psu"), a);
        // The host name of the second is cleaned; its contents are not.
        const std::vector<std::string> names = namesIn(dir / "out");
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(readFileBytes(dir / "out/" + names[1]), b) << names[1];
        r = cli(dir, "card check card");
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_TRUE(has(r.out, "card: ok")) << r.out;
    }
}

TEST(CliCard, OtherContainersGoOnAndComeOffWithTheirFiles) {
    TempDir dir;
    ASSERT_EQ(cli(dir, "card format card.ps2").code, 0);
    const std::string max = fixtures::testDataPath("formats/final-fantasy12.max");
    CliRun r = cli(dir, "card import card.ps2 - < '" + max + "'");  // from standard input
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(cli(dir, "card export --to max -C out card.ps2").code, 0);
    const Bytes original = readFileBytes(max), again = readFileBytes(dir / "out/BASLUS-20963FF1200.max");
    ContainerRead before = readContainer(ContainerKind::Max, {original.data(), original.size()});
    ContainerRead after = readContainer(ContainerKind::Max, {again.data(), again.size()});
    ASSERT_TRUE(before.ok && after.ok);
    ASSERT_EQ(before.contents.files.size(), after.contents.files.size());
    for (size_t i = 0; i < before.contents.files.size(); ++i) {
        EXPECT_EQ(before.contents.files[i].name, after.contents.files[i].name);
        EXPECT_EQ(before.contents.files[i].data, after.contents.files[i].data);
    }
    // The .max kept no stamps: the card gave them the time of the import, not zeros.
    r = cli(dir, "card ls card.ps2");
    EXPECT_FALSE(has(r.out, "0000-00-00")) << r.out;
}

TEST(CliCard, ImportDeleteAndImportAgain) {
    for (const Kinds& k : CARD_KINDS) {
        SCOPED_TRACE(k.label);
        TempDir dir;
        ASSERT_EQ(cli(dir, k.format).code, 0);
        const Bytes a = psuOf(fullSave("SAVE-A", 30000));
        writeFile(dir / "a.psu", a);
        ASSERT_EQ(cli(dir, "card import card a.psu").code, 0);
        CliRun r = cli(dir, "card delete card SAVE-A");
        ASSERT_EQ(r.code, 0) << r.err;
        r = cli(dir, "card ls card");
        EXPECT_TRUE(has(r.out, "0 saves")) << r.out;
        EXPECT_EQ(cli(dir, "card delete card SAVE-A").code, 1);
        ASSERT_EQ(cli(dir, "card import card a.psu").code, 0);
        ASSERT_EQ(cli(dir, "card export -C out card").code, 0);
        EXPECT_EQ(readFileBytes(dir / "out/SAVE-A.psu"), a);
        EXPECT_EQ(cli(dir, "card check card").code, 0);
    }
}

TEST(CliCard, ExistingFolderIsReplacedOnlyWhenAsked) {
    for (const Kinds& k : CARD_KINDS) {
        SCOPED_TRACE(k.label);
        TempDir dir;
        ASSERT_EQ(cli(dir, k.format).code, 0);
        const Bytes first = psuOf(fullSave("SAVE", 100, 1)), second = psuOf(fullSave("SAVE", 3000, 2));
        writeFile(dir / "1.psu", first);
        writeFile(dir / "2.psu", second);
        ASSERT_EQ(cli(dir, "card import card 1.psu").code, 0);
        CliRun r = cli(dir, "card import card 2.psu");
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(has(r.err, "--replace")) << r.err;
        ASSERT_EQ(cli(dir, "card export -C out card").code, 0);
        EXPECT_EQ(readFileBytes(dir / "out/SAVE.psu"), first);
        ASSERT_EQ(cli(dir, "card import --replace card 2.psu").code, 0);
        // Export never replaces a file unless asked either.
        r = cli(dir, "card export -C out card");
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(has(r.err, "out/SAVE.psu already exists")) << r.err;
        r = cli(dir, "card export -k -C out card");
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(has(r.err, "left alone, already there: out/SAVE.psu")) << r.err;
        EXPECT_EQ(readFileBytes(dir / "out/SAVE.psu"), first);
        ASSERT_EQ(cli(dir, "card export --replace -C out card").code, 0);
        EXPECT_EQ(readFileBytes(dir / "out/SAVE.psu"), second);
    }
}

TEST(CliCard, FullCardRefusesAndChangesNothing) {
    for (const Kinds& k : CARD_KINDS) {
        SCOPED_TRACE(k.label);
        TempDir dir;
        ASSERT_EQ(cli(dir, k.format).code, 0);
        writeFile(dir / "small.psu", psuOf(fullSave("SMALL", 1000)));
        ASSERT_EQ(cli(dir, "card import --no-backup card small.psu").code, 0);
        const Bytes before = exists(dir / "card/_pcsx2_superblock") ? Bytes{} : readFileBytes(dir / "card");
        const std::vector<std::string> namesBefore = namesIn(dir / "card");
        // 8,000 clusters of data: more than the 7,999 a card gives.
        writeFile(dir / "big.psu", psuOf(fullSave("BIG", 8000 * 1024)));
        CliRun r = cli(dir, "card import card big.psu");
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(has(r.err, "room")) << r.err;
        if (before.empty()) EXPECT_EQ(namesIn(dir / "card"), namesBefore);
        else EXPECT_EQ(readFileBytes(dir / "card"), before);
        EXPECT_FALSE(exists(dir / "card.bak"));
        EXPECT_FALSE(anyTemporary(dir.path()));
    }
}

TEST(CliCard, BackupHoldsTheOldCardAndNoBackupLeavesNone) {
    TempDir dir;
    ASSERT_EQ(cli(dir, "card format card.ps2").code, 0);
    const Bytes empty = readFileBytes(dir / "card.ps2");
    writeFile(dir / "a.psu", psuOf(fullSave("A", 10)));
    writeFile(dir / "b.psu", psuOf(fullSave("B", 10)));
    ASSERT_EQ(cli(dir, "card import card.ps2 a.psu").code, 0);
    EXPECT_EQ(readFileBytes(dir / "card.ps2.bak"), empty);
    const Bytes withA = readFileBytes(dir / "card.ps2");
    // A second change replaces the older backup.
    ASSERT_EQ(cli(dir, "card import card.ps2 b.psu").code, 0);
    EXPECT_EQ(readFileBytes(dir / "card.ps2.bak"), withA);

    TempDir other;
    ASSERT_EQ(cli(other, "card format card.ps2").code, 0);
    writeFile(other / "a.psu", psuOf(fullSave("A", 10)));
    ASSERT_EQ(cli(other, "card import --no-backup card.ps2 a.psu").code, 0);
    ASSERT_EQ(cli(other, "card delete --no-backup card.ps2 A").code, 0);
    EXPECT_EQ(namesIn(other.path()), (std::vector<std::string>{"a.psu", "card.ps2"}));
}

// marrowin-cli under a preloaded library that fails or kills it at a chosen call.
int cliUnder(const TempDir& dir, const std::string& env, const std::string& args) {
    const std::string cmd = "cd '" + dir.path() + "' && " + env + " LD_PRELOAD='" MARROWIN_FAILING_IO "' '" MARROWIN_CLI
                            "' " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliCard, InterruptedOrFailedWritesLeaveTheOriginalByteForByte) {
    TempDir dir;
    ASSERT_EQ(cli(dir, "card format card.ps2").code, 0);
    writeFile(dir / "a.psu", psuOf(fullSave("A", 20000)));
    writeFile(dir / "b.psu", psuOf(fullSave("B", 20000)));
    ASSERT_EQ(cli(dir, "card import --no-backup card.ps2 a.psu").code, 0);
    const Bytes original = readFileBytes(dir / "card.ps2");

    // Killed after the new card is written whole, just before it takes the card's name; then
    // killed before the backup takes its name.
    for (const char* at : {"card.ps2", "card.ps2.bak"}) {
        SCOPED_TRACE(at);
        const int code = cliUnder(dir, std::string("MARROWIN_FAIL_IO=kill-rename MARROWIN_FAIL_NAME=") + at,
                                  "card import card.ps2 b.psu");
        EXPECT_NE(code, 0);
        EXPECT_EQ(readFileBytes(dir / "card.ps2"), original);
    }
    // The temporaries the kills left are cleared by the next change.
    EXPECT_TRUE(anyTemporary(dir.path()));
    for (const char* call : {"fsync", "close"}) {
        SCOPED_TRACE(call);
        EXPECT_EQ(cliUnder(dir, std::string("MARROWIN_FAIL_IO=") + call, "card import --no-backup card.ps2 b.psu"), 1);
        EXPECT_EQ(readFileBytes(dir / "card.ps2"), original);
    }
    ASSERT_EQ(cli(dir, "card delete --no-backup card.ps2 A").code, 0);
    EXPECT_FALSE(anyTemporary(dir.path()));
}

TEST(CliCard, DamagedCardsAndSavesAreRefused) {
    TempDir dir;
    ASSERT_EQ(cli(dir, "card format --no-ecc card.ps2").code, 0);
    writeFile(dir / "a.psu", psuOf(fullSave("A", 100)));
    ASSERT_EQ(cli(dir, "card import --no-backup card.ps2 a.psu").code, 0);
    Bytes damaged = readFileBytes(dir / "card.ps2");
    // The root directory's allocation entry (cluster 9 holds the table) marked free.
    fixtures::putU32(damaged, 9 * 1024, 0x7FFFFFFF);
    writeFile(dir / "card.ps2", damaged);
    CliRun r = cli(dir, "card check card.ps2");
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(has(r.out, "card.ps2: error: ")) << r.out;
    writeFile(dir / "b.psu", psuOf(fullSave("B", 100)));
    r = cli(dir, "card import card.ps2 b.psu");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "--force")) << r.err;
    EXPECT_EQ(readFileBytes(dir / "card.ps2"), damaged);
    EXPECT_EQ(cli(dir, "card delete card.ps2 A").code, 1);
    EXPECT_EQ(readFileBytes(dir / "card.ps2"), damaged);

    // A save cut off in the middle, and a file that is no save, never reach a card.
    TempDir good;
    ASSERT_EQ(cli(good, "card format card.ps2").code, 0);
    const Bytes empty = readFileBytes(good / "card.ps2");
    Bytes cut = psuOf(fullSave("CUT", 5000));
    cut.resize(cut.size() - 3000);
    writeFile(good / "cut.psu", cut);
    writeFile(good / "text.psu", std::string("just text"));
    r = cli(good, "card import card.ps2 cut.psu text.psu");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "cut.psu: ")) << r.err;
    EXPECT_TRUE(has(r.err, "text.psu: not a save")) << r.err;
    EXPECT_EQ(readFileBytes(good / "card.ps2"), empty);
    EXPECT_FALSE(exists(good / "card.ps2.bak"));
}

// A FIFO or a device was "cannot open: Input/output error"; a FIFO must not be opened for
// reading at all (that waits for a writer).
TEST(CliCard, APipeOrADeviceIsSaidToBeNoRegularFile) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const std::string& path : {dir / "fifo", std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        for (const char* command : {"card ls", "card check"}) {
            CliRun r = cli(dir, std::string(command) + " '" + path + "'");
            const std::string said = r.out + r.err;  // check reports on standard output
            EXPECT_EQ(r.code, 1);
            EXPECT_TRUE(has(said, path + ": not a regular file")) << said;
            EXPECT_FALSE(has(said, "Input/output error")) << said;
        }
    }
}

TEST(CliCard, FormatNeverReplacesSilently) {
    TempDir dir;
    writeFile(dir / "card.ps2", std::string("someone's file"));
    CliRun r = cli(dir, "card format card.ps2");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "--replace")) << r.err;
    EXPECT_EQ(testing::readText(dir / "card.ps2"), "someone's file");
    ASSERT_EQ(cli(dir, "card format --replace --no-ecc card.ps2").code, 0);
    EXPECT_EQ(readFileBytes(dir / "card.ps2").size(), card::CARD_BYTES_WITHOUT_ECC);
    ASSERT_EQ(cli(dir, "card format new.ps2").code, 0);
    EXPECT_EQ(readFileBytes(dir / "new.ps2").size(), card::CARD_BYTES_WITH_ECC);
    testing::makeDir(dir / "full");
    writeFile(dir / "full/x", std::string("x"));
    EXPECT_EQ(cli(dir, "card format --folder full").code, 1);
    EXPECT_EQ(namesIn(dir / "full"), (std::vector<std::string>{"x"}));
}

TEST(CliCard, ListingAndCheckAsJson) {
    TempDir dir;
    writeFile(dir / "card.ps2", readFileBytes(fixtures::testDataPath("formats/mc02.ps2")));
    const std::string psv = fixtures::testDataPath("formats/BESLES-50325.PSV");
    ASSERT_EQ(cli(dir, "card import --no-backup card.ps2 '" + psv + "'").code, 0);
    CliRun r = cli(dir, "card ls card.ps2");
    EXPECT_EQ(r.code, 0);
    // Title in UTF-8, size in clusters and bytes, icons present.
    EXPECT_TRUE(has(r.out, "BESLES-50325")) << r.out;
    EXPECT_TRUE(has(r.out, "Ｍａｘ　Ｐａｙｎｅ")) << r.out;
    EXPECT_TRUE(has(r.out, "210 clusters    215040 bytes")) << r.out;
    EXPECT_TRUE(has(r.out, "free: 7788 clusters, 7974912 bytes")) << r.out;
    const std::string validJson = " | python3 -c 'import json,sys; json.load(sys.stdin)'";
    for (const char* args : {"card ls --json card.ps2", "card check --json card.ps2 missing.ps2"}) {
        SCOPED_TRACE(args);
        const std::string cmd = "cd '" + dir.path() + "' && '" MARROWIN_CLI "' " + args + validJson;
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    r = cli(dir, "card ls --json card.ps2");
    EXPECT_TRUE(has(r.out, "\"freeClusters\":7788")) << r.out;
    EXPECT_TRUE(has(r.out, "\"iconSys\":true,\"icons\":true")) << r.out;
    r = cli(dir, "card check --json card.ps2 missing.ps2");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.out, "\"kind\":\"card image with ECC\",\"ok\":true,\"errors\":0")) << r.out;
    EXPECT_TRUE(has(r.out, "\"kind\":null,\"ok\":false,\"errors\":1")) << r.out;
}

}  // namespace
}  // namespace marrowin

namespace marrowin {
namespace {

// info (and thumbnail, which draws its icon) take a card as the first save on it.
TEST(CliCard, InfoOfACardDescribesItsFirstSave) {
    for (const Kinds& k : CARD_KINDS) {
        SCOPED_TRACE(k.label);
        TempDir dir;
        ASSERT_EQ(cli(dir, k.format).code, 0);
        CliRun r = cli(dir, "info card");
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(has(r.err, "a memory card with no saves")) << r.err;
        writeFile(dir / "a.psu", psuOf(fullSave("FIRST", 10)));
        writeFile(dir / "b.psu", psuOf(fullSave("SECOND", 10)));
        ASSERT_EQ(cli(dir, "card import card a.psu b.psu").code, 0);
        r = cli(dir, "info card");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(has(r.out, "folder: FIRST")) << r.out;
    }
}

}  // namespace
}  // namespace marrowin

namespace marrowin {
namespace {

// The new image used to replace a link to the card by a plain file (the emulator's card
// unchanged) and to be readable by everyone whatever the card's permissions were.
TEST(CliCard, ALinkedCardIsChangedWhereItLivesAndKeepsItsPermissions) {
    TempDir dir;
    testing::makeDir(dir / "emu");
    ASSERT_EQ(cli(dir, "card format emu/Mcd001.ps2").code, 0);
    ASSERT_EQ(::chmod((dir / "emu/Mcd001.ps2").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("emu/Mcd001.ps2", (dir / "card.ps2").c_str()), 0);
    writeFile(dir / "a.psu", psuOf(fullSave("A", 10)));
    CliRun r = cli(dir, "card import card.ps2 a.psu");
    ASSERT_EQ(r.code, 0) << r.err;
    struct stat st;
    ASSERT_EQ(::lstat((dir / "card.ps2").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat((dir / "emu/Mcd001.ps2").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "emu/Mcd001.ps2.bak").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(has(cli(dir, "card ls emu/Mcd001.ps2").out, "1 save")) << r.out;
}

}  // namespace
}  // namespace marrowin
