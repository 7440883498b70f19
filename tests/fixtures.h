#pragma once
// Small builders for save data used by the tests (and the fuzz seed generator): archives,
// icon descriptors and icon models written into byte vectors, and a way to make them a
// SaveImage. Everything is header-only so any test file can include it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/entry_header.h"
#include "archive/save_image.h"

namespace marrowin::fixtures {

using Bytes = std::vector<uint8_t>;

// ---- little-endian writers -------------------------------------------------------------

inline void putU16(Bytes& b, size_t off, uint16_t v) {
    if (b.size() < off + 2) b.resize(off + 2);
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(v >> 8);
}
inline void putU32(Bytes& b, size_t off, uint32_t v) {
    if (b.size() < off + 4) b.resize(off + 4);
    for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(v >> (8 * i));
}
inline void putF32(Bytes& b, size_t off, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    putU32(b, off, v);
}
inline void putBytes(Bytes& b, size_t off, std::string_view s) {
    if (b.size() < off + s.size()) b.resize(off + s.size());
    std::memcpy(b.data() + off, s.data(), s.size());
}
inline void appendU16(Bytes& b, uint16_t v) { putU16(b, b.size(), v); }
inline void appendI16(Bytes& b, int16_t v) { putU16(b, b.size(), uint16_t(v)); }
inline void appendU32(Bytes& b, uint32_t v) { putU32(b, b.size(), v); }
inline uint32_t getU32(const Bytes& b, size_t off) {
    return uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 |
           uint32_t(b[off + 3]) << 24;
}

// ---- archives --------------------------------------------------------------------------

// One 512-byte entry header. The name is written whole from offset 64, so a name longer than
// 63 bytes runs on into the following header bytes (as the packer writes it); it is cut at
// the end of the header.
inline Bytes entryHeader(uint16_t mode, uint32_t size, std::string_view name) {
    Bytes h(ENTRY_HEADER_SIZE, 0);
    putU16(h, ENTRY_MODE_OFFSET, mode);
    putU32(h, ENTRY_SIZE_OFFSET, size);
    size_t n = std::min(name.size(), size_t(ENTRY_NAME_MAX));
    std::memcpy(h.data() + ENTRY_NAME_OFFSET, name.data(), n);
    return h;
}

inline size_t paddedDataSize(uint64_t size) { return size_t((size + 1023) & ~uint64_t(1023)); }

// Builds an archive entry by entry. Offsets of the file headers are recorded so a test can
// tweak raw header bytes afterwards (`bytes[fileHeaderOffsets[i] + ...]`).
class ArchiveBuilder {
public:
    explicit ArchiveBuilder(std::string folderName = "BASLUS-20000SAVE")
        : folderName_(std::move(folderName)) {}

    // The folder's directory entry mode (clear bit 0x20 to make it look like a file entry).
    ArchiveBuilder& folderMode(uint16_t mode) { folderMode_ = mode; return *this; }
    // Leave out the "." and ".." entries (the result is then not recognised).
    ArchiveBuilder& withoutDotEntries() { dots_ = false; return *this; }

    // A file entry: header with the data length, then the data padded with `pad` to 1024.
    ArchiveBuilder& file(std::string name, Bytes data, uint8_t pad = 0) {
        items_.push_back({MODE_FILE, uint32_t(data.size()), std::move(name), std::move(data), pad,
                          true});
        return *this;
    }
    // A file entry whose header claims `size`, followed by exactly `data` (no padding).
    ArchiveBuilder& rawFile(std::string name, uint32_t size, Bytes data = {}) {
        items_.push_back({MODE_FILE, size, std::move(name), std::move(data), 0, false});
        return *this;
    }
    // Any entry header with the given mode (e.g. a nested directory entry), no data.
    ArchiveBuilder& entry(uint16_t mode, uint32_t size, std::string name) {
        items_.push_back({mode, size, std::move(name), {}, 0, false});
        return *this;
    }

    Bytes build() {
        Bytes out;
        auto add = [&](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
        uint32_t files = 0;
        for (auto& it : items_) files += (it.mode & MODE_DIRECTORY_BIT) ? 0 : 1;
        add(entryHeader(folderMode_, files + 2, folderName_));
        if (dots_) {
            add(entryHeader(MODE_DIRECTORY, 0, "."));
            add(entryHeader(MODE_DIRECTORY, 0, ".."));
        }
        fileHeaderOffsets.clear();
        for (auto& it : items_) {
            fileHeaderOffsets.push_back(out.size());
            add(entryHeader(it.mode, it.size, it.name));
            add(it.data);
            if (it.padded) out.resize(out.size() + paddedDataSize(it.data.size()) - it.data.size(),
                                      it.pad);
        }
        return out;
    }

    std::vector<size_t> fileHeaderOffsets;  // filled by build(), one per added entry

private:
    struct Item {
        uint16_t mode;
        uint32_t size;
        std::string name;
        Bytes data;
        uint8_t pad;
        bool padded;
    };
    std::string folderName_;
    uint16_t folderMode_ = MODE_DIRECTORY;
    bool dots_ = true;
    std::vector<Item> items_;
};

// ---- icon descriptor -------------------------------------------------------------------

struct DescriptorRecipe {
    std::string title = "TEST SAVE";  // raw save text; at most 64 bytes are stored
    std::array<std::string, 3> iconNames{"icon.icn", "icon.icn", "icon.icn"};
    float lightDirection[3][4] = {{0, 0, 1, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}};
    float lightColour[3][4] = {{0.5f, 0.5f, 0.5f, 0}, {0.3f, 0.3f, 0.3f, 0}, {0.2f, 0.2f, 0.2f, 0}};
    float ambient[4] = {0.25f, 0.25f, 0.25f, 0};
    Bytes tail;  // bytes after offset 452 (e.g. to make the file longer)
};

// The 964-byte "PS2D" file (plus recipe.tail).
inline Bytes buildDescriptor(const DescriptorRecipe& d) {
    Bytes b(964, 0);
    putBytes(b, 0, "PS2D");
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 4; ++c) {
            putF32(b, 80 + 16 * k + 4 * c, d.lightDirection[k][c]);
            putF32(b, 128 + 16 * k + 4 * c, d.lightColour[k][c]);
        }
    for (int c = 0; c < 4; ++c) putF32(b, 176 + 4 * c, d.ambient[c]);
    putBytes(b, 192, std::string_view(d.title).substr(0, 64));
    for (int i = 0; i < 3; ++i) putBytes(b, 260 + 64 * i, std::string_view(d.iconNames[i]).substr(0, 64));
    if (!d.tail.empty()) {
        b.resize(452);
        b.insert(b.end(), d.tail.begin(), d.tail.end());
    }
    return b;
}

// ---- icon model ------------------------------------------------------------------------

struct ModelVertex {
    std::vector<std::array<int16_t, 4>> positions;  // one per shape (missing shapes are 0)
    std::array<int16_t, 4> normal{0, 0, -4096, 0};
    std::array<int16_t, 2> uv{0, 0};
    std::array<uint8_t, 4> colour{128, 128, 128, 128};
};

struct ModelRecipe {
    uint32_t shapeCount = 1;
    uint32_t textureType = 0x07;  // plain
    std::vector<ModelVertex> vertices;
    std::vector<uint32_t> frameKeyCounts;  // one frame per element
    // The texture words after the animation section: 16384 pixels for a plain texture, the
    // run-length stream for a coded one (the 4-byte word before it is added by the builder).
    std::vector<uint16_t> texture;
    uint32_t rleLengthWord = 0;                   // the (unread) word before a coded stream
    std::optional<uint32_t> vertexCountOverride;  // header value instead of vertices.size()
    std::optional<uint32_t> frameCountOverride;   // section value instead of the frames' count
};

inline bool isRunLength(uint32_t textureType) {
    return (textureType & 0xFF) != 3 && (textureType & 8) != 0;
}

inline Bytes buildModel(const ModelRecipe& m) {
    Bytes b;
    appendU32(b, 0x00010000);
    appendU32(b, m.shapeCount);
    appendU32(b, m.textureType);
    appendU32(b, 0x3F800000);
    appendU32(b, m.vertexCountOverride.value_or(uint32_t(m.vertices.size())));
    for (const auto& v : m.vertices) {
        // A hostile shapeCount writes only the positions given.
        uint32_t shapes = m.shapeCount <= 256 ? m.shapeCount : uint32_t(v.positions.size());
        for (uint32_t s = 0; s < shapes; ++s) {
            std::array<int16_t, 4> p{0, 0, 0, 0};
            if (s < v.positions.size()) p = v.positions[s];
            for (int16_t c : p) appendI16(b, c);
        }
        for (int16_t c : v.normal) appendI16(b, c);
        for (int16_t c : v.uv) appendI16(b, c);
        for (uint8_t c : v.colour) b.push_back(c);
    }
    // Animation section: 16 unread bytes, frameCount, frames.
    appendU32(b, 1);
    appendU32(b, 1);
    appendU32(b, 0);
    appendU32(b, 0);
    appendU32(b, m.frameCountOverride.value_or(uint32_t(m.frameKeyCounts.size())));
    for (uint32_t keys : m.frameKeyCounts) {
        appendU32(b, 0);
        appendU32(b, keys);
        for (uint32_t k = 0; k < keys; ++k) {
            appendU32(b, 0);
            appendU32(b, 0x3F800000);
        }
    }
    if ((m.textureType & 0xFF) == 3) return b;
    if (isRunLength(m.textureType)) appendU32(b, m.rleLengthWord);
    for (uint16_t w : m.texture) appendU16(b, w);
    return b;
}

// 16384 copies of one pixel (a plain texture).
inline std::vector<uint16_t> plainTexture(uint16_t pixel) { return std::vector<uint16_t>(16384, pixel); }
// A plain texture whose pixel k is k & 0x7FFF (every pixel differs in its low bits).
inline std::vector<uint16_t> rampTexture() {
    std::vector<uint16_t> t(16384);
    for (size_t k = 0; k < t.size(); ++k) t[k] = uint16_t(k & 0x7FFF);
    return t;
}
// Run-length stream pieces.
inline void rleRepeat(std::vector<uint16_t>& s, uint16_t count, uint16_t pixel) {
    s.push_back(count);
    s.push_back(pixel);
}
inline void rleLiteral(std::vector<uint16_t>& s, const std::vector<uint16_t>& pixels) {
    s.push_back(uint16_t(0x10000 - pixels.size()));
    s.insert(s.end(), pixels.begin(), pixels.end());
}

// A simple triangle model: one shape, three vertices, one frame of one key, plain texture.
inline ModelRecipe triangleModel(uint16_t pixel = 0x7FFF) {
    ModelRecipe m;
    m.vertices.resize(3);
    m.vertices[0].positions = {{0, -4096, 0, 0}};
    m.vertices[1].positions = {{-4096, 4096, 0, 0}};
    m.vertices[2].positions = {{4096, 4096, 0, 0}};
    m.vertices[1].uv = {0, 4096};
    m.vertices[2].uv = {4096, 4096};
    m.frameKeyCounts = {1};
    m.texture = plainTexture(pixel);
    return m;
}

// ---- whole saves and images ------------------------------------------------------------

inline SaveImage imageOf(const Bytes& b) { return makeSaveImage(b.data(), uint32_t(b.size())); }

// A save archive with a descriptor ("icon.sys") and one model ("icon.icn").
inline Bytes iconSave(const DescriptorRecipe& d = {}, const ModelRecipe& m = triangleModel(),
                      std::string folder = "BASLUS-20000SAVE") {
    DescriptorRecipe dd = d;
    ArchiveBuilder a(std::move(folder));
    a.file("icon.sys", buildDescriptor(dd));
    a.file(dd.iconNames[0], buildModel(m));
    return a.build();
}

inline std::string testDataPath(std::string_view name) {
#ifdef MARROWIN_TEST_DATA
    return std::string(MARROWIN_TEST_DATA) + "/" + std::string(name);
#else
    return std::string("tests/data/") + std::string(name);
#endif
}

inline Bytes readFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace marrowin::fixtures
