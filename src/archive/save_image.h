#pragma once
// A save archive held whole in memory, its recognition and its entry walk.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_reader.h"
#include "archive/entry_header.h"

namespace marrowin {

constexpr uint32_t SAVE_IMAGE_SLACK = 1024;

// The file's bytes followed by SAVE_IMAGE_SLACK zero bytes, in one zero-filled allocation.
// Move-only; the buffer is given back by releaseSaveImage (or the destructor).
struct SaveImage {
    uint8_t* bytes = nullptr;
    uint32_t fileSize = 0;

    SaveImage() = default;
    SaveImage(const SaveImage&) = delete;
    SaveImage& operator=(const SaveImage&) = delete;
    SaveImage(SaveImage&& other) noexcept;
    SaveImage& operator=(SaveImage&& other) noexcept;
    ~SaveImage();

    bool empty() const { return bytes == nullptr; }
    uint64_t capacity() const { return empty() ? 0 : uint64_t(fileSize) + SAVE_IMAGE_SLACK; }
    // The whole buffer, slack included: every read of save data goes through this.
    ByteView view() const { return ByteView{bytes, capacity()}; }
};

enum class ArchiveKind { NotRecognized = 0, SaveArchive = 1, PowerSaveArchive = 2 };

class HostFile;

// Reads fileSize bytes of an open file into a new image. Gives an empty image when the
// memory cannot be had. Bytes the file does not deliver stay zero.
SaveImage readSaveImage(HostFile& file, uint32_t fileSize);
// Builds an image from bytes already in memory (tests, fuzzing, the sample maker); without
// data, `size` zero bytes.
SaveImage makeSaveImage(const uint8_t* data, uint32_t size);
void releaseSaveImage(SaveImage& image);
// Puts new bytes into an image, keeping its buffer (grown or shrunk in place where it can be)
// instead of a fresh allocation: the fuzz targets pass millions of inputs through one image.
// The slack reads zero as in a new image. False, with the image empty, when memory runs out.
bool refillSaveImage(SaveImage& image, const uint8_t* data, uint32_t size);
// Makes the image `size` bytes long, keeping its first bytes: bytes past the old end (and the
// slack) read zero. Grown in place where it can be (a stream read into it costs no second
// copy). False, with the image as it was, when memory runs out.
bool resizeSaveImage(SaveImage& image, uint32_t size);

// The one recognition of a .psu: "." and ".." where the second and third entries name them.
// `head` may be the file's first bytes only (1,536 are enough); fileSize is the whole file's.
bool looksLikeSaveArchive(ByteView head, uint64_t fileSize);
ArchiveKind detectArchiveKind(const SaveImage& image);
const char* archiveKindName(ArchiveKind kind);

// The folder name, at most 64 bytes of save text; empty unless the first entry is a directory.
std::string getFolderName(const SaveImage& image);

// The walk: offset of the entry after the one at `offset`. Never wraps; at least +512. The one
// stepping rule, shared by the walk over an image and the reader of a neutral save.
uint64_t nextEntryOffset(ByteView bytes, uint64_t offset);
inline uint64_t nextEntryOffset(const SaveImage& image, uint64_t offset) {
    return nextEntryOffset(image.view(), offset);
}

struct FileEntry {
    uint64_t headerOffset;
    uint64_t dataOffset;  // headerOffset + 512
    uint32_t size;        // as the header says; may reach past the file
    std::string_view name;  // zero-terminated in the header, at most 448 bytes
    const uint8_t* header;  // the 512 header bytes (inside the buffer)
};

// Visits every file entry in archive order; directory entries are passed over.
// fn(const FileEntry&) may return void, or bool where false stops the walk.
template <class Fn>
void walkFileEntries(const SaveImage& image, Fn&& fn);

// 0 when both names match under the bit-5 fold; else 1 or -1 from the stopping bytes.
int compareEntryName(const char* entryName, const char* wantedName);

// Offset (into bytes) of the data of the last file entry whose name matches, or none.
std::optional<uint64_t> findFileEntry(const SaveImage& image, const char* wantedName);

// Reads a file entry's name from its header (bounded to the header).
std::string_view entryNameAt(const SaveImage& image, uint64_t headerOffset);

template <class Fn>
void walkFileEntries(const SaveImage& image, Fn&& fn) {
    if (image.empty()) return;
    for (uint64_t off = 0; off < image.fileSize; off = nextEntryOffset(image, off)) {
        const uint8_t* h = image.bytes + off;
        if (h[0] & MODE_DIRECTORY_BIT) continue;
        FileEntry e{off, off + ENTRY_HEADER_SIZE, image.view().u32(off + ENTRY_SIZE_OFFSET),
                    entryNameAt(image, off), h};
        if constexpr (std::is_same_v<decltype(fn(e)), bool>) {
            if (!fn(e)) return;
        } else {
            fn(e);
        }
    }
}

}  // namespace marrowin
