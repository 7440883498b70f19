#pragma once
// The .psu archive as a neutral save: read into one, written from one, and laid out as the
// in-memory image the rest of the program reads.
#include <string>
#include <vector>

#include "archive/save_contents.h"
#include "archive/save_image.h"
#include "base/byte_reader.h"

namespace marrowin {

// ".psu": folder entry, ".", "..", then each file's 512-byte entry and its data padded to
// 1024 bytes. The reader steps as the in-place walk does.
ContainerRead readPsu(ByteView bytes);
bool writePsu(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error);

// The save image of contents, as if read from a ".psu" file; empty when memory runs out or the
// contents cannot be laid out (then `error`, when given, says why; it stays empty for memory).
SaveImage psuImageOf(const SaveContents& contents, std::string* error = nullptr);

}  // namespace marrowin
