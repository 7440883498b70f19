// Action Replay MAX saves: the real sample, what the writer gives peers, round trips, and
// damaged or hostile files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "container_test_support.h"
#include "containers/lzari.h"
#include "containers/save_contents.h"
#include "fixtures.h"

using namespace marrowin;
using namespace marrowin::fixtures;

namespace {

ByteView viewOf(const Bytes& b) { return ByteView{b.data(), b.size()}; }

const Bytes& sample() {
    static const Bytes b = readFileBytes(testDataPath("formats/final-fantasy12.max"));
    return b;
}

uint32_t crcWithFieldZero(Bytes b) {
    putU32(b, 0x0C, 0);
    return uint32_t(crc32(0, b.data(), uInt(b.size())));
}

void fixCrc(Bytes& b) { putU32(b, 0x0C, crcWithFieldZero(b)); }

// A file around hand-made decoded data: the header's count and declared size, any stream.
Bytes maxFile(const Bytes& decoded, uint32_t count, const std::string& folder = "BASLUS-20000") {
    Bytes stream = lzariEncode(decoded);
    Bytes f(0x5C, 0);
    putBytes(f, 0, "Ps2PowerSave");
    putBytes(f, 0x10, folder);
    putBytes(f, 0x30, "Title");
    putU32(f, 0x50, uint32_t(stream.size() + 4));
    putU32(f, 0x54, count);
    putU32(f, 0x58, uint32_t(decoded.size()));
    f.insert(f.end(), stream.begin(), stream.end());
    fixCrc(f);
    return f;
}

// One decoded record, padded as the format wants when it starts at `at`.
void addRecord(Bytes& d, const std::string& name, const Bytes& data, uint8_t pad = 0) {
    appendU32(d, uint32_t(data.size()));
    Bytes field(32, 0);
    std::copy(name.begin(), name.end(), field.begin());
    d.insert(d.end(), field.begin(), field.end());
    d.insert(d.end(), data.begin(), data.end());
    while ((d.size() + 8) % 16 != 0) d.push_back(pad);
}

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

SaveContents syntheticSave() {
    SaveContents c;
    c.folderName = "BESLES-12345GAME";
    std::mt19937 rng(1);
    c.files.push_back({"empty", MODE_FILE, {}, {}, 0, {}});
    c.files.push_back({std::string(32, 'N'), MODE_FILE, {}, {}, 0, Bytes(100, 0x41)});
    for (size_t n : {1, 2, 7, 8, 9, 300, 1023, 4096, 5000}) {
        c.files.push_back({"random" + std::to_string(n), MODE_FILE, {}, {}, 0, randomBytes(n, uint32_t(n))});
        Bytes rep(n);
        for (size_t i = 0; i < n; ++i) rep[i] = uint8_t(i % 5 == 0 ? 0 : 'a' + i % 3);
        c.files.push_back({"repeat" + std::to_string(n), MODE_FILE, {}, {}, 0, rep});
    }
    return c;
}

// Names, order and data: what a MAX save keeps.
void expectSameSave(const SaveContents& a, const SaveContents& b) { marrowin::testing::expectSameFiles(a, b, "round trip"); }

bool mentions(const ContainerRead& r, const std::string& text, bool error) {
    return marrowin::testing::hasProblem(r, error, text);
}

}  // namespace

TEST(MaxContainer, SampleDecodesToItsKnownFiles) {
    const Bytes& b = sample();
    ASSERT_EQ(b.size(), 17621u);
    EXPECT_TRUE(looksLikeMax(viewOf(b), b.size()));
    EXPECT_EQ(detectContainer(viewOf(b), b.size()), ContainerKind::Max);
    EXPECT_EQ(getU32(b, 0x0C), 0xEA258A15u);
    EXPECT_EQ(crcWithFieldZero(b), 0xEA258A15u);
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>("123456789"), 9), 0xCBF43926u);

    // Its size field is "file - 0x5C", one of the two conventions: no problem at all.
    ContainerRead r = readMax(viewOf(b));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << r.problems[0].text;
    const SaveContents& c = r.contents;
    EXPECT_EQ(c.folderName, "BASLUS-20963FF1200");
    EXPECT_EQ(c.folderMode, 0x8427);
    EXPECT_EQ(c.created, Stamp{});
    EXPECT_EQ(c.modified, Stamp{});
    ASSERT_NO_FATAL_FAILURE(marrowin::testing::expectFilesAre(c, {
        {"static.ico", 33688, "3f2aa09e00bdc5b7907d95e9eaf78837f6ef7a15"},
        {"BASLUS-20963FF1200", 57864, "b5cfc63902aab2cabbdc6524215c9a17df7ef097"},
        {"icon.sys", 964, "4d3371167005950888d7ae8db0ecf5f0fd2046f9"},
    }, 0x8497));
    for (const SaveFile& f : c.files) {
        EXPECT_EQ(f.created, Stamp{});
        EXPECT_EQ(f.modified, Stamp{});
        EXPECT_EQ(f.attribute, 0u);
    }
}

TEST(MaxContainer, RecognitionNeedsTheMagicAndAWholeHeader) {
    Bytes b = sample();
    EXPECT_TRUE(looksLikeMax(ByteView{b.data(), 12}, b.size()));  // the head suffices
    EXPECT_FALSE(looksLikeMax(viewOf(b), 0x5B));
    b[0] = 'p';
    EXPECT_FALSE(looksLikeMax(viewOf(b), b.size()));
    ContainerRead r = readMax(viewOf(b));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.hasErrors());
}

TEST(MaxContainer, WrittenFilesServeEveryPeerConvention) {
    for (const SaveContents& in : {readMax(viewOf(sample())).contents, syntheticSave()}) {
        Bytes out;
        std::string error;
        ASSERT_TRUE(writeMax(in, out, error)) << error;
        // Header: CRC over the file, size field = stream + 4 with zero bytes after the stream.
        EXPECT_EQ(getU32(out, 0x0C), crcWithFieldZero(out));
        EXPECT_EQ(getU32(out, 0x50), out.size() - 0x58);
        EXPECT_EQ(getU32(out, 0x54), in.files.size());
        EXPECT_EQ(Bytes(out.end() - 4, out.end()), Bytes(4, 0));
        EXPECT_NE(out[0x30], 0);  // a title

        ContainerRead back = readMax(viewOf(out));
        ASSERT_TRUE(back.ok);
        EXPECT_TRUE(back.problems.empty());
        expectSameSave(in, back.contents);

        uint32_t declared = getU32(out, 0x58);
        LzariDecoded whole = lzariDecode(ByteView{out.data() + 0x5C, out.size() - 0x5C}, declared, 1u << 26);
        ASSERT_EQ(whole.status, LzariStatus::Complete);
        // A decoder that stops once it has fetched the last byte still gets every byte.
        LzariDecodeOptions stopAtEnd;
        stopAtEnd.stopWhenInputFetched = true;
        LzariDecoded truncating = lzariDecode(ByteView{out.data() + 0x5C, out.size() - 0x5C},
                                              declared, 1u << 26, stopAtEnd);
        EXPECT_EQ(truncating.data, whole.data);
        // A reader taking "field - 4" bytes after the header and 32 zero bits, and giving up
        // when it needs more, gets them too.
        Bytes peer(out.begin() + 0x5C, out.begin() + 0x5C + (getU32(out, 0x50) - 4));
        peer.insert(peer.end(), 4, 0);
        LzariDecodeOptions strict;
        strict.maxBitsPastEnd = 0;
        LzariDecoded taken = lzariDecode(viewOf(peer), declared, 1u << 26, strict);
        EXPECT_EQ(taken.status, LzariStatus::Complete);
        EXPECT_EQ(taken.data, whole.data);
    }
}

TEST(MaxContainer, TitleComesFromIconSysOrTheFolderName) {
    SaveContents c;
    c.folderName = "BASLUS-99999";
    c.files.push_back({"data", MODE_FILE, {}, {}, 0, Bytes(10, 1)});
    Bytes out;
    std::string error;
    ASSERT_TRUE(writeMax(c, out, error));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()) + 0x30), "BASLUS-99999");

    DescriptorRecipe d;
    d.title = "\x82\x71\x82\x85\x82\x9a";  // full-width "Rez"
    c.files.push_back({"icon.sys", MODE_FILE, {}, {}, 0, buildDescriptor(d)});
    ASSERT_TRUE(writeMax(c, out, error));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()) + 0x30), "Rez");
    // A long title keeps a terminator in its field.
    d.title = std::string(40, 'T');
    c.files.back().data = buildDescriptor(d);
    ASSERT_TRUE(writeMax(c, out, error));
    EXPECT_EQ(out[0x30 + 31], 0);
    EXPECT_EQ(out[0x30 + 30], 'T');
}

TEST(MaxContainer, WriterRefusesWhatItCannotHold) {
    Bytes out;
    std::string error;
    SaveContents c;
    c.folderName = "BASLUS-99999";
    c.files.push_back({std::string(33, 'x'), MODE_FILE, {}, {}, 0, {}});
    EXPECT_FALSE(writeMax(c, out, error));
    EXPECT_NE(error.find("32 bytes"), std::string::npos);
    c.files[0].name = std::string("a\0b", 3);
    EXPECT_FALSE(writeMax(c, out, error));
    c.files[0].name = "";
    EXPECT_FALSE(writeMax(c, out, error));
    c.files[0].name = std::string(32, 'x');
    EXPECT_TRUE(writeMax(c, out, error)) << error;
    c.folderName = std::string(33, 'F');
    EXPECT_FALSE(writeMax(c, out, error));
    c.folderName = "";
    EXPECT_FALSE(writeMax(c, out, error));
    c.folderName = "BASLUS-99999";
    c.files[0].data.assign(SAVE_EXPANDED_MAX, 0);
    EXPECT_FALSE(writeMax(c, out, error));
    EXPECT_NE(error.find("64 MiB"), std::string::npos);
}

TEST(MaxContainer, BothSizeFieldConventionsReadAndAnOddOneIsAWarning) {
    Bytes out;
    std::string error;
    SaveContents in = syntheticSave();
    ASSERT_TRUE(writeMax(in, out, error));
    for (uint32_t field : {uint32_t(out.size() - 0x5C), uint32_t(out.size() - 0x58), 12345u}) {
        Bytes b = out;
        putU32(b, 0x50, field);
        fixCrc(b);
        ContainerRead r = readMax(viewOf(b));
        ASSERT_TRUE(r.ok);
        expectSameSave(in, r.contents);
        EXPECT_FALSE(r.hasErrors());
        EXPECT_EQ(r.problems.size(), field == 12345u ? 1u : 0u);
    }
}

TEST(MaxContainer, DamageIsReportedAndTheHeaderSizeBoundsAllocation) {
    Bytes out;
    std::string error;
    ASSERT_TRUE(writeMax(syntheticSave(), out, error));

    // A flipped byte in the title: the CRC error gives both values, the files still come.
    Bytes flipped = out;
    flipped[0x31] ^= 0x01;
    ContainerRead r = readMax(viewOf(flipped));
    EXPECT_TRUE(r.ok);
    char stored[16], computed[16];
    std::snprintf(stored, sizeof stored, "0x%08X", getU32(out, 0x0C));
    std::snprintf(computed, sizeof computed, "0x%08X", crcWithFieldZero(flipped));
    EXPECT_TRUE(mentions(r, "CRC", true));
    EXPECT_TRUE(mentions(r, stored, true) && mentions(r, computed, true));
    expectSameSave(syntheticSave(), r.contents);

    // A declared size past what a save may hold: refused, not allocated.
    Bytes huge = out;
    putU32(huge, 0x58, 0xFFFFFFFFu);
    fixCrc(huge);
    r = readMax(viewOf(huge));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(mentions(r, "4294967295", true));

    // Trailing bytes that are not zero: data after the end, nothing lost.
    Bytes trailing = out;
    trailing.insert(trailing.end(), {1, 2, 3});
    fixCrc(trailing);
    r = readMax(viewOf(trailing));
    EXPECT_FALSE(r.hasErrors());
    EXPECT_TRUE(mentions(r, "follow the compressed stream", false));
    EXPECT_EQ(r.contents.files.size(), syntheticSave().files.size());
}

TEST(MaxContainer, CutOffStreamEndsEarlyNamingTheFile) {
    SaveContents in;
    in.folderName = "BASLUS-20000";
    in.files.push_back({"first", MODE_FILE, {}, {}, 0, Bytes(500, 7)});
    in.files.push_back({"noise.bin", MODE_FILE, {}, {}, 0, randomBytes(20000, 9)});
    in.files.push_back({"last", MODE_FILE, {}, {}, 0, Bytes(100, 1)});
    Bytes out;
    std::string error;
    ASSERT_TRUE(writeMax(in, out, error));
    Bytes cut(out.begin(), out.begin() + ptrdiff_t(out.size() / 2));
    fixCrc(cut);
    ContainerRead r = readMax(viewOf(cut));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(mentions(r, "compressed stream ends early in noise.bin", true));
    ASSERT_EQ(r.contents.files.size(), 2u);
    EXPECT_EQ(r.contents.files[0].data, in.files[0].data);
    // What came of the cut file is its real beginning, nothing invented.
    const Bytes& part = r.contents.files[1].data;
    EXPECT_GT(part.size(), 0u);
    EXPECT_LT(part.size(), in.files[1].data.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), in.files[1].data.begin()));

    // A stream that stops in the zero bytes after the last file loses nothing.
    Bytes d;
    addRecord(d, "a", Bytes(10, 3));
    d.insert(d.end(), 300, 0);
    Bytes f = maxFile(d, 1);
    putU32(f, 0x58, uint32_t(d.size() + 4000));
    fixCrc(f);
    r = readMax(viewOf(f));
    EXPECT_TRUE(mentions(r, "ends early after the last file", false));
    EXPECT_FALSE(r.hasErrors());
    EXPECT_EQ(r.contents.files.at(0).data, Bytes(10, 3));
}

TEST(MaxContainer, RecordsAreCheckedAgainstTheCountAndTheData) {
    Bytes two;
    addRecord(two, "one", Bytes(5, 1));
    addRecord(two, "two", Bytes(40, 2));

    // More counted than present.
    ContainerRead r = readMax(viewOf(maxFile(two, 3)));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.contents.files.size(), 2u);
    EXPECT_TRUE(mentions(r, "counts 3 files; the data holds 2", true));

    // Fewer counted than present: the rest would go unread.
    r = readMax(viewOf(maxFile(two, 1)));
    EXPECT_EQ(r.contents.files.size(), 1u);
    EXPECT_TRUE(mentions(r, "1 more follow", true));

    // A size past the data: the file is cut and named.
    Bytes big = two;
    putU32(big, 0, 1000);
    r = readMax(viewOf(maxFile(big, 2)));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(mentions(r, "one: cut off", true));

    // Non-zero padding, junk after the records and a name's tail: warnings, nothing lost.
    Bytes padded;
    addRecord(padded, "one", Bytes(5, 1), 0xEE);
    padded[4 + 10] = 'x';  // after "one"'s terminator
    padded.insert(padded.end(), {9, 9, 9});
    r = readMax(viewOf(maxFile(padded, 1)));
    EXPECT_FALSE(r.hasErrors());
    EXPECT_TRUE(mentions(r, "padding", false));
    EXPECT_TRUE(mentions(r, "after the last file", false));
    EXPECT_TRUE(mentions(r, "after the name", false));
    EXPECT_EQ(r.contents.files.at(0).data, Bytes(5, 1));

    // A header that claims files over an empty stream gives nothing usable.
    r = readMax(viewOf(maxFile({}, 2)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.hasErrors());
    // No files at all is a save too.
    r = readMax(viewOf(maxFile({}, 0)));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty());
}
