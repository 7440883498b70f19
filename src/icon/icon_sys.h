#pragma once
// The fields of a save's icon.sys (the descriptor, 964 bytes beginning "PS2D") read from its
// bytes: the one reader of them, for the window's caption and icons, the containers' titles and
// a card's list. Plain bytes in, no view or drawing here.
#include <cstdint>
#include <string>

#include "base/byte_reader.h"

namespace marrowin {

constexpr uint32_t DESCRIPTOR_LINE_BREAK_OFFSET = 6;
constexpr uint32_t DESCRIPTOR_TITLE_OFFSET = 192;
constexpr uint32_t DESCRIPTOR_TITLE_SIZE = 68;  // what the console reads; the caption takes 64
constexpr uint32_t DESCRIPTOR_ICON_NAME_OFFSET = 260;
constexpr uint32_t DESCRIPTOR_TEXT_SIZE = 64;  // each icon file name
constexpr uint32_t DESCRIPTOR_SIZE = 964;

struct IconSysFields {
    std::string title;          // save text up to its zero byte, at most DESCRIPTOR_TITLE_SIZE
    uint16_t lineBreak = 0;     // byte offset of the title's second line
    std::string iconNames[3];   // normal, copy, delete
};

// Reads the fields of the descriptor whose bytes start at `off`; what lies past the view reads
// as zero (empty texts).
IconSysFields readIconSysFields(ByteView bytes, uint64_t off = 0);

}  // namespace marrowin
