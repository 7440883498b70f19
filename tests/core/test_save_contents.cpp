// The neutral save: recognition, the .psu layout, metadata completion, and the round trip of
// every container through every other.
#include <gtest/gtest.h>

#include <cstring>

#include "container_test_support.h"
#include "containers/save_contents.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::Bytes;
using testing::expectSameFiles;
using testing::expectSameMetadata;
using testing::problemsOf;

const ContainerKind ALL_KINDS[] = {ContainerKind::Psu, ContainerKind::Max, ContainerKind::Cbs,
                                   ContainerKind::SharkPort, ContainerKind::Psv};

// Every container but .max keeps time stamps and modes.
bool keepsMetadata(ContainerKind k) { return k != ContainerKind::Max; }

const char* const SAMPLES[] = {"formats/final-fantasy12.max", "formats/tokyo-xtreme-racer-drift-2.14091.cbs",
                               "formats/max-payne.1394.sps", "formats/BESLES-50325.PSV"};

TEST(SaveContents, WordsAndTitlesNameEveryContainer) {
    for (ContainerKind k : ALL_KINDS) {
        EXPECT_EQ(containerFromWord(containerWord(k)), k);
        EXPECT_STRNE(containerTitle(k), "not recognised");
    }
    EXPECT_EQ(containerFromWord("XPS"), ContainerKind::SharkPort);
    EXPECT_EQ(containerFromWord(".PSV"), ContainerKind::Psv);
    EXPECT_EQ(containerFromWord("zip"), ContainerKind::Unknown);
    EXPECT_EQ(containerFromWord(""), ContainerKind::Unknown);
}

// Each sample is told by its head alone, whatever its name.
TEST(SaveContents, EverySampleIsRecognisedFromItsHead) {
    const ContainerKind kinds[] = {ContainerKind::Max, ContainerKind::Cbs, ContainerKind::SharkPort,
                                   ContainerKind::Psv};
    for (size_t i = 0; i < 4; ++i) {
        Bytes b = fixtures::readFileBytes(fixtures::testDataPath(SAMPLES[i]));
        ASSERT_GT(b.size(), 1537u) << SAMPLES[i];
        EXPECT_EQ(detectContainer({b.data(), 1537}, b.size()), kinds[i]) << SAMPLES[i];
    }
    Bytes psu = fixtures::iconSave();
    EXPECT_EQ(detectContainer({psu.data(), 1537}, psu.size()), ContainerKind::Psu);
    Bytes text(4000, 'x');
    EXPECT_EQ(detectContainer({text.data(), text.size()}, text.size()), ContainerKind::Unknown);
}

TEST(SaveContents, PsuKeepsEveryFieldAndPadsTo1024) {
    SaveContents c = testing::realIconContents();
    c.attribute = 0x1234;
    c.folderMode = 0x84A7;
    c.files[0].attribute = 7;
    c.files[1].mode = 0x8417;
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(writePsu(c, out, error)) << error;
    EXPECT_EQ(out.size(), 3 * 512 + 2 * 1024 + ((c.files[0].data.size() + 1023) & ~size_t(1023)));
    EXPECT_EQ(fixtures::getU32(out, 4), 4u);  // the folder counts "." and ".."
    ContainerRead r = readPsu({out.data(), out.size()});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    expectSameFiles(c, r.contents, "psu");
    expectSameMetadata(c, r.contents, "psu");
    EXPECT_EQ(r.contents.attribute, 0x1234u);
    EXPECT_EQ(r.contents.files[0].attribute, 7u);
    // The image the commands work on is the same layout.
    SaveImage image = psuImageOf(c);
    ASSERT_FALSE(image.empty());
    ASSERT_EQ(image.fileSize, out.size());
    EXPECT_EQ(std::memcmp(image.bytes, out.data(), out.size()), 0);
}

TEST(SaveContents, PsuRefusesNamesItCannotHoldAndReportsCutData) {
    std::vector<uint8_t> out;
    std::string error;
    SaveContents c = testing::realIconContents();
    c.folderName = std::string(65, 'F');
    EXPECT_FALSE(writePsu(c, out, error));
    c = testing::realIconContents();
    c.files[0].name.clear();
    EXPECT_FALSE(writePsu(c, out, error));
    EXPECT_TRUE(psuImageOf(c).empty());

    // A folder inside the save: nothing can hold it, and that is said.
    Bytes nested = fixtures::ArchiveBuilder("F").file("a", {1}).entry(MODE_DIRECTORY, 2, "sub").build();
    ContainerRead n = readPsu({nested.data(), nested.size()});
    ASSERT_TRUE(n.ok);
    EXPECT_EQ(n.contents.files.size(), 1u);
    EXPECT_TRUE(testing::hasProblem(n, false, "sub: a folder inside the save, left out")) << problemsOf(n);

    ASSERT_TRUE(writePsu(testing::realIconContents(), out, error));
    out.resize(out.size() - 1024);
    ContainerRead r = readPsu({out.data(), out.size()});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(testing::hasProblem(r, true, "icon.sys: cut off")) << problemsOf(r);
}

TEST(SaveContents, CompleteMetadataFillsOnlyWhatIsMissing) {
    SaveContents c;
    c.folderName = "F";
    c.folderMode = 0;
    c.modified = stampOf(2001, 2, 3, 4, 5, 6);
    SaveFile a, b;
    a.name = "a";
    a.mode = 0x0007;  // neither in use nor a file
    a.created = stampOf(1999, 1, 1, 0, 0, 0);
    a.modified = a.created;
    b.name = "b";
    c.files = {a, b};
    const Stamp now = stampOf(2026, 12, 8, 21, 0, 0);
    // Folder: created and mode; a: its mode; b: both stamps (its mode is the default).
    EXPECT_EQ(completeMetadata(c, now), 5u);
    EXPECT_TRUE(c.created == now);
    EXPECT_TRUE(c.modified == stampOf(2001, 2, 3, 4, 5, 6));
    EXPECT_EQ(c.folderMode, MODE_DIRECTORY);
    EXPECT_EQ(c.files[0].mode, 0x8017);
    EXPECT_TRUE(c.files[0].created == stampOf(1999, 1, 1, 0, 0, 0));
    EXPECT_TRUE(c.files[1].created == now && c.files[1].modified == now);
    EXPECT_EQ(completeMetadata(c, now), 0u);
}

TEST(SaveContents, TitlesComeFromIconSys) {
    SaveContents c = testing::realIconContents();
    EXPECT_EQ(asciiTitleOf(c), "Open PS2 Loader Settings");
    EXPECT_FALSE(shiftJisTitleOf(c).empty());
    c.files.pop_back();
    EXPECT_EQ(asciiTitleOf(c), "");
    EXPECT_EQ(findSaveFile(c, "icon.sys"), nullptr);
}

struct Source {
    std::string name;
    SaveContents contents;
};

// The four real samples and saves of the real icons, with every stamp and mode filled so
// the containers that keep them can be held to them.
std::vector<Source> sources() {
    std::vector<Source> out;
    for (const char* s : SAMPLES) {
        Bytes b = fixtures::readFileBytes(fixtures::testDataPath(s));
        ContainerRead r = readContainer(detectContainer({b.data(), b.size()}, b.size()), {b.data(), b.size()});
        EXPECT_TRUE(r.ok && !r.hasErrors()) << s << ": " << problemsOf(r);
        if (r.ok) out.push_back({s, r.contents});
    }
    out.push_back({"opl", testing::realIconContents()});
    out.push_back({"default", testing::realIconContents("default-icon.icn", "default-icon.sys")});
    out.push_back({"opl japanese", testing::realIconContents("opl.icn", "opl-icon_J.sys")});
    for (Source& s : out) completeMetadata(s.contents, stampOf(2026, 1, 2, 3, 4, 5));
    return out;
}

// Writes and reads back; fails the test (and gives false) when either step does.
bool through(ContainerKind kind, const SaveContents& in, SaveContents& out, const std::string& what) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!writeContainer(kind, in, bytes, error)) {
        ADD_FAILURE() << what << ": writing " << containerWord(kind) << " failed: " << error;
        return false;
    }
    ContainerRead r = readContainer(kind, {bytes.data(), bytes.size()});
    if (!r.ok || !r.problems.empty()) {
        ADD_FAILURE() << what << ": reading back " << containerWord(kind) << ":\n" << problemsOf(r);
        if (!r.ok) return false;
    }
    out = std::move(r.contents);
    return true;
}

// Any container to any other and back gives the same names and bytes, and the stamps and
// modes survive wherever both containers keep them.
TEST(SaveContents, EveryContainerRoundTripsThroughEveryOther) {
    for (const Source& s : sources()) {
        for (ContainerKind a : ALL_KINDS) {
            SaveContents inA;
            const std::string first = s.name + " as " + containerWord(a);
            if (!through(a, s.contents, inA, first)) continue;
            expectSameFiles(s.contents, inA, first);
            if (keepsMetadata(a)) expectSameMetadata(s.contents, inA, first);
            for (ContainerKind b : ALL_KINDS) {
                const std::string what = first + " -> " + containerWord(b) + " -> " + containerWord(a);
                SaveContents inB, back;
                if (!through(b, inA, inB, what) || !through(a, inB, back, what)) continue;
                expectSameFiles(s.contents, back, what);
                if (keepsMetadata(a) && keepsMetadata(b)) expectSameMetadata(s.contents, back, what);
            }
        }
    }
}

}  // namespace
}  // namespace marrowin
