#include "card/memory_card.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/save_text.h"
#include "card/card_ecc.h"

namespace marrowin::card {

namespace {

constexpr char MAGIC[] = "Sony PS2 Memory Card Format ";
constexpr size_t MAGIC_SIZE = 28;
constexpr uint32_t CLUSTER_BYTES = 1024;
constexpr uint32_t ENTRY_BYTES = 512;
constexpr uint32_t ENTRIES_PER_CLUSTER = CLUSTER_BYTES / ENTRY_BYTES;
constexpr uint32_t FAT_PER_CLUSTER = CLUSTER_BYTES / 4;
constexpr uint32_t IFC_SLOTS = 32;
constexpr uint32_t FAT_IN_USE = 0x80000000u;
constexpr uint32_t FAT_LAST = 0xFFFFFFFFu;
constexpr uint32_t NO_CLUSTER = 0xFFFFFFFFu;
constexpr uint32_t FREE_AS_FORMATTED = 0x7FFFFFFFu;

constexpr uint16_t M_FILE = 0x0010;
constexpr uint16_t M_DIR = 0x0020;
constexpr uint16_t M_EXISTS = 0x8000;
constexpr uint16_t ROOT_PARENT_MODE = 0xA426;

// Beyond this many nested folders a card is taken as damaged rather than followed.
constexpr int MAX_DEPTH = 16;
// Messages about single pages stop after this many of a kind; a count follows.
constexpr size_t MAX_PAGE_MESSAGES = 16;

// Superblock fields.
constexpr size_t SB_PAGE_LEN = 0x28, SB_PAGES_PER_CLUSTER = 0x2A, SB_PAGES_PER_BLOCK = 0x2C,
                 SB_CLUSTERS = 0x30, SB_ALLOC_OFFSET = 0x34, SB_ALLOC_END = 0x38,
                 SB_ROOT = 0x3C, SB_BACKUP1 = 0x40, SB_BACKUP2 = 0x44, SB_IFC = 0x50,
                 SB_BAD_BLOCKS = 0xD0, SB_TYPE = 0x150, SB_FLAGS = 0x151;

// Directory entry fields.
constexpr size_t E_MODE = 0x00, E_LENGTH = 0x04, E_CREATED = 0x08, E_CLUSTER = 0x10,
                 E_PARENT_INDEX = 0x14, E_MODIFIED = 0x18, E_ATTRIBUTE = 0x20, E_NAME = 0x40;

uint32_t ceilDiv(uint64_t a, uint64_t b) { return uint32_t((a + b - 1) / b); }

std::string shown(std::string_view saveText) { return "\"" + saveTextToDisplay(saveText) + "\""; }

// Why a name cannot be a card entry's name, or "" when it can.
std::string nameProblem(std::string_view name) {
    if (name.empty()) return "is empty";
    if (name.size() > SAVE_NAME_MAX) return "is longer than 32 bytes";
    if (name == "." || name == "..") return "is reserved";
    for (char c : name) {
        if (c == '/') return "holds '/'";
        if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F) return "holds a control character";
    }
    return "";
}

void addProblem(std::vector<Problem>* problems, Severity kind, std::string text) {
    if (problems) problems->push_back({kind, {}, 0, std::move(text)});
}

}  // namespace

// ---- the pieces the file system is walked with --------------------------------------------

struct MemoryCard::Entry {
    uint16_t mode = 0;
    uint32_t length = 0;
    Stamp created{};
    uint32_t cluster = 0;
    uint32_t parentIndex = 0;
    Stamp modified{};
    uint32_t attribute = 0;
    std::string name;

    bool exists() const { return mode & M_EXISTS; }
    bool isDir() const { return mode & M_DIR; }
    bool isFile() const { return mode & M_FILE; }

    static Entry parse(const uint8_t* p) {
        ByteView v{p, ENTRY_BYTES};
        Entry e;
        e.mode = v.u16(E_MODE);
        e.length = v.u32(E_LENGTH);
        std::memcpy(e.created.data(), p + E_CREATED, 8);
        e.cluster = v.u32(E_CLUSTER);
        e.parentIndex = v.u32(E_PARENT_INDEX);
        std::memcpy(e.modified.data(), p + E_MODIFIED, 8);
        e.attribute = v.u32(E_ATTRIBUTE);
        e.name = v.text(E_NAME, SAVE_NAME_MAX);
        return e;
    }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> b(ENTRY_BYTES, 0);
        putU16(&b[E_MODE], mode);
        putU32(&b[E_LENGTH], length);
        std::memcpy(&b[E_CREATED], created.data(), 8);
        putU32(&b[E_CLUSTER], cluster);
        putU32(&b[E_PARENT_INDEX], parentIndex);
        std::memcpy(&b[E_MODIFIED], modified.data(), 8);
        putU32(&b[E_ATTRIBUTE], attribute);
        std::memcpy(&b[E_NAME], name.data(), std::min(name.size(), SAVE_NAME_MAX));
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

// ---- raw access ------------------------------------------------------------------------------

bool MemoryCard::readBytes(uint32_t absCluster, uint32_t offset, uint8_t* out, uint32_t n) const {
    ByteView v{raw_.data(), raw_.size()};
    uint64_t page = uint64_t(absCluster) * pagesPerCluster_;
    while (n > 0) {
        uint64_t p = page + offset / pageSize_;
        uint32_t in = offset % pageSize_;
        uint32_t take = std::min(n, pageSize_ - in);
        uint64_t at = pageOffset(p) + in;
        if (p >= page + pagesPerCluster_ || !v.fits(at, take)) return false;
        std::memcpy(out, raw_.data() + at, take);
        out += take;
        offset += take;
        n -= take;
    }
    return true;
}

void MemoryCard::writeBytes(uint32_t absCluster, uint32_t offset, const uint8_t* data, uint32_t n) {
    uint64_t page = uint64_t(absCluster) * pagesPerCluster_;
    while (n > 0) {
        uint64_t p = page + offset / pageSize_;
        uint32_t in = offset % pageSize_;
        uint32_t take = std::min(n, pageSize_ - in);
        uint64_t at = pageOffset(p);
        if (p >= page + pagesPerCluster_ || at > raw_.size() || rawPageSize_ > raw_.size() - at)
            return;
        std::memcpy(raw_.data() + at + in, data, take);
        if (ecc_) {
            uint8_t* spare = raw_.data() + at + pageSize_;
            std::fill(spare, spare + spareSize_, uint8_t(0));
            pageEcc(raw_.data() + at, pageSize_, spare);
        }
        data += take;
        offset += take;
        n -= take;
    }
}

bool MemoryCard::fatClusterAt(uint32_t k, uint32_t& fat) const {
    if (k / FAT_PER_CLUSTER >= IFC_SLOTS) return false;
    uint32_t indirect = ifcList_[k / FAT_PER_CLUSTER];
    uint8_t b[4];
    if (indirect >= clustersPerCard_ || !readBytes(indirect, (k % FAT_PER_CLUSTER) * 4, b, 4))
        return false;
    fat = ByteView{b, 4}.u32(0);
    return fat < clustersPerCard_;
}

bool MemoryCard::fatEntry(uint32_t cluster, uint32_t& value) const {
    value = 0;
    uint32_t fat = 0;
    uint8_t b[4];
    if (!fatClusterAt(cluster / FAT_PER_CLUSTER, fat) || !readBytes(fat, (cluster % FAT_PER_CLUSTER) * 4, b, 4))
        return false;
    value = ByteView{b, 4}.u32(0);
    return true;
}

std::vector<uint32_t> MemoryCard::wholeFat(std::vector<bool>* unreadable) const {
    std::vector<uint32_t> fat(allocEnd_, FAT_LAST);
    if (unreadable) unreadable->assign(allocEnd_, true);
    uint8_t b[CLUSTER_BYTES];
    for (uint32_t k = 0; uint64_t(k) * FAT_PER_CLUSTER < allocEnd_; ++k) {
        if (k / FAT_PER_CLUSTER >= IFC_SLOTS) break;
        uint32_t cluster = 0;
        if (!fatClusterAt(k, cluster) || !readBytes(cluster, 0, b, CLUSTER_BYTES)) continue;
        ByteView v{b, CLUSTER_BYTES};
        for (uint32_t i = 0; i < FAT_PER_CLUSTER && uint64_t(k) * FAT_PER_CLUSTER + i < allocEnd_; ++i) {
            fat[size_t(k) * FAT_PER_CLUSTER + i] = v.u32(4 * i);
            if (unreadable) (*unreadable)[size_t(k) * FAT_PER_CLUSTER + i] = false;
        }
    }
    return fat;
}

bool MemoryCard::setFatEntry(uint32_t cluster, uint32_t value) {
    uint32_t fat = 0;
    if (!fatClusterAt(cluster / FAT_PER_CLUSTER, fat)) return false;
    uint8_t b[4];
    putU32(b, value);
    writeBytes(fat, (cluster % FAT_PER_CLUSTER) * 4, b, 4);
    return true;
}

// Whether a new save may use this relative cluster: below the limit, outside the bad blocks
// and the backup blocks.
bool MemoryCard::allocatable(uint32_t cluster) const {
    if (cluster >= allocationLimit()) return false;
    uint64_t block = (uint64_t(allocOffset_) + cluster) * pagesPerCluster_ / pagesPerBlock_;
    if (block == backupBlocks_[0] || block == backupBlocks_[1]) return false;
    for (int32_t bad : badBlocks_)
        if (bad >= 0 && uint64_t(bad) == block) return false;
    return true;
}

MemoryCard::Chain MemoryCard::walk(uint32_t first, Claims& claims, const std::string& label) const {
    Chain c;
    uint32_t id = claims.add(label);
    uint32_t cur = first;
    // Each step claims a cluster nobody held, so this ends within allocEnd_ steps.
    for (;;) {
        if (cur >= allocEnd_) {
            c.fault = "points to cluster " + std::to_string(cur) + ", outside the allocatable area";
            break;
        }
        if (uint32_t o = claims.owner[cur]) {
            c.fault = o == id ? "loops back to cluster " + std::to_string(cur)
                              : "runs into cluster " + std::to_string(cur) + ", which belongs to " +
                                    claims.labels[o - 1];
            break;
        }
        claims.owner[cur] = id;
        c.clusters.push_back(cur);
        uint32_t v;
        if (!fatEntry(cur, v)) {
            c.fault = "has cluster " + std::to_string(cur) + ", whose FAT entry cannot be read";
            break;
        }
        if (!(v & FAT_IN_USE)) {
            c.fault = "holds cluster " + std::to_string(cur) + ", which the FAT marks free";
            break;
        }
        if (v == FAT_LAST) break;
        cur = v & ~FAT_IN_USE;
    }
    return c;
}

std::vector<uint8_t> MemoryCard::chainData(const Chain& chain, uint64_t bytes) const {
    uint64_t have = uint64_t(chain.clusters.size()) * CLUSTER_BYTES;
    std::vector<uint8_t> out(size_t(std::min(bytes, have)));
    for (size_t i = 0; i * CLUSTER_BYTES < out.size(); ++i) {
        uint32_t n = uint32_t(std::min<uint64_t>(CLUSTER_BYTES, out.size() - i * CLUSTER_BYTES));
        if (!readBytes(allocOffset_ + chain.clusters[i], 0, out.data() + i * CLUSTER_BYTES, n))
            std::fill(out.begin() + ptrdiff_t(i * CLUSTER_BYTES), out.begin() + ptrdiff_t(i * CLUSTER_BYTES + n), 0);
    }
    return out;
}

MemoryCard::Directory MemoryCard::readDirectory(uint32_t first, uint32_t length, Claims& claims,
                                                const std::string& label) const {
    Directory d;
    d.length = length;
    d.chain = walk(first, claims, label);
    uint64_t count = std::min<uint64_t>(length, uint64_t(d.chain.clusters.size()) * ENTRIES_PER_CLUSTER);
    std::vector<uint8_t> bytes = chainData(d.chain, count * ENTRY_BYTES);
    d.entries.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i) d.entries.push_back(Entry::parse(&bytes[size_t(i * ENTRY_BYTES)]));
    return d;
}

bool MemoryCard::readRoot(Directory& root, Claims& claims, std::string& error) const {
    uint8_t first[ENTRY_BYTES];
    if (!readBytes(allocOffset_, 0, first, ENTRY_BYTES)) {
        error = "the root directory cannot be read";
        return false;
    }
    Entry self = Entry::parse(first);
    root = readDirectory(0, self.length, claims, "the root directory");
    if (root.entries.size() < 2) {
        error = "the root directory is damaged (" +
                (root.chain.fault.empty() ? "it holds " + std::to_string(root.entries.size()) + " entries"
                                          : "its chain " + root.chain.fault) + ")";
        return false;
    }
    return true;
}

// ---- opening -------------------------------------------------------------------------------

bool MemoryCard::readGeometry(const std::vector<uint8_t>& raw, MemoryCard& c, std::string& error) {
    ByteView v{raw.data(), raw.size()};
    if (raw.size() < 0x154 || std::memcmp(raw.data(), MAGIC, MAGIC_SIZE) != 0) {
        error = "not a PS2 memory card image (no \"Sony PS2 Memory Card Format\" superblock)";
        return false;
    }
    c.pageSize_ = v.u16(SB_PAGE_LEN);
    c.pagesPerCluster_ = v.u16(SB_PAGES_PER_CLUSTER);
    c.pagesPerBlock_ = v.u16(SB_PAGES_PER_BLOCK);
    c.clustersPerCard_ = v.u32(SB_CLUSTERS);
    c.allocOffset_ = v.u32(SB_ALLOC_OFFSET);
    c.allocEnd_ = v.u32(SB_ALLOC_END);
    c.backupBlocks_[0] = v.u32(SB_BACKUP1);
    c.backupBlocks_[1] = v.u32(SB_BACKUP2);
    for (uint32_t i = 0; i < IFC_SLOTS; ++i) {
        c.ifcList_[i] = v.u32(SB_IFC + 4 * i);
        c.badBlocks_[i] = int32_t(v.u32(SB_BAD_BLOCKS + 4 * i));
    }
    uint8_t type = v.u8(SB_TYPE);
    uint32_t root = v.u32(SB_ROOT);

    auto refuse = [&](const std::string& why) {
        error = "unsupported memory card: " + why;
        return false;
    };
    if (c.pageSize_ != 512 && c.pageSize_ != 1024)
        return refuse("page size " + std::to_string(c.pageSize_) + " (512 or 1024 expected)");
    if (uint64_t(c.pageSize_) * c.pagesPerCluster_ != CLUSTER_BYTES)
        return refuse("cluster size " + std::to_string(uint64_t(c.pageSize_) * c.pagesPerCluster_) +
                      " (1024 expected)");
    if (c.pagesPerBlock_ != 16)
        return refuse(std::to_string(c.pagesPerBlock_) + " pages per erase block (16 expected)");
    if (type != 2) return refuse("card type " + std::to_string(type) + " (2, a PS2 card, expected)");
    if (root != 0) return refuse("root directory at cluster " + std::to_string(root) + " (0 expected)");
    if (c.clustersPerCard_ == 0 || c.allocEnd_ == 0 ||
        uint64_t(c.allocOffset_) + c.allocEnd_ > c.clustersPerCard_)
        return refuse("allocatable area " + std::to_string(c.allocOffset_) + " + " +
                      std::to_string(c.allocEnd_) + " clusters does not fit a card of " +
                      std::to_string(c.clustersPerCard_));
    // The indirect clusters the FAT of alloc_end entries needs must lie on the card.
    uint32_t fatClusters = ceilDiv(c.allocEnd_, FAT_PER_CLUSTER);
    uint32_t indirects = ceilDiv(fatClusters, FAT_PER_CLUSTER);
    if (indirects > IFC_SLOTS) return refuse("more allocatable clusters than a FAT can list");
    for (uint32_t i = 0; i < indirects; ++i)
        if (c.ifcList_[i] >= c.clustersPerCard_)
            return refuse("indirect FAT cluster " + std::to_string(c.ifcList_[i]) + " is outside the card");

    c.spareSize_ = c.pageSize_ / 32;
    uint64_t pages = uint64_t(c.clustersPerCard_) * c.pagesPerCluster_;
    uint64_t withEcc = pages * (c.pageSize_ + c.spareSize_);
    uint64_t withoutEcc = pages * c.pageSize_;
    if (raw.size() == withEcc) {
        c.ecc_ = true;
        c.rawPageSize_ = c.pageSize_ + c.spareSize_;
    } else if (raw.size() == withoutEcc) {
        c.ecc_ = false;
        c.rawPageSize_ = c.pageSize_;
    } else {
        error = "the image is " + std::to_string(raw.size()) + " bytes; its superblock describes a card of " +
                std::to_string(withEcc) + " bytes with spare areas or " + std::to_string(withoutEcc) +
                " without";
        return false;
    }
    return true;
}

bool MemoryCard::open(std::vector<uint8_t> raw, MemoryCard& out, std::vector<Problem>& problems,
                      std::string& error) {
    MemoryCard c;
    if (!readGeometry(raw, c, error)) return false;
    c.raw_ = std::move(raw);
    if (c.ecc_) {
        std::vector<uint8_t> superblock(c.raw_.begin(), c.raw_.begin() + ptrdiff_t(c.pageSize_));
        c.checkEcc(problems, &c.raw_);
        if (!std::equal(superblock.begin(), superblock.end(), c.raw_.begin())) {
            // A wrong bit in the superblock itself: the geometry is read again, corrected.
            MemoryCard fixed;
            if (!readGeometry(c.raw_, fixed, error)) return false;
            fixed.raw_ = std::move(c.raw_);
            c = std::move(fixed);
        }
    }
    out = std::move(c);
    return true;
}

// Checks the code of every page. The pages the file system never reads (the rest of the
// superblock's block, the backup blocks) may hold stale bytes on real cards: their faults are
// only warnings.
void MemoryCard::checkEcc(std::vector<Problem>& problems, std::vector<uint8_t>* fixInto) const {
    bool correct = fixInto != nullptr;
    uint64_t pages = uint64_t(clustersPerCard_) * pagesPerCluster_;
    uint32_t chunks = pageSize_ / ECC_CHUNK_BYTES;
    std::vector<uint64_t> fixed, damagedCode, bad, badUnused;
    std::vector<uint8_t> data(pageSize_);
    for (uint64_t p = 0; p < pages; ++p) {
        const uint8_t* page = raw_.data() + pageOffset(p);
        const uint8_t* spare = page + pageSize_;
        bool good = true;
        for (uint32_t k = 0; k < chunks && good; ++k) {
            std::array<uint8_t, 3> code = chunkEcc(page + k * ECC_CHUNK_BYTES);
            const uint8_t* s = spare + k * ECC_BYTES_PER_CHUNK;
            good = ((code[0] ^ s[0]) & 0x77) == 0 && ((code[1] ^ s[1]) & 0x7F) == 0 && ((code[2] ^ s[2]) & 0x7F) == 0;
        }
        if (good) continue;
        // Corrections are made on a copy of the page, written back only when asked.
        std::memcpy(data.data(), page, pageSize_);
        bool wasFixed = false, wasDamaged = false, wasBad = false;
        for (uint32_t k = 0; k < chunks; ++k) {
            switch (checkChunk(data.data() + k * ECC_CHUNK_BYTES, spare + k * ECC_BYTES_PER_CHUNK, true)) {
                case EccVerdict::Good: break;
                case EccVerdict::DataCorrected: wasFixed = true; break;
                case EccVerdict::CodeDamaged: wasDamaged = true; break;
                case EccVerdict::Uncorrectable: wasBad = true; break;
            }
        }
        uint64_t block = p / pagesPerBlock_;
        bool unused = (block == 0 && p != 0) || block == backupBlocks_[0] || block == backupBlocks_[1];
        if (wasBad) (unused ? badUnused : bad).push_back(p);
        if (wasFixed) {
            fixed.push_back(p);
            if (fixInto) std::memcpy(fixInto->data() + pageOffset(p), data.data(), pageSize_);
        }
        if (wasDamaged) damagedCode.push_back(p);
    }
    auto report = [&](const std::vector<uint64_t>& list, Severity kind, const std::string& what) {
        for (size_t i = 0; i < list.size() && i < MAX_PAGE_MESSAGES; ++i)
            problems.push_back({kind, {}, 0, "page " + std::to_string(list[i]) + ": " + what});
        if (list.size() > MAX_PAGE_MESSAGES)
            problems.push_back({kind, {}, 0, std::to_string(list.size() - MAX_PAGE_MESSAGES) +
                                          " more pages: " + what});
    };
    report(fixed, correct ? Severity::Corrected : Severity::Warning,
           correct ? "one wrong data bit, corrected by its ECC" : "one wrong data bit, which its ECC corrects");
    report(damagedCode, Severity::Warning, "a damaged ECC byte (the data is good)");
    report(bad, Severity::Error, "data and ECC disagree beyond repair");
    report(badUnused, Severity::Warning,
           "data and ECC disagree beyond repair (a page the file system does not use)");
}

// ---- formatting ----------------------------------------------------------------------------

std::vector<uint8_t> MemoryCard::format(bool withEcc) {
    // Japan time, as the console stamps whatever it writes.
    return format(withEcc, stampNow(StampClock::Japan));
}

std::vector<uint8_t> MemoryCard::format(bool withEcc, const Stamp& rootStamp) {
    constexpr uint32_t PAGE = 512, SPARE = 16, PAGES_PER_CLUSTER = 2, PAGES_PER_BLOCK = 16;
    constexpr uint32_t CLUSTERS = 8192, IFC = 8, FAT_FIRST = 9, FAT_COUNT = 32;
    constexpr uint32_t ALLOC_OFFSET = FAT_FIRST + FAT_COUNT, ALLOC_END = 8135;
    constexpr uint32_t BACKUP1 = 1023, BACKUP2 = 1022;
    constexpr uint32_t PAGES = CLUSTERS * PAGES_PER_CLUSTER;
    std::vector<uint8_t> data(size_t(PAGES) * PAGE, 0);
    auto cluster = [&](uint32_t c) { return data.data() + size_t(c) * CLUSTER_BYTES; };

    uint8_t* sb = data.data();
    std::memcpy(sb, MAGIC, MAGIC_SIZE);
    std::memcpy(sb + 0x1C, "1.2.0.0", 7);
    putU16(sb + SB_PAGE_LEN, PAGE);
    putU16(sb + SB_PAGES_PER_CLUSTER, PAGES_PER_CLUSTER);
    putU16(sb + SB_PAGES_PER_BLOCK, PAGES_PER_BLOCK);
    putU16(sb + 0x2E, 0xFF00);
    putU32(sb + SB_CLUSTERS, CLUSTERS);
    putU32(sb + SB_ALLOC_OFFSET, ALLOC_OFFSET);
    putU32(sb + SB_ALLOC_END, ALLOC_END);
    putU32(sb + SB_ROOT, 0);
    putU32(sb + SB_BACKUP1, BACKUP1);
    putU32(sb + SB_BACKUP2, BACKUP2);
    putU32(sb + SB_IFC, IFC);
    for (uint32_t i = 0; i < IFC_SLOTS; ++i) putU32(sb + SB_BAD_BLOCKS + 4 * i, 0xFFFFFFFF);
    sb[SB_TYPE] = 2;
    sb[SB_FLAGS] = 0x2B;

    for (uint32_t i = 0; i < FAT_PER_CLUSTER; ++i)
        putU32(cluster(IFC) + 4 * i, i < FAT_COUNT ? FAT_FIRST + i : 0xFFFFFFFF);
    for (uint32_t n = 0; n < FAT_COUNT * FAT_PER_CLUSTER; ++n)
        putU32(cluster(FAT_FIRST) + 4 * n, n == 0 || n >= ALLOC_END ? FAT_LAST : FREE_AS_FORMATTED);

    Entry self;
    self.mode = MODE_DIRECTORY;
    self.length = 2;
    self.created = self.modified = rootStamp;
    self.name = ".";
    Entry parent = self;
    parent.mode = ROOT_PARENT_MODE;
    parent.length = 0;
    parent.name = "..";
    std::vector<uint8_t> a = self.bytes(), b = parent.bytes();
    std::memcpy(cluster(ALLOC_OFFSET), a.data(), ENTRY_BYTES);
    std::memcpy(cluster(ALLOC_OFFSET) + ENTRY_BYTES, b.data(), ENTRY_BYTES);

    // Backup block 2 stays erased: a console that finds it written restores from it.
    uint64_t erasedFirst = uint64_t(BACKUP2) * PAGES_PER_BLOCK;
    std::fill(data.begin() + ptrdiff_t(erasedFirst * PAGE),
              data.begin() + ptrdiff_t((erasedFirst + PAGES_PER_BLOCK) * PAGE), uint8_t(0xFF));
    if (!withEcc) return data;

    std::vector<uint8_t> out(size_t(PAGES) * (PAGE + SPARE), 0);
    for (uint32_t p = 0; p < PAGES; ++p) {
        uint8_t* page = out.data() + size_t(p) * (PAGE + SPARE);
        std::memcpy(page, data.data() + size_t(p) * PAGE, PAGE);
        if (p >= erasedFirst && p < erasedFirst + PAGES_PER_BLOCK)
            std::fill(page + PAGE, page + PAGE + SPARE, uint8_t(0xFF));
        else
            pageEcc(page, PAGE, page + PAGE);
    }
    return out;
}

// ---- queries -------------------------------------------------------------------------------

bool MemoryCard::hasEcc() const { return ecc_; }
uint32_t MemoryCard::clusterSize() const { return pageSize_ * pagesPerCluster_; }

uint32_t MemoryCard::allocationLimit() const {
    // Cards too small for the rounding keep every cluster.
    return allocEnd_ >= 1000 ? allocEnd_ / 1000 * 1000 : allocEnd_;
}

uint32_t MemoryCard::freeClusters() const {
    std::vector<uint32_t> fat = wholeFat();
    uint32_t n = 0;
    for (uint32_t c = 0; c < allocEnd_; ++c)
        if (!(fat[c] & FAT_IN_USE) && allocatable(c)) ++n;
    return n;
}

uint32_t MemoryCard::freeClustersInFat() const {
    uint32_t n = 0;
    for (uint32_t v : wholeFat())
        if (!(v & FAT_IN_USE)) ++n;
    return n;
}

std::vector<const MemoryCard::Entry*> MemoryCard::saveFiles(const Directory& dir, const std::string& label,
                                                            std::vector<Problem>* problems) {
    std::vector<const Entry*> files;
    for (size_t j = 2; j < dir.entries.size(); ++j) {
        const Entry& e = dir.entries[j];
        if (!e.exists()) continue;
        if (e.isDir()) {
            addProblem(problems, Severity::Warning,
                       label + ": sub-directory " + shown(e.name) + " skipped (a save holds only files)");
            continue;
        }
        if (e.isFile()) files.push_back(&e);
    }
    return files;
}

std::vector<CardSave> MemoryCard::list(std::vector<Problem>* problems) const {
    std::vector<CardSave> saves;
    Claims claims(allocEnd_);
    Directory root;
    std::string error;
    if (!readRoot(root, claims, error)) {
        addProblem(problems, Severity::Error, error);
        return saves;
    }
    if (!root.chain.fault.empty())
        addProblem(problems, Severity::Error, "the root directory's chain " + root.chain.fault);
    if (root.entries.size() < root.length)
        addProblem(problems, Severity::Error,
                   "the root directory holds " + std::to_string(root.entries.size()) + " of its " +
                       std::to_string(root.length) + " entries");
    for (size_t i = 2; i < root.entries.size(); ++i) {
        const Entry& f = root.entries[i];
        if (!f.exists() || !f.isDir()) continue;
        CardSave s;
        s.name = f.name;
        s.mode = f.mode;
        s.created = f.created;
        s.modified = f.modified;
        std::string label = shown(f.name);
        Directory dir = readDirectory(f.cluster, f.length, claims, label);
        if (!dir.chain.fault.empty())
            addProblem(problems, Severity::Error, label + ": its chain " + dir.chain.fault);
        s.clusters = uint32_t(dir.chain.clusters.size());
        std::vector<std::string> names;
        Chain iconSys;
        uint32_t iconSysSize = 0;
        for (const Entry* file : saveFiles(dir, label, problems)) {
            const Entry& e = *file;
            ++s.fileCount;
            names.push_back(e.name);
            if (e.length == 0 && e.cluster == NO_CLUSTER) continue;
            std::string fileLabel = shown(f.name + "/" + e.name);
            Chain chain = walk(e.cluster, claims, fileLabel);
            if (!chain.fault.empty())
                addProblem(problems, Severity::Error, fileLabel + ": its chain " + chain.fault);
            s.clusters += uint32_t(chain.clusters.size());
            if (e.name == "icon.sys") {
                iconSys = std::move(chain);
                iconSysSize = e.length;
            }
        }
        s.bytes = uint64_t(s.clusters) * clusterSize();
        s.hasIconSys = std::find(names.begin(), names.end(), "icon.sys") != names.end();
        if (s.hasIconSys) {
            std::vector<uint8_t> sys = chainData(iconSys, iconSysSize);
            ByteView v{sys.data(), sys.size()};
            s.titleUtf8 = saveTextToDisplay(v.text(0xC0, 68));
            s.hasIcons = true;
            for (uint64_t off : {0x104, 0x144, 0x184}) {
                std::string icon = v.text(off, 64);
                if (icon.empty() || std::find(names.begin(), names.end(), icon) == names.end())
                    s.hasIcons = false;
            }
        }
        saves.push_back(std::move(s));
    }
    return saves;
}

bool MemoryCard::exportSave(std::string_view folder, SaveContents& out, std::string& error,
                            std::vector<Problem>* problems) const {
    Claims claims(allocEnd_);
    Directory root;
    if (!readRoot(root, claims, error)) return false;
    const Entry* f = nullptr;
    for (size_t i = 2; i < root.entries.size() && !f; ++i)
        if (root.entries[i].exists() && root.entries[i].isDir() && root.entries[i].name == folder)
            f = &root.entries[i];
    if (!f) {
        error = "no save folder " + shown(folder) + " on the card";
        return false;
    }
    std::string label = shown(f->name);
    Directory dir = readDirectory(f->cluster, f->length, claims, label);
    if (dir.entries.size() < f->length) {
        error = label + " is damaged: its directory chain " +
                (dir.chain.fault.empty() ? "is shorter than its " + std::to_string(f->length) + " entries"
                                         : dir.chain.fault);
        return false;
    }
    SaveContents s;
    s.folderName = f->name;
    s.folderMode = f->mode;
    s.created = f->created;
    s.modified = f->modified;
    s.attribute = f->attribute;
    for (const Entry* entry : saveFiles(dir, label, problems)) {
        const Entry& e = *entry;
        SaveFile file;
        file.name = e.name;
        file.mode = e.mode;
        file.created = e.created;
        file.modified = e.modified;
        file.attribute = e.attribute;
        if (!(e.length == 0 && e.cluster == NO_CLUSTER)) {
            std::string fileLabel = shown(f->name + "/" + e.name);
            Chain chain = walk(e.cluster, claims, fileLabel);
            if (uint64_t(chain.clusters.size()) * CLUSTER_BYTES < e.length) {
                error = fileLabel + " is damaged: its chain " +
                        (chain.fault.empty() ? "holds fewer bytes than its size " + std::to_string(e.length)
                                             : chain.fault);
                return false;
            }
            if (!chain.fault.empty())
                addProblem(problems, Severity::Error, fileLabel + ": its chain " + chain.fault);
            file.data = chainData(chain, e.length);
        }
        s.files.push_back(std::move(file));
    }
    out = std::move(s);
    return true;
}

// ---- checking ------------------------------------------------------------------------------

std::vector<Problem> MemoryCard::check(bool withEcc) const {
    std::vector<Problem> problems;
    for (int32_t bad : badBlocks_)
        if (bad >= 0 && uint64_t(bad) * pagesPerBlock_ >= uint64_t(clustersPerCard_) * pagesPerCluster_)
            problems.push_back({Severity::Warning, {}, 0,
                                "the bad block list names block " + std::to_string(bad) + ", past the card's end"});
    if (ecc_ && withEcc) checkEcc(problems, nullptr);
    checkStructure(problems);
    return problems;
}

void MemoryCard::checkStructure(std::vector<Problem>& problems) const {
    using K = Severity;
    Claims claims(allocEnd_);
    Directory root;
    std::string error;
    if (!readRoot(root, claims, error)) {
        problems.push_back({K::Error, {}, 0, error});
        return;
    }
    checkDirectory(root, "the root directory", true, claims, 0, problems);

    // FAT entries in use that no chain reached.
    uint32_t lost = 0, unreadable = 0;
    std::vector<bool> unread;
    std::vector<uint32_t> fat = wholeFat(&unread);
    for (uint32_t c = 0; c < allocEnd_; ++c) {
        if (unread[c]) ++unreadable;
        else if ((fat[c] & FAT_IN_USE) && claims.owner[c] == 0) ++lost;
    }
    if (unreadable)
        problems.push_back({K::Error, {}, 0, std::to_string(unreadable) +
                                          " FAT entries cannot be read (their FAT cluster is outside the card)"});
    if (lost)
        problems.push_back({K::Warning, {}, 0, std::to_string(lost) +
                                            " clusters are marked in use but belong to no file or folder "
                                            "(lost clusters; their space is wasted)"});
}

void MemoryCard::checkDirectory(const Directory& dir, const std::string& label, bool isRoot,
                                Claims& claims, int depth, std::vector<Problem>& problems) const {
    using K = Severity;
    if (!dir.chain.fault.empty()) problems.push_back({K::Error, {}, 0, label + ": its chain " + dir.chain.fault});
    uint32_t needed = ceilDiv(uint64_t(dir.length) * ENTRY_BYTES, CLUSTER_BYTES);
    if (dir.chain.fault.empty() && dir.chain.clusters.size() != needed)
        problems.push_back({K::Error, {}, 0, label + ": its chain has " + std::to_string(dir.chain.clusters.size()) +
                                          " clusters; " + std::to_string(dir.length) + " entries need " +
                                          std::to_string(needed)});
    if (dir.length < 2) {
        problems.push_back({K::Error, {}, 0, label + ": its length " + std::to_string(dir.length) +
                                          " leaves no room for \".\" and \"..\""});
    }
    const char* dots[2] = {".", ".."};
    for (size_t i = 0; i < 2 && i < dir.entries.size(); ++i) {
        const Entry& e = dir.entries[i];
        if (!e.exists() || !e.isDir() || e.name != dots[i])
            problems.push_back({K::Error, {}, 0, label + ": entry " + std::to_string(i) + " is not \"" + dots[i] + "\""});
    }
    if (isRoot && !dir.entries.empty() && dir.entries[0].cluster != 0)
        problems.push_back({K::Error, {}, 0, "the root directory's \".\" entry points to cluster " +
                                          std::to_string(dir.entries[0].cluster) + " (0 expected)"});

    std::vector<std::string> names;
    for (size_t j = 2; j < dir.entries.size(); ++j) {
        const Entry& e = dir.entries[j];
        if (!e.exists()) continue;
        std::string prefix = isRoot ? "" : label.substr(1, label.size() - 2) + "/";
        std::string entryLabel = "\"" + prefix + saveTextToDisplay(e.name) + "\"";
        if (std::string why = nameProblem(e.name); !why.empty())
            problems.push_back({K::Error, {}, 0, label + ": the name of entry " + std::to_string(j) + " " + why});
        if (std::find(names.begin(), names.end(), e.name) != names.end())
            problems.push_back({K::Error, {}, 0, label + ": " + entryLabel + " appears twice"});
        names.push_back(e.name);
        if (e.isDir() == e.isFile()) {
            problems.push_back({K::Error, {}, 0, entryLabel + ": its mode " + std::to_string(e.mode) +
                                              " is neither a file's nor a folder's"});
            continue;
        }
        if (e.isFile()) {
            if (e.cluster == NO_CLUSTER) {
                if (e.length != 0)
                    problems.push_back({K::Error, {}, 0, entryLabel + ": " + std::to_string(e.length) +
                                                      " bytes but no cluster"});
                continue;
            }
            Chain chain = walk(e.cluster, claims, entryLabel);
            if (!chain.fault.empty()) {
                problems.push_back({K::Error, {}, 0, entryLabel + ": its chain " + chain.fault});
                continue;
            }
            uint32_t want = ceilDiv(e.length, CLUSTER_BYTES);
            if (chain.clusters.size() != want)
                problems.push_back({K::Error, {}, 0, entryLabel + ": its chain has " + std::to_string(chain.clusters.size()) +
                                                  " clusters; " + std::to_string(e.length) + " bytes need " +
                                                  std::to_string(want)});
            continue;
        }
        if (depth + 1 >= MAX_DEPTH) {
            problems.push_back({K::Error, {}, 0, entryLabel + ": folders nested too deep"});
            continue;
        }
        Directory sub = readDirectory(e.cluster, e.length, claims, entryLabel);
        checkDirectory(sub, entryLabel, false, claims, depth + 1, problems);
    }
}

bool MemoryCard::structureSound(std::string& error) const {
    std::vector<Problem> problems;
    checkStructure(problems);
    for (const Problem& p : problems) {
        if (p.severity == Severity::Error) {
            error = "the card's file system is damaged (" + p.text + "); nothing was changed";
            return false;
        }
    }
    return true;
}

// ---- changing ------------------------------------------------------------------------------

void MemoryCard::freeChain(uint32_t first) {
    Claims claims(allocEnd_);
    Chain chain = walk(first, claims, "");
    for (uint32_t c : chain.clusters) {
        uint32_t v;
        if (fatEntry(c, v)) setFatEntry(c, v & ~FAT_IN_USE);
    }
}

void MemoryCard::freeDirectory(const Directory& dir, int depth) {
    for (size_t j = 2; j < dir.entries.size(); ++j) {
        const Entry& e = dir.entries[j];
        if (!e.exists()) continue;
        if (e.isDir() && depth + 1 < MAX_DEPTH) {
            Claims claims(allocEnd_);
            freeDirectory(readDirectory(e.cluster, e.length, claims, ""), depth + 1);
        }
        if (e.cluster != NO_CLUSTER) freeChain(e.cluster);
        // Clear EXISTS in the entry itself; the slot keeps everything else.
        uint32_t slot = uint32_t(j);
        uint8_t mode[2];
        putU16(mode, uint16_t(e.mode & ~M_EXISTS));
        writeBytes(allocOffset_ + dir.chain.clusters[slot / ENTRIES_PER_CLUSTER],
                   (slot % ENTRIES_PER_CLUSTER) * ENTRY_BYTES + uint32_t(E_MODE), mode, 2);
    }
}

bool MemoryCard::removeSave(std::string_view folder, std::string& error) {
    Claims claims(allocEnd_);
    Directory root;
    if (!readRoot(root, claims, error)) return false;
    for (size_t i = 2; i < root.entries.size(); ++i) {
        const Entry& f = root.entries[i];
        if (!f.exists() || !f.isDir() || f.name != folder) continue;
        Directory dir = readDirectory(f.cluster, f.length, claims, "");
        freeDirectory(dir, 0);
        freeChain(f.cluster);
        uint8_t mode[2];
        putU16(mode, uint16_t(f.mode & ~M_EXISTS));
        writeBytes(allocOffset_ + root.chain.clusters[i / ENTRIES_PER_CLUSTER],
                   uint32_t(i % ENTRIES_PER_CLUSTER) * ENTRY_BYTES + uint32_t(E_MODE), mode, 2);
        return true;
    }
    error = "no save folder " + shown(folder) + " on the card";
    return false;
}

bool MemoryCard::deleteSave(std::string_view folder, std::string& error) {
    if (!structureSound(error)) return false;
    return removeSave(folder, error);
}

bool MemoryCard::importSave(const SaveContents& save, bool replace, std::string& error) {
    if (std::string why = nameProblem(save.folderName); !why.empty()) {
        error = "the folder name " + shown(save.folderName) + " " + why;
        return false;
    }
    for (size_t i = 0; i < save.files.size(); ++i) {
        const SaveFile& f = save.files[i];
        if (std::string why = nameProblem(f.name); !why.empty()) {
            error = "the file name " + shown(f.name) + " " + why;
            return false;
        }
        for (size_t j = 0; j < i; ++j)
            if (save.files[j].name == f.name) {
                error = "the save holds two files named " + shown(f.name);
                return false;
            }
        if (f.data.size() > UINT32_MAX) {
            error = shown(f.name) + " is larger than a card file can be";
            return false;
        }
    }
    if (!structureSound(error)) return false;

    // Work on a copy, so a refusal half way leaves this card as it was.
    MemoryCard work = *this;
    {
        Claims claims(allocEnd_);
        Directory root;
        if (!readRoot(root, claims, error)) return false;
        for (size_t i = 2; i < root.entries.size(); ++i) {
            const Entry& e = root.entries[i];
            if (!e.exists() || e.name != save.folderName) continue;
            if (!e.isDir()) {
                error = "the card's root holds a file named " + shown(save.folderName);
                return false;
            }
            if (!replace) {
                error = "the card already holds " + shown(save.folderName) + " (--replace replaces it)";
                return false;
            }
            if (!work.removeSave(save.folderName, error)) return false;
            break;
        }
    }
    if (!work.addSave(save, error)) return false;
    *this = std::move(work);
    return true;
}

bool MemoryCard::addSave(const SaveContents& save, std::string& error) {
    Claims claims(allocEnd_);
    Directory root;
    if (!readRoot(root, claims, error)) return false;

    // The slot: the first deleted entry, else one past the end (which may need a cluster).
    uint32_t slot = uint32_t(root.entries.size());
    for (size_t i = 2; i < root.entries.size(); ++i)
        if (!root.entries[i].exists()) {
            slot = uint32_t(i);
            break;
        }
    bool rootGrows = slot >= root.chain.clusters.size() * ENTRIES_PER_CLUSTER;

    uint64_t entries = uint64_t(save.files.size()) + 2;
    uint64_t needed = ceilDiv(entries, ENTRIES_PER_CLUSTER) + (rootGrows ? 1 : 0);
    for (const SaveFile& f : save.files) needed += ceilDiv(f.data.size(), CLUSTER_BYTES);
    uint32_t free = freeClusters();
    if (needed > free) {
        error = "not enough room on the card: the save needs " + std::to_string(needed) +
                " clusters of 1 KiB, " + std::to_string(free) + " are free";
        return false;
    }

    // Lowest free clusters first; each chain is linked as it grows.
    uint32_t next = 0;
    std::vector<uint32_t> fat = wholeFat();
    auto allocate = [&](uint32_t count) {
        std::vector<uint32_t> chain;
        while (chain.size() < count && next < allocEnd_) {
            uint32_t c = next++;
            if (!allocatable(c) || (fat[c] & FAT_IN_USE)) continue;
            chain.push_back(c);
        }
        return chain;
    };
    auto link = [&](const std::vector<uint32_t>& chain) {
        for (size_t i = 0; i < chain.size(); ++i)
            setFatEntry(chain[i], i + 1 < chain.size() ? FAT_IN_USE | chain[i + 1] : FAT_LAST);
    };
    std::vector<uint32_t> rootExtra = allocate(rootGrows ? 1 : 0);
    std::vector<uint32_t> folderChain = allocate(ceilDiv(entries, ENTRIES_PER_CLUSTER));
    std::vector<std::vector<uint32_t>> fileChains;
    for (const SaveFile& f : save.files) fileChains.push_back(allocate(ceilDiv(f.data.size(), CLUSTER_BYTES)));

    // Data first, then the FAT, then the entries, then the root entry: an interrupted write
    // leaves lost clusters at worst, never a folder pointing at garbage.
    std::vector<uint8_t> cluster(CLUSTER_BYTES);
    for (size_t i = 0; i < save.files.size(); ++i) {
        const std::vector<uint8_t>& data = save.files[i].data;
        for (size_t k = 0; k < fileChains[i].size(); ++k) {
            std::fill(cluster.begin(), cluster.end(), uint8_t(0));
            size_t at = k * CLUSTER_BYTES;
            std::memcpy(cluster.data(), data.data() + at, std::min<size_t>(CLUSTER_BYTES, data.size() - at));
            writeBytes(allocOffset_ + fileChains[i][k], 0, cluster.data(), CLUSTER_BYTES);
        }
    }
    for (const auto& chain : fileChains) link(chain);
    link(folderChain);
    if (rootGrows) {
        setFatEntry(root.chain.clusters.back(), FAT_IN_USE | rootExtra[0]);
        link(rootExtra);
        std::fill(cluster.begin(), cluster.end(), uint8_t(0));
        writeBytes(allocOffset_ + rootExtra[0], 0, cluster.data(), CLUSTER_BYTES);
        root.chain.clusters.push_back(rootExtra[0]);
    }

    const Entry& rootSelf = root.entries[0];
    std::vector<Entry> folder;
    Entry dot;
    dot.mode = MODE_DIRECTORY;
    dot.created = dot.modified = save.created;
    dot.cluster = 0;
    dot.parentIndex = slot;
    dot.name = ".";
    folder.push_back(dot);
    Entry dotdot;
    dotdot.mode = MODE_DIRECTORY;
    dotdot.created = rootSelf.created;
    dotdot.modified = rootSelf.modified;
    dotdot.name = "..";
    folder.push_back(dotdot);
    for (size_t i = 0; i < save.files.size(); ++i) {
        const SaveFile& f = save.files[i];
        Entry e;
        // The card must see a file whatever the source said.
        e.mode = uint16_t((f.mode & ~M_DIR) | M_EXISTS | M_FILE);
        e.length = uint32_t(f.data.size());
        e.created = f.created;
        e.modified = f.modified;
        e.cluster = fileChains[i].empty() ? NO_CLUSTER : fileChains[i][0];
        e.attribute = f.attribute;
        e.name = f.name;
        folder.push_back(e);
    }
    for (size_t k = 0; k < folderChain.size(); ++k) {
        std::fill(cluster.begin(), cluster.end(), uint8_t(0));
        for (size_t h = 0; h < ENTRIES_PER_CLUSTER && k * ENTRIES_PER_CLUSTER + h < folder.size(); ++h) {
            std::vector<uint8_t> b = folder[k * ENTRIES_PER_CLUSTER + h].bytes();
            std::memcpy(cluster.data() + h * ENTRY_BYTES, b.data(), ENTRY_BYTES);
        }
        writeBytes(allocOffset_ + folderChain[k], 0, cluster.data(), CLUSTER_BYTES);
    }

    Entry f;
    f.mode = uint16_t((save.folderMode & ~M_FILE) | M_EXISTS | M_DIR);
    f.length = uint32_t(entries);
    f.created = save.created;
    f.modified = save.modified;
    f.cluster = folderChain[0];
    f.attribute = save.attribute;
    f.name = save.folderName;
    std::vector<uint8_t> b = f.bytes();
    writeBytes(allocOffset_ + root.chain.clusters[slot / ENTRIES_PER_CLUSTER],
               (slot % ENTRIES_PER_CLUSTER) * ENTRY_BYTES, b.data(), ENTRY_BYTES);
    if (slot >= root.entries.size()) {
        uint8_t length[4];
        putU32(length, slot + 1);
        writeBytes(allocOffset_, uint32_t(E_LENGTH), length, 4);
    }
    return true;
}

}  // namespace marrowin::card
