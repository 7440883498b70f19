// Every real save we have, in every container, goes onto a new card of each kind and comes off
// again with its exact files; the card stays sound after each step.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <string>
#include <vector>

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
using testing::namesIn;
using testing::writeFile;

struct RealSave {
    std::string file;    // as written into the test folder
    std::string folder;  // the save's folder on the card
    Bytes bytes;
};

std::vector<RealSave> realSaves() {
    std::vector<RealSave> saves;
    for (const auto& [file, folder] : std::vector<std::pair<std::string, std::string>>{
             {"final-fantasy12.max", "BASLUS-20963FF1200"},
             {"tokyo-xtreme-racer-drift-2.14091.cbs", "BESLES-53900-SYS.00"},
             {"max-payne.1394.sps", "BASLUS-20230"},
             {"BESLES-50325.PSV", "BESLES-50325"}})
        saves.push_back({file, folder, readFileBytes(fixtures::testDataPath("formats/" + file))});
    // The real icons of tests/data, packed as saves carry them.
    for (const auto& [model, sys, folder] : std::vector<std::array<std::string, 3>>{
             {"opl.icn", "opl-icon.sys", "BASLUS-00000OPL"},
             {"default-icon.icn", "default-icon.sys", "BASLUS-00000DEF"}}) {
        fixtures::ArchiveBuilder a(folder);
        a.file(model, readFileBytes(fixtures::testDataPath(model)));
        a.file("icon.sys", readFileBytes(fixtures::testDataPath(sys)));
        saves.push_back({folder + ".psu", folder, a.build()});
    }
    return saves;
}

ContainerRead readAny(const Bytes& b) {
    return readContainer(detectContainer({b.data(), b.size()}, b.size()), {b.data(), b.size()});
}

void expectCardClean(const TempDir& dir, const char* card) {
    CliRun r = cli(dir, std::string("card check ") + card);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("ok"), std::string::npos) << r.out;
}

TEST(CliCardSamples, EveryRealSaveGoesOnEveryKindOfCardAndComesOffTheSame) {
    const std::vector<RealSave> saves = realSaves();
    for (const char* format : {"card format card", "card format --no-ecc card", "card format --folder card"}) {
        SCOPED_TRACE(format);
        TempDir dir;
        ASSERT_EQ(cli(dir, format).code, 0);
        expectCardClean(dir, "card");
        std::string args = "card import --no-backup card";
        for (const RealSave& s : saves) {
            writeFile(dir / s.file, s.bytes);
            args += " '" + s.file + "'";
        }
        CliRun r = cli(dir, args);
        ASSERT_EQ(r.code, 0) << r.err;
        expectCardClean(dir, "card");

        r = cli(dir, "card ls card");
        ASSERT_EQ(r.code, 0) << r.err;
        for (const RealSave& s : saves) EXPECT_NE(r.out.find(s.folder), std::string::npos) << s.folder << "\n" << r.out;

        r = cli(dir, "card export -C out card");
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(namesIn(dir / "out").size(), saves.size());
        for (const RealSave& s : saves) {
            SCOPED_TRACE(s.file);
            const Bytes exported = readFileBytes(dir / ("out/" + s.folder + ".psu"));
            const ContainerRead before = readAny(s.bytes), after = readAny(exported);
            ASSERT_TRUE(before.ok && after.ok);
            EXPECT_FALSE(after.hasErrors());
            EXPECT_EQ(after.contents.folderName, s.folder);
            ASSERT_EQ(after.contents.files.size(), before.contents.files.size());
            for (size_t i = 0; i < before.contents.files.size(); ++i) {
                EXPECT_EQ(after.contents.files[i].name, before.contents.files[i].name);
                EXPECT_EQ(after.contents.files[i].data, before.contents.files[i].data) << before.contents.files[i].name;
            }
            // What the save had no stamps for, the card got at the import, never zeros.
            EXPECT_NE(after.contents.modified, Stamp{});
            for (const SaveFile& f : after.contents.files) EXPECT_NE(f.modified, Stamp{}) << f.name;
        }
        expectCardClean(dir, "card");

        // Taking two off and putting them back leaves a sound card listing all again.
        ASSERT_EQ(cli(dir, "card delete --no-backup card BASLUS-20230 BESLES-50325").code, 0);
        expectCardClean(dir, "card");
        ASSERT_EQ(cli(dir, "card import --no-backup card max-payne.1394.sps BESLES-50325.PSV").code, 0);
        expectCardClean(dir, "card");
        r = cli(dir, "card ls card");
        for (const RealSave& s : saves) EXPECT_NE(r.out.find(s.folder), std::string::npos) << s.folder;
    }
}

}  // namespace
}  // namespace marrowin
