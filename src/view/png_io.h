#pragma once
// Rendered frames as PNG pictures (libpng).
#include <cstdint>
#include <string>
#include <vector>

namespace marrowin {

// Whether a picture keeps the alpha of the frame: the window shows none, but a thumbnail
// lets the file manager's background show where the icon is not.
enum class PngAlpha { Drop, Keep };

// Writes top-down RGBA pixels as an RGB (or, with PngAlpha::Keep, RGBA) PNG.
// The file is written beside the target under a temporary name and then moved into place,
// so a failure never leaves a partial picture. An existing file at path is replaced only
// when replaceExisting is true. Gives false and a reason on failure.
bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgba, bool replaceExisting, std::string& error,
              PngAlpha alpha = PngAlpha::Drop);

// Reads a PNG into top-down RGBA (any bit depth or colour type is converted).
bool readPng(const std::string& path, uint32_t& width, uint32_t& height,
             std::vector<uint8_t>& rgba, std::string& error);

}  // namespace marrowin
