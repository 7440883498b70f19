// SharkPort / X-Port saves: the body sum, the real sample, round trips and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "containers/save_contents.h"
#include "containers/sharkport_container.h"
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
    marrowin::testing::expectRoundTripKeepsAll(writeSharkPort, readSharkPort, c, written);
}

ByteView view(const Bytes& b) { return {b.data(), b.size()}; }

Bytes maxPayneSample() {
    return fixtures::readFileBytes(fixtures::testDataPath("formats/max-payne.1394.sps"));
}

uint32_t sumOf(const Bytes& b) { return sharkPortChecksum(b.data(), b.size()); }

// One record of `length` bytes (the fields readers use, the rest zero; a record shorter than
// those fields is cut after them).
Bytes record(std::string_view name, uint32_t sizeOrCount, uint16_t mode, uint16_t length = 0xFA) {
    Bytes r(std::max<size_t>(length, SHARKPORT_RECORD_USED), 0);
    putU16(r, 0, length);
    putBytes(r, SHARKPORT_NAME, name);
    putU32(r, SHARKPORT_SIZE, sizeOrCount);
    r[SHARKPORT_MODE] = uint8_t(mode >> 8);
    r[SHARKPORT_MODE + 1] = uint8_t(mode);
    r[SHARKPORT_CREATED + 1] = 7;
    r.resize(length);
    return r;
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// A whole file around a body, with its sum after it.
Bytes sharkFile(const Bytes& body, std::string_view title = "Title") {
    Bytes f;
    fixtures::appendU32(f, 13);
    putBytes(f, 4, "SharkPortSave");
    fixtures::appendU32(f, 0);
    fixtures::appendU32(f, uint32_t(title.size()));
    putBytes(f, f.size(), title);
    fixtures::appendU32(f, 0);
    fixtures::appendU32(f, 0);
    fixtures::appendU32(f, uint32_t(body.size()));
    append(f, body);
    fixtures::appendU32(f, sumOf(body));
    return f;
}

// A folder of two files: "a.bin" (40 bytes) and "b.bin" (3 bytes).
Bytes twoFileBody() {
    Bytes body = record("FOLDER", 4, 0x8427);
    append(body, record("a.bin", 40, 0x8497));
    append(body, Bytes(40, 0x11));
    append(body, record("b.bin", 3, 0x8497));
    append(body, Bytes{1, 2, 3});
    return body;
}

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t k = 0; k < n; ++k) b[k] = uint8_t(seed + k * 13 + (k >> 7));
    return b;
}

ContainerRead roundTrip(const SaveContents& c, Bytes* written = nullptr) {
    return marrowin::testing::writeAndRead(writeSharkPort, readSharkPort, c, written);
}

// Where the body starts in a file the writer made (three strings, the last two empty).
size_t bodyStart(const Bytes& f) { return 0x15 + 4 + getU32(f, 0x15) + 4 + 4 + 4; }

std::string field(const Bytes& b, size_t off, size_t n) {
    std::string s(reinterpret_cast<const char*>(b.data() + off), n);
    return s.substr(0, s.find('\0'));
}

}  // namespace

TEST(SharkPortContainer, ChecksumMatchesKnownVectors) {
    std::string magic = "SharkPortSave";
    EXPECT_EQ(sharkPortChecksum(reinterpret_cast<const uint8_t*>(magic.data()), magic.size()), 0x0DE078E3u);
    Bytes ramp(16);
    for (size_t k = 0; k < 16; ++k) ramp[k] = uint8_t(k);
    EXPECT_EQ(sumOf(ramp), 0x0004C9E5u);
    EXPECT_EQ(sumOf(Bytes(1000, 0xFF)), 0x7FEE107Fu);
    // Carried on in pieces, the sum is the same.
    EXPECT_EQ(sharkPortChecksum(ramp.data() + 7, 9, sharkPortChecksum(ramp.data(), 7)), 0x0004C9E5u);
}

TEST(SharkPortContainer, MaxPayneSampleDecodesToItsFiles) {
    Bytes file = maxPayneSample();
    ASSERT_EQ(file.size(), 211546u);
    EXPECT_TRUE(looksLikeSharkPort(view(file), file.size()));
    EXPECT_EQ(detectContainer(view(file), file.size()), ContainerKind::SharkPort);
    EXPECT_EQ(getU32(file, file.size() - 4), 0x6B8A4C5Eu);
    ContainerRead r = readSharkPort(view(file));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    const SaveContents& c = r.contents;
    EXPECT_EQ(c.folderName, "BASLUS-20230");
    EXPECT_EQ(c.folderMode, 0x8427);
    EXPECT_EQ(c.created, stampOf(2001, 12, 16, 8, 14, 55));
    EXPECT_EQ(c.modified, stampOf(2001, 12, 21, 11, 19, 23));
    ASSERT_NO_FATAL_FAILURE(marrowin::testing::expectFilesAre(c, {
        {"icon.sys", 964, "691970fad5734f70a5e6950021d9553a10fb8085"},
        {"PAYNE.ICO", 65512, "46a40169b2b2c1299ea1f8d7fa0f2cb38c88701b"},
        {"invsave.inv", 143640, "0f3b65697ff21f3dea0c93b69a9f464258694b21"},
        {"BASLUS-20230", 100, "a926c4bcb980ec1254fdb1e30bb3eaf5b850fc54"},
    }, MODE_FILE));
}

TEST(SharkPortContainer, SampleRoundTripsWithTheObservedRecordFields) {
    ContainerRead first = readSharkPort(view(maxPayneSample()));
    ASSERT_TRUE(first.ok);
    Bytes out;
    ASSERT_NO_FATAL_FAILURE(expectRoundTrips(first.contents, &out));

    // The title string, an empty comment, an empty third string.
    std::string title = asciiTitleOf(first.contents);
    EXPECT_EQ(title, "Max Payne (Save Game)");  // the two lines of icon.sys
    ASSERT_EQ(getU32(out, 0x15), title.size());
    EXPECT_EQ(field(out, 0x19, title.size()), title);
    EXPECT_EQ(getU32(out, 0x19 + title.size()), 0u);
    EXPECT_EQ(getU32(out, 0x19 + title.size() + 4), 0u);
    size_t body = bodyStart(out);
    EXPECT_EQ(getU32(out, body - 4), out.size() - body - 4);
    EXPECT_EQ(getU32(out, out.size() - 4), sharkPortChecksum(out.data() + body, out.size() - body - 4));

    // The folder's record, 250 bytes.
    const uint8_t* r = out.data() + body;
    EXPECT_EQ(r[0] | r[1] << 8, 0xFA);
    EXPECT_EQ(getU32(out, body + SHARKPORT_SIZE), 6u);  // files, ".", ".."
    EXPECT_EQ(getU32(out, body + 0x46), 0u);
    EXPECT_EQ(getU32(out, body + 0x4A), 0u);
    EXPECT_EQ(r[SHARKPORT_MODE], 0x84);  // big-endian
    EXPECT_EQ(r[SHARKPORT_MODE + 1], 0x27);
    EXPECT_EQ(getU32(out, body + SHARKPORT_FILE_COUNT), 4u);
    EXPECT_TRUE(std::equal(r + SHARKPORT_CREATED, r + SHARKPORT_CREATED + 8, r + SHARKPORT_CREATED_COPY));
    EXPECT_EQ(field(out, body + SHARKPORT_ASCII_TITLE, 64), title);
    EXPECT_EQ(field(out, body + SHARKPORT_SJIS_TITLE, 64), shiftJisTitleOf(first.contents));
    EXPECT_EQ(field(out, body + SHARKPORT_SJIS_TITLE, 4), "\x82\x6c\x82\x81");

    // The first file's record: count 1, the name again in both title fields.
    size_t f = body + 0xFA;
    EXPECT_EQ(getU32(out, f + SHARKPORT_SIZE), 964u);
    EXPECT_EQ(getU32(out, f + SHARKPORT_FILE_COUNT), 1u);
    EXPECT_EQ(out[f + SHARKPORT_MODE], 0x84);
    EXPECT_EQ(out[f + SHARKPORT_MODE + 1], 0x97);
    EXPECT_EQ(field(out, f + SHARKPORT_ASCII_TITLE, 64), "icon.sys");
    EXPECT_EQ(field(out, f + SHARKPORT_SJIS_TITLE, 64), "icon.sys");
}

TEST(SharkPortContainer, SyntheticSavesRoundTrip) {
    SaveContents c;
    c.folderName = std::string(32, 'F');
    c.folderMode = 0x84A7;
    c.modified = stampOf(2018, 4, 21, 22, 10, 12);
    c.files.push_back({std::string(32, 'n'), 0x8417, stampOf(2020, 1, 2, 3, 4, 5), {}, 0, pattern(7000, 3)});
    c.files.push_back({"empty", MODE_FILE, {}, {}, 0, {}});
    c.files.push_back({"tail", MODE_FILE, {}, {}, 0, {9}});
    c.files.push_back({"last-empty", 0, {}, {}, 0, {}});
    ASSERT_NO_FATAL_FAILURE(expectRoundTrips(c));

    SaveContents none;
    none.folderName = "BASLUS-20000EMPTY";
    none.folderMode = 0;
    expectRoundTrips(none);
}

TEST(SharkPortContainer, LongTitlesAreCutWholeCharactersAtATime) {
    // 34 full-width characters: 68 bytes of Shift-JIS, more than the record's field.
    std::string sjis;
    for (int k = 0; k < 34; ++k) sjis += "\x82\x60";
    Bytes descriptor = fixtures::buildDescriptor({});
    putBytes(descriptor, 0xC0, sjis);
    SaveContents c;
    c.folderName = "SAVE";
    c.files.push_back({"icon.sys", MODE_FILE, {}, {}, 0, descriptor});
    Bytes out;
    ContainerRead r = roundTrip(c, &out);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    size_t body = bodyStart(out);
    EXPECT_EQ(field(out, body + SHARKPORT_SJIS_TITLE, 64), sjis.substr(0, 62));
    EXPECT_EQ(field(out, body + SHARKPORT_ASCII_TITLE, 64), std::string(34, 'A'));
}

TEST(SharkPortContainer, WriterRefusesWhatCardsCannotHold) {
    marrowin::testing::expectWriterRefusesBadNames(writeSharkPort);
}

TEST(SharkPortContainer, BadChecksumIsAnError) {
    Bytes file = sharkFile(twoFileBody());
    ASSERT_TRUE(readSharkPort(view(file)).problems.empty());
    file.back() ^= 0x40;
    ContainerRead r = readSharkPort(view(file));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "checksum")) << problemsOf(r);
    EXPECT_EQ(r.contents.files.size(), 2u);

    Bytes sample = maxPayneSample();
    sample[sample.size() / 2] ^= 1;
    EXPECT_TRUE(hasProblem(readSharkPort(view(sample)), true, "checksum"));
}

TEST(SharkPortContainer, LengthsPastTheEndAreRefused) {
    Bytes file = sharkFile(twoFileBody());
    // Each of the three strings in turn claims more bytes than the file has.
    size_t off = 0x15;
    for (int k = 0; k < 3; ++k) {
        Bytes bad = file;
        putU32(bad, off, uint32_t(bad.size()));
        ContainerRead r = readSharkPort(view(bad));
        EXPECT_FALSE(r.ok) << k;
        EXPECT_TRUE(r.hasErrors()) << k;
        putU32(bad, off, UINT32_MAX);
        EXPECT_FALSE(readSharkPort(view(bad)).ok) << k;
        off += 4 + getU32(file, off);
    }
    // The body claims more than follows: what is there is read, the cut file is named.
    Bytes longBody = file;
    putU32(longBody, off, getU32(file, off) + 100);
    ContainerRead r = readSharkPort(view(longBody));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "body is cut off")) << problemsOf(r);
    // The sum's four bytes are then read as the start of a record.
    ASSERT_EQ(r.contents.files.size(), 2u);
}

TEST(SharkPortContainer, TruncatedFileNamesTheFileItCuts) {
    Bytes file = maxPayneSample();
    file.resize(150000);  // inside invsave.inv
    ContainerRead r = readSharkPort(view(file));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(hasProblem(r, true, "invsave.inv: cut off")) << problemsOf(r);
    ASSERT_EQ(r.contents.files.size(), 3u);
    EXPECT_EQ(r.contents.files[1].data.size(), 65512u);

    // Cut inside a file's record: the record's name is still given.
    Bytes body = twoFileBody();
    body.resize(0xFA + 0xFA + 40 + 0x30);
    ContainerRead h = readSharkPort(view(sharkFile(body)));
    EXPECT_TRUE(hasProblem(h, true, "b.bin: the file's record is cut off")) << problemsOf(h);
    EXPECT_EQ(h.contents.files.size(), 1u);

    // Cut before the body's length.
    file.resize(0x15 + 4 + 20 + 4 + 19 + 4 + 2);
    EXPECT_FALSE(readSharkPort(view(file)).ok);
}

TEST(SharkPortContainer, RecordLengthsAreTakenFromTheRecords) {
    // A longer file record: its data starts after the whole record.
    Bytes body = record("FOLDER", 3, 0x8427);
    append(body, record("long.bin", 5, 0x8497, 0x120));
    append(body, Bytes{5, 4, 3, 2, 1});
    ContainerRead r = readSharkPort(view(sharkFile(body)));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    ASSERT_EQ(r.contents.files.size(), 1u);
    EXPECT_EQ(r.contents.files[0].data, (Bytes{5, 4, 3, 2, 1}));

    // Shorter than the fields readers use: damaged.
    Bytes shortRecord = record("FOLDER", 3, 0x8427);
    append(shortRecord, record("short.bin", 0, 0x8497, 0x61));
    ContainerRead s = readSharkPort(view(sharkFile(shortRecord)));
    EXPECT_TRUE(hasProblem(s, true, "short.bin: the file's record is damaged")) << problemsOf(s);
    EXPECT_TRUE(readSharkPort(view(sharkFile(record("FOLDER", 2, 0x8427, 0x20)))).hasErrors());
    EXPECT_FALSE(readSharkPort(view(sharkFile(record("FOLDER", 2, 0x8427, 0x20)))).ok);
}

TEST(SharkPortContainer, OdditiesThatLoseNothingAreWarnings) {
    // A folder count that disagrees with the files present.
    Bytes body = twoFileBody();
    putU32(body, SHARKPORT_SIZE, 9);
    ContainerRead c = readSharkPort(view(sharkFile(body)));
    EXPECT_FALSE(c.hasErrors()) << problemsOf(c);
    EXPECT_TRUE(hasProblem(c, false, "counts 9")) << problemsOf(c);
    EXPECT_EQ(c.contents.files.size(), 2u);

    // Bytes after the sum.
    Bytes file = sharkFile(twoFileBody());
    file.push_back(0);
    ContainerRead t = readSharkPort(view(file));
    EXPECT_FALSE(t.hasErrors()) << problemsOf(t);
    EXPECT_TRUE(hasProblem(t, false, "after the checksum")) << problemsOf(t);
}

TEST(SharkPortContainer, OtherFilesAreNotTakenForSharkPort) {
    Bytes cbs = fixtures::readFileBytes(fixtures::testDataPath("formats/tokyo-xtreme-racer-drift-2.14091.cbs"));
    EXPECT_FALSE(looksLikeSharkPort(view(cbs), cbs.size()));
    EXPECT_FALSE(readSharkPort(view(cbs)).ok);
    Bytes file = sharkFile(twoFileBody());
    file[4] = 's';
    EXPECT_FALSE(looksLikeSharkPort(view(file), file.size()));
    file.resize(10);
    EXPECT_FALSE(readSharkPort(view(file)).ok);
}
