#include "archive/save_image.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>

#include "base/host_files.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MARROWIN_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MARROWIN_ASAN 1
#endif
#ifdef MARROWIN_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace marrowin {

namespace {

// One anonymous private mapping (committed virtual memory on Windows): the pages come
// zero-filled, so the slack after the file and whatever a short read leaves out read as zero
// without a memset.
uint8_t* allocateImage(uint32_t fileSize) {
    size_t length = size_t(uint64_t(fileSize) + SAVE_IMAGE_SLACK);
#ifdef _WIN32
    void* p = VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    return static_cast<uint8_t*>(p);
#else
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
#ifdef MARROWIN_ASAN
    // Under AddressSanitizer the rest of the last page is fenced off, so a read one byte past
    // the slack is caught instead of landing in mapped zeros.
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t mapped = (length + page - 1) / page * page;
    ASAN_POISON_MEMORY_REGION(static_cast<uint8_t*>(p) + length, mapped - length);
#endif
    return static_cast<uint8_t*>(p);
#endif
}

void freeImage(uint8_t* bytes, uint64_t capacity) {
#ifdef _WIN32
    VirtualFree(bytes, 0, MEM_RELEASE);
#else
#ifdef MARROWIN_ASAN
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t mapped = (size_t(capacity) + page - 1) / page * page;
    ASAN_UNPOISON_MEMORY_REGION(bytes, mapped);
#endif
    munmap(bytes, size_t(capacity));
#endif
}

}  // namespace

SaveImage::SaveImage(SaveImage&& other) noexcept : bytes(other.bytes), fileSize(other.fileSize) {
    other.bytes = nullptr;
    other.fileSize = 0;
}

SaveImage& SaveImage::operator=(SaveImage&& other) noexcept {
    if (this != &other) {
        releaseSaveImage(*this);
        bytes = other.bytes;
        fileSize = other.fileSize;
        other.bytes = nullptr;
        other.fileSize = 0;
    }
    return *this;
}

SaveImage::~SaveImage() { releaseSaveImage(*this); }

SaveImage readSaveImage(HostFile& file, uint32_t fileSize) {
    SaveImage image;
    uint8_t* p = allocateImage(fileSize);
    if (!p) return image;
    image.bytes = p;
    image.fileSize = fileSize;
    // The count read is not compared with fileSize: what the file does not deliver stays zero.
    file.read(p, fileSize);
    return image;
}

SaveImage makeSaveImage(const uint8_t* data, uint32_t size) {
    SaveImage image;
    uint8_t* p = allocateImage(size);
    if (!p) return image;
    if (size && data) std::memcpy(p, data, size);
    image.bytes = p;
    image.fileSize = size;
    return image;
}

void releaseSaveImage(SaveImage& image) {
    if (image.bytes) freeImage(image.bytes, image.capacity());
    image.bytes = nullptr;
    image.fileSize = 0;
}

bool refillSaveImage(SaveImage& image, const uint8_t* data, uint32_t size) {
    // Resizing clears what a longer earlier input left past the new end; the rest is overwritten.
    if (!resizeSaveImage(image, size)) {
        releaseSaveImage(image);
        return false;
    }
    if (size) std::memcpy(image.bytes, data, size);
    return true;
}

bool resizeSaveImage(SaveImage& image, uint32_t size) {
    if (image.empty()) {
        image = makeSaveImage(nullptr, size);
        return !image.empty();
    }
    const uint32_t kept = std::min(size, image.fileSize);
#ifdef __linux__
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t oldMapped = (size_t(image.capacity()) + page - 1) / page * page;
    const size_t length = size_t(uint64_t(size) + SAVE_IMAGE_SLACK);
    const size_t mapped = (length + page - 1) / page * page;
    uint8_t* p = image.bytes;
#ifdef MARROWIN_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, oldMapped);
#endif
    if (mapped != oldMapped) {
        // The pages move, their bytes are not copied; new pages come zero-filled.
        void* q = mremap(p, oldMapped, mapped, MREMAP_MAYMOVE);
        if (q == MAP_FAILED) {
#ifdef MARROWIN_ASAN
            ASAN_POISON_MEMORY_REGION(p + image.capacity(), oldMapped - image.capacity());
#endif
            return false;
        }
        p = static_cast<uint8_t*>(q);
#ifdef MARROWIN_ASAN
        ASAN_UNPOISON_MEMORY_REGION(p, mapped);
#endif
    }
    // What lay past the new end within the kept pages (old bytes, when shrinking) reads zero.
    std::memset(p + kept, 0, std::min(mapped, oldMapped) - kept);
#ifdef MARROWIN_ASAN
    ASAN_POISON_MEMORY_REGION(p + length, mapped - length);
#endif
    image.bytes = p;
    image.fileSize = size;
    return true;
#else
    SaveImage grown = makeSaveImage(nullptr, size);
    if (grown.empty()) return false;
    if (kept) std::memcpy(grown.bytes, image.bytes, kept);
    image = std::move(grown);
    return true;
#endif
}

bool looksLikeSaveArchive(ByteView head, uint64_t fileSize) {
    constexpr uint64_t DOT_NAME = ENTRY_HEADER_SIZE + ENTRY_NAME_OFFSET;
    constexpr uint64_t DOTDOT_NAME = 2 * uint64_t(ENTRY_HEADER_SIZE) + ENTRY_NAME_OFFSET;
    return fileSize > 3 * uint64_t(ENTRY_HEADER_SIZE) && head.u32(DOT_NAME) == 0x2E &&
           head.u32(DOTDOT_NAME) == 0x2E2E;
}

ArchiveKind detectArchiveKind(const SaveImage& image) {
    if (image.empty()) return ArchiveKind::NotRecognized;
    if (image.fileSize > 256 && std::memcmp(image.bytes, "Ps2PowerSave", 12) == 0)
        return ArchiveKind::PowerSaveArchive;
    if (looksLikeSaveArchive(image.view(), image.fileSize)) return ArchiveKind::SaveArchive;
    return ArchiveKind::NotRecognized;
}

const char* archiveKindName(ArchiveKind kind) {
    switch (kind) {
        case ArchiveKind::SaveArchive: return "save archive";
        case ArchiveKind::PowerSaveArchive: return "Ps2PowerSave archive";
        case ArchiveKind::NotRecognized: break;
    }
    return "not recognised";
}

std::string getFolderName(const SaveImage& image) {
    const EntryRecord folder = decodeEntry(image.view(), 0, ENTRY_NAME_FIELD_SIZE);
    return folder.mode & MODE_DIRECTORY_BIT ? folder.name : std::string();
}

uint64_t nextEntryOffset(ByteView v, uint64_t offset) {
    uint64_t step = ENTRY_HEADER_SIZE;
    if (!(v.u8(offset) & MODE_DIRECTORY_BIT)) {
        uint64_t size = (offset <= UINT64_MAX - ENTRY_SIZE_OFFSET) ? v.u32(offset + ENTRY_SIZE_OFFSET) : 0;
        step += paddedDataSize(size);
    }
    return offset > UINT64_MAX - step ? UINT64_MAX : offset + step;
}

namespace {

// Compares a bounded entry name (its end counts as the terminating zero) with a wanted name.
int compareNames(std::string_view entry, const char* wanted) {
    size_t i = 0;
    for (;; ++i) {
        uint8_t a = i < entry.size() ? uint8_t(entry[i]) : 0;
        uint8_t b = uint8_t(wanted[i]);
        if (a == 0 || b == 0 || (a & ~0x20) != (b & ~0x20)) {
            if (a == 0 && b == 0) return 0;
            return int8_t(a) > int8_t(b) ? 1 : -1;
        }
    }
}

}  // namespace

int compareEntryName(const char* entryName, const char* wantedName) {
    return compareNames(std::string_view(entryName), wantedName);
}

std::optional<uint64_t> findFileEntry(const SaveImage& image, const char* wantedName) {
    std::optional<uint64_t> found;
    // The walk never stops early: the last matching entry wins.
    walkFileEntries(image, [&](const FileEntry& e) {
        if (compareNames(e.name, wantedName) == 0) found = e.dataOffset;
    });
    return found;
}

std::string_view entryNameAt(const SaveImage& image, uint64_t headerOffset) {
    uint64_t cap = image.capacity();
    if (headerOffset >= cap || cap - headerOffset <= ENTRY_NAME_OFFSET) return {};
    uint64_t start = headerOffset + ENTRY_NAME_OFFSET;
    uint64_t limit = std::min<uint64_t>(ENTRY_NAME_MAX, cap - start);
    const char* p = reinterpret_cast<const char*>(image.bytes + start);
    const void* zero = std::memchr(p, 0, size_t(limit));
    size_t n = zero ? size_t(static_cast<const char*>(zero) - p) : size_t(limit);
    return std::string_view(p, n);
}

}  // namespace marrowin
