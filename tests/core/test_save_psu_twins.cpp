// The .psu readers held to each other: the in-place walk (what info, extract and the window
// see) and the neutral save (what convert and the cards see) must find the same files in every
// archive, sample, real save and hostile input alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "archive/save_image.h"
#include "container_test_support.h"
#include "containers/save_contents.h"
#include "fixtures.h"
#include "icon/icon_descriptor.h"
#include "seed_archives.h"

namespace marrowin {
namespace {

using fixtures::Bytes;

struct SeenFile {
    std::string name;
    uint64_t size;  // what the archive holds of it
    Bytes data;
    bool operator==(const SeenFile&) const = default;
};

std::vector<SeenFile> walked(const Bytes& archive) {
    std::vector<SeenFile> out;
    SaveImage image = fixtures::imageOf(archive);
    walkFileEntries(image, [&](const FileEntry& e) {
        uint64_t have = e.dataOffset < image.fileSize ? std::min<uint64_t>(e.size, image.fileSize - e.dataOffset) : 0;
        out.push_back({std::string(e.name), have,
                       Bytes(image.bytes + e.dataOffset, image.bytes + e.dataOffset + have)});
    });
    return out;
}

std::vector<SeenFile> read(const Bytes& archive) {
    std::vector<SeenFile> out;
    ContainerRead r = readPsu({archive.data(), archive.size()});
    for (const SaveFile& f : r.contents.files) out.push_back({f.name, f.data.size(), f.data});
    return out;
}

void expectTwinsAgree(const Bytes& archive, const std::string& what) {
    const bool psu = detectContainer({archive.data(), archive.size()}, archive.size()) == ContainerKind::Psu;
    const bool walkable = detectArchiveKind(fixtures::imageOf(archive)) == ArchiveKind::SaveArchive;
    EXPECT_EQ(psu, walkable) << what << ": the recognisers disagree";
    // readPsu refuses an archive whose first entry is not a folder; the walk then still lists.
    if (!readPsu({archive.data(), archive.size()}).ok) return;
    std::vector<SeenFile> a = walked(archive), b = read(archive);
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].name, b[i].name) << what << " entry " << i;
        EXPECT_EQ(a[i].size, b[i].size) << what << " " << a[i].name;
        EXPECT_TRUE(a[i].data == b[i].data) << what << " " << a[i].name;
    }
}

std::vector<std::pair<std::string, Bytes>> everyArchive() {
    std::vector<std::pair<std::string, Bytes>> all = fixtures::seedArchives();
    all.emplace_back("samples/demo.psu", fixtures::readFileBytes(std::string(MARROWIN_SAMPLES) + "/demo.psu"));
    for (const char* sample : fixtures::REAL_CONTAINER_SAMPLES) {
        Bytes b = fixtures::readFileBytes(fixtures::testDataPath(sample));
        ContainerRead r = readContainer(detectContainer({b.data(), b.size()}, b.size()), {b.data(), b.size()});
        std::vector<uint8_t> psu;
        std::string error;
        EXPECT_TRUE(r.ok && writePsu(r.contents, psu, error)) << sample << " " << error;
        all.emplace_back(sample, psu);
    }
    return all;
}

TEST(PsuTwins, WalkAndReaderFindTheSameFilesInEverySampleAndSeed) {
    for (const auto& [name, bytes] : everyArchive()) {
        ASSERT_FALSE(bytes.empty()) << name;
        expectTwinsAgree(bytes, name);
    }
}

// Damage the fuzzer makes: every archive cut short at many lengths, and with sizes,
// modes and names overwritten by random bytes.
TEST(PsuTwins, WalkAndReaderAgreeOnCutAndScrambledArchives) {
    std::mt19937 random(18);
    for (const auto& [name, bytes] : everyArchive()) {
        for (size_t cut : {size_t(1537), size_t(2048), size_t(2500), bytes.size() / 2, bytes.size() - 1})
            if (cut < bytes.size()) expectTwinsAgree(Bytes(bytes.begin(), bytes.begin() + cut), name + " cut");
        for (int round = 0; round < 20 && bytes.size() >= 512; ++round) {
            Bytes b = bytes;
            for (int k = 0; k < 8; ++k) {
                // Aim at header fields: the mode, size and name of some entry.
                size_t at = size_t(random() % (b.size() / 512)) * 512 + (random() % 3 == 0 ? 64 : random() % 8);
                if (at < b.size()) b[at] = uint8_t(random());
            }
            expectTwinsAgree(b, name + " scrambled " + std::to_string(round));
        }
        // Regression: a header begun by the file's last byte was read as a file by the reader
        // (its 2-byte mode did not fit) and as the folder its one byte says by the walk.
        for (uint8_t last : {uint8_t(0x27), uint8_t(0x97)}) {
            Bytes b = bytes;
            b.push_back(last);  // archives end where their next entry would begin
            expectTwinsAgree(b, name + " ending in a one-byte header");
        }
    }
}

// The window's caption reads the title from the image, the containers from the neutral save:
// the caption is the first 64 bytes of the 68-byte title, on every real save.
TEST(PsuTwins, TitleReadersAgreeOnEveryRealSave) {
    size_t titled = 0;
    for (const auto& [name, bytes] : everyArchive()) {
        ContainerRead r = readPsu({bytes.data(), bytes.size()});
        // Two descriptors there: the caption takes the last, the containers the one named icon.sys.
        if (name == "many.psu") continue;
        if (!r.ok || !findSaveFile(r.contents, "icon.sys")) continue;
        SaveImage image = fixtures::imageOf(bytes);
        const std::string full = shiftJisTitleOf(r.contents);
        EXPECT_EQ(readSaveTitle(image), full.substr(0, 64)) << name;
        EXPECT_FALSE(asciiTitleOf(r.contents).empty()) << name;
        titled += !full.empty();
    }
    EXPECT_GE(titled, 7u);
}

}  // namespace
}  // namespace marrowin
