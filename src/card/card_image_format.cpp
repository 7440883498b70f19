// A newly formatted, empty card image.
#include "card/card_ecc.h"
#include "card/memory_card_internal.h"

namespace marrowin::card {

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
    self.size = 2;
    self.created = self.modified = rootStamp;
    self.name = ".";
    Entry parent = self;
    parent.mode = ROOT_PARENT_MODE;
    parent.size = 0;
    parent.name = "..";
    std::vector<uint8_t> a = self.encoded(), b = parent.encoded();
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

}  // namespace marrowin::card
