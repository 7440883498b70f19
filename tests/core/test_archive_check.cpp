// Archive checking: each kind of damage is found at the right entry and offset, and sound
// archives (the demo, real icons packed by us) pass.
#include <gtest/gtest.h>

#include "operations/archive_check.h"
#include "operations/archive_export.h"
#include "export_test_support.h"
#include "fixtures.h"
#include "icon/icon_model.h"

namespace marrowin {
namespace {

using fixtures::ArchiveBuilder;
using fixtures::Bytes;
using fixtures::ModelRecipe;

std::vector<Problem> check(const Bytes& b) { return checkArchive(fixtures::imageOf(b)); }

std::string describe(const std::vector<Problem>& ps) {
    std::string s;
    for (const auto& p : ps)
        s += std::string(p.severity == Severity::Error ? "E " : "W ") + "[" + p.where + "] @" +
             std::to_string(p.offset) + " " + p.text + "\n";
    return s;
}

// The one problem of `severity` at `entry` and `offset` whose message holds `words`.
::testing::AssertionResult has(const std::vector<Problem>& ps, Severity severity,
                               const std::string& entry, uint64_t offset, const std::string& words) {
    for (const auto& p : ps)
        if (p.severity == severity && p.where == entry && p.offset == offset &&
            p.text.find(words) != std::string::npos)
            return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no " << (severity == Severity::Error ? "error" : "warning")
                                         << " [" << entry << "] @" << offset << " \"" << words
                                         << "\" in:\n" << describe(ps);
}

size_t errors(const std::vector<Problem>& ps) { return countProblems(ps, Severity::Error); }

// Descriptor, the model, and a file after it, so "past the entry" and "past the file" differ.
struct ModelSave {
    Bytes bytes;
    uint64_t model;  // offset of the model's data
};
ModelSave modelSave(const ModelRecipe& m, bool fileAfter = true) {
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor({}));
    a.file("icon.icn", fixtures::buildModel(m));
    if (fileAfter) a.file("after.dat", Bytes(40000, 1));
    Bytes b = a.build();
    return {b, a.fileHeaderOffsets[1] + ENTRY_HEADER_SIZE};
}

ModelRecipe runLengthModel(std::vector<uint16_t> stream) {
    ModelRecipe m = fixtures::triangleModel();
    m.textureType = 0x0E;
    m.texture = std::move(stream);
    return m;
}

TEST(ArchiveCheck, SoundArchivesPass) {
    EXPECT_TRUE(check(fixtures::iconSave()).empty()) << describe(check(fixtures::iconSave()));
    std::vector<uint16_t> stream;
    fixtures::rleRepeat(stream, 0x2000, 0x7FFF);
    fixtures::rleLiteral(stream, std::vector<uint16_t>(0x2000, 0x1F));
    auto coded = check(modelSave(runLengthModel(stream)).bytes);
    EXPECT_TRUE(coded.empty()) << describe(coded);

    auto demo = check(fixtures::readFileBytes(std::string(MARROWIN_SAMPLES) + "/demo.psu"));
    EXPECT_TRUE(demo.empty()) << describe(demo);

    // Real icons as our packer stores them (the default descriptor names its model my.icn).
    testing::TempDir dir;
    for (auto [folder, model, modelName, descriptor] :
         {std::array<const char*, 4>{"OPL", "opl.icn", "opl.icn", "opl-icon.sys"},
          std::array<const char*, 4>{"DEF", "default-icon.icn", "my.icn", "default-icon.sys"},
          // A console's own system save: its descriptor names icons in the console's ROM.
          std::array<const char*, 4>{"BEDATA-SYSTEM", "opl.icn", "opl.icn", "opl-icon_J.sys"}}) {
        testing::makeDir(dir / folder);
        testing::writeFile(dir / folder + "/" + modelName,
                           fixtures::readFileBytes(fixtures::testDataPath(model)));
        testing::writeFile(dir / folder + "/icon.sys",
                           fixtures::readFileBytes(fixtures::testDataPath(descriptor)));
        ASSERT_TRUE(packFolder(dir / folder, dir.fd()).ok);
        auto ps = check(fixtures::readFileBytes(dir / folder + ".psu"));
        EXPECT_EQ(errors(ps), 0u) << folder << "\n" << describe(ps);
    }
}

TEST(ArchiveCheck, UnrecognisedAndRefusedFilesGetOneErrorAndNothingElse) {
    Bytes text(2000, 'x');
    auto ps = check(text);
    ASSERT_EQ(ps.size(), 1u);
    EXPECT_TRUE(has(ps, Severity::Error, "", 512, "not a save archive"));
    EXPECT_TRUE(has(check(Bytes(100, 0)), Severity::Error, "", 0, "too short"));
    EXPECT_TRUE(has(check(Bytes()), Severity::Error, "", 0, "too short"));

    Bytes power = fixtures::iconSave();
    std::memcpy(power.data(), "Ps2PowerSave", 12);
    ps = check(power);
    ASSERT_EQ(ps.size(), 1u);
    EXPECT_TRUE(has(ps, Severity::Error, "", 0, "Ps2PowerSave"));
}

TEST(ArchiveCheck, CutArchivesAreErrors) {
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor({}));
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    Bytes whole = a.build();
    const uint64_t model = a.fileHeaderOffsets[1];

    // Cut inside the model's data: the data run past the file, and so does its texture.
    Bytes cut(whole.begin(), whole.begin() + long(model + 512 + 1000));
    auto ps = check(cut);
    EXPECT_TRUE(has(ps, Severity::Error, "icon.icn", model + 512, "past the end of the file"));
    EXPECT_TRUE(has(ps, Severity::Error, "icon.icn", model + 512 + 20 + 72 + 20 + 16,
                    "plain texture (32768 bytes) runs past the end of the file"));

    // Cut inside a header that holds something: an error; the same length of zeros: a warning.
    Bytes header = whole;
    header.resize(whole.size() + 100, 0);
    header[whole.size()] = 0x97;
    ps = check(header);
    EXPECT_TRUE(has(ps, Severity::Error, "", whole.size(), "header runs past the end of the file: 100 of 512"));
}

// Fewer than 512 zeros after the last entry used to be "no entry", while the walk of info and
// extract reads them as a nameless empty file and extraction writes "_".
TEST(ArchiveCheck, ZerosAfterTheLastEntryAreTheFileTheReadersSee) {
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor({}));
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    Bytes zeros = a.build();
    const uint64_t end = zeros.size();
    zeros.resize(end + 100, 0);
    auto ps = check(zeros);
    EXPECT_TRUE(has(ps, Severity::Error, "", end,
                    "100 zero bytes after the last entry: readers take them for a file with an "
                    "empty name and no data, which info lists and extraction writes as an empty "
                    "file \"_\""));
    EXPECT_EQ(ps.size(), 1u) << "said once, not again as a name or a count: " << describe(ps);

    // Where that "_" lands on a file of the save, extraction replaces it.
    ArchiveBuilder b;
    b.file("icon.sys", fixtures::buildDescriptor({}));
    b.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    b.file("_", {1});
    Bytes clash = b.build();
    clash.resize(clash.size() + 1, 0);
    ps = check(clash);
    EXPECT_TRUE(has(ps, Severity::Error, "", clash.size() - 1, "1 zero byte after the last entry"));
    EXPECT_TRUE(has(ps, Severity::Error, "", clash.size() - 1, "same file as the entry at"));
    EXPECT_EQ(errors(ps), 2u) << describe(ps);
}

TEST(ArchiveCheck, PaddingThatIsNotZeroOrCutShortIsAWarning) {
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor({}), 0xFF);
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    Bytes b = a.build();
    uint64_t descriptorEnd = a.fileHeaderOffsets[0] + 512 + 964;
    b.resize(b.size() - 10);  // the model's padding loses its last bytes
    auto ps = check(b);
    EXPECT_EQ(errors(ps), 0u) << describe(ps);
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.sys", descriptorEnd, "padding after the data holds"));
    uint64_t modelEnd = a.fileHeaderOffsets[1] + 512 + fixtures::buildModel(fixtures::triangleModel()).size();
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.icn", modelEnd, "padding cut short"));
}

TEST(ArchiveCheck, TheFoldersEntryMustCountItsEntries) {
    Bytes b = fixtures::iconSave();
    fixtures::putU32(b, ENTRY_SIZE_OFFSET, 3);
    EXPECT_TRUE(has(check(b), Severity::Error, "BASLUS-20000SAVE", ENTRY_SIZE_OFFSET,
                    "counts 3 entries, the archive holds 4 (\".\", \"..\" and 2 files)"));

    // A directory among the files is counted, and passed over by the readers.
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor({}));
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    a.entry(MODE_DIRECTORY, 0, "SUB");
    Bytes nested = a.build();
    auto ps = check(nested);
    EXPECT_EQ(errors(ps), 0u) << describe(ps);
    EXPECT_TRUE(has(ps, Severity::Warning, "SUB", a.fileHeaderOffsets[2], "passes it over"));

    Bytes fileFirst = fixtures::iconSave();
    fileFirst[0] = 0x97;
    EXPECT_TRUE(has(check(fileFirst), Severity::Error, "BASLUS-20000SAVE", 0, "not a directory entry"));
}

TEST(ArchiveCheck, NamesExtractionCannotWriteAsTheyStand) {
    ArchiveBuilder a("..");
    a.file("icon.sys", fixtures::buildDescriptor({}));
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    a.file("", {1});
    a.file(".", {1});
    a.file("a/b", {1});
    a.file("a_b", {1});                         // where "a/b" lands
    a.file(std::string(300, 'n'), {1});         // 300 bytes: longer than a host name
    a.file(std::string(86, '\xB1'), {1});       // 86 half-width kana: 258 bytes as UTF-8
    a.file("ICON.ICN", {1});                    // the lookup takes it for icon.icn
    a.file("icon.sys", {1});                    // replaces the descriptor on extraction
    Bytes b = a.build();
    auto ps = check(b);
    const auto& at = a.fileHeaderOffsets;
    EXPECT_TRUE(has(ps, Severity::Error, "..", ENTRY_NAME_OFFSET, "not a folder of its own"));
    EXPECT_TRUE(has(ps, Severity::Error, "", at[2] + 64, "empty file name"));
    EXPECT_TRUE(has(ps, Severity::Error, ".", at[3] + 64, "names a folder"));
    EXPECT_TRUE(has(ps, Severity::Error, "a/b", at[4] + 64, "holds '/'"));
    EXPECT_TRUE(has(ps, Severity::Error, "a_b", at[5], "same file as the entry at 0x" + [&] {
        char h[20];
        std::snprintf(h, sizeof h, "%llX", static_cast<unsigned long long>(at[4]));
        return std::string(h);
    }()));
    EXPECT_TRUE(has(ps, Severity::Error, std::string(300, 'n'), at[6] + 64, "300 bytes as a host name"));
    EXPECT_TRUE(has(ps, Severity::Error, std::string(86, '\xB1'), at[7] + 64, "258 bytes"));
    EXPECT_TRUE(has(ps, Severity::Warning, "ICON.ICN", at[8], "letter case is ignored"));
    EXPECT_TRUE(has(ps, Severity::Error, "icon.sys", at[9], "same file"));
    // The twin also takes over the icon lookup, and it is no model.
    EXPECT_TRUE(has(ps, Severity::Error, "ICON.ICN", at[8] + 512, "header runs past the end of its entry"));
    EXPECT_EQ(errors(ps), 9u) << describe(ps);

    Bytes unnamed = fixtures::iconSave({}, fixtures::triangleModel(), "");
    EXPECT_TRUE(has(check(unnamed), Severity::Error, "", ENTRY_NAME_OFFSET, "folder name is empty"));
}

TEST(ArchiveCheck, NamesWindowsDoesNotTakeAreWarnings) {
    ArchiveBuilder a("BA:SAVE.");
    a.file("icon.sys", fixtures::buildDescriptor({}));
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    a.file("a:b", {1});
    a.file("a_b", {1});      // where "a:b" lands on Windows
    a.file("Con.txt", {1});
    a.file("end ", {1});
    a.file("tab\t", {1});
    a.file("\x83\x41", {1});  // katakana A: fine everywhere
    Bytes b = a.build();
    auto ps = check(b);
    const auto& at = a.fileHeaderOffsets;
    EXPECT_TRUE(has(ps, Severity::Warning, "BA:SAVE.", ENTRY_NAME_OFFSET,
                    "the folder name holds ':', which Windows does not take: extraction there or "
                    "with --portable-names writes it as \"BA_SAVE_\""));
    EXPECT_TRUE(has(ps, Severity::Warning, "a:b", at[2] + 64, "holds ':'"));
    EXPECT_TRUE(has(ps, Severity::Warning, "a_b", at[3], "same name as the entry at"));
    EXPECT_TRUE(has(ps, Severity::Warning, "Con.txt", at[4] + 64, "device name CON"));
    EXPECT_TRUE(has(ps, Severity::Warning, "end ", at[5] + 64, "ends with a space"));
    EXPECT_TRUE(has(ps, Severity::Warning, "tab\t", at[6] + 64, "control character"));
    EXPECT_EQ(errors(ps), 0u) << describe(ps);
    EXPECT_EQ(ps.size(), 6u) << describe(ps);
}

// Messages are UTF-8 with save text decoded once: names from the save read as their
// characters, and a name extraction writes is quoted as the file it makes.
TEST(ArchiveCheck, MessagesQuoteSaveTextDecodedAndExtractedNamesAsWritten) {
    const std::string a = "\x83\x41";                  // katakana A in Shift-JIS
    const std::string aUtf8 = "\xE3\x82\xA2";
    fixtures::DescriptorRecipe d;
    d.iconNames = {"icon.icn", "icon.icn", a + ".icn"};
    ArchiveBuilder save;
    save.file("icon.sys", fixtures::buildDescriptor(d));
    save.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    save.file(a + "/b", {1});
    Bytes b = save.build();
    auto ps = check(b);
    EXPECT_TRUE(has(ps, Severity::Error, a + "/b", save.fileHeaderOffsets[2] + 64,
                    "extraction writes it as \"" + aUtf8 + "_b\""));
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.sys", save.fileHeaderOffsets[0] + 512 + 260 + 128,
                    "the delete icon's name \"" + aUtf8 + ".icn\" matches no file"));
    EXPECT_EQ(extractedFileName(a + "/b"), aUtf8 + "_b");
}

TEST(ArchiveCheck, DescriptorAndIconNames) {
    ArchiveBuilder none;
    none.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    auto ps = check(none.build());
    ASSERT_EQ(ps.size(), 1u) << describe(ps);
    EXPECT_TRUE(has(ps, Severity::Error, "", 0, "no icon descriptor"));

    fixtures::DescriptorRecipe d;
    d.iconNames = {"icon.icn", "", "gone.icn"};
    Bytes shortDescriptor = fixtures::buildDescriptor(d);
    shortDescriptor.resize(452);
    ArchiveBuilder two;
    two.file("old.sys", fixtures::buildDescriptor({}));
    two.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    two.file("icon.sys", shortDescriptor);
    Bytes b = two.build();
    ps = check(b);
    const uint64_t used = two.fileHeaderOffsets[2] + 512;
    EXPECT_TRUE(has(ps, Severity::Error, "old.sys", two.fileHeaderOffsets[0], "readers use the last one, \"icon.sys\""));
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.sys", used, "452 bytes, shorter than its 964"));
    EXPECT_TRUE(has(ps, Severity::Error, "icon.sys", used + 260 + 64, "copy icon's name is empty"));
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.sys", used + 260 + 128,
                    "\"gone.icn\" matches no file: the console shows its own icon or none"));
    EXPECT_EQ(errors(ps), 2u) << describe(ps);
}

TEST(ArchiveCheck, ModelPartsThatRunPastTheEntryOrTheFile) {
    ModelRecipe m = fixtures::triangleModel();
    m.vertexCountOverride = 3000;
    ModelSave s = modelSave(m);
    EXPECT_TRUE(has(check(s.bytes), Severity::Error, "icon.icn", s.model + 20,
                    "vertex data (3000 records of 24 bytes) runs past the end of its entry"));
    m.vertexCountOverride = 0xFFFFFFFF;
    s = modelSave(m, false);
    EXPECT_TRUE(has(check(s.bytes), Severity::Error, "icon.icn", s.model + 20,
                    "past the end of its entry and of the file"));

    // Four billion frames of no keys, and a frame with four billion keys.
    m = fixtures::triangleModel();
    m.frameKeyCounts.clear();
    m.frameCountOverride = 0xFFFFFFFF;
    m.texture = fixtures::plainTexture(0);
    s = modelSave(m);
    auto ps = check(s.bytes);
    ASSERT_EQ(errors(ps), 1u) << describe(ps);
    EXPECT_NE(ps.back().text.find("of 4294967295 runs past the end of its entry"), std::string::npos)
        << describe(ps);
    s = modelSave(fixtures::triangleModel());
    fixtures::putU32(s.bytes, s.model + 20 + 72 + 20 + 4, 0xFFFFFFFF);
    EXPECT_TRUE(has(check(s.bytes), Severity::Error, "icon.icn", s.model + 20 + 72 + 20 + 8,
                    "4294967295 keys of animation frame 0 of 1 runs past the end of its entry"));

    // A plain texture one byte short, and a model too short for its header.
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor({}));
    Bytes model = fixtures::buildModel(fixtures::triangleModel());
    model.pop_back();
    a.file("icon.icn", model);
    a.file("after.dat", Bytes(40000, 1));
    Bytes b = a.build();
    EXPECT_TRUE(has(check(b), Severity::Error, "icon.icn", a.fileHeaderOffsets[1] + 512 + 20 + 72 + 20 + 16,
                    "plain texture (32768 bytes) runs past the end of its entry"));
    ArchiveBuilder tiny;
    tiny.file("icon.sys", fixtures::buildDescriptor({}));
    tiny.file("icon.icn", Bytes(12, 0));
    Bytes tinyBytes = tiny.build();
    EXPECT_TRUE(has(check(tinyBytes), Severity::Error, "icon.icn", tiny.fileHeaderOffsets[1] + 512,
                    "20-byte header runs past the end of its entry"));
}

TEST(ArchiveCheck, RunLengthStreamsMustCompleteInsideTheirEntry) {
    // 16000 pixels, then nothing: the following file's bytes would complete it.
    std::vector<uint16_t> stream;
    fixtures::rleRepeat(stream, 16000, 0x7FFF);
    ModelSave s = modelSave(runLengthModel(stream));
    const uint64_t streamAt = s.model + 20 + 72 + 20 + 16 + 4;
    auto ps = check(s.bytes);
    EXPECT_TRUE(has(ps, Severity::Error, "icon.icn", streamAt,
                    "run-length texture runs past the end of its entry: 16000 of 16384 pixels"));
    s = modelSave(runLengthModel(stream), false);
    EXPECT_TRUE(has(check(s.bytes), Severity::Error, "icon.icn", streamAt,
                    "past the end of its entry and of the file"));

    // Zero repeat codes write nothing however many there are.
    std::vector<uint16_t> zeros(200000, 0);
    s = modelSave(runLengthModel(zeros));
    EXPECT_TRUE(has(check(s.bytes), Severity::Error, "icon.icn", streamAt, "0 of 16384 pixels"));

    // A literal run cut short by the pixel count: the words it would have covered are trailing.
    stream.assign({0x8000});
    stream.insert(stream.end(), 20000, 0x1F);
    s = modelSave(runLengthModel(stream));
    ps = check(s.bytes);
    EXPECT_EQ(errors(ps), 0u) << describe(ps);
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.icn", streamAt + 2 + 2 * 16384,
                    std::to_string(2 * (20000 - 16384)) + " trailing bytes after the texture"));
}

TEST(ArchiveCheck, OddModelsAreWarnings) {
    ModelRecipe m = fixtures::triangleModel();
    m.vertices.pop_back();
    m.texture.push_back(0);
    m.texture.push_back(0);
    ModelSave s = modelSave(m);
    auto ps = check(s.bytes);
    EXPECT_EQ(errors(ps), 0u) << describe(ps);
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.icn", s.model + 16, "vertexCount 2 is not a multiple of 3"));
    EXPECT_TRUE(has(ps, Severity::Warning, "icon.icn", s.model + 20 + 48 + 20 + 16 + 32768,
                    "4 trailing bytes after the texture"));

    m = fixtures::triangleModel();
    m.shapeCount = 0;
    for (auto& v : m.vertices) v.positions.clear();
    s = modelSave(m);
    EXPECT_TRUE(has(check(s.bytes), Severity::Warning, "icon.icn", s.model + 4, "no shapes"));
}

TEST(ArchiveCheck, StreamMeasureAgreesWithTheTextureWalk) {
    // The end of a complete stream is where the model's texture ends for the real icons.
    for (const char* name : {"opl.icn", "default-icon.icn"}) {
        Bytes icn = fixtures::readFileBytes(fixtures::testDataPath(name));
        SaveImage image = fixtures::imageOf(icn);
        IconModel model{&image, 0};
        ModelHeader h = readModelHeader(model);
        uint64_t start = textureOffset(model, h) + 4;
        RunLengthExtent r = measureRunLengthStream(image.view(), start, icn.size());
        EXPECT_TRUE(r.complete) << name;
        EXPECT_EQ(r.pixels, 16384u) << name;
        EXPECT_LE(r.end, icn.size()) << name;
        RunLengthExtent shortOne = measureRunLengthStream(image.view(), start, r.end - 1);
        EXPECT_FALSE(shortOne.complete) << name;
    }
}

}  // namespace
}  // namespace marrowin
