// CodeBreaker saves: the real sample, round trips through the writer, and damaged files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string_view>

#include "containers/cbs_container.h"
#include "containers/save_contents.h"
#include "core/container_test_support.h"
#include "fixtures.h"

using namespace marrowin;
using fixtures::Bytes;
using marrowin::testing::hasProblem;
using marrowin::testing::problemsOf;
using fixtures::getU32;
using fixtures::putBytes;
using fixtures::putU16;
using fixtures::putU32;

namespace {

void expectRoundTrips(const SaveContents& c, Bytes* written = nullptr) {
    marrowin::testing::expectRoundTripKeepsAll(writeCbs, readCbs, c, written);
}

ByteView view(const Bytes& b) { return {b.data(), b.size()}; }

Bytes tokyoSample() {
    return fixtures::readFileBytes(fixtures::testDataPath("formats/tokyo-xtreme-racer-drift-2.14091.cbs"));
}

// One record as the device lays it out: 64-byte header, then the data.
Bytes record(std::string_view name, const Bytes& data, uint32_t sizeField) {
    Bytes r(CBS_RECORD_HEADER, 0);
    r[1] = 5;  // a non-zero created stamp
    putU32(r, CBS_RECORD_SIZE, sizeField);
    putU16(r, CBS_RECORD_MODE, MODE_FILE);
    putBytes(r, CBS_RECORD_NAME, name);
    r.insert(r.end(), data.begin(), data.end());
    return r;
}
Bytes record(std::string_view name, const Bytes& data) { return record(name, data, uint32_t(data.size())); }

Bytes deflated(const Bytes& plain) {
    uLongf n = compressBound(uLong(plain.size()));
    Bytes out(n);
    compress2(out.data(), &n, plain.data(), uLong(plain.size()), 9);
    out.resize(n);
    return out;
}

// A file around a plain (not yet encrypted) zlib stream.
Bytes cbsFile(Bytes stream, uint32_t declared, uint32_t headerSize = CBS_HEADER_SIZE) {
    Bytes f(headerSize, 0);
    putBytes(f, 0, std::string_view("CFU\0", 4));
    putU32(f, CBS_UNKNOWN_OFFSET, CBS_UNKNOWN_WORD);
    putU32(f, CBS_HEADER_SIZE_OFFSET, headerSize);
    putU32(f, CBS_EXPANDED_SIZE_OFFSET, declared);
    putBytes(f, CBS_FOLDER_NAME_OFFSET, "BASLUS-20000SAVE");
    putU32(f, CBS_FOLDER_MODE_OFFSET, MODE_DIRECTORY);
    CbsCipher().apply(stream.data(), stream.size());
    f.insert(f.end(), stream.begin(), stream.end());
    putU32(f, CBS_STORED_SIZE_OFFSET, uint32_t(f.size()));
    return f;
}
Bytes cbsFile(const Bytes& records) { return cbsFile(deflated(records), uint32_t(records.size())); }

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t k = 0; k < n; ++k) b[k] = uint8_t(seed + k * 7 + (k >> 5));
    return b;
}

}  // namespace

TEST(CbsContainer, KeystreamStartsWithTheKnownBytes) {
    Bytes b(16, 0);
    CbsCipher().apply(b.data(), b.size());
    EXPECT_EQ(b, (Bytes{0xcf, 0x46, 0x18, 0x61, 0x5b, 0xf1, 0xad, 0xd0, 0xc7, 0x19, 0x3d, 0x9c, 0x6d,
                        0x58, 0x59, 0xbe}));
    // In pieces the stream carries on where it stopped.
    Bytes c(16, 0);
    CbsCipher cipher;
    cipher.apply(c.data(), 5);
    cipher.apply(c.data() + 5, 11);
    EXPECT_EQ(b, c);
}

TEST(CbsContainer, TokyoSampleDecodesToItsFiles) {
    Bytes file = tokyoSample();
    ASSERT_EQ(file.size(), 15038u);
    EXPECT_TRUE(looksLikeCbs(view(file), file.size()));
    EXPECT_EQ(detectContainer(view(file), file.size()), ContainerKind::Cbs);
    ContainerRead r = readCbs(view(file));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    const SaveContents& c = r.contents;
    EXPECT_EQ(c.folderName, "BESLES-53900-SYS.00");
    EXPECT_EQ(c.folderMode, 0x8427);
    EXPECT_EQ(c.created, stampOf(2006, 10, 22, 3, 17, 39));
    EXPECT_EQ(c.modified, stampOf(2006, 10, 22, 3, 17, 42));
    ASSERT_NO_FATAL_FAILURE(marrowin::testing::expectFilesAre(c, {
        {"BESLES-53900-SYS.00", 138792, "c8fcac8c011c9f4e1c0b933569c11bb163465c8c"},
        {"icon.00", 27806, "1a8635ca7bd45928e0ac0920b7a0116733b12614"},
        {"icon.sys", 964, "3ff11026c6b2b46b9b430734afcfff25f06c6ee8"},
    }, MODE_FILE));
    EXPECT_EQ(asciiTitleOf(c), "KAIDO2 System Data");
}

TEST(CbsContainer, SampleRoundTripsWithTheHeaderEveryReaderAccepts) {
    ContainerRead first = readCbs(view(tokyoSample()));
    ASSERT_TRUE(first.ok);
    Bytes out;
    ASSERT_NO_FATAL_FAILURE(expectRoundTrips(first.contents, &out));

    EXPECT_EQ(getU32(out, CBS_UNKNOWN_OFFSET), 0x1F40u);
    EXPECT_EQ(getU32(out, CBS_HEADER_SIZE_OFFSET), 0x128u);
    EXPECT_EQ(getU32(out, CBS_EXPANDED_SIZE_OFFSET), 167754u);
    EXPECT_EQ(getU32(out, CBS_STORED_SIZE_OFFSET), out.size());
    // Mode at 0x48 only: one other reader looks at 0x4C, which must then read as unset.
    EXPECT_EQ(getU32(out, 0x48), 0x8427u);
    for (size_t k = 0x4C; k < CBS_TITLE_OFFSET; ++k) EXPECT_EQ(out[k], 0) << k;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + CBS_TITLE_OFFSET)),
              "KAIDO2 System Data");
    // Level 9 zlib header, encrypted.
    EXPECT_EQ(out[0x128], 0xB7);
    EXPECT_EQ(out[0x129], 0x9C);
}

TEST(CbsContainer, SyntheticSavesRoundTrip) {
    SaveContents c;
    c.folderName = std::string(32, 'F');  // a full name field, no terminator
    c.folderMode = 0;                     // zero mode and stamps stay zero
    c.files.push_back({std::string(32, 'n'), 0x8417, stampOf(2020, 1, 2, 3, 4, 5), {}, 0, pattern(5000, 1)});
    c.files.push_back({"middle-empty", MODE_FILE, {}, stampOf(1999, 12, 31, 23, 59, 59), 0, {}});
    c.files.push_back({"one", MODE_FILE, {}, {}, 0, {0x42}});
    // A trailing empty file is a bare 64-byte header at the very end.
    c.files.push_back({"last-empty", MODE_FILE, {}, {}, 0, {}});
    ASSERT_NO_FATAL_FAILURE(expectRoundTrips(c));

    SaveContents none;
    none.folderName = "BASLUS-20000EMPTY";
    none.created = stampOf(2001, 2, 3, 4, 5, 6);
    expectRoundTrips(none);
}

TEST(CbsContainer, WriterRefusesWhatTheFieldsCannotHold) {
    marrowin::testing::expectWriterRefusesBadNames(writeCbs);
}

TEST(CbsContainer, DamagedPayloadIsAnError) {
    Bytes file = tokyoSample();
    Bytes flipped = file;
    flipped[CBS_HEADER_SIZE + (file.size() - CBS_HEADER_SIZE) / 2] ^= 0x10;
    ContainerRead r = readCbs(view(flipped));
    EXPECT_TRUE(r.hasErrors()) << problemsOf(r);

    // The last four bytes are the stream's Adler-32.
    Bytes badCheck = file;
    badCheck.back() ^= 0x01;
    ContainerRead a = readCbs(view(badCheck));
    EXPECT_TRUE(hasProblem(a, true, "Adler-32")) << problemsOf(a);
    EXPECT_TRUE(a.ok);  // every byte came out; only the check failed
    EXPECT_EQ(a.contents.files.size(), 3u);

    // Without its check the stream is incomplete even though every byte came out.
    Bytes noCheck = file;
    noCheck.resize(file.size() - 4);
    ContainerRead n = readCbs(view(noCheck));
    EXPECT_TRUE(hasProblem(n, true, "before its end")) << problemsOf(n);
    EXPECT_TRUE(n.ok);
    EXPECT_EQ(n.contents.files.size(), 3u);
}

TEST(CbsContainer, TruncatedFileNamesTheFileItCuts) {
    Bytes file = tokyoSample();
    file.resize(CBS_HEADER_SIZE + 2000);
    ContainerRead r = readCbs(view(file));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "cut off")) << problemsOf(r);
    EXPECT_TRUE(hasProblem(r, true, "BESLES-53900-SYS.00: cut off")) << problemsOf(r);
    ASSERT_EQ(r.contents.files.size(), 1u);
    EXPECT_LT(r.contents.files[0].data.size(), 138792u);

    // Nothing but the header: no save comes out.
    file.resize(CBS_HEADER_SIZE);
    ContainerRead bare = readCbs(view(file));
    EXPECT_FALSE(bare.ok);
    EXPECT_TRUE(bare.hasErrors());
}

TEST(CbsContainer, DeclaredSizeBoundsTheOutput) {
    Bytes records = record("data.bin", pattern(3000, 9));
    // Above what any card holds: refused before anything is expanded.
    for (uint32_t huge : {uint32_t(SAVE_EXPANDED_MAX + 1), UINT32_MAX}) {
        ContainerRead r = readCbs(view(cbsFile(deflated(records), huge)));
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.hasErrors());
        EXPECT_TRUE(r.contents.files.empty());
    }
    // Less than the stream holds: nothing is kept past the declared size.
    ContainerRead shortDeclared = readCbs(view(cbsFile(deflated(records), uint32_t(records.size() - 10))));
    EXPECT_TRUE(hasProblem(shortDeclared, true, "more than")) << problemsOf(shortDeclared);
    EXPECT_TRUE(hasProblem(shortDeclared, true, "data.bin: cut off")) << problemsOf(shortDeclared);
    ASSERT_EQ(shortDeclared.contents.files.size(), 1u);
    EXPECT_EQ(shortDeclared.contents.files[0].data.size(), 3000u - 10);
    // More than the stream holds.
    ContainerRead longDeclared = readCbs(view(cbsFile(deflated(records), uint32_t(records.size() + 1))));
    EXPECT_TRUE(hasProblem(longDeclared, true, "ends after")) << problemsOf(longDeclared);
    ASSERT_EQ(longDeclared.contents.files.size(), 1u);
    EXPECT_EQ(longDeclared.contents.files[0].data, pattern(3000, 9));
}

TEST(CbsContainer, HeaderSizeMustLieInsideTheFile) {
    Bytes records = record("data.bin", pattern(100, 3));
    // The shortest header known still holds every field the reader uses.
    Bytes shortHeader = cbsFile(deflated(records), uint32_t(records.size()), CBS_HEADER_MIN);
    ContainerRead r = readCbs(view(shortHeader));
    ASSERT_TRUE(r.ok) << problemsOf(r);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    EXPECT_EQ(r.contents.folderName, "BASLUS-20000SAVE");
    EXPECT_EQ(r.contents.folderMode, MODE_DIRECTORY);
    ASSERT_EQ(r.contents.files.size(), 1u);

    Bytes tooShort = cbsFile(deflated(records), uint32_t(records.size()));
    putU32(tooShort, CBS_HEADER_SIZE_OFFSET, CBS_HEADER_MIN - 1);
    EXPECT_FALSE(readCbs(view(tooShort)).ok);
    EXPECT_FALSE(looksLikeCbs(view(tooShort), tooShort.size()));
    Bytes pastEnd = tooShort;
    putU32(pastEnd, CBS_HEADER_SIZE_OFFSET, uint32_t(pastEnd.size() + 1));
    EXPECT_FALSE(readCbs(view(pastEnd)).ok);
    EXPECT_FALSE(looksLikeCbs(view(pastEnd), pastEnd.size()));
    putU32(pastEnd, CBS_HEADER_SIZE_OFFSET, UINT32_MAX);
    EXPECT_FALSE(readCbs(view(pastEnd)).ok);
}

TEST(CbsContainer, CompressedSizeFieldMayHoldEitherConvention) {
    Bytes file = cbsFile(record("a", pattern(200, 1)));
    putU32(file, CBS_STORED_SIZE_OFFSET, uint32_t(file.size()));
    EXPECT_TRUE(readCbs(view(file)).problems.empty());
    putU32(file, CBS_STORED_SIZE_OFFSET, uint32_t(file.size() - CBS_HEADER_SIZE));
    EXPECT_TRUE(readCbs(view(file)).problems.empty());
    putU32(file, CBS_STORED_SIZE_OFFSET, 12345);
    ContainerRead r = readCbs(view(file));
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.hasErrors()) << problemsOf(r);
    EXPECT_TRUE(hasProblem(r, false, "compressed size")) << problemsOf(r);
    ASSERT_EQ(r.contents.files.size(), 1u);
}

TEST(CbsContainer, RecordsRunUntilFewerThanAHeaderRemains) {
    // A record claiming more data than follows.
    Bytes cut = record("first", pattern(10, 2));
    Bytes liar = record("liar.dat", pattern(20, 4), 500);
    cut.insert(cut.end(), liar.begin(), liar.end());
    ContainerRead r = readCbs(view(cbsFile(cut)));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "liar.dat: cut off, 20 of 500")) << problemsOf(r);
    ASSERT_EQ(r.contents.files.size(), 2u);
    EXPECT_EQ(r.contents.files[1].data, pattern(20, 4));

    // 1 to 63 bytes left over cannot be a file.
    Bytes leftover = record("first", pattern(10, 2));
    leftover.resize(leftover.size() + 63, 0);
    ContainerRead l = readCbs(view(cbsFile(leftover)));
    EXPECT_TRUE(l.ok);
    EXPECT_TRUE(hasProblem(l, true, "63 bytes")) << problemsOf(l);
    EXPECT_EQ(l.contents.files.size(), 1u);

    // Bytes after the compressed stream lose nothing.
    Bytes records = record("first", pattern(10, 2));
    Bytes stream = deflated(records);
    stream.push_back(0xAA);
    ContainerRead t = readCbs(view(cbsFile(stream, uint32_t(records.size()))));
    EXPECT_FALSE(t.hasErrors()) << problemsOf(t);
    EXPECT_TRUE(hasProblem(t, false, "1 bytes after")) << problemsOf(t);
}

TEST(CbsContainer, FolderModeIsTakenFrom0x48Only) {
    Bytes file = cbsFile(record("a", {}));
    putU32(file, CBS_FOLDER_MODE_OFFSET, 0);
    putU32(file, 0x4C, MODE_DIRECTORY);
    ContainerRead r = readCbs(view(file));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.contents.folderMode, 0);
    putU32(file, CBS_FOLDER_MODE_OFFSET, 0x84A7);
    EXPECT_EQ(readCbs(view(file)).contents.folderMode, 0x84A7);
}

TEST(CbsContainer, OtherFilesAreNotTakenForCodeBreaker) {
    Bytes sps = fixtures::readFileBytes(fixtures::testDataPath("formats/max-payne.1394.sps"));
    EXPECT_FALSE(looksLikeCbs(view(sps), sps.size()));
    EXPECT_FALSE(readCbs(view(sps)).ok);
    Bytes tiny{'C', 'F', 'U', 0};
    EXPECT_FALSE(looksLikeCbs(view(tiny), tiny.size()));
    EXPECT_FALSE(readCbs(view(tiny)).ok);
}
