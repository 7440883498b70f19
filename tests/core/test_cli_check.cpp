// marrowin-cli check as a person runs it: lines, exit codes and JSON.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "export_test_support.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::ArchiveBuilder;
using fixtures::Bytes;
using testing::CliRun;
using testing::TempDir;
using testing::cli;
using testing::readText;
using testing::writeFile;


// A save whose model entry is also named with an escape sequence and whose descriptor pads
// with 0xFF: two warnings (the icon name finds nothing, the padding).
Bytes damagedSave() {
    fixtures::DescriptorRecipe d;
    d.iconNames = {"icon.icn", "icon.icn", "gone\x1b.icn"};
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor(d), 0xFF);
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    return a.build();
}

TEST(CliCheck, TextLinesNameTheEntryAndOffsetAndTheExitSaysWhetherAnyFailed) {
    TempDir dir;
    writeFile(dir / "good.psu", fixtures::iconSave());
    writeFile(dir / "bad.psu", damagedSave());

    CliRun good = cli(dir, "check good.psu");
    EXPECT_EQ(good.code, 0) << good.err;
    EXPECT_EQ(good.out, "good.psu: ok\n");

    CliRun r = cli(dir, "check good.psu bad.psu missing.psu");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("good.psu: ok\n"), std::string::npos) << r.out;
    // The descriptor's data start at 0x800; its delete icon name at 0x800 + 388.
    EXPECT_NE(r.out.find("bad.psu: warning: \"icon.sys\" at 0x984: the delete icon's name "
                         "\"gone\\x1B.icn\" matches no file: the console shows its own icon or none\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("bad.psu: warning: \"icon.sys\" at 0xBC4: padding"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("bad.psu: 0 errors, 2 warnings\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("missing.psu: error: no such file\n"), std::string::npos) << r.out;

    // Warnings alone do not fail.
    ArchiveBuilder odd;
    odd.file("icon.sys", fixtures::buildDescriptor({}), 0xFF);
    odd.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    writeFile(dir / "padded.psu", odd.build());
    CliRun warned = cli(dir, "check padded.psu");
    EXPECT_EQ(warned.code, 0);
    EXPECT_NE(warned.out.find("padded.psu: 0 errors, 1 warning\n"), std::string::npos) << warned.out;

    EXPECT_EQ(cli(dir, "check").code, 2);
    EXPECT_EQ(cli(dir, "check --frobnicate good.psu").code, 2);
}

// What check says extraction writes is what extraction writes. A quoted name used to be
// decoded from Shift-JIS a second time ("ア/b" came out as "繧｢_b"), and zeros after the last
// entry were "no entry" while extraction made a file "_" of them.
TEST(CliCheck, NamesTheFilesExtractionReallyWrites) {
    TempDir dir;
    ArchiveBuilder a;
    a.file("icon.sys", fixtures::buildDescriptor({}));
    a.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    a.file("\x83\x41/b", {1});
    Bytes b = a.build();
    b.resize(b.size() + 100, 0);
    writeFile(dir / "odd.psu", b);

    CliRun r = cli(dir, "check odd.psu");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("extraction writes it as \"\xE3\x82\xA2_b\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("100 zero bytes after the last entry: readers take them for a file with "
                         "an empty name and no data, which info lists and extraction writes as an "
                         "empty file \"_\"\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("odd.psu: 2 errors, 0 warnings\n"), std::string::npos) << r.out;
    CliRun json = cli(dir, "check --json odd.psu");
    EXPECT_NE(json.out.find("writes it as \\\"\xE3\x82\xA2_b\\\""), std::string::npos) << json.out;

    CliRun extract = cli(dir, "extract odd.psu");
    EXPECT_EQ(extract.code, 0) << extract.err;
    const auto written = testing::namesIn(dir / "BASLUS-20000SAVE");
    EXPECT_EQ(written, (std::vector<std::string>{"_", "icon.icn", "icon.sys", "\xE3\x82\xA2_b"}));
}

TEST(CliCheck, JsonIsOneDocumentWithAnObjectPerArchive) {
    TempDir dir;
    writeFile(dir / "good.psu", fixtures::iconSave());
    writeFile(dir / "bad.psu", damagedSave());
    writeFile(dir / "text.psu", std::string(2000, 'x'));
    CliRun r = cli(dir, "check --json good.psu bad.psu text.psu missing.psu");
    EXPECT_EQ(r.code, 1) << r.err;
    writeFile(dir / "out.json", r.out);
    std::string check =
        "python3 -c 'import json,sys\n"
        "a=json.load(open(sys.argv[1],encoding=\"utf-8\"))\n"
        "assert [o[\"path\"] for o in a]==[\"good.psu\",\"bad.psu\",\"text.psu\",\"missing.psu\"]\n"
        "assert a[0][\"ok\"] and a[0][\"problems\"]==[] and a[0][\"kind\"]==\"save archive\"\n"
        "p=a[1][\"problems\"]\n"
        "assert a[1][\"ok\"] and a[1][\"errors\"]==0 and a[1][\"warnings\"]==2\n"
        "assert {(x[\"severity\"],x[\"entry\"],x[\"offset\"]) for x in p}=="
        "{(\"warning\",\"icon.sys\",0x984),(\"warning\",\"icon.sys\",0xBC4)}\n"
        "assert \"gone\\x1b.icn\" in [x for x in p if x[\"offset\"]==0x984][0][\"message\"]\n"
        "assert a[2][\"kind\"]==\"not recognised\" and a[2][\"errors\"]==1\n"
        "assert a[3][\"kind\"] is None and a[3][\"problems\"][0][\"offset\"] is None' '" +
        (dir / "out.json") + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << r.out;
}

}  // namespace
}  // namespace marrowin
