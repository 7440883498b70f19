// The PS3 ".psv" container: the real sample, what the writer lays out, and damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "container_test_support.h"
#include "containers/save_contents.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::Bytes;
using fixtures::getU32;
using fixtures::putU32;
using testing::hasProblem;
using testing::problemsOf;

ByteView viewOf(const Bytes& b) { return {b.data(), b.size()}; }

Bytes sample() { return fixtures::readFileBytes(fixtures::testDataPath("formats/BESLES-50325.PSV")); }

// Three small files, one of them named by icon.sys as all three icons.
SaveContents smallSave() {
    SaveContents c;
    c.folderName = "BASLUS-12345GAME";
    c.created = stampOf(2020, 1, 2, 3, 4, 5);
    c.modified = stampOf(2021, 6, 7, 8, 9, 10);
    c.folderMode = 0x8427;
    SaveFile sys;
    sys.name = "icon.sys";
    sys.data.assign(964, 0);
    std::memcpy(sys.data.data(), "PS2D", 4);
    for (size_t off : {260u, 324u, 388u}) std::memcpy(sys.data.data() + off, "game.ico", 8);
    SaveFile ico;
    ico.name = "game.ico";
    ico.data.assign(3000, 0xAB);
    ico.mode = 0x8417;
    SaveFile game;
    game.name = std::string(32, 'G');  // a name filling its whole field
    game.data = {1, 2, 3};
    game.created = stampOf(2019, 12, 31, 23, 59, 58);
    c.files = {sys, ico, game};
    return c;
}

TEST(PsvContainer, TheRealSampleReadsWithoutProblems) {
    Bytes b = sample();
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(detectContainer(ByteView{b.data(), 1537}, b.size()), ContainerKind::Psv);
    ContainerRead r = readPsv(viewOf(b));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    EXPECT_EQ(r.contents.folderName, "BESLES-50325");
    EXPECT_EQ(r.contents.folderMode, 0x8427);
    EXPECT_TRUE(r.contents.created == stampOf(2007, 9, 25, 0, 0, 57));
    ASSERT_EQ(r.contents.files.size(), 4u);
    // The PS3 leaves garbage after the NUL of each name; it is not part of the name.
    EXPECT_EQ(r.contents.files[1].name, "PAYNE.ICO");
    EXPECT_EQ(r.contents.files[2].data.size(), 143640u);
    EXPECT_EQ(r.contents.files[3].mode, 0x8497);
}

// Written again, the sample comes out byte for byte but for what the PS3 alone can make (key
// seed, signature) and the garbage after the names' NULs.
TEST(PsvContainer, RewritingTheSampleGivesItsLayoutBack) {
    Bytes b = sample();
    ContainerRead r = readPsv(viewOf(b));
    ASSERT_TRUE(r.ok);
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(writePsv(r.contents, out, error)) << error;
    ASSERT_EQ(out.size(), b.size());
    Bytes want = b;
    std::fill(want.begin() + 0x08, want.begin() + 0x30, 0);
    for (size_t i = 0; i < 4; ++i) {
        const size_t name = 0xA0 + 60 * i + 0x18;
        const size_t len = r.contents.files[i].name.size();
        std::fill(want.begin() + long(name + len), want.begin() + long(name + 32), 0);
    }
    EXPECT_TRUE(out == want);
}

TEST(PsvContainer, TheWriterFillsTheRedundantBlockAndRoundTrips) {
    SaveContents c = smallSave();
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(writePsv(c, out, error)) << error;
    const Bytes& b = out;
    EXPECT_EQ(std::memcmp(b.data(), "\0VSP", 4), 0);
    EXPECT_EQ(getU32(b, 0x38), 0x2Cu);
    EXPECT_EQ(getU32(b, 0x3C), 2u);
    for (size_t off = 0x08; off < 0x30; ++off) EXPECT_EQ(b[off], 0) << "unsigned: " << off;
    // 1024 + 3072 + 1024 for the files, 3 KiB of entries rounded to 3 KiB.
    EXPECT_EQ(getU32(b, 0x40), 1024u + 3072 + 1024 + 3072);
    const uint32_t table = 0xA0, data = table + 3 * 60;
    EXPECT_EQ(getU32(b, 0x44), data);
    EXPECT_EQ(getU32(b, 0x48), 964u);
    for (size_t s = 1; s < 4; ++s) {
        EXPECT_EQ(getU32(b, 0x44 + 8 * s), data + 964) << s;
        EXPECT_EQ(getU32(b, 0x48 + 8 * s), 3000u) << s;
    }
    EXPECT_EQ(getU32(b, 0x64), 3u);
    EXPECT_EQ(getU32(b, 0x78), 5u);
    EXPECT_EQ(getU32(b, table + 2 * 60 + 0x38), data + 964 + 3000);
    EXPECT_EQ(b.size(), size_t(data + 964 + 3000 + 3));

    ContainerRead r = readPsv(viewOf(b));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    testing::expectSameSave(c, r.contents, "psv");
}

TEST(PsvContainer, WithoutIconSysTheSlotsAreZero) {
    SaveContents c = smallSave();
    c.files.erase(c.files.begin());
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(writePsv(c, out, error));
    for (size_t off = 0x44; off < 0x64; off += 4) EXPECT_EQ(getU32(out, off), 0u) << off;
    EXPECT_TRUE(readPsv(viewOf(out)).problems.empty());
}

TEST(PsvContainer, TheWriterRefusesWhatItCannotHold) {
    std::vector<uint8_t> out;
    std::string error;
    SaveContents c = smallSave();
    c.folderName = std::string(33, 'F');
    EXPECT_FALSE(writePsv(c, out, error));
    EXPECT_NE(error.find("longer than 32"), std::string::npos) << error;
    c = smallSave();
    c.files[2].name += "X";
    EXPECT_FALSE(writePsv(c, out, error));
    EXPECT_NE(error.find(std::string(32, 'G')), std::string::npos) << error;
    c = smallSave();
    c.files[1].name = std::string("a\0b", 3);
    EXPECT_FALSE(writePsv(c, out, error));
    c = smallSave();
    c.files[1].name.clear();
    EXPECT_FALSE(writePsv(c, out, error));
}

TEST(PsvContainer, PlayStationSavesAndOtherTypesAreRefusedClearly) {
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(writePsv(smallSave(), out, error));
    putU32(out, 0x3C, 1);
    ContainerRead r = readPsv(viewOf(out));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "PlayStation (PS1) save")) << problemsOf(r);
    EXPECT_TRUE(hasProblem(r, true, "which a PS2 tool does not take")) << problemsOf(r);
    // The PS3's own layout of one, and one whose type word was lost but whose mark says PS1.
    Bytes ps1 = testing::ps1Psv();
    EXPECT_TRUE(isPs1Psv(viewOf(ps1)));
    EXPECT_TRUE(hasProblem(readPsv(viewOf(ps1)), true, "PlayStation (PS1) save"));
    putU32(ps1, 0x3C, 0);
    EXPECT_TRUE(isPs1Psv(viewOf(ps1)));
    putU32(out, 0x3C, 7);
    EXPECT_FALSE(isPs1Psv(viewOf(out)));
    EXPECT_TRUE(hasProblem(readPsv(viewOf(out)), true, "type 7"));
    Bytes shortHeader(out.begin(), out.begin() + 0x90);
    putU32(shortHeader, 0x3C, 2);
    r = readPsv(viewOf(shortHeader));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "header is cut off"));
    out[1] = 'X';
    EXPECT_FALSE(readPsv(viewOf(out)).ok);
    EXPECT_EQ(detectContainer(viewOf(out), out.size()), ContainerKind::Unknown);
}

TEST(PsvContainer, DataPastTheEndOrOverTheTableIsAnErrorNamingTheFile) {
    std::vector<uint8_t> b;
    std::string error;
    ASSERT_TRUE(writePsv(smallSave(), b, error));
    Bytes cut(b.begin(), b.end() - 2);
    ContainerRead r = readPsv(viewOf(cut));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, std::string(32, 'G') + ": cut off, 1 of 3 bytes")) << problemsOf(r);
    EXPECT_EQ(r.contents.files[2].data, Bytes{1});

    Bytes over = b;
    putU32(over, 0xA0 + 60 + 0x38, 0x90);
    r = readPsv(viewOf(over));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "game.ico: its data at 0x90 overlaps")) << problemsOf(r);

    Bytes far = b;
    putU32(far, 0xA0 + 0x38, 0xFFFFFFF0);
    r = readPsv(viewOf(far));
    EXPECT_TRUE(hasProblem(r, true, "icon.sys: cut off, 0 of 964")) << problemsOf(r);
}

TEST(PsvContainer, FileCountsThatDisagreeKeepEveryFileTheTableCanHold) {
    std::vector<uint8_t> b;
    std::string error;
    ASSERT_TRUE(writePsv(smallSave(), b, error));
    // 0x64 says fewer files than the table holds: the sound larger table wins, nothing lost.
    Bytes fewer = b;
    putU32(fewer, 0x64, 2);
    ContainerRead r = readPsv(viewOf(fewer));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.contents.files.size(), 3u);
    EXPECT_FALSE(r.hasErrors()) << problemsOf(r);
    EXPECT_TRUE(hasProblem(r, false, "file counts disagree"));
    // 0x78 claims more: that table would run into the data, so the smaller count is read and
    // the possible loss is an error.
    Bytes more = b;
    putU32(more, 0x78, 40);
    r = readPsv(viewOf(more));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.contents.files.size(), 3u);
    EXPECT_TRUE(hasProblem(r, true, "file counts disagree")) << problemsOf(r);
    // Both agree on more records than the file has room for.
    Bytes huge = b;
    putU32(huge, 0x64, 0x40000000);
    putU32(huge, 0x78, 0x40000002);
    r = readPsv(viewOf(huge));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "file table is cut off")) << problemsOf(r);
}

TEST(PsvContainer, RedundantFieldsThatDisagreeAreWarnings) {
    std::vector<uint8_t> b;
    std::string error;
    ASSERT_TRUE(writePsv(smallSave(), b, error));
    putU32(b, 0x40, 1234);
    putU32(b, 0x50, 1);  // normal icon's size
    putU32(b, 0x38, 0x14);
    b.push_back(0xEE);  // a byte after the last file
    // Garbage after a name's NUL is no part of it.
    b[0xA0 + 60 + 0x18 + 9] = 'Z';
    ContainerRead r = readPsv(viewOf(b));
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.hasErrors()) << problemsOf(r);
    EXPECT_TRUE(hasProblem(r, false, "display size is 1234"));
    EXPECT_TRUE(hasProblem(r, false, "normal icon slot"));
    EXPECT_TRUE(hasProblem(r, false, "0x38"));
    EXPECT_TRUE(hasProblem(r, false, "1 bytes after the last file"));
    EXPECT_EQ(r.contents.files[1].name, "game.ico");
}

// Records that all point at the same large data must not multiply it in memory.
TEST(PsvContainer, RecordsSharingDataAreBoundedInTotal) {
    SaveContents c;
    c.folderName = "X";
    SaveFile big;
    big.name = "big";
    big.data.assign(8u << 20, 7);
    c.files.push_back(big);
    for (int i = 0; i < 20; ++i) {
        SaveFile f;
        f.name = "f" + std::to_string(i);
        c.files.push_back(f);
    }
    std::vector<uint8_t> b;
    std::string error;
    ASSERT_TRUE(writePsv(c, b, error));
    const uint32_t bigAt = getU32(b, 0xA0 + 0x38);
    for (size_t i = 1; i <= 20; ++i) {
        putU32(b, 0xA0 + 60 * i + 0x10, 8u << 20);
        putU32(b, 0xA0 + 60 * i + 0x38, bigAt);
    }
    ContainerRead r = readPsv(viewOf(b));
    ASSERT_TRUE(r.ok);
    size_t total = 0;
    for (const SaveFile& f : r.contents.files) total += f.data.size();
    EXPECT_LE(total, SAVE_EXPANDED_MAX);
    EXPECT_TRUE(hasProblem(r, true, "more than 64 MiB")) << problemsOf(r);
}

}  // namespace
}  // namespace marrowin
