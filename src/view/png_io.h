#pragma once
// Rendered frames as PNG pictures (libpng).
#include <cstdint>
#include <string>
#include <vector>

#include "base/host_files.h"

namespace marrowin {

// Whether a picture keeps the alpha of the frame: the window shows none, but a thumbnail
// lets the file manager's background show where the icon is not.
enum class PngAlpha { Drop, Keep };

// How a picture reaches its path: see OutputWrite.
using PngWrite = OutputWrite;

// The whole PNG file of top-down RGBA pixels, as RGB (or, with PngAlpha::Keep, RGBA).
bool encodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba, PngAlpha alpha,
               std::vector<uint8_t>& png, std::string& error);

// Encodes first and touches the path only with a whole picture in hand. Gives false and a
// reason on failure. An existing regular file gets room for the new picture before any of it
// changes, so one that cannot be written keeps its old picture; one whose write fails after
// that is left empty rather than half written.
bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgba, PngWrite mode, std::string& error,
              PngAlpha alpha = PngAlpha::Drop);

// Reads a PNG into top-down RGBA (any bit depth or colour type is converted).
bool readPng(const std::string& path, uint32_t& width, uint32_t& height,
             std::vector<uint8_t>& rgba, std::string& error);

}  // namespace marrowin
