// PNG pictures on Windows. The format is a few chunks around zlib data, and zlib is packaged
// for mingw-w64 while libpng is not, so the encoder is written here on zlib; files are written
// through the host file layer.
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/host_files.h"
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

std::string errnoText(int err) { return std::strerror(err); }

// Splits a path into its folder and its last component.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t cut = path.find_last_of("/\\");
    if (cut == std::string::npos) {
        folder.clear();
        name = path;
    } else {
        folder = path.substr(0, cut + 1);
        name = path.substr(cut + 1);
    }
}

enum class Created { Yes, Exists, Failed };

// A new file at path, never replacing one: written whole under a temporary name beside it,
// then moved into place only when the name is free.
Created createNew(const std::string& path, const std::vector<uint8_t>& png, std::string& error) {
    std::string folder, name;
    splitPath(path, folder, name);
    TemporaryFile temp;
    if (!temp.create(HostFolder(folder))) {
        error = "cannot create a file in " + (folder.empty() ? std::string(".") : folder) + ": " +
                errnoText(errno);
        return Created::Failed;
    }
    if (!temp.file().write(png.data(), png.size()) || !temp.finish()) {
        error = "cannot write " + path + ": " + errnoText(errno);
        return Created::Failed;
    }
    const int err = temp.placeWithoutReplacing(name);
    if (err == EEXIST) {
        error = path + " already exists";
        return Created::Exists;
    }
    if (err != 0) {
        error = "cannot write " + path + ": " + errnoText(err);
        return Created::Failed;
    }
    return Created::Yes;
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
    if (mode == PngWrite::NewFile) return createNew(path, png, error) == Created::Yes;
    if (path == "-") {
        std::fflush(stdout);
        if (std::fwrite(png.data(), 1, png.size(), stdout) != png.size() || std::fflush(stdout) != 0) {
            error = "cannot write to standard output: " + errnoText(errno);
            return false;
        }
        return true;
    }
    switch (pathKind(path)) {
    case PathKind::Folder:
        error = path + " is a folder";
        return false;
    case PathKind::Missing: {
        const Created created = createNew(path, png, error);
        // Made by someone else meanwhile: write into it like any existing file.
        if (created != Created::Exists) return created == Created::Yes;
        break;
    }
    default:
        break;
    }
    // Into the file that is there, so whoever holds it open reads the picture.
    std::string folder, name;
    splitPath(path, folder, name);
    HostFile file = createOrEmpty(name, HostFolder(folder));
    if (!file.isOpen()) {
        error = "cannot write " + path + ": " + errnoText(errno);
        return false;
    }
    if (!file.write(png.data(), png.size())) {
        error = "cannot write " + path + ": " + errnoText(errno);
        // A half picture would be taken for a broken one; leave it empty.
        file = createOrEmpty(name, HostFolder(folder));
        return false;
    }
    if (!file.close()) {
        error = "cannot write " + path + ": " + errnoText(errno);
        return false;
    }
    return true;
}

bool readPng(const std::string& path, uint32_t&, uint32_t&, std::vector<uint8_t>&,
             std::string& error) {
    error = path + ": reading PNG pictures is not built into the Windows programs";
    return false;
}

}  // namespace marrowin
