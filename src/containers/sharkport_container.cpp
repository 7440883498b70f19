// SharkPort / X-Port saves: reading and writing.
#include "containers/sharkport_container.h"

#include <algorithm>
#include <cstring>

#include "containers/save_contents.h"

namespace marrowin {

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t bigEndianU16(ByteView v, uint64_t off) {
    uint8_t hi = 0, lo = 0;
    v.u8(off, hi);
    v.u8(off + 1, lo);
    return uint16_t(hi << 8 | lo);
}

std::string num(uint64_t n) { return std::to_string(n); }

void appendU32(Bytes& b, uint32_t v) {
    b.resize(b.size() + 4);
    putU32(b.data() + b.size() - 4, v);
}
void appendString(Bytes& b, std::string_view s) {
    appendU32(b, uint32_t(s.size()));
    b.insert(b.end(), s.begin(), s.end());
}

// Shift-JIS text cut to at most max bytes without splitting a two-byte character.
std::string_view shiftJisPrefix(std::string_view s, size_t max) {
    size_t end = 0;
    while (end < s.size()) {
        uint8_t b = uint8_t(s[end]);
        size_t width = ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
        if (end + width > max) break;
        end += width;
    }
    return s.substr(0, std::min(end, s.size()));
}

// One 250-byte record with the fields every known writer fills.
void appendRecord(Bytes& b, std::string_view name, uint32_t size, uint16_t mode,
                  const Stamp& created, const Stamp& modified, uint32_t fileCount,
                  std::string_view asciiTitle, std::string_view shiftJisTitle) {
    size_t at = b.size();
    b.resize(at + SHARKPORT_RECORD_LENGTH, 0);
    uint8_t* r = b.data() + at;
    putU16(r, SHARKPORT_RECORD_LENGTH);
    std::memcpy(r + SHARKPORT_NAME, name.data(), name.size());
    putU32(r + SHARKPORT_SIZE, size);
    r[SHARKPORT_MODE] = uint8_t(mode >> 8);
    r[SHARKPORT_MODE + 1] = uint8_t(mode);
    std::memcpy(r + SHARKPORT_CREATED, created.data(), created.size());
    std::memcpy(r + SHARKPORT_MODIFIED, modified.data(), modified.size());
    putU32(r + SHARKPORT_FILE_COUNT, fileCount);
    std::memcpy(r + SHARKPORT_CREATED_COPY, created.data(), created.size());
    std::memcpy(r + SHARKPORT_ASCII_TITLE, asciiTitle.data(), asciiTitle.size());
    std::memcpy(r + SHARKPORT_SJIS_TITLE, shiftJisTitle.data(), shiftJisTitle.size());
}

// The body: the folder's record, then each file's record and data, until the body ends.
void readBody(ByteView b, SaveContents& c, std::vector<Problem>& problems) {
    uint16_t length = 0;
    b.u16(0, length);
    uint32_t count = b.u32(SHARKPORT_SIZE);
    c.folderName = b.text(SHARKPORT_NAME, SHARKPORT_NAME_FIELD);
    c.folderMode = bigEndianU16(b, SHARKPORT_MODE);
    c.created = stampAt(b, SHARKPORT_CREATED);
    c.modified = stampAt(b, SHARKPORT_MODIFIED);

    uint64_t p = length;
    uint64_t total = 0;
    while (p < b.size) {
        std::string name = b.text(p + SHARKPORT_NAME, SHARKPORT_NAME_FIELD);
        std::string who = name.empty() ? "file " + num(c.files.size() + 1) : name;
        if (!b.u16(p, length) || length < SHARKPORT_RECORD_USED || length > b.size - p) {
            problems.push_back(
                {Severity::Error, {}, 0, who + ": the file's record is " +
                           (length < SHARKPORT_RECORD_USED && b.fits(p, 2) ? "damaged" : "cut off")});
            return;
        }
        SaveFile f;
        f.name = std::move(name);
        uint32_t size = b.u32(p + SHARKPORT_SIZE);
        f.mode = bigEndianU16(b, p + SHARKPORT_MODE);
        f.created = stampAt(b, p + SHARKPORT_CREATED);
        f.modified = stampAt(b, p + SHARKPORT_MODIFIED);
        uint64_t data = p + length;
        uint64_t have = std::min<uint64_t>(size, b.size - data);
        if (have > SAVE_EXPANDED_MAX - total) {
            problems.push_back({Severity::Error, {}, 0, who + ": the save holds more than " +
                                          num(SAVE_EXPANDED_MAX) + " bytes; the rest is left out"});
            return;
        }
        total += have;
        f.data.assign(b.data + data, b.data + data + have);
        c.files.push_back(std::move(f));
        if (have < size) {
            problems.push_back({Severity::Error, {}, 0, who + ": cut off, " + num(have) + " of " + num(size) +
                                          " bytes present"});
            return;
        }
        p = data + size;
    }
    if (uint64_t(count) != c.files.size() + 2)
        problems.push_back({Severity::Warning, {}, 0, "the folder counts " + num(count) + " entries; the save holds " +
                                       num(c.files.size()) + " files"});
}

}  // namespace

uint32_t sharkPortChecksum(const uint8_t* data, size_t size, uint32_t sum) {
    for (size_t k = 0; k < size; ++k) sum += uint32_t(data[k]) << (sum % 24);
    return sum;
}

bool looksLikeSharkPort(ByteView bytes, uint64_t) {
    uint32_t length = 0;
    return bytes.u32(0, length) && length == SHARKPORT_MAGIC_LENGTH &&
           bytes.fits(4, SHARKPORT_MAGIC_LENGTH) &&
           std::memcmp(bytes.data + 4, SHARKPORT_MAGIC, SHARKPORT_MAGIC_LENGTH) == 0;
}

ContainerRead readSharkPort(ByteView bytes) {
    ContainerRead r;
    if (!looksLikeSharkPort(bytes, bytes.size)) {
        r.problems.push_back({Severity::Error, {}, 0, "not a SharkPort save (no \"SharkPortSave\" header)"});
        return r;
    }
    uint64_t off = SHARKPORT_STRINGS_OFFSET;
    for (int k = 1; k <= 3; ++k) {
        uint32_t n = 0;
        if (!bytes.u32(off, n) || n > bytes.size - off - 4) {
            r.problems.push_back({Severity::Error, {}, 0, "the header's text " + num(k) + " runs past the end of the file"});
            return r;
        }
        off += 4 + uint64_t(n);
    }
    uint32_t declared = 0;
    if (!bytes.u32(off, declared)) {
        r.problems.push_back({Severity::Error, {}, 0, "the file ends before its body"});
        return r;
    }
    off += 4;
    uint64_t avail = bytes.size - off;
    uint64_t body = std::min<uint64_t>(declared, avail);
    if (declared > avail) {
        r.problems.push_back({Severity::Error, {}, 0, "the body is cut off: " + num(avail) + " of " + num(declared) +
                                        " bytes present"});
    } else if (avail - declared < 4) {
        r.problems.push_back({Severity::Error, {}, 0, "the checksum after the body is cut off"});
    } else {
        uint32_t stored = bytes.u32(off + declared);
        uint32_t sum = sharkPortChecksum(bytes.data + off, size_t(body));
        if (stored != sum)
            r.problems.push_back({Severity::Error, {}, 0, "the checksum does not match (stored " + num(stored) +
                                            ", computed " + num(sum) + ")"});
        if (avail - declared > 4)
            r.problems.push_back({Severity::Warning, {}, 0, num(avail - declared - 4) + " bytes after the checksum"});
    }

    ByteView b{bytes.data + off, body};
    uint16_t length = 0;
    if (!b.u16(0, length) || length < SHARKPORT_RECORD_USED || length > b.size) {
        r.problems.push_back({Severity::Error, {}, 0, "the folder's record is " +
                                        std::string(length < SHARKPORT_RECORD_USED && b.fits(0, 2)
                                                        ? "damaged" : "cut off")});
        return r;
    }
    readBody(b, r.contents, r.problems);
    r.ok = true;
    return r;
}

bool writeSharkPort(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error) {
    // The name fields hold 64 bytes, but cards and other tools take no more than 32.
    error = saveNameProblem(contents.folderName, "the folder");
    if (!error.empty()) return false;
    uint64_t data = 0;
    for (const SaveFile& f : contents.files) {
        error = saveNameProblem(f.name, "a file");
        if (!error.empty()) return false;
        data += f.data.size();
        if (data > SAVE_EXPANDED_MAX) {
            error = "the save holds more than " + num(SAVE_EXPANDED_MAX) + " bytes";
            return false;
        }
    }
    uint64_t bodySize = (contents.files.size() + 1) * uint64_t(SHARKPORT_RECORD_LENGTH) + data;
    if (bodySize > UINT32_MAX) {
        error = "the save has too many files";
        return false;
    }

    Bytes b;
    std::string asciiTitle = asciiTitleOf(contents);
    appendU32(b, SHARKPORT_MAGIC_LENGTH);
    b.insert(b.end(), SHARKPORT_MAGIC, SHARKPORT_MAGIC + SHARKPORT_MAGIC_LENGTH);
    appendU32(b, 0);
    appendString(b, asciiTitle);
    appendString(b, "");  // comment
    appendString(b, "");  // one reader assumes this one is empty
    appendU32(b, uint32_t(bodySize));
    size_t bodyStart = b.size();
    b.reserve(bodyStart + size_t(bodySize) + 4);

    // The record's titles keep a terminator for readers that expect one.
    std::string shiftJisTitle = shiftJisTitleOf(contents);
    appendRecord(b, contents.folderName, uint32_t(contents.files.size() + 2), contents.folderMode,
                 contents.created, contents.modified, uint32_t(contents.files.size()),
                 std::string_view(asciiTitle).substr(0, SHARKPORT_TITLE_FIELD - 1),
                 shiftJisPrefix(shiftJisTitle, SHARKPORT_TITLE_FIELD - 1));
    for (const SaveFile& f : contents.files) {
        appendRecord(b, f.name, uint32_t(f.data.size()), f.mode, f.created, f.modified, 1, f.name,
                     f.name);
        b.insert(b.end(), f.data.begin(), f.data.end());
    }
    appendU32(b, sharkPortChecksum(b.data() + bodyStart, b.size() - bodyStart));
    out = std::move(b);
    return true;
}

}  // namespace marrowin
