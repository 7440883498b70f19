// The PS3's ".psv" export of a PS2 save: a 0x40-byte common header, a fixed block about the
// folder, a 60-byte record per file, then the files' data back to back.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "containers/save_contents.h"
#include "icon/icon_sys.h"

namespace marrowin {

namespace {

constexpr uint8_t PSV_MAGIC[4] = {0x00, 0x56, 0x53, 0x50};  // "\0VSP"
constexpr uint64_t PSV_HEADER_SIZE = 0x40;
constexpr uint64_t PSV_TYPE_MARK_OFFSET = 0x38;
constexpr uint64_t PSV_TYPE_OFFSET = 0x3C;
constexpr uint32_t PSV_TYPE_PS1 = 1;
constexpr uint32_t PSV_TYPE_PS2 = 2;
constexpr uint32_t PSV_PS2_MARK = 0x2C;
constexpr uint32_t PSV_PS1_MARK = 0x14;

constexpr uint64_t PSV_DISPLAY_SIZE_OFFSET = 0x40;
constexpr uint64_t PSV_ICON_SYS_OFFSET = 0x44;  // offset, size; then three icons likewise
constexpr uint64_t PSV_FILE_COUNT_OFFSET = 0x64;
constexpr uint64_t PSV_CREATED_OFFSET = 0x68;
constexpr uint64_t PSV_MODIFIED_OFFSET = 0x70;
constexpr uint64_t PSV_ENTRY_COUNT_OFFSET = 0x78;
constexpr uint64_t PSV_MODE_OFFSET = 0x7C;
constexpr uint64_t PSV_NAME_OFFSET = 0x80;
constexpr uint64_t PSV_TABLE_OFFSET = 0xA0;

constexpr uint64_t RECORD_SIZE = 60;
constexpr uint64_t RECORD_CREATED = 0x00;
constexpr uint64_t RECORD_MODIFIED = 0x08;
constexpr uint64_t RECORD_SIZE_FIELD = 0x10;
constexpr uint64_t RECORD_MODE = 0x14;
constexpr uint64_t RECORD_NAME = 0x18;
constexpr uint64_t RECORD_DATA_OFFSET = 0x38;

void putU32(std::vector<uint8_t>& out, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[off + size_t(i)] = uint8_t(v >> (8 * i));
}

// The card space a save takes, as the PS3 shows it: each file's clusters plus the folder's
// entries (two for "." and "..").
uint64_t displaySizeOf(const std::vector<uint64_t>& sizes) {
    uint64_t total = paddedDataSize((sizes.size() + 2) * 512);
    for (uint64_t s : sizes) total += paddedDataSize(s);
    return total;
}

// The files icon.sys names for its three icons; empty names without an icon.sys.
std::array<std::string, 3> iconNamesOf(const std::vector<SaveFile>& files) {
    std::array<std::string, 3> names;
    for (const SaveFile& f : files) {
        if (f.name != "icon.sys") continue;
        const IconSysFields fields = readIconSysFields({f.data.data(), f.data.size()});
        for (size_t i = 0; i < 3; ++i) names[i] = fields.iconNames[i];
        break;
    }
    return names;
}

// The offset and size slots at 0x44..0x63: icon.sys, then the three icons; 0 where absent.
std::array<uint32_t, 8> iconSlotsOf(const std::vector<SaveFile>& files,
                                    const std::vector<uint64_t>& offsets) {
    std::array<uint32_t, 8> slots{};
    auto locate = [&](const std::string& name, size_t slot) {
        if (name.empty()) return;
        for (size_t i = 0; i < files.size(); ++i) {
            if (files[i].name != name) continue;
            slots[slot] = uint32_t(offsets[i]);
            slots[slot + 1] = uint32_t(files[i].data.size());
            return;
        }
    };
    locate("icon.sys", 0);
    std::array<std::string, 3> icons = iconNamesOf(files);
    for (size_t i = 0; i < 3; ++i) locate(icons[i], 2 + 2 * i);
    return slots;
}

bool tableFits(uint64_t count, uint64_t size) {
    return count <= (size - PSV_TABLE_OFFSET) / RECORD_SIZE;
}

// Whether every record of a table of `count` points at data after the table and inside the file.
bool tableIsSound(ByteView v, uint64_t count) {
    if (!tableFits(count, v.size)) return false;
    const uint64_t dataStart = PSV_TABLE_OFFSET + count * RECORD_SIZE;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t rec = PSV_TABLE_OFFSET + i * RECORD_SIZE;
        const uint64_t off = v.u32(rec + RECORD_DATA_OFFSET);
        const uint64_t size = v.u32(rec + RECORD_SIZE_FIELD);
        if (off < dataStart || !v.fits(off, size)) return false;
    }
    return true;
}

std::string hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

}  // namespace

bool looksLikePsv(ByteView bytes, uint64_t fileSize) {
    return fileSize >= PSV_HEADER_SIZE && bytes.fits(0, sizeof PSV_MAGIC) &&
           std::memcmp(bytes.data, PSV_MAGIC, sizeof PSV_MAGIC) == 0;
}

bool isPs1Psv(ByteView bytes) {
    // The type word says so; the word before it (0x14, not 0x2C) too, in case one was zeroed.
    return looksLikePsv(bytes, bytes.size) && bytes.fits(PSV_TYPE_OFFSET, 4) &&
           (bytes.u32(PSV_TYPE_OFFSET) == PSV_TYPE_PS1 ||
            (bytes.u32(PSV_TYPE_OFFSET) != PSV_TYPE_PS2 && bytes.u32(PSV_TYPE_MARK_OFFSET) == PSV_PS1_MARK));
}

ContainerRead readPsv(ByteView v) {
    ContainerRead r;
    auto error = [&](const std::string& text) { r.problems.push_back({Severity::Error, {}, 0, text}); };
    auto warning = [&](const std::string& text) { r.problems.push_back({Severity::Warning, {}, 0, text}); };

    if (!looksLikePsv(v, v.size)) {
        error("not a PS3 save: no \\0VSP at the start, or shorter than its header");
        return r;
    }
    const uint32_t type = v.u32(PSV_TYPE_OFFSET);
    if (isPs1Psv(v)) {
        error(PS1_PSV_REFUSAL);
        return r;
    }
    if (type != PSV_TYPE_PS2) {
        error("an unknown kind of PS3 save (type " + std::to_string(type) + ")");
        return r;
    }
    if (v.size < PSV_TABLE_OFFSET) {
        error("the header is cut off: " + std::to_string(v.size) + " of " +
              std::to_string(PSV_TABLE_OFFSET) + " bytes present");
        return r;
    }
    if (v.u32(4) != 0) warning("the word at 0x4 is " + hex(v.u32(4)) + ", not 0");
    if (v.u32(PSV_TYPE_MARK_OFFSET) != PSV_PS2_MARK)
        warning("the word at 0x38 is " + hex(v.u32(PSV_TYPE_MARK_OFFSET)) + ", not 0x2C");

    // Two fields count the files; peers each trust one of them. The larger is taken when its
    // whole table points inside the file (the other field is then merely wrong); otherwise
    // the smaller, and files may be missing.
    const uint64_t byCount = v.u32(PSV_FILE_COUNT_OFFSET);
    const uint32_t entries = v.u32(PSV_ENTRY_COUNT_OFFSET);
    uint64_t n = byCount;
    if (entries < 2) {
        warning("the folder counts " + std::to_string(entries) + " entries, fewer than \".\" and \"..\"");
    } else if (uint64_t(entries) - 2 != byCount) {
        const uint64_t other = uint64_t(entries) - 2;
        const uint64_t larger = std::max(byCount, other), smaller = std::min(byCount, other);
        const std::string both = "the file counts disagree: " + std::to_string(byCount) +
                                 " files at 0x64, " + std::to_string(entries) + " entries at 0x78";
        if (tableIsSound(v, larger)) {
            n = larger;
            warning(both + "; the table holds " + std::to_string(larger) + " sound records");
        } else {
            n = smaller;
            error(both + "; read " + std::to_string(smaller) + " files, others may be lost");
        }
    }
    if (!tableFits(n, v.size)) {
        const uint64_t present = (v.size - PSV_TABLE_OFFSET) / RECORD_SIZE;
        error("the file table is cut off: " + std::to_string(present) + " of " +
              std::to_string(n) + " records present");
        n = present;
    }

    SaveContents& c = r.contents;
    c.created = stampAt(v, PSV_CREATED_OFFSET);
    c.modified = stampAt(v, PSV_MODIFIED_OFFSET);
    const uint32_t folderMode = v.u32(PSV_MODE_OFFSET);
    c.folderMode = uint16_t(folderMode);
    if (folderMode > 0xFFFF) warning("the folder mode " + hex(folderMode) + " has bits past 16");
    c.folderName = v.text(PSV_NAME_OFFSET, SAVE_NAME_MAX);

    const uint64_t dataStart = PSV_TABLE_OFFSET + n * RECORD_SIZE;
    uint64_t expected = dataStart, end = dataStart, total = 0;
    bool backToBack = true;
    std::vector<uint64_t> offsets, sizes;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t rec = PSV_TABLE_OFFSET + i * RECORD_SIZE;
        SaveFile f;
        f.created = stampAt(v, rec + RECORD_CREATED);
        f.modified = stampAt(v, rec + RECORD_MODIFIED);
        const uint32_t mode = v.u32(rec + RECORD_MODE);
        f.mode = uint16_t(mode);
        // PS3-made files leave garbage after the name's NUL: the name ends there.
        f.name = v.text(rec + RECORD_NAME, SAVE_NAME_MAX);
        const uint64_t size = v.u32(rec + RECORD_SIZE_FIELD);
        const uint64_t off = v.u32(rec + RECORD_DATA_OFFSET);
        const std::string who = f.name.empty() ? "file " + std::to_string(i + 1) : f.name;
        if (f.name.empty()) error(who + " has no name");
        if (mode > 0xFFFF) warning(who + ": the mode " + hex(mode) + " has bits past 16");
        if (off < dataStart)
            error(who + ": its data at " + hex(off) + " overlaps the header or the file table");
        if (off != expected) backToBack = false;
        const uint64_t have = off < v.size ? std::min(size, v.size - off) : 0;
        if (have < size)
            error(who + ": cut off, " + std::to_string(have) + " of " + std::to_string(size) +
                  " bytes present");
        // Records may all point at the same bytes: the copies, not the file, bound the total.
        if (total + have > SAVE_EXPANDED_MAX) {
            error(who + ": the files hold more than " + std::to_string(SAVE_EXPANDED_MAX >> 20) +
                  " MiB together; it and the files after it are left out");
            break;
        }
        total += have;
        if (have > 0) f.data.assign(v.data + off, v.data + off + have);
        expected = addSaturating(off, size);
        end = std::max(end, std::min(expected, v.size));
        offsets.push_back(off);
        sizes.push_back(size);
        c.files.push_back(std::move(f));
    }
    if (!backToBack) warning("the files' data is not back to back in table order");
    if (end < v.size)
        warning(std::to_string(v.size - end) + " bytes after the last file's data");

    // The block at 0x40..0x63 repeats what the table says; a mismatch loses nothing.
    const uint64_t display = v.u32(PSV_DISPLAY_SIZE_OFFSET);
    if (display != displaySizeOf(sizes))
        warning("the display size is " + std::to_string(display) + ", the files take " +
                std::to_string(displaySizeOf(sizes)));
    if (c.files.size() == n) {
        std::array<uint32_t, 8> slots = iconSlotsOf(c.files, offsets);
        static const char* const SLOT_NAMES[4] = {"icon.sys", "normal icon", "copy icon", "delete icon"};
        for (size_t s = 0; s < 4; ++s) {
            const uint32_t off = v.u32(PSV_ICON_SYS_OFFSET + 8 * s);
            const uint32_t size = v.u32(PSV_ICON_SYS_OFFSET + 8 * s + 4);
            if (off != slots[2 * s] || size != slots[2 * s + 1])
                warning(std::string("the ") + SLOT_NAMES[s] + " slot says " + hex(off) + ", " +
                        std::to_string(size) + " bytes; the file is at " + hex(slots[2 * s]) +
                        ", " + std::to_string(slots[2 * s + 1]) + " bytes");
        }
    }
    r.ok = true;
    return r;
}

bool writePsv(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error) {
    auto nameProblem = [](const std::string& name) -> const char* {
        if (name.empty()) return "has no name";
        if (name.size() > SAVE_NAME_MAX) return "has a name longer than 32 bytes";
        if (name.find('\0') != std::string::npos) return "has a NUL byte in its name";
        return nullptr;
    };
    if (const char* p = nameProblem(contents.folderName)) {
        error = std::string("the folder ") + p + ", which a .psv cannot hold";
        return false;
    }
    const uint64_t n = contents.files.size();
    uint64_t dataBytes = 0;
    for (const SaveFile& f : contents.files) {
        if (const char* p = nameProblem(f.name)) {
            error = (f.name.empty() ? std::string("a file") : f.name) + " " + p +
                    ", which a .psv cannot hold";
            return false;
        }
        dataBytes += f.data.size();
        if (dataBytes > SAVE_EXPANDED_MAX) {
            error = "the files hold more than " + std::to_string(SAVE_EXPANDED_MAX >> 20) + " MiB";
            return false;
        }
    }
    // n is bounded by the data limit only for non-empty files; bound the table too.
    if (n > SAVE_EXPANDED_MAX / RECORD_SIZE) {
        error = "too many files";
        return false;
    }
    const uint64_t dataStart = PSV_TABLE_OFFSET + n * RECORD_SIZE;
    out.assign(size_t(dataStart + dataBytes), 0);

    // Unsigned: the key seed and the signature stay zero. The PS3 wants a signature made with
    // its own secret key; the tools that read these files do not check it.
    std::memcpy(out.data(), PSV_MAGIC, sizeof PSV_MAGIC);
    putU32(out, PSV_TYPE_MARK_OFFSET, PSV_PS2_MARK);
    putU32(out, PSV_TYPE_OFFSET, PSV_TYPE_PS2);

    std::vector<uint64_t> offsets, sizes;
    uint64_t at = dataStart;
    for (const SaveFile& f : contents.files) {
        offsets.push_back(at);
        sizes.push_back(f.data.size());
        at += f.data.size();
    }
    putU32(out, PSV_DISPLAY_SIZE_OFFSET, uint32_t(displaySizeOf(sizes)));
    const std::array<uint32_t, 8> slots = iconSlotsOf(contents.files, offsets);
    for (size_t s = 0; s < slots.size(); ++s) putU32(out, PSV_ICON_SYS_OFFSET + 4 * s, slots[s]);
    putU32(out, PSV_FILE_COUNT_OFFSET, uint32_t(n));
    std::memcpy(out.data() + PSV_CREATED_OFFSET, contents.created.data(), sizeof(Stamp));
    std::memcpy(out.data() + PSV_MODIFIED_OFFSET, contents.modified.data(), sizeof(Stamp));
    putU32(out, PSV_ENTRY_COUNT_OFFSET, uint32_t(n + 2));
    putU32(out, PSV_MODE_OFFSET, contents.folderMode);
    std::memcpy(out.data() + PSV_NAME_OFFSET, contents.folderName.data(), contents.folderName.size());

    for (size_t i = 0; i < contents.files.size(); ++i) {
        const SaveFile& f = contents.files[i];
        const size_t rec = size_t(PSV_TABLE_OFFSET + i * RECORD_SIZE);
        std::memcpy(out.data() + rec + RECORD_CREATED, f.created.data(), sizeof(Stamp));
        std::memcpy(out.data() + rec + RECORD_MODIFIED, f.modified.data(), sizeof(Stamp));
        putU32(out, rec + RECORD_SIZE_FIELD, uint32_t(f.data.size()));
        putU32(out, rec + RECORD_MODE, f.mode);
        std::memcpy(out.data() + rec + RECORD_NAME, f.name.data(), f.name.size());
        putU32(out, rec + RECORD_DATA_OFFSET, uint32_t(offsets[i]));
        if (!f.data.empty()) std::memcpy(out.data() + offsets[i], f.data.data(), f.data.size());
    }
    return true;
}

}  // namespace marrowin
