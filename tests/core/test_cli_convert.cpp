// marrowin-cli convert, and the other commands on saves in other containers, as a person runs
// them: the real program in a temporary folder.
#include <gtest/gtest.h>

#include "container_test_support.h"
#include "containers/save_contents.h"
#include "export_test_support.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::Bytes;
using testing::CliRun;
using testing::TempDir;
using testing::cli;
using testing::exists;
using testing::readText;
using testing::writeFile;

bool has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

Bytes sampleBytes(const char* name) {
    return fixtures::readFileBytes(fixtures::testDataPath(std::string("formats/") + name));
}

Bytes written(const SaveContents& c, ContainerKind kind) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(writeContainer(kind, c, out, error)) << error;
    return out;
}

SaveContents readBack(const std::string& path) {
    Bytes b = fixtures::readFileBytes(path);
    ContainerRead r = readContainer(detectContainer({b.data(), b.size()}, b.size()), {b.data(), b.size()});
    EXPECT_TRUE(r.ok) << path << "\n" << testing::problemsOf(r);
    return r.contents;
}

TEST(CliConvert, APsvBecomesAPsuNamedAfterItsFolder) {
    TempDir dir;
    writeFile(dir / "save.PSV", sampleBytes("BESLES-50325.PSV"));
    CliRun r = cli(dir, "convert save.PSV");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(has(r.out, "save.PSV: wrote BESLES-50325.psu (4 files")) << r.out;
    SaveContents back = readBack(dir / "BESLES-50325.psu");
    SaveContents want = readBack(dir / "save.PSV");
    testing::expectSameSave(want, back, "psv -> psu");
    // Nothing to fill: a .psv keeps every stamp and mode.
    EXPECT_FALSE(has(r.out, "filled in"));

    CliRun info = cli(dir, "info save.PSV");
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_TRUE(has(info.out, "container: PS3 save (.psv)")) << info.out;
    EXPECT_TRUE(has(info.out, "folder: BESLES-50325"));
    EXPECT_TRUE(has(info.out, "    PAYNE.ICO  65512 bytes")) << info.out;
    CliRun json = cli(dir, "info --json save.PSV BESLES-50325.psu");
    EXPECT_TRUE(has(json.out, "\"container\":\"psv\"")) << json.out;
    EXPECT_TRUE(has(json.out, "\"container\":null")) << json.out;
    CliRun check = cli(dir, "check save.PSV");
    EXPECT_EQ(check.code, 0) << check.out;
}

// Through every container and back: the same names and bytes, and the CLI says what it filled.
TEST(CliConvert, ASaveOfRealIconsComesBackFromEveryContainer) {
    TempDir dir;
    SaveContents c = testing::realIconContents();
    writeFile(dir / "opl.psu", written(c, ContainerKind::Psu));
    for (const char* word : {"max", "cbs", "sps", "psv"}) {
        testing::makeDir(dir / word);
        CliRun there = cli(dir, std::string("convert --to ") + word + " -C " + word + " opl.psu");
        ASSERT_EQ(there.code, 0) << word << ": " << there.err;
        const std::string out = std::string(word) + "/BASLUS-00000REAL." + word;
        ASSERT_TRUE(exists(dir / out)) << out << "\n" << there.out;
        CliRun back = cli(dir, "convert -q -o back-" + std::string(word) + ".psu " + out);
        ASSERT_EQ(back.code, 0) << word << ": " << back.err;
        EXPECT_EQ(back.out, "") << "-q";
        SaveContents got = readBack(dir / ("back-" + std::string(word) + ".psu"));
        testing::expectSameFiles(c, got, word);
        // .max keeps no stamps: they are filled on the way back, and said so.
        if (std::string(word) == "max") {
            CliRun loud = cli(dir, "convert -o loud.psu " + out);
            EXPECT_TRUE(has(loud.out, "6 missing time stamps and modes filled in")) << loud.out;
        }
    }
}

TEST(CliConvert, AnExistingOutputIsRefusedKeptOrReplacedOnRequest) {
    TempDir dir;
    writeFile(dir / "a.psv", sampleBytes("BESLES-50325.PSV"));
    writeFile(dir / "BESLES-50325.psu", std::string("mine"));
    CliRun r = cli(dir, "convert a.psv");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "BESLES-50325.psu already exists")) << r.err;
    EXPECT_EQ(readText(dir / "BESLES-50325.psu"), "mine");

    r = cli(dir, "convert -k a.psv");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(has(r.err, "left alone, already there: BESLES-50325.psu")) << r.err;
    EXPECT_EQ(readText(dir / "BESLES-50325.psu"), "mine");

    r = cli(dir, "convert --replace a.psv");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBack(dir / "BESLES-50325.psu").files.size(), 4u);
    // No temporary file is left behind.
    EXPECT_EQ(testing::namesIn(dir.path()), (std::vector<std::string>{"BESLES-50325.psu", "a.psv"}));

    // Two inputs of one save: the second never replaces what the first wrote.
    writeFile(dir / "b.psv", sampleBytes("BESLES-50325.PSV"));
    r = cli(dir, "convert --replace --to psv -C out a.psv b.psv");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "written by an earlier input")) << r.err;
}

TEST(CliConvert, TheInputItselfIsNeverWrittenOver) {
    TempDir dir;
    Bytes psv = sampleBytes("BESLES-50325.PSV");
    writeFile(dir / "BESLES-50325.psv", psv);
    for (const char* options : {"--to psv", "--to psv --replace", "--to psv -o ./BESLES-50325.psv --replace"}) {
        CliRun r = cli(dir, std::string("convert ") + options + " BESLES-50325.psv");
        EXPECT_EQ(r.code, 1) << options;
        EXPECT_TRUE(has(r.err, "the output is the input itself")) << options << ": " << r.err;
    }
    ASSERT_EQ(::symlink("BESLES-50325.psv", (dir / "link.psv").c_str()), 0);
    CliRun r = cli(dir, "convert --replace --to psv -o link.psv BESLES-50325.psv");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(fixtures::readFileBytes(dir / "BESLES-50325.psv") == psv);
}

TEST(CliConvert, DamagedInputsAreRefusedUnlessForcedAndStillFail) {
    TempDir dir;
    Bytes psv = sampleBytes("BESLES-50325.PSV");
    psv.resize(psv.size() - 10);
    writeFile(dir / "cut.psv", psv);
    CliRun r = cli(dir, "convert cut.psv");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "damaged PS3 save (.psv): BESLES-50325: cut off, 90 of 100 bytes")) << r.err;
    EXPECT_TRUE(has(r.err, "not converted")) << r.err;
    EXPECT_FALSE(exists(dir / "BESLES-50325.psu"));

    r = cli(dir, "convert --force cut.psv");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(exists(dir / "BESLES-50325.psu"));

    // The other commands work on what could be read and fail naming the damage.
    CliRun check = cli(dir, "check cut.psv");
    EXPECT_EQ(check.code, 1);
    EXPECT_EQ(check.out.find("cut.psv: error: PS3 save (.psv): BESLES-50325: cut off"), 0u) << check.out;
    CliRun json = cli(dir, "check --json cut.psv");
    EXPECT_TRUE(has(json.out, "\"container\":\"psv\",\"ok\":false")) << json.out;
    CliRun extract = cli(dir, "extract -C x cut.psv");
    EXPECT_EQ(extract.code, 1);
    EXPECT_TRUE(has(extract.err, "damaged PS3 save (.psv)")) << extract.err;
    EXPECT_TRUE(exists(dir / "x/BESLES-50325/PAYNE.ICO"));

    // A PS1 save cannot be had at all.
    Bytes ps1 = sampleBytes("BESLES-50325.PSV");
    fixtures::putU32(ps1, 0x3C, 1);
    writeFile(dir / "ps1.psv", ps1);
    r = cli(dir, "convert ps1.psv");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "PlayStation (PS1) save")) << r.err;
    check = cli(dir, "check ps1.psv");
    EXPECT_EQ(check.code, 1);
    EXPECT_TRUE(has(check.out, "ps1.psv: error: PS3 save (.psv): a PlayStation (PS1) save")) << check.out;
}

// A real CodeBreaker save (Rez) stores folder mode 0 and zero folder stamps, which readers
// fill in. Laid out without that, its folder's own entry became a 5-byte file: extract wrote
// it and renamed the game's file "NAME (2)", copy wrote an archive with no folder name.
TEST(CliConvert, ACodeBreakerSaveWithoutFolderModeIsReadAlikeByEveryCommand) {
    TempDir dir;
    Bytes cbs = sampleBytes("tokyo-xtreme-racer-drift-2.14091.cbs");
    std::fill(cbs.begin() + 0x34, cbs.begin() + 0x4C, 0);
    writeFile(dir / "rez.cbs", cbs);
    CliRun extract = cli(dir, "extract -C x rez.cbs");
    EXPECT_EQ(extract.code, 0) << extract.err;
    EXPECT_TRUE(has(extract.out, "rez.cbs: 3 files into x/BESLES-53900-SYS.00")) << extract.out;
    EXPECT_FALSE(has(extract.out + extract.err, "(2)")) << extract.out;
    EXPECT_EQ(testing::namesIn(dir / "x/BESLES-53900-SYS.00"),
              (std::vector<std::string>{"BESLES-53900-SYS.00", "icon.00", "icon.sys"}));

    CliRun copy = cli(dir, "copy -C c rez.cbs");
    EXPECT_EQ(copy.code, 0) << copy.err;
    EXPECT_TRUE(has(copy.out, "wrote c/BESLES-53900-SYS.00 ")) << copy.out;
    CliRun info = cli(dir, "info rez.cbs");
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_TRUE(has(info.out, "folder: BESLES-53900-SYS.00\n")) << info.out;
    EXPECT_TRUE(has(info.out, "files: 3\n")) << info.out;
    CliRun check = cli(dir, "check rez.cbs");
    EXPECT_EQ(check.code, 0) << check.out;
    // The same save as convert writes it.
    ASSERT_EQ(cli(dir, "convert -o conv.psu rez.cbs").code, 0);
    testing::expectSameFiles(readBack(dir / "conv.psu"), readBack(dir / ("c/" + testing::namesIn(dir / "c")[0])),
                             "copy against convert");
}

TEST(CliConvert, UsageMistakesAreRefusedBeforeAnyWork) {
    TempDir dir;
    writeFile(dir / "a.psv", sampleBytes("BESLES-50325.PSV"));
    for (const char* args : {"convert", "convert --to zip a.psv", "convert -o x.psu a.psv a.psv",
                             "convert -k --replace a.psv", "convert -o x.psu -C d a.psv"}) {
        CliRun r = cli(dir, args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_TRUE(has(r.err, "usage: marrowin-cli convert")) << args;
    }
    writeFile(dir / "notes.txt", std::string(5000, 'n'));
    CliRun text = cli(dir, "convert notes.txt");
    EXPECT_EQ(text.code, 1);
    EXPECT_TRUE(has(text.err, "notes.txt: not a save archive")) << text.err;
    CliRun help = cli(dir, "--help");
    EXPECT_TRUE(has(help.out, "\n  convert ")) << help.out;
    // Standard input is read like a file.
    CliRun piped = cli(dir, "info - < a.psv");
    EXPECT_EQ(piped.code, 0) << piped.err;
    EXPECT_TRUE(has(piped.out, "container: PS3 save (.psv)")) << piped.out;
    CliRun stdinConvert = cli(dir, "convert -o fromstdin.psu - < a.psv");
    EXPECT_EQ(stdinConvert.code, 0) << stdinConvert.err;
    EXPECT_TRUE(exists(dir / "fromstdin.psu"));
}

}  // namespace
}  // namespace marrowin
