// The real saves in the other containers, converted to .psu: exactly the files, names, sizes
// and contents (SHA-1) their publishers' tools extract.
#include <gtest/gtest.h>

#include "container_test_support.h"
#include "containers/save_contents.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using testing::problemsOf;
using testing::sha1Hex;

struct ExpectedFile {
    const char* name;
    size_t size;
    const char* sha1;
};

struct Sample {
    const char* path;
    ContainerKind kind;
    const char* folder;
    std::vector<ExpectedFile> files;
};

const Sample SAMPLES[] = {
    {"formats/BESLES-50325.PSV", ContainerKind::Psv, "BESLES-50325",
     {{"icon.sys", 964, "691970fad5734f70a5e6950021d9553a10fb8085"},
      {"PAYNE.ICO", 65512, "300c8f985670fb6554821881abf5dbf9cabc4786"},
      {"invsave.inv", 143640, "597ae9784c717bc04cf61d3f0c4ccc74d2fcf147"},
      {"BESLES-50325", 100, "ecb1eda9b8f563dfeee69a53be1da541aec0221f"}}},
    {"formats/final-fantasy12.max", ContainerKind::Max, "BASLUS-20963FF1200",
     {{"static.ico", 33688, "3f2aa09e00bdc5b7907d95e9eaf78837f6ef7a15"},
      {"BASLUS-20963FF1200", 57864, "b5cfc63902aab2cabbdc6524215c9a17df7ef097"},
      {"icon.sys", 964, "4d3371167005950888d7ae8db0ecf5f0fd2046f9"}}},
    {"formats/tokyo-xtreme-racer-drift-2.14091.cbs", ContainerKind::Cbs, "BESLES-53900-SYS.00",
     {{"BESLES-53900-SYS.00", 138792, "c8fcac8c011c9f4e1c0b933569c11bb163465c8c"},
      {"icon.00", 27806, "1a8635ca7bd45928e0ac0920b7a0116733b12614"},
      {"icon.sys", 964, "3ff11026c6b2b46b9b430734afcfff25f06c6ee8"}}},
    {"formats/max-payne.1394.sps", ContainerKind::SharkPort, "BASLUS-20230",
     {{"icon.sys", 964, "691970fad5734f70a5e6950021d9553a10fb8085"},
      {"PAYNE.ICO", 65512, "46a40169b2b2c1299ea1f8d7fa0f2cb38c88701b"},
      {"invsave.inv", 143640, "0f3b65697ff21f3dea0c93b69a9f464258694b21"},
      {"BASLUS-20230", 100, "a926c4bcb980ec1254fdb1e30bb3eaf5b850fc54"}}},
};

class ContainerSample : public ::testing::TestWithParam<Sample> {};

// Read, laid out as .psu and read from there: what every command of the companion sees.
TEST_P(ContainerSample, ConvertsToPsuWithExactlyItsFiles) {
    const Sample& s = GetParam();
    fixtures::Bytes bytes = fixtures::readFileBytes(fixtures::testDataPath(s.path));
    ASSERT_FALSE(bytes.empty()) << s.path;
    ASSERT_EQ(detectContainer({bytes.data(), bytes.size()}, bytes.size()), s.kind);
    ContainerRead r = readContainer(s.kind, {bytes.data(), bytes.size()});
    // A placeholder reader still refuses here: this sample is then not readable yet.
    ASSERT_TRUE(r.ok) << s.path << " cannot be read yet:\n" << problemsOf(r);
    EXPECT_FALSE(r.hasErrors()) << problemsOf(r);

    SaveContents c = r.contents;
    completeMetadata(c, stampOf(2026, 1, 1, 0, 0, 0));
    std::vector<uint8_t> psu;
    std::string error;
    ASSERT_TRUE(writePsu(c, psu, error)) << error;
    ContainerRead back = readPsu({psu.data(), psu.size()});
    ASSERT_TRUE(back.ok);
    EXPECT_TRUE(back.problems.empty()) << problemsOf(back);
    EXPECT_EQ(back.contents.folderName, s.folder);
    ASSERT_EQ(back.contents.files.size(), s.files.size());
    for (size_t i = 0; i < s.files.size(); ++i) {
        const SaveFile& f = back.contents.files[i];
        EXPECT_EQ(f.name, s.files[i].name) << i;
        EXPECT_EQ(f.data.size(), s.files[i].size) << f.name;
        EXPECT_EQ(sha1Hex(f.data), s.files[i].sha1) << f.name;
        EXPECT_EQ(f.mode, 0x8497) << f.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ContainerSample, ::testing::ValuesIn(SAMPLES),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             return std::string(containerWord(info.param.kind));
                         });

// The stamps these containers keep are copied as stored, never converted.
TEST(ContainerSamples, StoredStampsAndModesComeThroughAsStored) {
    fixtures::Bytes psv = fixtures::readFileBytes(fixtures::testDataPath("formats/BESLES-50325.PSV"));
    ContainerRead r = readPsv({psv.data(), psv.size()});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.contents.folderMode, 0x8427);
    EXPECT_TRUE(r.contents.modified == stampOf(2007, 9, 25, 0, 0, 57));
    for (const SaveFile& f : r.contents.files) EXPECT_TRUE(f.created == stampOf(2007, 9, 25, 0, 0, 57));

    fixtures::Bytes sps = fixtures::readFileBytes(fixtures::testDataPath("formats/max-payne.1394.sps"));
    r = readSharkPort({sps.data(), sps.size()});
    ASSERT_TRUE(r.ok) << problemsOf(r);
    EXPECT_EQ(r.contents.folderMode, 0x8427);
    EXPECT_TRUE(r.contents.created == stampOf(2001, 12, 16, 8, 14, 55));
    EXPECT_TRUE(r.contents.modified == stampOf(2001, 12, 21, 11, 19, 23));

    fixtures::Bytes cbs = fixtures::readFileBytes(
        fixtures::testDataPath("formats/tokyo-xtreme-racer-drift-2.14091.cbs"));
    r = readCbs({cbs.data(), cbs.size()});
    ASSERT_TRUE(r.ok) << problemsOf(r);
    EXPECT_EQ(r.contents.folderMode, 0x8427);
    EXPECT_TRUE(r.contents.created == stampOf(2006, 10, 22, 3, 17, 39));
    EXPECT_TRUE(r.contents.modified == stampOf(2006, 10, 22, 3, 17, 42));

    // .max keeps none: the defaults and zero stamps, for completeMetadata to fill.
    fixtures::Bytes max = fixtures::readFileBytes(fixtures::testDataPath("formats/final-fantasy12.max"));
    r = readMax({max.data(), max.size()});
    ASSERT_TRUE(r.ok) << problemsOf(r);
    EXPECT_EQ(r.contents.folderMode, 0x8427);
    EXPECT_TRUE(r.contents.created == Stamp{});
}

}  // namespace
}  // namespace marrowin
