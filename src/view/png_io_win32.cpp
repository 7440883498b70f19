// PNG pictures on Windows. The format is a few chunks around zlib data, and zlib is packaged
// for mingw-w64 while libpng is not, so the encoder is written here on zlib. The file is
// written by the host file layer (writeOutput).
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/host_files.h"
#include "view/png_io.h"

namespace marrowin {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
    putU32(out, uint32_t(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + start, uInt(out.size() - start));
    putU32(out, uint32_t(crc));
}


}  // namespace

bool encodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba, PngAlpha alpha,
               std::vector<uint8_t>& out, std::string& error) {
    if (width == 0 || height == 0 || rgba.size() != size_t(width) * height * 4) {
        error = "no picture to write";
        return false;
    }
    const bool keep = alpha == PngAlpha::Keep;
    const size_t channels = keep ? 4 : 3;
    // Each row: filter type 0 (none), then the pixels.
    std::vector<uint8_t> raw;
    raw.reserve(size_t(height) * (1 + size_t(width) * channels));
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        const uint8_t* src = rgba.data() + size_t(y) * width * 4;
        for (uint32_t x = 0; x < width; ++x, src += 4) raw.insert(raw.end(), src, src + channels);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    // Level 2, as the other hosts' pictures: small enough, and fast for large renders.
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 2) != Z_OK) {
        error = "cannot compress the picture (out of memory)";
        return false;
    }
    packed.resize(packedSize);

    static const uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.assign(SIGNATURE, SIGNATURE + 8);
    std::vector<uint8_t> header;
    putU32(header, width);
    putU32(header, height);
    header.push_back(8);                // bits per channel
    header.push_back(keep ? 6 : 2);     // RGBA or RGB
    header.push_back(0);                // deflate
    header.push_back(0);                // adaptive filters
    header.push_back(0);                // not interlaced
    putChunk(out, "IHDR", header.data(), header.size());
    putChunk(out, "IDAT", packed.data(), packed.size());
    putChunk(out, "IEND", nullptr, 0);
    return true;
}

bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgba, PngWrite mode, std::string& error,
              PngAlpha alpha) {
    if (path.empty()) {
        error = "no output file name";
        return false;
    }
    std::vector<uint8_t> png;
    if (!encodePng(width, height, rgba, alpha, png, error)) return false;
    return writeOutput(path, png.data(), png.size(), mode, error);
}

namespace {

uint32_t getU32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The Paeth predictor of the format: whichever neighbour is nearest a + b - c.
uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// The largest picture read: a side of 16384 as the renderer's, and so a bounded allocation.
constexpr uint32_t MAX_READ_SIDE = 16384;

bool decodePng(const std::vector<uint8_t>& file, uint32_t& width, uint32_t& height,
               std::vector<uint8_t>& rgba, std::string& error) {
    static const uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || std::memcmp(file.data(), SIGNATURE, 8) != 0) {
        error = "not a PNG picture";
        return false;
    }
    uint32_t w = 0, h = 0;
    int colourType = -1;
    bool seenHeader = false, seenEnd = false;
    std::vector<uint8_t> packed;
    size_t at = 8;
    while (!seenEnd) {
        if (file.size() - at < 12) {
            error = "the picture is cut short";
            return false;
        }
        const uint64_t length = getU32(file.data() + at);
        const uint8_t* type = file.data() + at + 4;
        if (length > file.size() - at - 12) {
            error = "a chunk runs past the end of the picture";
            return false;
        }
        const uint8_t* data = type + 4;
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, type, uInt(4 + length));
        if (uint32_t(crc) != getU32(data + length)) {
            error = "a chunk's checksum is wrong";
            return false;
        }
        const bool critical = !(type[0] & 0x20);
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (seenHeader || length != 13) {
                error = "bad picture header";
                return false;
            }
            seenHeader = true;
            w = getU32(data);
            h = getU32(data + 4);
            const uint8_t depth = data[8];
            colourType = data[9];
            if (w == 0 || h == 0 || w > MAX_READ_SIDE || h > MAX_READ_SIDE) {
                error = "unsupported picture size " + std::to_string(w) + "x" + std::to_string(h);
                return false;
            }
            if (depth != 8 || (colourType != 2 && colourType != 6)) {
                error = "only 8-bit RGB and RGBA pictures are read (bit depth " +
                        std::to_string(depth) + ", colour type " + std::to_string(colourType) +
                        ")";
                return false;
            }
            if (data[10] != 0 || data[11] != 0) {
                error = "unknown compression or filter method";
                return false;
            }
            if (data[12] != 0) {
                error = "interlaced pictures are not read";
                return false;
            }
        } else if (!seenHeader) {
            error = "the picture does not start with its header";
            return false;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            packed.insert(packed.end(), data, data + length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            seenEnd = true;
        } else if (critical) {
            error = "unsupported chunk " + std::string(reinterpret_cast<const char*>(type), 4);
            return false;
        }
        at += size_t(12 + length);
    }

    const size_t channels = colourType == 6 ? 4 : 3;
    const size_t stride = size_t(w) * channels;
    const size_t rawSize = size_t(h) * (stride + 1);
    std::vector<uint8_t> raw(rawSize);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        error = "cannot decompress the picture (out of memory)";
        return false;
    }
    // Fed in pieces that fit zlib's 32-bit counters; Z_OK means progress, so this ends.
    size_t inAt = 0, outAt = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        const size_t inPiece = std::min<size_t>(packed.size() - inAt, 1u << 30);
        const size_t outPiece = std::min<size_t>(raw.size() - outAt, 1u << 30);
        z.next_in = packed.data() + inAt;
        z.avail_in = uInt(inPiece);
        z.next_out = raw.data() + outAt;
        z.avail_out = uInt(outPiece);
        status = inflate(&z, Z_NO_FLUSH);
        inAt += inPiece - z.avail_in;
        outAt += outPiece - z.avail_out;
    }
    inflateEnd(&z);
    // Z_BUF_ERROR: no progress possible, the data ended early or there is more than pixels.
    if (status != Z_STREAM_END && status != Z_BUF_ERROR) {
        error = "the picture's data is corrupt";
        return false;
    }
    if (outAt != raw.size()) {
        error = "the picture's data is cut short";
        return false;
    }

    // Undo the row filters in place; "up" of the first row is zero.
    rgba.assign(size_t(w) * h * 4, 255);
    std::vector<uint8_t> zero(stride, 0);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = raw.data() + size_t(y) * (stride + 1);
        const uint8_t filter = row[0];
        uint8_t* cur = row + 1;
        const uint8_t* up = y ? raw.data() + size_t(y - 1) * (stride + 1) + 1 : zero.data();
        for (size_t i = 0; i < stride; ++i) {
            const int a = i >= channels ? cur[i - channels] : 0;
            const int b = up[i];
            const int c = i >= channels ? up[i - channels] : 0;
            switch (filter) {
            case 0: break;
            case 1: cur[i] = uint8_t(cur[i] + a); break;
            case 2: cur[i] = uint8_t(cur[i] + b); break;
            case 3: cur[i] = uint8_t(cur[i] + (a + b) / 2); break;
            case 4: cur[i] = uint8_t(cur[i] + paeth(a, b, c)); break;
            default:
                error = "unknown row filter " + std::to_string(filter);
                return false;
            }
        }
        uint8_t* dst = rgba.data() + size_t(y) * w * 4;
        for (uint32_t x = 0; x < w; ++x, dst += 4)
            std::memcpy(dst, cur + size_t(x) * channels, channels);
    }
    width = w;
    height = h;
    return true;
}

}  // namespace

bool readPng(const std::string& path, uint32_t& width, uint32_t& height,
             std::vector<uint8_t>& rgba, std::string& error) {
    std::vector<uint8_t> file;
    HostFile in = openForReading(path);
    if (!in.isOpen()) {
        error = "cannot open " + path + ": " + errnoText(errno);
        return false;
    }
    // PNG files are input like any other: read whole, up to a bound, then checked piece by piece.
    const int64_t size = in.size();
    if (size < 0) {
        error = "cannot read " + path + ": " + errnoText(errno);
        return false;
    }
    if (uint64_t(size) > (uint64_t(1) << 31)) {
        error = path + ": the picture is too large";
        return false;
    }
    file.resize(size_t(size));
    if (in.read(file.data(), file.size()) != file.size()) {
        error = "cannot read " + path + ": " + errnoText(errno);
        return false;
    }
    if (!decodePng(file, width, height, rgba, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace marrowin
