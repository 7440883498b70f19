#pragma once
// Helpers for the container tests: a small SHA-1 for comparing with published digests, saves
// built from the real icons, and comparisons of neutral saves that say what differs.
#include <cstring>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "containers/save_contents.h"
#include "fixtures.h"

namespace marrowin::testing {

inline std::string sha1Hex(const std::vector<uint8_t>& data) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::vector<uint8_t> m = data;
    const uint64_t bits = uint64_t(data.size()) * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; --i) m.push_back(uint8_t(bits >> (8 * i)));
    auto rol = [](uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (size_t block = 0; block < m.size(); block += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(m[block + 4 * i]) << 24 | uint32_t(m[block + 4 * i + 1]) << 16 |
                   uint32_t(m[block + 4 * i + 2]) << 8 | m[block + 4 * i + 3];
        for (int i = 16; i < 80; ++i) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t f, k;
            if (i < 20) f = (b & c) | (~b & d), k = 0x5A827999;
            else if (i < 40) f = b ^ c ^ d, k = 0x6ED9EBA1;
            else if (i < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
            else f = b ^ c ^ d, k = 0xCA62C1D6;
            const uint32_t t = rol(a, 5) + f + e + k + w[i];
            e = d, d = c, c = rol(b, 30), b = a, a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    char out[41];
    for (int i = 0; i < 5; ++i) std::snprintf(out + 8 * i, 9, "%08x", h[i]);
    return out;
}

// A save of the real icons in tests/data, as the fuzz seeds pack them ("opl.psu").
inline SaveContents realIconContents(const char* model = "opl.icn", const char* sys = "opl-icon.sys") {
    SaveContents c;
    c.folderName = "BASLUS-00000REAL";
    c.created = stampOf(2024, 5, 6, 7, 8, 9);
    c.modified = stampOf(2025, 1, 2, 3, 4, 5);
    auto add = [&](std::string name, const char* path) {
        SaveFile f;
        f.name = std::move(name);
        f.data = fixtures::readFileBytes(fixtures::testDataPath(path));
        f.created = c.created;
        f.modified = c.modified;
        c.files.push_back(std::move(f));
    };
    add(model, model);
    add("icon.sys", sys);
    return c;
}

// Folder and file names, order and data: what every container keeps.
inline void expectSameFiles(const SaveContents& want, const SaveContents& got, const std::string& what) {
    EXPECT_EQ(got.folderName, want.folderName) << what;
    ASSERT_EQ(got.files.size(), want.files.size()) << what;
    for (size_t i = 0; i < want.files.size(); ++i) {
        EXPECT_EQ(got.files[i].name, want.files[i].name) << what << " file " << i;
        EXPECT_TRUE(got.files[i].data == want.files[i].data) << what << " file " << i;
    }
}

// The stamps and modes as well (the containers that keep them).
inline void expectSameMetadata(const SaveContents& want, const SaveContents& got, const std::string& what) {
    EXPECT_EQ(got.folderMode, want.folderMode) << what;
    EXPECT_TRUE(got.created == want.created && got.modified == want.modified) << what;
    ASSERT_EQ(got.files.size(), want.files.size()) << what;
    for (size_t i = 0; i < want.files.size(); ++i) {
        EXPECT_EQ(got.files[i].mode, want.files[i].mode) << what << " file " << i;
        EXPECT_TRUE(got.files[i].created == want.files[i].created &&
                    got.files[i].modified == want.files[i].modified)
            << what << " file " << i;
    }
}

// Every field, the attributes as well (what a memory card keeps).
inline void expectWholeSaveSame(const SaveContents& a, const SaveContents& b) {
    EXPECT_EQ(a.folderName, b.folderName);
    EXPECT_EQ(a.folderMode, b.folderMode);
    EXPECT_EQ(a.created, b.created);
    EXPECT_EQ(a.modified, b.modified);
    EXPECT_EQ(a.attribute, b.attribute);
    ASSERT_EQ(a.files.size(), b.files.size());
    for (size_t i = 0; i < a.files.size(); ++i) {
        SCOPED_TRACE(a.files[i].name);
        EXPECT_EQ(a.files[i].name, b.files[i].name);
        EXPECT_EQ(a.files[i].mode, b.files[i].mode);
        EXPECT_EQ(a.files[i].created, b.files[i].created);
        EXPECT_EQ(a.files[i].modified, b.files[i].modified);
        EXPECT_EQ(a.files[i].attribute, b.files[i].attribute);
        EXPECT_TRUE(a.files[i].data == b.files[i].data);
    }
}

// Both of the above, for the containers that keep everything.
inline void expectSameSave(const SaveContents& want, const SaveContents& got, const std::string& what) {
    expectSameFiles(want, got, what);
    expectSameMetadata(want, got, what);
}

inline bool hasProblem(const ContainerRead& r, bool error, const std::string& text) {
    for (const Problem& p : r.problems)
        if ((p.severity == Severity::Error) == error && p.text.find(text) != std::string::npos) return true;
    return false;
}

inline std::string problemsOf(const ContainerRead& r) {
    std::string s;
    for (const Problem& p : r.problems) s += (p.severity == Severity::Error ? "error: " : "warning: ") + p.text + "\n";
    return s;
}

// Names, sizes and SHA-1s of a sample's files, in order, all with `mode`.
struct ExpectedFile {
    const char* name;
    size_t size;
    const char* sha1;
};
inline void expectFilesAre(const SaveContents& c, const std::vector<ExpectedFile>& want, uint16_t mode) {
    ASSERT_EQ(c.files.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const SaveFile& f = c.files[i];
        EXPECT_EQ(f.name, want[i].name);
        EXPECT_EQ(f.data.size(), want[i].size);
        EXPECT_EQ(sha1Hex(f.data), want[i].sha1) << f.name;
        EXPECT_EQ(f.mode, mode);
    }
}

using ContainerWriter = bool (*)(const SaveContents&, std::vector<uint8_t>&, std::string&);
using ContainerReader = ContainerRead (*)(ByteView);

// Writes `c` (which must succeed) and reads it back; the bytes go to `written` when asked.
inline ContainerRead writeAndRead(ContainerWriter write, ContainerReader read, const SaveContents& c,
                                  std::vector<uint8_t>* written = nullptr) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(write(c, out, error)) << error;
    if (written) *written = out;
    return read({out.data(), out.size()});
}

// For the containers that keep everything: `c` comes back whole and without problems; the
// bytes go to `written` when asked.
inline void expectRoundTripKeepsAll(ContainerWriter write, ContainerReader read, const SaveContents& c,
                                    std::vector<uint8_t>* written = nullptr) {
    ContainerRead r = writeAndRead(write, read, c, written);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.problems.empty()) << problemsOf(r);
    expectSameSave(c, r.contents, "round trip");
}

// Names a 32-byte field cannot hold are refused with a reason, and `out` is left as it was.
inline void expectWriterRefusesBadNames(ContainerWriter write) {
    auto refused = [&](const SaveContents& c, const char* why) {
        std::vector<uint8_t> out{1, 2, 3};
        std::string error;
        EXPECT_FALSE(write(c, out, error)) << why;
        EXPECT_FALSE(error.empty()) << why;
        EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3})) << why;
    };
    SaveContents c;
    c.folderName = std::string(33, 'F');
    refused(c, "33-byte folder name");
    c.folderName = "SAVE";
    c.files.push_back({std::string(33, 'n'), MODE_FILE, {}, {}, 0, {}});
    refused(c, "33-byte file name");
    c.files[0].name = "";
    refused(c, "empty file name");
    c.files[0].name = std::string("a\0b", 3);
    refused(c, "name with a zero byte");
}

// A PS3 export of a one-block PlayStation (PS1) save, laid out as the PS3 writes one.
inline std::vector<uint8_t> ps1Psv() {
    std::vector<uint8_t> b(0x84 + 8192, 0);
    const uint8_t magic[4] = {0x00, 0x56, 0x53, 0x50};
    std::memcpy(b.data(), magic, 4);
    auto put = [&](size_t off, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[off + size_t(i)] = uint8_t(v >> (8 * i));
    };
    put(0x38, 0x14);
    put(0x3C, 1);
    put(0x40, 8192);
    put(0x44, 0x84);
    put(0x48, 0x200);
    put(0x5C, 8192);
    put(0x60, 0x9003);
    std::memcpy(b.data() + 0x64, "BASLUS-006620000000A", 20);
    b[0x84] = 'S';
    b[0x85] = 'C';
    return b;
}

}  // namespace marrowin::testing
