#pragma once
// What the card image files share and nobody else sees: the layout's constants and the pieces
// the file system is walked with.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "archive/entry_header.h"
#include "base/save_text.h"
#include "card/memory_card.h"

namespace marrowin::card::detail {

inline constexpr char MAGIC[] = "Sony PS2 Memory Card Format ";
inline constexpr size_t MAGIC_SIZE = 28;
inline constexpr uint32_t CLUSTER_BYTES = 1024;
inline constexpr uint32_t ENTRY_BYTES = 512;
inline constexpr uint32_t ENTRIES_PER_CLUSTER = CLUSTER_BYTES / ENTRY_BYTES;
inline constexpr uint32_t FAT_PER_CLUSTER = CLUSTER_BYTES / 4;
inline constexpr uint32_t IFC_SLOTS = 32;
inline constexpr uint32_t FAT_IN_USE = 0x80000000u;
inline constexpr uint32_t FAT_LAST = 0xFFFFFFFFu;
inline constexpr uint32_t NO_CLUSTER = 0xFFFFFFFFu;
inline constexpr uint32_t FREE_AS_FORMATTED = 0x7FFFFFFFu;

inline constexpr uint16_t M_FILE = 0x0010;
inline constexpr uint16_t M_DIR = 0x0020;
inline constexpr uint16_t M_EXISTS = 0x8000;
inline constexpr uint16_t ROOT_PARENT_MODE = 0xA426;

// Beyond this many nested folders a card is taken as damaged rather than followed.
inline constexpr int MAX_DEPTH = 16;
// Messages about single pages stop after this many of a kind; a count follows.
inline constexpr size_t MAX_PAGE_MESSAGES = 16;

// Superblock fields.
inline constexpr size_t SB_PAGE_LEN = 0x28, SB_PAGES_PER_CLUSTER = 0x2A, SB_PAGES_PER_BLOCK = 0x2C,
                 SB_CLUSTERS = 0x30, SB_ALLOC_OFFSET = 0x34, SB_ALLOC_END = 0x38,
                 SB_ROOT = 0x3C, SB_BACKUP1 = 0x40, SB_BACKUP2 = 0x44, SB_IFC = 0x50,
                 SB_BAD_BLOCKS = 0xD0, SB_TYPE = 0x150, SB_FLAGS = 0x151;

inline uint32_t ceilDiv(uint64_t a, uint64_t b) { return uint32_t((a + b - 1) / b); }

inline std::string shown(std::string_view saveText) { return "\"" + saveTextToDisplay(saveText) + "\""; }

// Why a name cannot be a card entry's name, or "" when it can.
inline std::string nameProblem(std::string_view name) {
    if (name.empty()) return "is empty";
    if (name.size() > SAVE_NAME_MAX) return "is longer than 32 bytes";
    if (name == "." || name == "..") return "is reserved";
    for (char c : name) {
        if (c == '/') return "holds '/'";
        if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F) return "holds a control character";
    }
    return "";
}

inline void addProblem(std::vector<Problem>* problems, Severity kind, std::string text) {
    if (problems) problems->push_back({kind, {}, 0, std::move(text)});
}

}  // namespace marrowin::card::detail

namespace marrowin::card {

using namespace detail;

// ---- the pieces the file system is walked with --------------------------------------------

// A directory entry: the record every archive entry shares, read and written by its one codec.
struct MemoryCard::Entry : EntryRecord {
    Entry() = default;
    explicit Entry(EntryRecord r) : EntryRecord(std::move(r)) {}

    bool exists() const { return mode & M_EXISTS; }
    bool isDir() const { return mode & M_DIR; }
    bool isFile() const { return mode & M_FILE; }

    static Entry decode(const uint8_t* p) {
        return Entry(decodeEntry(ByteView{p, ENTRY_BYTES}, 0, CARD_ENTRY_NAME_MAX));
    }
    // A card keeps 32 bytes of a name; the names written here have been checked to fit.
    std::vector<uint8_t> encoded() const {
        std::vector<uint8_t> b(ENTRY_BYTES, 0);
        EntryRecord r = *this;
        if (r.name.size() > CARD_ENTRY_NAME_MAX) r.name.resize(CARD_ENTRY_NAME_MAX);
        encodeEntry(r, b.data());
        return b;
    }
};

// Which chain owns each allocatable cluster. Every walk claims what it visits, so a loop or two
// chains sharing a cluster is seen at once, and all walks together visit each cluster once:
// the work on a hostile card stays linear in its size.
struct MemoryCard::Claims {
    std::vector<uint32_t> owner;  // 0: nobody, else index + 1 into labels
    std::vector<std::string> labels;
    explicit Claims(uint32_t clusters) : owner(clusters, 0) {}
    uint32_t add(const std::string& label) {
        labels.push_back(label);
        return uint32_t(labels.size());
    }
};

struct MemoryCard::Chain {
    std::vector<uint32_t> clusters;  // relative
    std::string fault;               // why the walk stopped early, "" at a proper end
};

struct MemoryCard::Directory {
    Chain chain;
    uint32_t length = 0;  // what its entry says
    std::vector<Entry> entries;  // those the chain holds, at most length
};

}  // namespace marrowin::card
