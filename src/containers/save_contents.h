#pragma once
// A save as every container holds it: one folder of plain files with their metadata. Each
// container's reader turns its bytes into this, each writer turns this into bytes, and the
// ".psu" layout built from it is what info, check, extract and the renderers work on.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "base/problem.h"
#include "base/time_stamp.h"
#include "archive/entry_header.h"
#include "archive/psu_contents.h"
#include "archive/save_contents.h"
#include "archive/save_image.h"

namespace marrowin {

// Card names are at most 32 bytes of save text (Shift-JIS); every container but ".psu" and
// SharkPort keeps no more.
constexpr size_t SAVE_NAME_MAX = 32;

// No container is trusted for an allocation above this: a whole 8 MB card holds less.
constexpr uint64_t SAVE_EXPANDED_MAX = 64ull << 20;
// The largest container file read into memory.
constexpr uint64_t CONTAINER_FILE_MAX = 128ull << 20;

enum class ContainerKind { Unknown, Psu, Max, Cbs, SharkPort, Psv };

// "psu", "max", "cbs", "sps", "psv" (the --to words and the written extensions); "" for Unknown.
const char* containerWord(ContainerKind kind);
// A longer name for messages and info: "Action Replay MAX (.max)" and the like.
const char* containerTitle(ContainerKind kind);
// The kind for a --to word (any letter case; "xps" is SharkPort too); Unknown otherwise.
ContainerKind containerFromWord(std::string_view word);

// Recognition by content only; `bytes` may be the head of the file (RECOGNITION_BYTES are
// enough for every kind) while fileSize is the whole file's size.
ContainerKind detectContainer(ByteView bytes, uint64_t fileSize);

// Reads a whole container file. Never allocates past SAVE_EXPANDED_MAX for decoded data.
ContainerRead readContainer(ContainerKind kind, ByteView bytes);

// Writes contents as the given container into out (replaced). False with a message when the
// container cannot hold them (a name too long for its fields, too many bytes): nothing is
// ever silently cut.
bool writeContainer(ContainerKind kind, const SaveContents& contents, std::vector<uint8_t>& out,
                    std::string& error);

// Fills what a container could not supply before writing one that holds it: all-zero stamps
// become `now`, and modes lacking the in-use and kind bits get them (0x8000|0x20 for the folder,
// 0x8000|0x10 for files). Gives the number of fields changed.
size_t completeMetadata(SaveContents& contents, const Stamp& now);

// Each container's own reader and writer (one file each).
bool looksLikeMax(ByteView bytes, uint64_t fileSize);
ContainerRead readMax(ByteView bytes);
bool writeMax(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error);

bool looksLikeCbs(ByteView bytes, uint64_t fileSize);
ContainerRead readCbs(ByteView bytes);
bool writeCbs(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error);

bool looksLikeSharkPort(ByteView bytes, uint64_t fileSize);
ContainerRead readSharkPort(ByteView bytes);
bool writeSharkPort(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error);

bool looksLikePsv(ByteView bytes, uint64_t fileSize);
// A PS3 export of a PlayStation (PS1) save: a .psv, but no PS2 save at all.
bool isPs1Psv(ByteView bytes);
constexpr const char* PS1_PSV_REFUSAL = "a PlayStation (PS1) save, which a PS2 tool does not take";
ContainerRead readPsv(ByteView bytes);
bool writePsv(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error);

// The title of the save's icon.sys as ASCII (full-width letters, digits and spaces folded to
// their half-width forms, the two lines joined by a space, anything else as '?'), for the
// containers that keep an ASCII title beside the folder; "" without an icon.sys.
std::string asciiTitleOf(const SaveContents& contents);
// The raw Shift-JIS title of icon.sys (up to its NUL, at most 68 bytes); "" without one.
std::string shiftJisTitleOf(const SaveContents& contents);
const SaveFile* findSaveFile(const SaveContents& contents, std::string_view name);
// Why a writer whose names are card names (1 to SAVE_NAME_MAX bytes, no zero byte) cannot take
// `name` ("the folder", "a file" for `what`); "" when it can.
std::string saveNameProblem(const std::string& name, const char* what);

}  // namespace marrowin
