// Reading an untrusted memory card image: open (geometry, ECC), list, export of every save and
// the full check. Inputs are small, so each one is laid over part of a whole card that already
// holds saves, where the superblock, the FAT and the directories are within reach of a few
// mutations.
//   byte 0: bit 0 with spare bytes (ECC), bit 1 keep the old ECC of the changed pages, bit 3 a
//           standard 8 MB card without spare bytes (else a 1 MB one: checking the ECC of
//           every page of a whole card twice took about 100 ms under the sanitizers);
//   byte 1: where the rest goes: 0 superblock, 1 indirect FAT and FAT, 2 root and the saves'
//           directories, 3 the cluster named by bytes 2-3;
//   the rest: the bytes laid over the card's data from there.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "card/card_ecc.h"
#include "card/memory_card.h"

namespace {

using namespace marrowin;
using namespace marrowin::card;

constexpr size_t PAGE = 512, SPARE = 16, CLUSTER = 1024;
// Bigger overlays only repeat what these reach.
constexpr size_t MAX_OVERLAY = 64 * 1024;

SaveFile fileOf(const char* name, size_t size, uint8_t seed) {
    SaveFile f;
    f.name = name;
    f.created = stampOf(2020, 1, 2, 3, 4, 5);
    f.modified = stampOf(2020, 1, 2, 3, 4, 6);
    for (size_t i = 0; i < size; ++i) f.data.push_back(uint8_t(i * seed + (i >> 8)));
    return f;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> baseCard(bool full) {
    std::vector<uint8_t> plain = MemoryCard::format(false, stampOf(2020, 1, 2, 3, 4, 5));
    if (!full) {
        // 1,024 clusters: 960 allocatable after the FAT, backup blocks 127 and 126.
        plain.resize(1024 * CLUSTER);
        put32(plain, 0x30, 1024);
        put32(plain, 0x38, 960);
        put32(plain, 0x40, 127);
        put32(plain, 0x44, 126);
        for (uint32_t n = 960; n < 32 * 256; ++n) put32(plain, 9 * CLUSTER + 4 * n, 0xFFFFFFFF);
        std::fill(plain.begin() + 1008 * CLUSTER, plain.begin() + 1016 * CLUSTER, uint8_t(0xFF));
    }
    MemoryCard card;
    std::vector<Problem> problems;
    std::string error;
    if (!MemoryCard::open(plain, card, problems, error)) __builtin_trap();
    for (int s = 0; s < 2; ++s) {
        SaveContents save;
        save.folderName = s == 0 ? "BASLUS-00001" : "BESLES-00002";
        std::vector<uint8_t> sys(964, 0);
        std::memcpy(sys.data(), "PS2D", 4);
        std::memcpy(sys.data() + 0xC0, "\x82\x60\x82\x61", 4);
        std::memcpy(sys.data() + 0x104, "icon.ico", 8);
        SaveFile icon;
        icon.name = "icon.sys";
        icon.data = sys;
        save.files.push_back(icon);
        save.files.push_back(fileOf("icon.ico", 2500, uint8_t(3 + s)));
        save.files.push_back(fileOf("empty", 0, 1));
        save.files.push_back(fileOf(save.folderName.c_str(), 1024, uint8_t(7 + s)));
        if (!card.importSave(save, false, error)) __builtin_trap();
    }
    return card.image();
}

}  // namespace

// The card the input changes, with or without spare bytes.
std::vector<uint8_t> spareAdded(const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> out(plain.size() / PAGE * (PAGE + SPARE));
    for (size_t p = 0; p < plain.size() / PAGE; ++p) {
        uint8_t* page = out.data() + p * (PAGE + SPARE);
        std::memcpy(page, plain.data() + p * PAGE, PAGE);
        pageEcc(page, PAGE, page + PAGE);
    }
    return out;
}

std::vector<uint8_t> cardFromInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> small = baseCard(false), full = baseCard(true);
    static const std::vector<uint8_t> smallSpare = spareAdded(small);
    bool isFull = size > 0 && (data[0] & 8);
    const std::vector<uint8_t>& plain = isFull ? full : small;
    uint8_t flags = size > 0 ? data[0] : 0;
    if (isFull) flags &= uint8_t(~1);
    uint8_t region = size > 1 ? data[1] % 4 : 2;
    size_t skip = std::min<size_t>(size, 2);
    uint64_t at = region == 0 ? 0 : region == 1 ? 8 * CLUSTER : 41 * CLUSTER;
    if (region == 3) {
        uint16_t cluster = size > 3 ? uint16_t(data[2] | data[3] << 8) : 0;
        at = uint64_t(cluster % (plain.size() / CLUSTER)) * CLUSTER;
        skip = std::min<size_t>(size, 4);
    }
    data += skip;
    size -= skip;
    size = std::min({size, MAX_OVERLAY, size_t(plain.size() - at)});

    // memcpy, not a vector copy: under AddressSanitizer that went through a slow byte loop.
    const std::vector<uint8_t>& base = (flags & 1) ? smallSpare : plain;
    std::vector<uint8_t> image(base.size());
    std::memcpy(image.data(), base.data(), base.size());
    if (!(flags & 1)) {
        std::memcpy(image.data() + at, data, size);
        return image;
    }
    for (uint64_t p = at / PAGE; p * PAGE < at + size; ++p) {
        uint8_t* page = image.data() + p * (PAGE + SPARE);
        uint64_t from = std::max<uint64_t>(at, p * PAGE), to = std::min<uint64_t>(at + size, (p + 1) * PAGE);
        std::memcpy(page + (from - p * PAGE), data + (from - at), size_t(to - from));
        // Without a fresh code the page keeps the base card's: ECC faults for the reader.
        if (!(flags & 2)) pageEcc(page, PAGE, page + PAGE);
    }
    return image;
}

#ifndef CARD_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryCard card;
    std::vector<Problem> problems;
    std::string error;
    if (!MemoryCard::open(cardFromInput(data, size), card, problems, error)) return 0;
    std::vector<CardSave> saves = card.list(&problems);
    for (const CardSave& s : saves) {
        SaveContents contents;
        (void)card.exportSave(s.name, contents, error, &problems);
    }
    (void)card.freeClusters();
    (void)card.freeClustersInFat();
    (void)card.check();
    return 0;
}
#endif
