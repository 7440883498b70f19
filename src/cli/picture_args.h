#pragma once
// Arguments of the picture commands (render, thumbnail).
#include <string>

namespace marrowin::cli {

// Whether both names reach one existing file (through links, or as hard links): a picture
// written in place there would overwrite the archive it was drawn from.
bool sameExistingFile(const std::string& a, const std::string& b);

// A finite number of degrees from -100000 to 100000, read without the locale.
bool parseDegrees(const std::string& text, float& out);

}  // namespace marrowin::cli
