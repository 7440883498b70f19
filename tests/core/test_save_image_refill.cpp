// Refilling one save image with input after input, as the fuzz targets do.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/save_image.h"

using namespace marrowin;

namespace {

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7) | 1;  // never zero
    return b;
}

// The image reads exactly as a fresh one made of the same bytes would.
void expectHolds(const SaveImage& image, const std::vector<uint8_t>& bytes) {
    ASSERT_FALSE(image.empty());
    ASSERT_EQ(image.fileSize, bytes.size());
    ASSERT_EQ(image.capacity(), bytes.size() + SAVE_IMAGE_SLACK);
    for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(image.bytes[i], bytes[i]) << i;
    for (uint64_t i = bytes.size(); i < image.capacity(); ++i) ASSERT_EQ(image.bytes[i], 0) << i;
}

}  // namespace

TEST(SaveImageRefill, GrowingAndShrinkingKeepsBytesAndZeroSlack) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    SaveImage image;
    // Shrinking after a long input must not leave its bytes in the slack; growing across
    // pages must carry nothing of the old mapping either.
    for (size_t size : {size_t(0), size_t(100), 5 * page + 3, size_t(700), size_t(0),
                        3 * page, 3 * page - SAVE_IMAGE_SLACK - 1, 64 * page + 11, size_t(1)}) {
        std::vector<uint8_t> bytes = pattern(size, uint8_t(size));
        ASSERT_TRUE(refillSaveImage(image, bytes.data(), uint32_t(size))) << size;
        expectHolds(image, bytes);
    }
    releaseSaveImage(image);
    EXPECT_TRUE(image.empty());
}

TEST(SaveImageRefill, EmptyImageGetsABuffer) {
    std::vector<uint8_t> bytes = pattern(2000, 5);
    SaveImage image;
    ASSERT_TRUE(refillSaveImage(image, bytes.data(), uint32_t(bytes.size())));
    expectHolds(image, bytes);
}

TEST(SaveImageRefill, SizesOnTheSamePagesReuseTheBuffer) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::vector<uint8_t> longer = pattern(2 * page, 1), shorter = pattern(2 * page - 500, 2);
    SaveImage image;
    ASSERT_TRUE(refillSaveImage(image, longer.data(), uint32_t(longer.size())));
    const uint8_t* buffer = image.bytes;
    ASSERT_TRUE(refillSaveImage(image, shorter.data(), uint32_t(shorter.size())));
    EXPECT_EQ(image.bytes, buffer);
    expectHolds(image, shorter);
    // A refilled image still moves and releases like any other.
    SaveImage moved = std::move(image);
    expectHolds(moved, shorter);
    EXPECT_TRUE(image.empty());
}

// Resizing keeps the bytes both sizes share; whatever lies past the new end reads zero, as in a
// fresh image (a stream read into an image shrinks it to what arrived).
TEST(SaveImageRefill, ResizingKeepsTheSharedBytesAndZeroesTheRest) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::vector<uint8_t> all = pattern(70 * page, 9);
    SaveImage image;
    ASSERT_TRUE(refillSaveImage(image, all.data(), uint32_t(page + 5)));
    size_t held = page + 5;
    for (size_t size : {size_t(0), size_t(20), 64 * page + 11, 64 * page - 3, 2 * page, size_t(1),
                        70 * page, size_t(0)}) {
        ASSERT_TRUE(resizeSaveImage(image, uint32_t(size))) << size;
        std::vector<uint8_t> expected(all.begin(), all.begin() + std::min(size, held));
        expected.resize(size, 0);
        expectHolds(image, expected);
        // Fill it whole again, so the next shrink has bytes to clear.
        std::copy(all.begin(), all.begin() + size, image.bytes);
        held = size;
    }
}
