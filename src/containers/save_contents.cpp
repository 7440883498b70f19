// The neutral save, the ".psu" layout built from it, and the choice of container.
#include "containers/save_contents.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace marrowin {

namespace {

bool isZero(const Stamp& s) {
    return std::all_of(s.begin(), s.end(), [](uint8_t b) { return b == 0; });
}

// A file name in a ".psu" header may run on to the header's end but needs its terminator there.
constexpr size_t PSU_FILE_NAME_MAX = ENTRY_NAME_MAX - 1;

}  // namespace

const char* containerWord(ContainerKind kind) {
    switch (kind) {
        case ContainerKind::Psu: return "psu";
        case ContainerKind::Max: return "max";
        case ContainerKind::Cbs: return "cbs";
        case ContainerKind::SharkPort: return "sps";
        case ContainerKind::Psv: return "psv";
        case ContainerKind::Unknown: break;
    }
    return "";
}

const char* containerTitle(ContainerKind kind) {
    switch (kind) {
        case ContainerKind::Psu: return "save archive (.psu)";
        case ContainerKind::Max: return "Action Replay MAX (.max)";
        case ContainerKind::Cbs: return "CodeBreaker (.cbs)";
        case ContainerKind::SharkPort: return "SharkPort / X-Port (.sps, .xps)";
        case ContainerKind::Psv: return "PS3 save (.psv)";
        case ContainerKind::Unknown: break;
    }
    return "not recognised";
}

ContainerKind containerFromWord(std::string_view word) {
    std::string w(word);
    for (char& c : w) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (!w.empty() && w[0] == '.') w.erase(0, 1);
    if (w == "psu") return ContainerKind::Psu;
    if (w == "max") return ContainerKind::Max;
    if (w == "cbs") return ContainerKind::Cbs;
    if (w == "sps" || w == "xps") return ContainerKind::SharkPort;
    if (w == "psv") return ContainerKind::Psv;
    return ContainerKind::Unknown;
}

bool ContainerRead::hasErrors() const {
    return std::any_of(problems.begin(), problems.end(),
                       [](const Problem& p) { return p.severity == Severity::Error; });
}

ContainerKind detectContainer(ByteView bytes, uint64_t fileSize) {
    uint32_t dot = 0, dotdot = 0;
    if (fileSize > 1536 && bytes.u32(576, dot) && bytes.u32(1088, dotdot) && dot == 0x2E &&
        dotdot == 0x2E2E)
        return ContainerKind::Psu;
    if (looksLikeMax(bytes, fileSize)) return ContainerKind::Max;
    if (looksLikeCbs(bytes, fileSize)) return ContainerKind::Cbs;
    if (looksLikeSharkPort(bytes, fileSize)) return ContainerKind::SharkPort;
    if (looksLikePsv(bytes, fileSize)) return ContainerKind::Psv;
    return ContainerKind::Unknown;
}

ContainerRead readContainer(ContainerKind kind, ByteView bytes) {
    switch (kind) {
        case ContainerKind::Psu: return readPsu(bytes);
        case ContainerKind::Max: return readMax(bytes);
        case ContainerKind::Cbs: return readCbs(bytes);
        case ContainerKind::SharkPort: return readSharkPort(bytes);
        case ContainerKind::Psv: return readPsv(bytes);
        case ContainerKind::Unknown: break;
    }
    ContainerRead r;
    r.problems.push_back({Severity::Error, {}, 0, "not a save container"});
    return r;
}

bool writeContainer(ContainerKind kind, const SaveContents& contents, std::vector<uint8_t>& out,
                    std::string& error) {
    switch (kind) {
        case ContainerKind::Psu: return writePsu(contents, out, error);
        case ContainerKind::Max: return writeMax(contents, out, error);
        case ContainerKind::Cbs: return writeCbs(contents, out, error);
        case ContainerKind::SharkPort: return writeSharkPort(contents, out, error);
        case ContainerKind::Psv: return writePsv(contents, out, error);
        case ContainerKind::Unknown: break;
    }
    error = "no such container";
    return false;
}

// ---- .psu ----------------------------------------------------------------------------------

ContainerRead readPsu(ByteView bytes) {
    ContainerRead r;
    uint16_t mode = 0;
    uint32_t count = 0;
    if (!bytes.u16(ENTRY_MODE_OFFSET, mode) || !(mode & 0x20)) {
        r.problems.push_back({Severity::Error, {}, 0, "the first entry is not a folder"});
        return r;
    }
    SaveContents& c = r.contents;
    c.folderMode = mode;
    bytes.u32(ENTRY_SIZE_OFFSET, count);
    c.created = stampAt(bytes, ENTRY_CREATED_OFFSET);
    c.modified = stampAt(bytes, ENTRY_MODIFIED_OFFSET);
    bytes.u32(ENTRY_ATTRIBUTE_OFFSET, c.attribute);
    c.folderName = bytes.text(ENTRY_NAME_OFFSET, ENTRY_NAME_FIELD_SIZE);

    uint64_t off = ENTRY_HEADER_SIZE;
    while (off < bytes.size) {
        uint16_t m = 0;
        uint32_t size = 0;
        bytes.u16(off + ENTRY_MODE_OFFSET, m);
        if (m & 0x20) {  // "." and ".."; no container holds other folders
            const std::string name = bytes.text(off + ENTRY_NAME_OFFSET, ENTRY_NAME_MAX);
            if (name != "." && name != "..")
                r.problems.push_back({Severity::Warning, {}, 0, name + ": a folder inside the save, left out"});
            off = addSaturating(off, ENTRY_HEADER_SIZE);
            continue;
        }
        SaveFile f;
        f.mode = m;
        bytes.u32(off + ENTRY_SIZE_OFFSET, size);
        f.created = stampAt(bytes, off + ENTRY_CREATED_OFFSET);
        f.modified = stampAt(bytes, off + ENTRY_MODIFIED_OFFSET);
        bytes.u32(off + ENTRY_ATTRIBUTE_OFFSET, f.attribute);
        f.name = bytes.text(off + ENTRY_NAME_OFFSET, ENTRY_NAME_MAX);
        uint64_t data = addSaturating(off, ENTRY_HEADER_SIZE);
        uint64_t have = data < bytes.size ? std::min<uint64_t>(size, bytes.size - data) : 0;
        if (!bytes.fits(off, ENTRY_HEADER_SIZE))
            r.problems.push_back({Severity::Error, {}, 0, "the last entry's header is cut off"});
        if (have < size)
            r.problems.push_back({Severity::Error, {}, 0, f.name + ": cut off, " + std::to_string(have) + " of " +
                                            std::to_string(size) + " bytes present"});
        if (have > 0) f.data.assign(bytes.data + data, bytes.data + data + have);
        c.files.push_back(std::move(f));
        off = addSaturating(data, (uint64_t(size) + DATA_BLOCK_SIZE - 1) & ~uint64_t(DATA_BLOCK_SIZE - 1));
    }
    if (count != c.files.size() + 2)
        r.problems.push_back({Severity::Warning, {}, 0, "the folder entry counts " + std::to_string(count) +
                                         " entries; the archive holds " +
                                         std::to_string(c.files.size() + 2)});
    r.ok = true;
    return r;
}

bool writePsu(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error) {
    if (contents.folderName.size() > ENTRY_NAME_FIELD_SIZE) {
        error = "the folder name is longer than 64 bytes";
        return false;
    }
    uint64_t total = 3 * uint64_t(ENTRY_HEADER_SIZE);
    for (const SaveFile& f : contents.files) {
        if (f.name.size() > PSU_FILE_NAME_MAX || f.name.empty()) {
            error = f.name.empty() ? "a file has no name" : f.name + ": the name is too long";
            return false;
        }
        if (f.data.size() > UINT32_MAX) {
            error = f.name + ": too large";
            return false;
        }
        total += ENTRY_HEADER_SIZE + ((f.data.size() + DATA_BLOCK_SIZE - 1) & ~uint64_t(DATA_BLOCK_SIZE - 1));
    }
    if (total > UINT32_MAX) {
        error = "the archive would be 4 GiB or more";
        return false;
    }
    out.assign(size_t(total), 0);
    uint8_t* p = out.data();
    auto header = [&](uint16_t mode, uint32_t size, const Stamp& created, const Stamp& modified,
                      uint32_t attribute, std::string_view name) {
        putU16(p + ENTRY_MODE_OFFSET, mode);
        putU32(p + ENTRY_SIZE_OFFSET, size);
        std::memcpy(p + ENTRY_CREATED_OFFSET, created.data(), created.size());
        std::memcpy(p + ENTRY_MODIFIED_OFFSET, modified.data(), modified.size());
        putU32(p + ENTRY_ATTRIBUTE_OFFSET, attribute);
        std::memcpy(p + ENTRY_NAME_OFFSET, name.data(), name.size());
        p += ENTRY_HEADER_SIZE;
    };
    header(contents.folderMode, uint32_t(contents.files.size() + 2), contents.created,
           contents.modified, contents.attribute, contents.folderName);
    header(MODE_DIRECTORY, 0, contents.created, contents.modified, 0, ".");
    header(MODE_DIRECTORY, 0, contents.created, contents.modified, 0, "..");
    for (const SaveFile& f : contents.files) {
        header(f.mode, uint32_t(f.data.size()), f.created, f.modified, f.attribute, f.name);
        if (!f.data.empty()) std::memcpy(p, f.data.data(), f.data.size());
        p += (f.data.size() + DATA_BLOCK_SIZE - 1) & ~size_t(DATA_BLOCK_SIZE - 1);
    }
    return true;
}

SaveImage psuImageOf(const SaveContents& contents, std::string* error) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!writePsu(contents, bytes, why)) {
        if (error) *error = why;
        return {};
    }
    return makeSaveImage(bytes.data(), uint32_t(bytes.size()));
}

// ---- metadata ------------------------------------------------------------------------------

size_t completeMetadata(SaveContents& contents, const Stamp& now) {
    size_t changed = 0;
    auto stamp = [&](Stamp& s) {
        if (isZero(s)) {
            s = now;
            ++changed;
        }
    };
    auto mode = [&](uint16_t& m, uint16_t kindBit, uint16_t fallback) {
        if (m == 0) {
            m = fallback;
            ++changed;
        } else if ((m & (0x8000 | kindBit)) != (0x8000 | kindBit)) {
            m |= 0x8000 | kindBit;
            ++changed;
        }
    };
    stamp(contents.created);
    stamp(contents.modified);
    mode(contents.folderMode, 0x20, MODE_DIRECTORY);
    for (SaveFile& f : contents.files) {
        stamp(f.created);
        stamp(f.modified);
        mode(f.mode, 0x10, MODE_FILE);
    }
    return changed;
}

// ---- titles --------------------------------------------------------------------------------

const SaveFile* findSaveFile(const SaveContents& contents, std::string_view name) {
    for (const SaveFile& f : contents.files)
        if (f.name == name) return &f;
    return nullptr;
}

std::string saveNameProblem(const std::string& name, const char* what) {
    if (name.empty()) return std::string(what) + " has no name";
    if (name.size() > SAVE_NAME_MAX)
        return name + ": the name is longer than " + std::to_string(SAVE_NAME_MAX) + " bytes";
    if (name.find('\0') != std::string::npos) return std::string(what) + ": the name holds a zero byte";
    return {};
}

namespace {

constexpr size_t ICON_SYS_TITLE_OFFSET = 0xC0;
constexpr size_t ICON_SYS_TITLE_SIZE = 68;

// The half-width form of a full-width character, or 0.
char halfWidth(uint8_t lead, uint8_t trail) {
    if (lead == 0x82) {
        if (trail >= 0x4F && trail <= 0x58) return char('0' + (trail - 0x4F));
        if (trail >= 0x60 && trail <= 0x79) return char('A' + (trail - 0x60));
        if (trail >= 0x81 && trail <= 0x9A) return char('a' + (trail - 0x81));
        return 0;
    }
    if (lead != 0x81) return 0;
    static const struct {
        uint8_t trail;
        char ascii;
    } punctuation[] = {{0x40, ' '}, {0x41, ','}, {0x42, '.'}, {0x43, ','}, {0x44, '.'},
                       {0x46, ':'}, {0x47, ';'}, {0x48, '?'}, {0x49, '!'}, {0x5B, '-'},
                       {0x5E, '/'}, {0x5F, '\\'}, {0x60, '~'}, {0x62, '|'}, {0x65, '\''},
                       {0x66, '\''}, {0x67, '"'}, {0x68, '"'}, {0x69, '('}, {0x6A, ')'},
                       {0x6D, '['}, {0x6E, ']'}, {0x6F, '{'}, {0x70, '}'}, {0x7B, '+'},
                       {0x7C, '-'}, {0x81, '='}, {0x83, '<'}, {0x84, '>'}, {0x90, '$'},
                       {0x93, '%'}, {0x94, '#'}, {0x95, '&'}, {0x96, '*'}, {0x97, '@'}};
    for (const auto& p : punctuation)
        if (p.trail == trail) return p.ascii;
    return 0;
}

std::string asciiOf(std::string_view sjis) {
    std::string out;
    for (size_t i = 0; i < sjis.size(); ++i) {
        uint8_t b = uint8_t(sjis[i]);
        if (b < 0x80) {
            out.push_back(b >= 0x20 && b < 0x7F ? char(b) : '?');
        } else if (((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) && i + 1 < sjis.size()) {
            char h = halfWidth(b, uint8_t(sjis[i + 1]));
            out.push_back(h ? h : '?');
            ++i;
        } else {
            out.push_back('?');
        }
    }
    return out;
}

}  // namespace

std::string shiftJisTitleOf(const SaveContents& contents) {
    const SaveFile* sys = findSaveFile(contents, "icon.sys");
    if (!sys) return {};
    ByteView v{sys->data.data(), sys->data.size()};
    return v.text(ICON_SYS_TITLE_OFFSET, ICON_SYS_TITLE_SIZE);
}

std::string asciiTitleOf(const SaveContents& contents) {
    const SaveFile* sys = findSaveFile(contents, "icon.sys");
    if (!sys) return {};
    std::string title = shiftJisTitleOf(contents);
    uint16_t lineBreak = 0;
    ByteView{sys->data.data(), sys->data.size()}.u16(6, lineBreak);
    if (lineBreak > 0 && lineBreak <= title.size())
        return asciiOf(title.substr(0, lineBreak)) + " " + asciiOf(title.substr(lineBreak));
    return asciiOf(title);
}

}  // namespace marrowin
