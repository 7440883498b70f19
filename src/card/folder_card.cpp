// PCSX2 folder cards read into the neutral save and written back as host files.
#include "card/folder_card.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "base/byte_reader.h"
#include "archive/entry_header.h"
#include "base/host_files.h"
#include "base/save_text.h"
#include "card/card_file.h"
#include "icon/icon_sys.h"

namespace marrowin::card {

namespace {

constexpr std::string_view META_PREFIX = "_pcsx2_";
constexpr std::string_view DELETED_PREFIX = "_pcsx2_deleted_";
constexpr const char* INDEX_NAME = "_pcsx2_index";
constexpr const char* META_DIRECTORY = "_pcsx2_meta_directory";
constexpr const char* META_FOLDER = "_pcsx2_meta";
// New saves are built under this (the emulator skips "_pcsx2_" names) and renamed into place.
constexpr std::string_view STAGING_PREFIX = "_pcsx2_marrowin_new_";
// The part of an entry a meta file must hold for its name to count.
constexpr size_t META_WITH_NAME = 0x60;
constexpr uint32_t CLUSTER = 1024;

bool isMetaName(std::string_view name) { return name.substr(0, META_PREFIX.size()) == META_PREFIX; }

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

// Renames within the card folder, never over an existing name (in one step: a name taken
// between a look and the rename is not replaced either).
bool renameFree(const std::string& from, const std::string& to, std::string& error) {
    const int err = renameWithoutReplacing(from, to);
    if (err == EEXIST || err == ENOTEMPTY) {
        error = to + ": already exists";
        return false;
    }
    if (err) {
        error = "cannot rename " + from + " to " + to + ": " + errnoText(err);
        return false;
    }
    return true;
}

bool readOpen(HostFile& f, const std::string& path, uint64_t limit, std::vector<uint8_t>& out, std::string& error) {
    if (!f.rewind()) {
        error = path + ": cannot read: " + errnoText(errno);
        return false;
    }
    const int64_t size = f.size();
    if (size < 0 || uint64_t(size) > limit) {
        error = path + (size < 0 ? ": cannot read" : ": too large for a memory card");
        return false;
    }
    out.assign(size_t(size), 0);
    if (f.read(out.data(), out.size()) != out.size()) {
        error = path + ": cannot read it whole";
        return false;
    }
    return true;
}

bool readWhole(const std::string& path, uint64_t limit, std::vector<uint8_t>& out, std::string& error) {
    HostFile f = openForReading(path);
    if (!f.isOpen()) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    return readOpen(f, path, limit, out, error);
}

int64_t hostModifiedSeconds(const std::string& path) {
    int64_t seconds = 0;
    return modifiedSeconds(path, seconds) ? seconds : 0;
}

// The 512-byte entry PCSX2 keeps for non-standard metadata.
std::vector<uint8_t> metaEntry(uint16_t mode, const Stamp& created, const Stamp& modified,
                               uint32_t attribute, std::string_view name) {
    EntryRecord r;
    r.mode = mode;
    r.created = created;
    r.modified = modified;
    r.attribute = attribute;
    r.name = std::string(name.substr(0, CARD_ENTRY_NAME_MAX));
    std::vector<uint8_t> e(ENTRY_HEADER_SIZE, 0);
    encodeEntry(r, e.data());
    return e;
}

// A name the card can hold: 1 to 32 bytes, no '/', no NUL, not "." or "..".
std::string cardNameProblem(std::string_view name) {
    if (name.empty()) return "an empty name";
    if (name.size() > SAVE_NAME_MAX) return "a name longer than 32 bytes";
    if (name == "." || name == "..") return "the name \"" + std::string(name) + "\"";
    if (name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return "a name holding '/' or NUL";
    return "";
}

bool writeFileIn(const HostFolder& dir, const std::string& name, const void* data, uint64_t size,
                 std::string& error) {
    TemporaryFile temp;
    if (!temp.create(dir) || !temp.file().write(data, size) || !temp.finish()) {
        error = name + ": cannot write: " + std::strerror(errno ? errno : EIO);
        return false;
    }
    if (int err = temp.placeWithoutReplacing(name)) {
        error = name + ": " + std::strerror(err);
        return false;
    }
    return true;
}

std::string freeName(const std::string& folder, const std::string& base) {
    std::string name = base;
    for (int n = 2; lookUpName(HostFolder(), join(folder, name)).kind != PathKind::Missing; ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

// Unix seconds cannot say every stamp (zero or impossible dates, a non-zero first byte): such
// stamps are kept in a meta entry instead of being lost.
bool stampFitsIndex(const Stamp& s) { return stampOfUnixSeconds(unixSecondsOfStamp(s)) == s; }

// A staging folder of a run that was killed: ours by its name, and its process is gone.
bool staleStaging(const FolderItem& item) {
    const std::string_view name = item.name;
    if (!item.isFolder || item.isLink || name.substr(0, STAGING_PREFIX.size()) != STAGING_PREFIX) return false;
    std::string_view digits = name.substr(STAGING_PREFIX.size());
    digits = digits.substr(0, digits.find('-'));
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const long pid = std::stol(std::string(digits));
    return pid != currentProcessId() && processGone(pid);
}

void removeStaleStaging(const std::string& card) {
    std::vector<FolderItem> items;
    if (!listFolder(card, items)) return;
    for (const FolderItem& item : items)
        if (staleStaging(item)) removeTree(join(card, item.name));
}

}  // namespace

// ---- times and names -----------------------------------------------------------------------

std::string folderCardHostName(std::string_view cardName, bool& exact) {
    // Our usual host spelling of save text (UTF-8), then the emulator's cleaning for hosts.
    std::string host = saveTextToHostName(cardName);
    for (char& c : host) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '\\' || c == '%' || c == ':' || c == '|' || c == '"' || c == '<' ||
            c == '>' || c == '*' || c == '?' || c == '/')
            c = '_';
    }
    for (size_t i = host.size(); i > 0 && (host[i - 1] == '.' || host[i - 1] == ' '); --i) host[i - 1] = '_';
    host = safePathComponent(host);
    // A card name that looks like our own metadata must not become it.
    if (isMetaName(host)) host.insert(0, "_");
    exact = hostNameToSaveText(host) == cardName;
    return host;
}

// ---- the index -----------------------------------------------------------------------------

namespace {

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(b, e - b));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a key (plain or quoted) at s[i], leaving i after it; false when it is malformed.
bool readKey(std::string_view s, size_t& i, std::string& key) {
    key.clear();
    if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        const char q = s[i++];
        while (i < s.size()) {
            char c = s[i++];
            if (q == '\'' && c == '\'') {
                if (i < s.size() && s[i] == '\'') {
                    key += '\'';
                    ++i;
                    continue;
                }
                return true;
            }
            if (q == '"' && c == '"') return true;
            if (q == '"' && c == '\\' && i < s.size()) {
                c = s[i++];
                switch (c) {
                    case 'n': key += '\n'; break;
                    case 't': key += '\t'; break;
                    case '0': key += '\0'; break;
                    case 'x': {
                        int h = i + 1 < s.size() ? hexValue(s[i]) : -1, l = h >= 0 ? hexValue(s[i + 1]) : -1;
                        if (l < 0) return false;
                        key += char(h * 16 + l);
                        i += 2;
                        break;
                    }
                    default: key += c;
                }
                continue;
            }
            key += c;
        }
        return false;
    }
    // A plain key ends at ": " or ':' at the end of the line.
    size_t start = i;
    while (i < s.size() && !(s[i] == ':' && (i + 1 == s.size() || s[i + 1] == ' ' || s[i + 1] == '\t')) &&
           !(s[i] == ':' && i + 1 < s.size() && s[i + 1] == '{'))
        ++i;
    key = trim(s.substr(start, i - start));
    return !key.empty();
}

bool parseInteger(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 19) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        if (v > (INT64_MAX - (text[i] - '0')) / 10) return false;  // past 64 bits
        v = v * 10 + (text[i] - '0');
    }
    out = text[0] == '-' ? -v : v;
    return true;
}

void setField(FolderIndexEntry& e, const std::string& field, const std::string& value,
              std::vector<std::string>& problems) {
    int64_t v = 0;
    if (!parseInteger(value, v)) {
        problems.push_back("\"" + e.name + "\": " + field + " is not a whole number");
        return;
    }
    if (field == "order") e.order = v;
    else if (field == "timeCreated") e.timeCreated = v, e.hasCreated = true;
    else if (field == "timeModified") e.timeModified = v, e.hasModified = true;
}

// "key: value, key: value" inside a flow mapping's braces.
void parseFlow(std::string_view body, FolderIndexEntry& e, std::vector<std::string>& problems) {
    size_t i = 0;
    while (i < body.size()) {
        size_t comma = body.find(',', i);
        std::string_view part = body.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i);
        size_t colon = part.find(':');
        if (colon != std::string_view::npos) setField(e, trim(part.substr(0, colon)), trim(part.substr(colon + 1)), problems);
        if (comma == std::string_view::npos) break;
        i = comma + 1;
    }
}

bool plainKeyOk(std::string_view k) {
    if (k.empty() || k == "~" || k == "null" || k == "true" || k == "false") return false;
    static const std::string_view firstBad = "-?:,[]{}#&*!|>'\"%@` ";
    if (firstBad.find(k[0]) != std::string_view::npos) return false;
    for (char c : k) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == ':' || c == '#' || c == '"' || c == '\'' || c == '\\' ||
            c == '{' || c == '}' || c == '[' || c == ']' || c == ',')
            return false;
    }
    return k.back() != ' ';
}

std::string yamlKey(std::string_view k) {
    if (plainKeyOk(k)) return std::string(k);
    std::string out = "\"";
    static const char HEX[] = "0123456789ABCDEF";
    for (char c : k) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += HEX[u >> 4];
            out += HEX[u & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::vector<FolderIndexEntry> parseFolderIndex(std::string_view text, std::vector<std::string>& problems) {
    std::vector<FolderIndexEntry> entries;
    FolderIndexEntry* current = nullptr;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t end = text.find('\n', lineStart);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(lineStart, end - lineStart);
        lineStart = end + 1;
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#' || t == "---" || t == "...") continue;
        const bool indented = line[0] == ' ' || line[0] == '\t';
        size_t i = line.find_first_not_of(" \t");
        std::string key;
        if (!readKey(line, i, key) || i >= line.size() || line[i] != ':') {
            problems.push_back("index line not understood: " + t);
            continue;
        }
        std::string rest = trim(line.substr(i + 1));
        if (!indented) {
            entries.push_back({});
            current = &entries.back();
            current->name = key;
            if (!rest.empty() && rest[0] == '{') {
                const size_t close = rest.find('}');
                parseFlow(std::string_view(rest).substr(1, close == std::string::npos ? std::string::npos : close - 1),
                          *current, problems);
            } else if (!rest.empty()) {
                problems.push_back("\"" + key + "\": not a mapping");
            }
        } else if (current) {
            setField(*current, key, rest, problems);
        } else {
            problems.push_back("index line not understood: " + t);
        }
    }
    return entries;
}

std::string writeFolderIndex(const std::vector<FolderIndexEntry>& entries) {
    std::string out;
    for (const FolderIndexEntry& e : entries) {
        out += yamlKey(e.name) + ":\n";
        if (e.order > 0) out += "  order: " + std::to_string(e.order) + "\n";
        out += "  timeCreated: " + std::to_string(e.timeCreated) + "\n";
        out += "  timeModified: " + std::to_string(e.timeModified) + "\n";
    }
    return out;
}

// ---- the card ------------------------------------------------------------------------------

bool isFolderCard(const std::string& path) {
    return pathKind(path) == PathKind::Folder && pathKind(join(path, FOLDER_CARD_MARKER)) == PathKind::File;
}

uint32_t FolderCard::Save::clusters() const {
    uint64_t n = (uint64_t(contents.files.size()) + 2 + 1) / 2;
    for (const SaveFile& f : contents.files) n += (uint64_t(f.data.size()) + CLUSTER - 1) / CLUSTER;
    return uint32_t(std::min<uint64_t>(n, UINT32_MAX));
}

uint32_t FolderCard::capacity() const {
    // Allocatable clusters from the superblock, kept to whole thousands as the console uses a
    // card (8,000 on an 8 MB card, the root directory included): the same room a card image
    // of ours offers.
    uint32_t allocEnd = 0;
    ByteView sb{superblock_.data(), superblock_.size()};
    if (!sb.u32(0x38, allocEnd) || allocEnd < 1000 || allocEnd > (1u << 24)) allocEnd = 8135;
    return allocEnd / 1000 * 1000;
}

uint32_t FolderCard::usedClusters() const {
    uint64_t used = (uint64_t(saves_.size()) + 2 + 1) / 2;  // the root directory
    for (const Save& s : saves_) used += s.clusters();
    return uint32_t(std::min<uint64_t>(used, UINT32_MAX));
}

uint32_t FolderCard::freeClusters() const {
    const uint32_t cap = capacity(), used = usedClusters();
    return used >= cap ? 0 : cap - used;
}

const FolderCard::Save* FolderCard::find(std::string_view cardName) const {
    for (const Save& s : saves_)
        if (s.contents.folderName == cardName) return &s;
    return nullptr;
}

bool FolderCard::readSave(const std::string& hostName, Save& out) const {
    const std::string folder = join(path_, hostName);
    out.hostName = hostName;
    SaveContents& c = out.contents;
    c = SaveContents{};
    c.folderName = hostNameToSaveText(hostName);
    auto problem = [&](Severity kind, const std::string& text) {
        out.problems.push_back({kind, {}, 0, "\"" + hostName + "\": " + text});
    };

    std::vector<FolderItem> items;
    if (!listFolder(folder, items)) {
        problem(Severity::Error, std::string("cannot list: ") + std::strerror(errno));
        return false;
    }
    std::vector<FolderIndexEntry> index;
    std::string error;
    std::vector<uint8_t> bytes;
    if (pathKind(join(folder, INDEX_NAME)) == PathKind::File) {
        if (readWhole(join(folder, INDEX_NAME), 1u << 20, bytes, error)) {
            std::vector<std::string> indexProblems;
            index = parseFolderIndex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                     indexProblems);
            for (const std::string& p : indexProblems) problem(Severity::Warning, "index: " + p);
        } else {
            problem(Severity::Warning, error);
        }
    }
    auto indexOf = [&](const std::string& name) -> const FolderIndexEntry* {
        for (const FolderIndexEntry& e : index)
            if (e.name == name) return &e;
        return nullptr;
    };
    const FolderIndexEntry* root = indexOf("$ROOT");
    if (!root) root = indexOf("%ROOT");
    const int64_t folderTime = hostModifiedSeconds(folder);
    c.created = stampOfUnixSeconds(root && root->hasCreated ? root->timeCreated : folderTime);
    c.modified = stampOfUnixSeconds(root && root->hasModified ? root->timeModified : folderTime);

    // Meta entries overrule what the host and the index say.
    auto applyMeta = [&](const std::string& metaPath, uint16_t& mode, Stamp& created, Stamp& modified,
                         uint32_t& attribute, std::string& name) {
        if (pathKind(metaPath) != PathKind::File) return;
        std::vector<uint8_t> meta;
        std::string err;
        if (!readWhole(metaPath, ENTRY_HEADER_SIZE * 2, meta, err)) {
            problem(Severity::Warning, err);
            return;
        }
        if (meta.size() < ENTRY_MODIFIED_OFFSET + 8) {
            problem(Severity::Warning, "meta entry too short: " + metaPath);
            return;
        }
        const EntryRecord r = decodeEntry(ByteView{meta.data(), meta.size()}, 0, CARD_ENTRY_NAME_MAX);
        mode = r.mode;
        created = r.created;
        modified = r.modified;
        if (meta.size() >= META_WITH_NAME) {
            attribute = r.attribute;
            if (!r.name.empty()) name = r.name;
        }
    };
    applyMeta(join(folder, META_DIRECTORY), c.folderMode, c.created, c.modified, c.attribute, c.folderName);

    struct Ordered {
        int64_t order;
        bool indexed;
        SaveFile file;
    };
    std::vector<Ordered> files;
    uint64_t total = 0;
    bool whole = true;
    for (const FolderItem& item : items) {
        if (isMetaName(item.name)) continue;
        long pid = 0;
        if (parseTemporaryName(item.name, pid)) continue;  // a write of ours in progress
        if (item.isLink || item.isFolder) {
            problem(Severity::Warning, "\"" + item.name + "\" is a " +
                                                    (item.isLink ? "link" : "folder") + "; a save holds only files");
            out.leftOut.push_back(out.problems.back());
            continue;
        }
        if (!item.isRegular) continue;
        Ordered o{0, false, {}};
        SaveFile& f = o.file;
        f.name = hostNameToSaveText(item.name);
        if (!readWhole(join(folder, item.name), SAVE_EXPANDED_MAX - total, f.data, error)) {
            problem(Severity::Error, error);
            whole = false;
            continue;
        }
        total += f.data.size();
        const FolderIndexEntry* e = indexOf(item.name);
        const int64_t hostTime = hostModifiedSeconds(join(folder, item.name));
        f.created = stampOfUnixSeconds(e && e->hasCreated ? e->timeCreated : hostTime);
        f.modified = stampOfUnixSeconds(e && e->hasModified ? e->timeModified : hostTime);
        if (e && e->order > 0) {
            o.order = e->order;
            o.indexed = true;
        }
        applyMeta(join(join(folder, META_FOLDER), item.name), f.mode, f.created, f.modified, f.attribute, f.name);
        files.push_back(std::move(o));
    }
    // Files the index does not know come first, then the index's order; names break ties.
    std::stable_sort(files.begin(), files.end(), [](const Ordered& a, const Ordered& b) {
        if (a.indexed != b.indexed) return !a.indexed;
        return a.order < b.order;
    });
    for (Ordered& o : files) c.files.push_back(std::move(o.file));
    return whole;
}

bool FolderCard::open(const std::string& path, FolderCard& out, std::string& error) {
    return open(path, out, error, nullptr);
}

bool FolderCard::open(const std::string& path, FolderCard& out, std::string& error, HostFile* superblock) {
    out = FolderCard{};
    out.path_ = path;
    if (!isFolderCard(path)) {
        error = path + ": not a folder memory card (no " + FOLDER_CARD_MARKER + ")";
        return false;
    }
    const std::string marker = join(path, FOLDER_CARD_MARKER);
    if (!(superblock ? readOpen(*superblock, marker, 1u << 20, out.superblock_, error)
                     : readWhole(marker, 1u << 20, out.superblock_, error)))
        return false;
    if (out.superblock_.size() <= 0x16 || out.superblock_[0x16] != 'o')
        out.problems_.push_back({Severity::Error, {}, 0, "the card is not formatted (its superblock has no card magic)"});
    else if (out.superblock_.size() != FOLDER_CARD_MARKER_BYTES)
        out.problems_.push_back({Severity::Warning, {}, 0,
                                 std::string(FOLDER_CARD_MARKER) + " is " + std::to_string(out.superblock_.size()) +
                                     " bytes, not 8192"});
    std::vector<FolderItem> items;
    if (!listFolder(path, items)) {
        error = path + ": cannot list: " + std::strerror(errno);
        return false;
    }
    for (const FolderItem& item : items) {
        if (!item.isFolder || isMetaName(item.name)) continue;
        if (item.isLink) {
            out.problems_.push_back({Severity::Warning, {}, 0, "\"" + item.name + "\" is a link, left out"});
            continue;
        }
        Save s;
        out.readSave(item.name, s);
        out.saves_.push_back(std::move(s));
    }
    return true;
}

bool FolderCard::format(const std::string& path, std::string& error) {
    switch (pathKind(path)) {
        case PathKind::Missing:
            if (!makeFolder(path)) {
                error = path + ": cannot make the folder: " + std::strerror(errno);
                return false;
            }
            break;
        case PathKind::Folder: {
            std::vector<FolderItem> items;
            if (!listFolder(path, items) || !items.empty()) {
                error = path + ": the folder is not empty";
                return false;
            }
            break;
        }
        default:
            error = path + ": already exists and is not a folder";
            return false;
    }
    // The first erase block of a freshly formatted card without spare bytes.
    std::vector<uint8_t> image = MemoryCard::format(false);
    image.resize(FOLDER_CARD_MARKER_BYTES);
    OpenFolder dir = openFolder(path);
    if (!dir.isOpen() || !writeFileIn(dir.ref(), FOLDER_CARD_MARKER, image.data(), image.size(), error) ||
        !syncFolder(dir.ref())) {
        if (error.empty()) error = std::strerror(errno);
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::vector<CardSave> FolderCard::list(std::vector<Problem>* problems) const {
    std::vector<CardSave> out;
    if (problems) problems->insert(problems->end(), problems_.begin(), problems_.end());
    for (const Save& s : saves_) {
        if (problems) problems->insert(problems->end(), s.problems.begin(), s.problems.end());
        CardSave c;
        c.name = s.contents.folderName;
        c.titleUtf8 = saveTextToDisplay(shiftJisTitleOf(s.contents));
        c.mode = s.contents.folderMode;
        c.created = s.contents.created;
        c.modified = s.contents.modified;
        c.fileCount = uint32_t(s.contents.files.size());
        c.clusters = s.clusters();
        c.bytes = uint64_t(c.clusters) * CLUSTER;
        const SaveFile* iconSys = findSaveFile(s.contents, "icon.sys");
        c.hasIconSys = iconSys != nullptr;
        if (iconSys) {
            const IconSysFields fields = readIconSysFields(ByteView{iconSys->data.data(), iconSys->data.size()});
            c.hasIcons = true;
            for (const std::string& icon : fields.iconNames)
                if (icon.empty() || !findSaveFile(s.contents, icon)) c.hasIcons = false;
        }
        out.push_back(std::move(c));
    }
    return out;
}

bool FolderCard::exportSave(std::string_view folder, SaveContents& out, std::string& error,
                            std::vector<Problem>* problems) const {
    const Save* s = find(folder);
    if (!s) {
        error = "no save folder \"" + std::string(folder) + "\" on the card";
        return false;
    }
    for (const Problem& p : s->problems)
        if (p.severity == Severity::Error) {
            error = p.text;
            return false;
        }
    if (problems) problems->insert(problems->end(), s->leftOut.begin(), s->leftOut.end());
    out = s->contents;
    return true;
}

bool FolderCard::importSave(const SaveContents& save, bool replace, std::string& error, bool* taken) {
    std::string problem = cardNameProblem(save.folderName);
    if (!problem.empty()) {
        error = "the folder has " + problem;
        return false;
    }
    // Sets, not scans: a save of many files must not take time by the square of their count.
    std::unordered_set<std::string_view> names;
    names.reserve(save.files.size());
    for (size_t i = 0; i < save.files.size(); ++i) {
        problem = cardNameProblem(save.files[i].name);
        if (!problem.empty() || isMetaName(save.files[i].name)) {
            error = "a file has " + (problem.empty() ? "a name the emulator keeps for itself" : problem);
            return false;
        }
        if (!names.insert(save.files[i].name).second) {
            error = "two files are named \"" + save.files[i].name + "\"";
            return false;
        }
    }
    const Save* old = find(save.folderName);
    if (old && !replace) {
        error = "the card already holds \"" + saveTextToDisplay(save.folderName) + "\"";
        if (taken) *taken = true;
        return false;
    }
    bool exact = true;
    const std::string host = folderCardHostName(save.folderName, exact);
    for (const Save& s : saves_)
        if (&s != old && s.hostName == host) {
            error = "the folder \"" + host + "\" already holds another save";
            return false;
        }
    // The same room the card image would need: the folder's clusters, its files', and one
    // more root cluster when the root directory grows into it.
    Save fresh;
    fresh.hostName = host;
    fresh.contents = save;
    const uint64_t saves = saves_.size() + (old ? 0 : 1);
    const uint64_t need = fresh.clusters() + (saves + 2 + 1) / 2 - (saves_.size() + 2 + 1) / 2;
    const uint64_t available = uint64_t(freeClusters()) + (old ? old->clusters() : 0);
    if (need > available) {
        error = "not enough room on the card: " + std::to_string(need) + " clusters needed, " +
                std::to_string(available) + " free";
        return false;
    }

    // Built whole under a name the emulator skips, then renamed into place. The pid in the
    // name tells a later run whether the folder is a killed run's leftover.
    removeStaleStaging(path_);
    const std::string staging = freeName(path_, std::string(STAGING_PREFIX) + std::to_string(currentProcessId()));
    const std::string stagingPath = join(path_, staging);
    // Registered before it exists, so a signal at any moment from its making on removes it
    // (removing a folder not yet made is harmless); a kill leaves it to the next change.
    struct Registered {
        int slot;
        ~Registered() { unregisterTemporaryFolder(slot); }
    } registered{registerTemporaryFolder(HostFolder(), stagingPath)};
    if (!makeFolder(stagingPath)) {
        error = stagingPath + ": cannot make: " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    {
        OpenFolder dir = openFolder(stagingPath);
        ok = dir.isOpen();
        std::vector<FolderIndexEntry> index;
        index.push_back({"$ROOT", 0, unixSecondsOfStamp(save.created), unixSecondsOfStamp(save.modified), true, true});
        std::unordered_set<std::string> hostNames;
        for (size_t i = 0; ok && i < save.files.size(); ++i) {
            const SaveFile& f = save.files[i];
            bool fileExact = true;
            std::string name = folderCardHostName(f.name, fileExact);
            if (!hostNames.insert(name).second) {
                error = "two files would be \"" + name + "\" on the host";
                ok = false;
                break;
            }
            ok = writeFileIn(dir.ref(), name, f.data.data(), f.data.size(), error);
            index.push_back({name, int64_t(i + 1), unixSecondsOfStamp(f.created), unixSecondsOfStamp(f.modified), true, true});
            if (ok && (!fileExact || f.mode != MODE_FILE || f.attribute != 0 || !stampFitsIndex(f.created) ||
                       !stampFitsIndex(f.modified))) {
                if (!makeFolder(META_FOLDER, dir.ref())) {
                    error = std::string(META_FOLDER) + ": cannot make: " + std::strerror(errno);
                    ok = false;
                    break;
                }
                OpenFolder meta = openFolder(META_FOLDER, dir.ref());
                const std::vector<uint8_t> e = metaEntry(f.mode, f.created, f.modified, f.attribute, f.name);
                ok = meta.isOpen() && writeFileIn(meta.ref(), name, e.data(), e.size(), error) && syncFolder(meta.ref());
            }
        }
        if (ok && (!exact || save.folderMode != MODE_DIRECTORY || save.attribute != 0 ||
                   !stampFitsIndex(save.created) || !stampFitsIndex(save.modified))) {
            const std::vector<uint8_t> e = metaEntry(save.folderMode, save.created, save.modified, save.attribute,
                                                     save.folderName);
            ok = writeFileIn(dir.ref(), META_DIRECTORY, e.data(), e.size(), error);
        }
        if (ok) {
            const std::string text = writeFolderIndex(index);
            ok = writeFileIn(dir.ref(), INDEX_NAME, text.data(), text.size(), error) && syncFolder(dir.ref());
        }
    }
    std::string asideName;
    if (ok && old) {
        asideName = freeName(path_, std::string(DELETED_PREFIX) + old->hostName);
        ok = renameFree(join(path_, old->hostName), join(path_, asideName), error);
        if (!ok) asideName.clear();
    }
    if (ok) ok = renameFree(stagingPath, join(path_, host), error);
    if (!ok) {
        if (error.empty()) error = std::strerror(errno ? errno : EIO);
        // Put the old save back where it was.
        if (!asideName.empty()) {
            std::string ignored;
            renameFree(join(path_, asideName), join(path_, old->hostName), ignored);
        }
        removeTree(stagingPath);
        return false;
    }
    OpenFolder card = openFolder(path_);
    if (card.isOpen()) syncFolder(card.ref());

    if (old) saves_.erase(saves_.begin() + (old - saves_.data()));
    Save loaded;
    readSave(host, loaded);
    saves_.push_back(std::move(loaded));
    return true;
}

bool FolderCard::deleteSave(std::string_view folder, std::string& error) {
    const Save* s = find(folder);
    if (!s) {
        error = "no save folder \"" + std::string(folder) + "\" on the card";
        return false;
    }
    removeStaleStaging(path_);
    const std::string aside = freeName(path_, std::string(DELETED_PREFIX) + s->hostName);
    if (!renameFree(join(path_, s->hostName), join(path_, aside), error)) return false;
    OpenFolder card = openFolder(path_);
    if (card.isOpen()) syncFolder(card.ref());
    saves_.erase(saves_.begin() + (s - saves_.data()));
    return true;
}

std::vector<Problem> FolderCard::check() const {
    std::vector<Problem> out = problems_;
    for (const Save& s : saves_) {
        out.insert(out.end(), s.problems.begin(), s.problems.end());
        const std::string problem = cardNameProblem(s.contents.folderName);
        if (!problem.empty())
            out.push_back({Severity::Error, {}, 0, "\"" + s.hostName + "\": the card cannot hold " + problem});
        for (const SaveFile& f : s.contents.files) {
            const std::string fp = cardNameProblem(f.name);
            if (!fp.empty())
                out.push_back({Severity::Error, {}, 0,
                               "\"" + s.hostName + "\": a file has " + fp + ": \"" + f.name + "\""});
        }
        for (const Save& t : saves_)
            if (&t < &s && t.contents.folderName == s.contents.folderName)
                out.push_back({Severity::Error, {}, 0, "\"" + t.hostName + "\" and \"" + s.hostName +
                                                             "\" are one save folder on the card"});
    }
    if (usedClusters() > capacity())
        out.push_back({Severity::Error, {}, 0, "the saves need " + std::to_string(usedClusters()) +
                                                     " clusters; the card has " + std::to_string(capacity())});
    return out;
}

}  // namespace marrowin::card
