// Action Replay MAX saves (".max", "Ps2PowerSave"): a 0x5C-byte header with a CRC of the
// whole file, then an LZARI stream of records (size, 32-byte name, data, zero padding).
// The format keeps no modes, time stamps or attributes.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "containers/lzari.h"
#include "containers/save_contents.h"

namespace marrowin {

namespace {

constexpr char MAGIC[] = "Ps2PowerSave";
constexpr uint64_t MAGIC_SIZE = 12;
constexpr uint64_t CRC_OFFSET = 0x0C;
constexpr uint64_t FOLDER_NAME_OFFSET = 0x10;
constexpr uint64_t TITLE_OFFSET = 0x30;
constexpr uint64_t COMPRESSED_SIZE_OFFSET = 0x50;
constexpr uint64_t FILE_COUNT_OFFSET = 0x54;
constexpr uint64_t DECODED_SIZE_OFFSET = 0x58;
constexpr uint64_t HEADER_SIZE = 0x5C;
constexpr uint64_t NAME_FIELD = 32;
constexpr uint64_t RECORD_HEADER_SIZE = 4 + NAME_FIELD;
// Zero bytes after the stream, counted in the size field: a peer decoder that stops once it
// has fetched the last byte then still produces every byte.
constexpr uint64_t TRAILING_ZEROS = 4;

static_assert(sizeof(MAGIC) - 1 == MAGIC_SIZE);

// Records end where (offset + 8) is a multiple of 16, the last one included.
uint64_t paddedEnd(uint64_t end) { return ((end + 8 + 15) & ~uint64_t(15)) - 8; }

// zlib's CRC-32 of the file with its CRC field read as zero. Chunked: zlib takes 32-bit
// lengths on every host.
uint32_t fileCrc(ByteView bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    auto add = [&](uint64_t from, uint64_t to) {
        while (from < to) {
            uint64_t n = std::min<uint64_t>(to - from, 1u << 30);
            crc = crc32(crc, bytes.data + from, uInt(n));
            from += n;
        }
    };
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    add(0, CRC_OFFSET);
    crc = crc32(crc, zeros, 4);
    add(CRC_OFFSET + 4, bytes.size);
    return uint32_t(crc);
}

std::string hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

bool allZero(const uint8_t* p, uint64_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// Names the record a position falls in, for messages.
std::string recordLabel(const std::string& name, uint64_t index, uint64_t count) {
    if (!name.empty()) return name;
    return "file " + std::to_string(index + 1) + " of " + std::to_string(count);
}

}  // namespace

bool looksLikeMax(ByteView bytes, uint64_t fileSize) {
    return fileSize >= HEADER_SIZE && bytes.fits(0, MAGIC_SIZE) &&
           std::memcmp(bytes.data, MAGIC, MAGIC_SIZE) == 0;
}

ContainerRead readMax(ByteView bytes) {
    ContainerRead r;
    auto error = [&](std::string text) { r.problems.push_back({Severity::Error, {}, 0, std::move(text)}); };
    auto warning = [&](std::string text) { r.problems.push_back({Severity::Warning, {}, 0, std::move(text)}); };
    if (!looksLikeMax(bytes, bytes.size)) {
        error("not an Action Replay MAX save (no \"Ps2PowerSave\" header)");
        return r;
    }
    uint32_t stored = bytes.u32(CRC_OFFSET);
    uint32_t computed = fileCrc(bytes);
    if (stored != computed)
        error("CRC mismatch: the header says " + hex32(stored) + ", the file gives " +
              hex32(computed));

    SaveContents& c = r.contents;
    c.folderName = bytes.text(FOLDER_NAME_OFFSET, NAME_FIELD);
    c.folderMode = MODE_DIRECTORY;
    uint32_t sizeField = bytes.u32(COMPRESSED_SIZE_OFFSET);
    uint32_t count = bytes.u32(FILE_COUNT_OFFSET);
    uint32_t declared = bytes.u32(DECODED_SIZE_OFFSET);

    // The size field follows one of two conventions in real files, and neither is needed:
    // the stream runs to the end of the file.
    uint64_t streamBytes = bytes.size - HEADER_SIZE;
    if (sizeField != streamBytes && sizeField != streamBytes + 4)
        warning("the compressed size field says " + std::to_string(sizeField) + "; the file holds " +
                std::to_string(streamBytes) + " bytes of stream");

    if (declared > SAVE_EXPANDED_MAX) {
        error("the header declares " + std::to_string(declared) +
              " bytes of decoded data, more than any save holds; refused");
        return r;
    }
    LzariDecoded decoded = lzariDecode(ByteView{bytes.data + HEADER_SIZE, streamBytes}, declared,
                                       SAVE_EXPANDED_MAX);
    const std::vector<uint8_t>& data = decoded.data;
    ByteView d{data.data(), data.size()};
    bool endedEarly = decoded.status != LzariStatus::Complete;

    // Records, each checked against the decoded bytes actually present.
    uint64_t off = 0;
    std::string cutRecord;  // the record the decoded data ends in, if it ends in one
    bool dataCut = false;   // ... and it ends inside that record's data
    bool headerCut = false;  // ... or inside its header
    for (uint64_t i = 0; i < count; ++i) {
        if (off >= d.size) {
            cutRecord = "file " + std::to_string(i + 1) + " of " + std::to_string(count);
            break;
        }
        if (!d.fits(off, RECORD_HEADER_SIZE)) {
            cutRecord = recordLabel(d.text(off + 4, NAME_FIELD), i, count) + " (its header)";
            headerCut = true;
            off = d.size;
            break;
        }
        SaveFile f;
        uint32_t size = d.u32(off);
        f.name = d.text(off + 4, NAME_FIELD);
        f.mode = MODE_FILE;
        uint64_t nameEnd = off + 4 + f.name.size();
        if (nameEnd < off + RECORD_HEADER_SIZE &&
            !allZero(data.data() + nameEnd, off + RECORD_HEADER_SIZE - nameEnd))
            warning(recordLabel(f.name, i, count) + ": bytes after the name's end are not zero");
        uint64_t start = off + RECORD_HEADER_SIZE;
        uint64_t have = std::min<uint64_t>(size, d.size - start);
        f.data.assign(data.begin() + ptrdiff_t(start), data.begin() + ptrdiff_t(start + have));
        std::string label = recordLabel(f.name, i, count);
        c.files.push_back(std::move(f));
        if (have < size) {
            cutRecord = label;
            dataCut = true;
            if (!endedEarly)
                error(label + ": cut off, " + std::to_string(have) + " of " + std::to_string(size) +
                      " bytes present");
            off = d.size;
            break;
        }
        uint64_t end = start + size;
        uint64_t next = std::min<uint64_t>(paddedEnd(end), d.size);
        if (!allZero(data.data() + end, next - end))
            warning(label + ": the padding after its data is not zero");
        off = next;
    }
    if (endedEarly) {
        std::string where = cutRecord.empty() ? "after the last file" : "in " + cutRecord;
        std::string text = "compressed stream ends early " + where + ": " +
                           std::to_string(data.size()) + " of " + std::to_string(declared) +
                           " bytes decoded";
        // Nothing is lost when every file came out whole.
        r.problems.push_back({cutRecord.empty() ? Severity::Warning : Severity::Error, {}, 0, text});
    } else if (!cutRecord.empty() && !dataCut) {
        error("the header counts " + std::to_string(count) + " files; the data holds " +
              std::to_string(c.files.size()) + (headerCut ? " and a cut-off record" : ""));
    }
    if (off < d.size) {
        // Bytes after the counted records: either more records than the count says (files
        // that would go unread) or harmless junk.
        uint64_t extra = 0, o = off;
        while (d.fits(o, RECORD_HEADER_SIZE)) {
            uint32_t size = d.u32(o);
            if (d.text(o + 4, NAME_FIELD).empty() || size > d.size - o - RECORD_HEADER_SIZE) break;
            ++extra;
            o = std::min<uint64_t>(paddedEnd(o + RECORD_HEADER_SIZE + size), d.size);
        }
        if (extra > 0)
            error("the header counts " + std::to_string(count) + " files, but " +
                  std::to_string(extra) + " more follow in the data; they were not read");
        else if (!allZero(data.data() + off, d.size - off))
            warning(std::to_string(d.size - off) + " bytes after the last file are not zero");
    }
    // Bytes the decoder never needed: zeros are what writers add on purpose.
    uint64_t used = decoded.inputBytesUsed;
    if (!endedEarly && used < streamBytes && !allZero(bytes.data + HEADER_SIZE + used, streamBytes - used))
        warning(std::to_string(streamBytes - used) + " bytes follow the compressed stream");

    r.ok = !(c.files.empty() && count > 0);
    return r;
}

bool writeMax(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error) {
    auto badName = [&](const std::string& name, const std::string& what) {
        if (name.empty())
            error = what + " has no name";
        else if (name.size() > NAME_FIELD)
            error = what + ": the name is longer than 32 bytes, which this container cannot hold";
        else if (name.find('\0') != std::string::npos)
            error = what + ": the name holds a zero byte";
        else
            return false;
        return true;
    };
    if (badName(contents.folderName, contents.folderName.empty() ? "the folder" : contents.folderName))
        return false;
    uint64_t total = 0;
    for (size_t i = 0; i < contents.files.size(); ++i) {
        const SaveFile& f = contents.files[i];
        if (badName(f.name, f.name.empty() ? "file " + std::to_string(i + 1) : f.name)) return false;
        if (f.data.size() > SAVE_EXPANDED_MAX) {
            error = f.name + ": too large for this container";
            return false;
        }
        total = paddedEnd(total + RECORD_HEADER_SIZE + f.data.size());
        if (total > SAVE_EXPANDED_MAX) {
            error = "the save holds more than 64 MiB, more than this container is read back with";
            return false;
        }
    }
    if (contents.files.size() > UINT32_MAX) {
        error = "too many files";
        return false;
    }

    std::vector<uint8_t> records(size_t(total), 0);
    uint64_t off = 0;
    for (const SaveFile& f : contents.files) {
        putU32(records.data() + off, uint32_t(f.data.size()));
        std::memcpy(records.data() + off + 4, f.name.data(), f.name.size());
        if (!f.data.empty())
            std::memcpy(records.data() + off + RECORD_HEADER_SIZE, f.data.data(), f.data.size());
        off = paddedEnd(off + RECORD_HEADER_SIZE + f.data.size());
    }
    std::vector<uint8_t> stream = lzariEncode(records);

    // A non-empty ASCII title: one peer refuses a file without one. At most 31 characters so
    // the field keeps a terminator for readers that expect one.
    std::string title = asciiTitleOf(contents);
    if (title.empty()) title = contents.folderName;
    for (char& ch : title)
        if (uint8_t(ch) < 0x20 || uint8_t(ch) > 0x7E) ch = '?';
    title.resize(std::min<size_t>(title.size(), NAME_FIELD - 1));

    uint64_t streamBytes = stream.size() + TRAILING_ZEROS;
    out.assign(size_t(HEADER_SIZE + streamBytes), 0);
    uint8_t* p = out.data();
    std::memcpy(p, MAGIC, MAGIC_SIZE);
    std::memcpy(p + FOLDER_NAME_OFFSET, contents.folderName.data(), contents.folderName.size());
    std::memcpy(p + TITLE_OFFSET, title.data(), title.size());
    // Stream bytes + 4: both peer conventions then read the whole stream.
    putU32(p + COMPRESSED_SIZE_OFFSET, uint32_t(streamBytes + 4));
    putU32(p + FILE_COUNT_OFFSET, uint32_t(contents.files.size()));
    putU32(p + DECODED_SIZE_OFFSET, uint32_t(total));
    if (!stream.empty()) std::memcpy(p + HEADER_SIZE, stream.data(), stream.size());
    putU32(p + CRC_OFFSET, fileCrc(ByteView{out.data(), out.size()}));
    return true;
}

}  // namespace marrowin
