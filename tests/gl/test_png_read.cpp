// Reading pictures back, as the drawing tests do on every host: whole pictures of every row
// filter come back exactly, and a damaged file is refused with a reason.
#include <zlib.h>

#include <fstream>

#include "picture_support.h"
#include "view/png_io.h"

using namespace marrowin;
using namespace marrowin::gltest;

namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put32(out, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put32(out, uint32_t(crc32(0, body.data(), uInt(body.size()))));
}

std::vector<uint8_t> header(uint32_t w, uint32_t h, uint8_t colourType, uint8_t depth = 8,
                            uint8_t interlace = 0) {
    std::vector<uint8_t> d;
    put32(d, w);
    put32(d, h);
    d.insert(d.end(), {depth, colourType, 0, 0, interlace});
    return d;
}

int predictor(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// A PNG of the pixels (channels a pixel) with row y filtered by filters[y % size].
std::vector<uint8_t> pngOf(uint32_t w, uint32_t h, int channels, const std::vector<uint8_t>& px,
                           const std::vector<int>& filters) {
    const size_t stride = size_t(w) * channels;
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < h; ++y) {
        const int f = filters[y % filters.size()];
        raw.push_back(uint8_t(f));
        for (size_t i = 0; i < stride; ++i) {
            const int x = px[y * stride + i];
            const int a = i >= size_t(channels) ? px[y * stride + i - channels] : 0;
            const int b = y ? px[(y - 1) * stride + i] : 0;
            const int c = y && i >= size_t(channels) ? px[(y - 1) * stride + i - channels] : 0;
            const int pred[5] = {0, a, b, (a + b) / 2, predictor(a, b, c)};
            raw.push_back(uint8_t(x - pred[f]));
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(size);
    EXPECT_EQ(compress(packed.data(), &size, raw.data(), uLong(raw.size())), Z_OK);
    packed.resize(size);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    chunk(png, "IHDR", header(w, h, channels == 4 ? 6 : 2));
    // Split in two IDAT chunks, which a reader must join.
    chunk(png, "tEXt", {'k', 0, 'v'});  // ancillary: skipped
    const size_t half = packed.size() / 2;
    chunk(png, "IDAT", {packed.begin(), packed.begin() + long(half)});
    chunk(png, "IDAT", {packed.begin() + long(half), packed.end()});
    chunk(png, "IEND", {});
    return png;
}

std::string save(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& b) {
    const std::string path = dir.path + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

// Varied enough that every predictor gives something different from the others.
std::vector<uint8_t> noise(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t s = 12345;
    for (auto& b : v) b = uint8_t((s = s * 1103515245 + 12345) >> 16);
    return v;
}

}  // namespace

TEST(PngRead, EveryRowFilterComesBackExactly) {
    TempDir dir;
    const uint32_t w = 7, h = 10;
    for (int channels : {3, 4}) {
        const std::vector<uint8_t> px = noise(size_t(w) * h * channels);
        std::vector<uint8_t> expected;
        for (size_t i = 0; i < px.size(); i += channels) {
            expected.insert(expected.end(), px.begin() + long(i), px.begin() + long(i) + channels);
            if (channels == 3) expected.push_back(255);
        }
        for (const std::vector<int>& filters :
             std::vector<std::vector<int>>{{0}, {1}, {2}, {3}, {4}, {4, 3, 2, 1, 0}}) {
            const std::string path = save(dir, "f.png", pngOf(w, h, channels, px, filters));
            uint32_t gotW = 0, gotH = 0;
            std::vector<uint8_t> rgba;
            std::string error;
            ASSERT_TRUE(readPng(path, gotW, gotH, rgba, error)) << error;
            EXPECT_EQ(gotW, w);
            EXPECT_EQ(gotH, h);
            EXPECT_EQ(rgba, expected) << channels << " channels, filter " << filters[0];
        }
    }
}

TEST(PngRead, WhatThePicturesWriterMakesReadsBack) {
    TempDir dir;
    const std::vector<uint8_t> px = noise(5 * 3 * 4);
    for (PngAlpha alpha : {PngAlpha::Keep, PngAlpha::Drop}) {
        std::vector<uint8_t> png;
        std::string error;
        ASSERT_TRUE(encodePng(5, 3, px, alpha, png, error)) << error;
        const Picture p = loadPng(save(dir, "w.png", png));
        std::vector<uint8_t> expected = px;
        if (alpha == PngAlpha::Drop)
            for (size_t i = 3; i < expected.size(); i += 4) expected[i] = 255;
        EXPECT_EQ(p.width, 5u);
        EXPECT_EQ(p.height, 3u);
        EXPECT_EQ(p.rgba, expected);
    }
}

TEST(PngRead, DamagedPicturesAreRefusedWithAReason) {
    TempDir dir;
    const std::vector<uint8_t> good = pngOf(6, 4, 4, noise(6 * 4 * 4), {1, 4});
    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"signature only", {good.begin(), good.begin() + 8}});
    cases.push_back({"cut in the header", {good.begin(), good.begin() + 20}});
    cases.push_back({"cut in the data", {good.begin(), good.end() - 40}});
    std::vector<uint8_t> badCrc = good;
    badCrc[29] ^= 1;  // the header's checksum
    cases.push_back({"header checksum", badCrc});
    std::vector<uint8_t> huge = good;
    huge[33] = huge[34] = huge[35] = huge[36] = 0xFF;  // the length of the chunk after the header
    cases.push_back({"chunk longer than the file", huge});
    std::vector<uint8_t> notPng = good;
    notPng[1] = 'Q';
    cases.push_back({"signature", notPng});
    {
        std::vector<uint8_t> wide = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        chunk(wide, "IHDR", header(0x7FFFFFFF, 0x7FFFFFFF, 6));
        chunk(wide, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
        chunk(wide, "IEND", {});
        cases.push_back({"giant size", wide});
    }
    for (const auto& [what, bytes] : cases) {
        uint32_t w = 0, h = 0;
        std::vector<uint8_t> rgba;
        std::string error;
        EXPECT_FALSE(readPng(save(dir, "bad.png", bytes), w, h, rgba, error)) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> rgba;
    std::string error;
    EXPECT_FALSE(readPng(dir.path + "/missing.png", w, h, rgba, error));
    EXPECT_NE(error.find("missing.png"), std::string::npos) << error;
}

#ifdef _WIN32
// The Windows reader takes what the drawing tests and the programs write, and says so for the
// rest rather than misreading it.
TEST(PngRead, OtherKindsAreRefusedByName) {
    TempDir dir;
    const struct {
        std::vector<uint8_t> ihdr;
        const char* reason;
    } kinds[] = {{header(2, 2, 6, 16), "8-bit"}, {header(2, 2, 0), "8-bit"},
                 {header(2, 2, 6, 8, 1), "interlaced"}};
    for (const auto& k : kinds) {
        std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        chunk(png, "IHDR", k.ihdr);
        chunk(png, "IEND", {});
        uint32_t w = 0, h = 0;
        std::vector<uint8_t> rgba;
        std::string error;
        EXPECT_FALSE(readPng(save(dir, "k.png", png), w, h, rgba, error));
        EXPECT_NE(error.find(k.reason), std::string::npos) << error;
    }
}
#endif
