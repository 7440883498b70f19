// The neutral save, the ".psu" layout built from it, and the choice of container.
#include "containers/save_contents.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "icon/icon_sys.h"

namespace marrowin {

namespace {

bool isZero(const Stamp& s) {
    return std::all_of(s.begin(), s.end(), [](uint8_t b) { return b == 0; });
}

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

ContainerKind detectContainer(ByteView bytes, uint64_t fileSize) {
    if (looksLikeSaveArchive(bytes, fileSize)) return ContainerKind::Psu;
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
    return readIconSysFields({sys->data.data(), sys->data.size()}).title;
}

std::string asciiTitleOf(const SaveContents& contents) {
    const SaveFile* sys = findSaveFile(contents, "icon.sys");
    if (!sys) return {};
    const IconSysFields fields = readIconSysFields({sys->data.data(), sys->data.size()});
    const std::string& title = fields.title;
    if (fields.lineBreak > 0 && fields.lineBreak <= title.size())
        return asciiOf(title.substr(0, fields.lineBreak)) + " " + asciiOf(title.substr(fields.lineBreak));
    return asciiOf(title);
}

}  // namespace marrowin
