// Save image: allocation, recognition, folder name, entry walk and lookup.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "base/host_files.h"
#include "archive/save_image.h"
#include "fixtures.h"

using namespace marrowin;
using namespace marrowin::fixtures;

namespace {

Bytes withDots(size_t size) {
    Bytes b(size, 0);
    putU32(b, 576, 0x2E);
    putU32(b, 1088, 0x2E2E);
    return b;
}

std::vector<uint64_t> walkOffsets(const SaveImage& img) {
    std::vector<uint64_t> out;
    walkFileEntries(img, [&](const FileEntry& e) { out.push_back(e.headerOffset); });
    return out;
}

}  // namespace

TEST(SaveImage, MadeImageHasZeroSlackAndMovesOwnership) {
    Bytes b(100, 0xAB);
    SaveImage a = imageOf(b);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.fileSize, 100u);
    EXPECT_EQ(a.capacity(), 100u + SAVE_IMAGE_SLACK);
    EXPECT_EQ(a.bytes[99], 0xAB);
    for (uint64_t i = 100; i < a.capacity(); ++i) ASSERT_EQ(a.bytes[i], 0) << i;

    SaveImage moved = std::move(a);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(moved.fileSize, 100u);
    SaveImage other = imageOf(Bytes(10, 1));
    other = std::move(moved);
    EXPECT_EQ(other.fileSize, 100u);
    releaseSaveImage(other);
    EXPECT_TRUE(other.empty());
    EXPECT_EQ(other.fileSize, 0u);
    releaseSaveImage(other);  // twice is harmless
}

TEST(SaveImage, ReadFromFileLeavesUndeliveredBytesZero) {
    char path[] = "/tmp/marrowin-read-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    Bytes b = iconSave();
    ASSERT_EQ(write(fd, b.data(), b.size()), ssize_t(b.size()));
    close(fd);

    HostFile f = openForReading(path);
    ASSERT_TRUE(f.isOpen());
    EXPECT_EQ(f.size(), int64_t(b.size()));
    SaveImage img = readSaveImage(f, uint32_t(b.size()));
    ASSERT_FALSE(img.empty());
    EXPECT_EQ(0, memcmp(img.bytes, b.data(), b.size()));
    f.close();

    // The file shrank after its size was taken: the rest reads as zeros.
    HostFile g = openForReading(path);
    SaveImage longer = readSaveImage(g, uint32_t(b.size() + 5000));
    ASSERT_FALSE(longer.empty());
    EXPECT_EQ(0, memcmp(longer.bytes, b.data(), b.size()));
    for (uint64_t i = b.size(); i < longer.capacity(); ++i) ASSERT_EQ(longer.bytes[i], 0);
    unlink(path);
}

TEST(Recognition, SaveArchiveNeedsMoreThan1536BytesAndBothDotNames) {
    EXPECT_EQ(detectArchiveKind(imageOf(withDots(1536))), ArchiveKind::NotRecognized);
    EXPECT_EQ(detectArchiveKind(imageOf(withDots(1537))), ArchiveKind::SaveArchive);

    Bytes b = withDots(2048);
    b[577] = 'x';  // ".x"
    EXPECT_EQ(detectArchiveKind(imageOf(b)), ArchiveKind::NotRecognized);
    b = withDots(2048);
    b[1090] = '.';  // "..."
    EXPECT_EQ(detectArchiveKind(imageOf(b)), ArchiveKind::NotRecognized);
    EXPECT_EQ(detectArchiveKind(imageOf(Bytes(4096, 0))), ArchiveKind::NotRecognized);
    EXPECT_EQ(detectArchiveKind(SaveImage{}), ArchiveKind::NotRecognized);
    EXPECT_EQ(detectArchiveKind(imageOf(iconSave())), ArchiveKind::SaveArchive);
}

TEST(Recognition, PowerSaveNeedsMoreThan256BytesAndExactCase) {
    Bytes p(256, 0);
    putBytes(p, 0, "Ps2PowerSave");
    EXPECT_EQ(detectArchiveKind(imageOf(p)), ArchiveKind::NotRecognized);
    p.resize(257);
    EXPECT_EQ(detectArchiveKind(imageOf(p)), ArchiveKind::PowerSaveArchive);

    Bytes both = withDots(4096);
    putBytes(both, 0, "Ps2PowerSave");
    EXPECT_EQ(detectArchiveKind(imageOf(both)), ArchiveKind::PowerSaveArchive);
    putBytes(both, 0, "PS2POWERSAVE");
    EXPECT_EQ(detectArchiveKind(imageOf(both)), ArchiveKind::SaveArchive);
    EXPECT_STRNE(archiveKindName(ArchiveKind::SaveArchive), archiveKindName(ArchiveKind::NotRecognized));
}

TEST(Recognition, FirstEntryModeDoesNotMatter) {
    Bytes b = ArchiveBuilder("FOLDER").folderMode(MODE_FILE).file("a", Bytes(10, 1)).build();
    SaveImage img = imageOf(b);
    EXPECT_EQ(detectArchiveKind(img), ArchiveKind::SaveArchive);
    EXPECT_EQ(getFolderName(img), "");
}

TEST(FolderName, EndsAtZeroOrAfter64Bytes) {
    EXPECT_EQ(getFolderName(imageOf(ArchiveBuilder("BESLES-12345ABC").build())), "BESLES-12345ABC");
    Bytes b = ArchiveBuilder("x").build();
    for (int i = 0; i < 64; ++i) b[64 + i] = uint8_t('A' + i % 26);
    b[128] = 'Z';  // past the field: never part of the name
    std::string name = getFolderName(imageOf(b));
    EXPECT_EQ(name.size(), 64u);
    EXPECT_EQ(name.back(), 'A' + 63 % 26);
    EXPECT_EQ(getFolderName(SaveImage{}), "");
}

TEST(EntryWalk, StepsFollowDataLengthRoundedTo1024) {
    // Header offsets after the three directory entries: sizes 0, 1, 1024, 1025, 2048.
    ArchiveBuilder a;
    a.rawFile("z", 0).rawFile("one", 1, Bytes(1024, 0)).rawFile("k", 1024, Bytes(1024, 0));
    a.rawFile("k1", 1025, Bytes(2048, 0)).rawFile("k2", 2048, Bytes(2048, 0));
    SaveImage img = imageOf(a.build());
    EXPECT_EQ(walkOffsets(img), (std::vector<uint64_t>{1536, 2048, 3584, 5120, 7680}));
    EXPECT_EQ(nextEntryOffset(img, 0), 512u);      // directory entry
    EXPECT_EQ(nextEntryOffset(img, 1536), 2048u);  // size 0
    EXPECT_EQ(nextEntryOffset(img, 2048), 3584u);  // size 1
    EXPECT_EQ(nextEntryOffset(img, 5120), 7680u);  // size 1025
}

TEST(EntryWalk, DocumentedTwoFileLayout) {
    Bytes b = ArchiveBuilder("F").file("a", Bytes(100, 1)).file("b", Bytes(2000, 2)).build();
    EXPECT_EQ(b.size(), 5632u);
    SaveImage img = imageOf(b);
    EXPECT_EQ(walkOffsets(img), (std::vector<uint64_t>{1536, 3072}));
    EXPECT_EQ(getU32(b, 4), 4u);  // folder entry counts files + 2
}

TEST(EntryWalk, HugeSizeEndsTheWalkWithoutWrapping) {
    ArchiveBuilder a;
    a.rawFile("huge", 0xFFFFFFFF, Bytes(600, 0)).file("after", Bytes(4, 1));
    SaveImage img = imageOf(a.build());
    EXPECT_EQ(walkOffsets(img), (std::vector<uint64_t>{1536}));
    EXPECT_EQ(nextEntryOffset(img, 1536), 1536u + 512u + 0x100000000ull);
    // Offsets far past the image never wrap around to small values.
    EXPECT_EQ(nextEntryOffset(img, UINT64_MAX - 100), UINT64_MAX);
    EXPECT_GT(nextEntryOffset(img, uint64_t(1) << 40), uint64_t(1) << 40);
}

TEST(EntryWalk, CutOffHeaderReadsZerosAndEndsAtFileEnd) {
    Bytes b = ArchiveBuilder().file("data.bin", Bytes(3000, 7)).build();
    b.resize(1536 + 40);  // the header is cut inside its name-less part
    SaveImage img = imageOf(b);
    auto offs = walkOffsets(img);
    ASSERT_EQ(offs.size(), 1u);
    EXPECT_EQ(entryNameAt(img, 1536), "");
}

TEST(EntryWalk, DirectoryEntriesArePassedOverAndAFalseStopsTheWalk) {
    ArchiveBuilder a;
    a.file("a", {1}).entry(MODE_DIRECTORY, 12345, "sub").file("b", {2}).file("c", {3});
    SaveImage img = imageOf(a.build());
    std::vector<std::string> names;
    walkFileEntries(img, [&](const FileEntry& e) { names.emplace_back(e.name); });
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
    names.clear();
    walkFileEntries(img, [&](const FileEntry& e) {
        names.emplace_back(e.name);
        return names.size() < 2;
    });
    EXPECT_EQ(names.size(), 2u);
}

TEST(EntryName, LongNameRunsOnPastTheFieldUpToTheHeaderEnd) {
    std::string longName(100, 'n');
    Bytes b = ArchiveBuilder().file(longName, {1}).build();
    SaveImage img = imageOf(b);
    EXPECT_EQ(entryNameAt(img, 1536), longName);
    for (size_t i = 64; i < 512; ++i) b[1536 + i] = 'q';  // no terminator in the header
    SaveImage full = imageOf(b);
    EXPECT_EQ(entryNameAt(full, 1536).size(), ENTRY_NAME_MAX);
    EXPECT_TRUE(findFileEntry(full, std::string(ENTRY_NAME_MAX, 'Q').c_str()).has_value());
}

TEST(CompareEntryName, FoldsBit5OnAnyByte) {
    EXPECT_EQ(compareEntryName("ICON.ICN", "icon.icn"), 0);
    EXPECT_EQ(compareEntryName("[", "{"), 0);
    EXPECT_EQ(compareEntryName(".", "\x0E"), 0);
    EXPECT_EQ(compareEntryName("\x81", "\xA1"), 0);
    EXPECT_NE(compareEntryName("abc", "abd"), 0);
}

TEST(CompareEntryName, PrefixesDoNotMatchAndSignComesFromSignedBytes) {
    EXPECT_EQ(compareEntryName("icon", "icon.icn"), -1);
    EXPECT_EQ(compareEntryName("icon.icn", "icon"), 1);
    EXPECT_EQ(compareEntryName("b", "a"), 1);
    // The stopping bytes are compared as they stand: 'a' > 'B' although 'A' < 'B'.
    EXPECT_EQ(compareEntryName("a", "B"), 1);
    // 0x81 is negative as a signed byte, so it is the smaller one.
    EXPECT_EQ(compareEntryName("\x81", "A"), -1);
    EXPECT_EQ(compareEntryName("A", "\x81"), 1);
    EXPECT_EQ(compareEntryName("", ""), 0);
}

TEST(FindFileEntry, CaseInsensitiveLastMatchWinsDirectoriesNever) {
    ArchiveBuilder a;
    a.file("icon.icn", {1}).entry(MODE_DIRECTORY, 0, "view.icn").file("other", {2}).file("ICON.ICN", {3});
    Bytes b = a.build();
    SaveImage img = imageOf(b);
    auto hit = findFileEntry(img, "Icon.Icn");
    ASSERT_TRUE(hit.has_value());
    EXPECT_EQ(*hit, a.fileHeaderOffsets[3] + 512);
    EXPECT_EQ(img.bytes[*hit], 3);
    EXPECT_FALSE(findFileEntry(img, "view.icn").has_value());
    EXPECT_FALSE(findFileEntry(img, "icon").has_value());
    EXPECT_FALSE(findFileEntry(img, "icon.icn.bak").has_value());
    EXPECT_FALSE(findFileEntry(imageOf(ArchiveBuilder().build()), "").has_value());
    EXPECT_FALSE(findFileEntry(SaveImage{}, "x").has_value());
}
