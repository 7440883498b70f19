// CodeBreaker saves: reading and writing.
#include "containers/cbs_container.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "containers/save_contents.h"

namespace marrowin {

namespace {

// Row n holds entries 16n .. 16n+15.
constexpr std::array<uint8_t, 256> CBS_PERMUTATION = {
    0x5f, 0x1f, 0x85, 0x6f, 0x31, 0xaa, 0x3b, 0x18, 0x21, 0xb9, 0xce, 0x1c, 0x07, 0x4c, 0x9c, 0xb4,
    0x81, 0xb8, 0xef, 0x98, 0x59, 0xae, 0xf9, 0x26, 0xe3, 0x80, 0xa3, 0x29, 0x2d, 0x73, 0x51, 0x62,
    0x7c, 0x64, 0x46, 0xf4, 0x34, 0x1a, 0xf6, 0xe1, 0xba, 0x3a, 0x0d, 0x82, 0x79, 0x0a, 0x5c, 0x16,
    0x71, 0x49, 0x8e, 0xac, 0x8c, 0x9f, 0x35, 0x19, 0x45, 0x94, 0x3f, 0x56, 0x0c, 0x91, 0x00, 0x0b,
    0xd7, 0xb0, 0xdd, 0x39, 0x66, 0xa1, 0x76, 0x52, 0x13, 0x57, 0xf3, 0xbb, 0x4e, 0xe5, 0xdc, 0xf0,
    0x65, 0x84, 0xb2, 0xd6, 0xdf, 0x15, 0x3c, 0x63, 0x1d, 0x89, 0x14, 0xbd, 0xd2, 0x36, 0xfe, 0xb1,
    0xca, 0x8b, 0xa4, 0xc6, 0x9e, 0x67, 0x47, 0x37, 0x42, 0x6d, 0x6a, 0x03, 0x92, 0x70, 0x05, 0x7d,
    0x96, 0x2f, 0x40, 0x90, 0xc4, 0xf1, 0x3e, 0x3d, 0x01, 0xf7, 0x68, 0x1e, 0xc3, 0xfc, 0x72, 0xb5,
    0x54, 0xcf, 0xe7, 0x41, 0xe4, 0x4d, 0x83, 0x55, 0x12, 0x22, 0x09, 0x78, 0xfa, 0xde, 0xa7, 0x06,
    0x08, 0x23, 0xbf, 0x0f, 0xcc, 0xc1, 0x97, 0x61, 0xc5, 0x4a, 0xe6, 0xa0, 0x11, 0xc2, 0xea, 0x74,
    0x02, 0x87, 0xd5, 0xd1, 0x9d, 0xb7, 0x7e, 0x38, 0x60, 0x53, 0x95, 0x8d, 0x25, 0x77, 0x10, 0x5e,
    0x9b, 0x7f, 0xd8, 0x6e, 0xda, 0xa2, 0x2e, 0x20, 0x4f, 0xcd, 0x8f, 0xcb, 0xbe, 0x5a, 0xe0, 0xed,
    0x2c, 0x9a, 0xd4, 0xe2, 0xaf, 0xd0, 0xa9, 0xe8, 0xad, 0x7a, 0xbc, 0xa8, 0xf2, 0xee, 0xeb, 0xf5,
    0xa6, 0x99, 0x28, 0x24, 0x6c, 0x2b, 0x75, 0x5d, 0xf8, 0xd3, 0x86, 0x17, 0xfb, 0xc0, 0x7b, 0xb3,
    0x58, 0xdb, 0xc7, 0x4b, 0xff, 0x04, 0x50, 0xe9, 0x88, 0x69, 0xc9, 0x2a, 0xab, 0xfd, 0x5b, 0x1b,
    0x8a, 0xd9, 0xec, 0x27, 0x44, 0x0e, 0x33, 0xc8, 0x6b, 0x93, 0x32, 0x48, 0xb6, 0x30, 0x43, 0xa5,
};

// A mistyped table entry would repeat a value and silently garble every save.
constexpr bool isPermutation(const std::array<uint8_t, 256>& t) {
    bool seen[256] = {};
    for (uint8_t v : t) {
        if (seen[v]) return false;
        seen[v] = true;
    }
    return true;
}
static_assert(isPermutation(CBS_PERMUTATION));

constexpr size_t CHUNK = 64 * 1024;

std::string sizeText(uint64_t n) { return std::to_string(n); }

// Inflates the encrypted payload into out, never past `expanded` bytes. Problems go to
// `problems`; false when the stream is damaged or incomplete (out then holds what came out).
bool inflatePayload(ByteView payload, uint32_t expanded, std::vector<uint8_t>& out,
                    std::vector<Problem>& problems) {
    out.clear();
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        problems.push_back({Severity::Error, {}, 0, "out of memory while expanding the save"});
        return false;
    }
    CbsCipher cipher;
    std::vector<uint8_t> chunk(std::min<uint64_t>(CHUNK, payload.size));
    uint64_t fed = 0;
    size_t produced = 0;
    uint8_t spill = 0;  // a byte past the declared size lands here, so it is noticed
    bool tooLong = false;
    int rc = Z_OK;
    for (;;) {
        if (z.avail_in == 0 && fed < payload.size) {
            size_t n = size_t(std::min<uint64_t>(chunk.size(), payload.size - fed));
            std::memcpy(chunk.data(), payload.data + fed, n);
            cipher.apply(chunk.data(), n);
            z.next_in = chunk.data();
            z.avail_in = uInt(n);
            fed += n;
        }
        bool spilling = produced == expanded;
        if (spilling) {
            z.next_out = &spill;
            z.avail_out = 1;
        } else {
            // Grown as data comes, so a small file that claims a large size costs little.
            if (out.size() == produced)
                out.resize(std::min<size_t>(expanded, std::max<size_t>(produced * 2, CHUNK)));
            z.next_out = out.data() + produced;
            z.avail_out = uInt(out.size() - produced);
        }
        uInt room = z.avail_out;
        rc = inflate(&z, Z_NO_FLUSH);
        if (spilling && z.avail_out == 0) {
            tooLong = true;
            break;
        }
        if (!spilling) produced += room - z.avail_out;
        if (rc == Z_STREAM_END || rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_MEM_ERROR ||
            rc == Z_STREAM_ERROR)
            break;
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && fed == payload.size) break;  // input used up
    }
    std::string message = z.msg ? z.msg : "";
    uint64_t unused = z.avail_in + (payload.size - fed);
    inflateEnd(&z);
    out.resize(produced);

    const std::string declared = sizeText(expanded);
    if (tooLong) {
        problems.push_back({Severity::Error, {}, 0, "the compressed data holds more than the " + declared +
                                      " bytes the header declares; the rest is left out"});
        return false;
    }
    if (rc == Z_STREAM_END) {
        if (produced < expanded) {
            problems.push_back({Severity::Error, {}, 0, "the compressed data ends after " + sizeText(produced) +
                                          " of the " + declared + " bytes the header declares"});
            return false;
        }
        if (unused > 0)
            problems.push_back({Severity::Warning, {}, 0, sizeText(unused) + " bytes after the compressed data"});
        return true;
    }
    if (rc == Z_DATA_ERROR && message == "incorrect data check")
        problems.push_back({Severity::Error, {}, 0, "the compressed data fails its Adler-32 check"});
    else if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT)
        problems.push_back({Severity::Error, {}, 0, "the compressed data is damaged after " + sizeText(produced) +
                                      " bytes" + (message.empty() ? "" : " (" + message + ")")});
    else if (rc == Z_MEM_ERROR)
        problems.push_back({Severity::Error, {}, 0, "out of memory while expanding the save"});
    else if (produced == expanded)
        problems.push_back({Severity::Error, {}, 0, "the compressed data is cut off before its end and Adler-32 check"});
    else
        problems.push_back({Severity::Error, {}, 0, "the compressed data is cut off after " + sizeText(produced) +
                                      " of " + declared + " bytes"});
    return false;
}

// The records: no count, one after another while a whole record header remains.
void readRecords(ByteView d, SaveContents& c, std::vector<Problem>& problems) {
    uint64_t off = 0;
    while (d.size - off >= CBS_RECORD_HEADER) {
        SaveFile f;
        f.created = stampAt(d, off + CBS_RECORD_CREATED);
        f.modified = stampAt(d, off + CBS_RECORD_MODIFIED);
        uint32_t size = d.u32(off + CBS_RECORD_SIZE);
        f.mode = d.u16(off + CBS_RECORD_MODE);
        f.name = d.text(off + CBS_RECORD_NAME, CBS_NAME_FIELD);
        uint64_t data = off + CBS_RECORD_HEADER;
        uint64_t have = std::min<uint64_t>(size, d.size - data);
        f.data.assign(d.data + data, d.data + data + have);
        c.files.push_back(std::move(f));
        if (have < size) {
            problems.push_back({Severity::Error, {}, 0, c.files.back().name + ": cut off, " + sizeText(have) +
                                          " of " + sizeText(size) + " bytes present"});
            return;
        }
        off = data + size;
    }
    if (off < d.size)
        problems.push_back({Severity::Error, {}, 0, "the data ends inside a file header (" + sizeText(d.size - off) +
                                      " bytes after the last file)"});
}

// Its name fields are card names.
static_assert(CBS_NAME_FIELD == SAVE_NAME_MAX);

}  // namespace

CbsCipher::CbsCipher() { std::memcpy(s, CBS_PERMUTATION.data(), sizeof s); }

void CbsCipher::apply(uint8_t* data, size_t size) {
    for (size_t k = 0; k < size; ++k) {
        i = uint8_t(i + 1);
        j = uint8_t(j + s[i]);
        std::swap(s[i], s[j]);
        data[k] ^= s[uint8_t(s[i] + s[j])];
    }
}

bool looksLikeCbs(ByteView bytes, uint64_t fileSize) {
    uint32_t headerSize = 0;
    return bytes.fits(0, sizeof CBS_MAGIC) &&
           std::memcmp(bytes.data + CBS_MAGIC_OFFSET, CBS_MAGIC, sizeof CBS_MAGIC) == 0 &&
           bytes.u32(CBS_HEADER_SIZE_OFFSET, headerSize) && headerSize >= CBS_HEADER_MIN &&
           headerSize <= fileSize;
}

ContainerRead readCbs(ByteView bytes) {
    ContainerRead r;
    if (!bytes.fits(0, CBS_HEADER_MIN) ||
        std::memcmp(bytes.data + CBS_MAGIC_OFFSET, CBS_MAGIC, sizeof CBS_MAGIC) != 0) {
        r.problems.push_back({Severity::Error, {}, 0, "not a CodeBreaker save (no \"CFU\" header)"});
        return r;
    }
    uint32_t headerSize = bytes.u32(CBS_HEADER_SIZE_OFFSET);
    if (headerSize < CBS_HEADER_MIN || headerSize > bytes.size) {
        r.problems.push_back({Severity::Error, {}, 0, "the header size " + sizeText(headerSize) +
                                        " does not fit the file (" + sizeText(bytes.size) +
                                        " bytes)"});
        return r;
    }
    uint32_t expanded = bytes.u32(CBS_EXPANDED_SIZE_OFFSET);
    if (expanded > SAVE_EXPANDED_MAX) {
        r.problems.push_back({Severity::Error, {}, 0, "the save claims " + sizeText(expanded) +
                                        " bytes of contents, more than any memory card holds"});
        return r;
    }
    uint64_t payloadSize = bytes.size - headerSize;
    // Tools store either the payload's length or the whole file's; neither is needed.
    uint32_t stored = bytes.u32(CBS_STORED_SIZE_OFFSET);
    if (stored != payloadSize && stored != bytes.size)
        r.problems.push_back({Severity::Warning, {}, 0, "the compressed size field (" + sizeText(stored) +
                                         ") is neither the payload's length nor the file's"});

    SaveContents& c = r.contents;
    c.folderName = bytes.text(CBS_FOLDER_NAME_OFFSET, CBS_NAME_FIELD);
    c.created = stampAt(bytes, CBS_FOLDER_CREATED_OFFSET);
    c.modified = stampAt(bytes, CBS_FOLDER_MODIFIED_OFFSET);
    c.folderMode = uint16_t(bytes.u32(CBS_FOLDER_MODE_OFFSET));

    std::vector<uint8_t> records;
    bool complete = inflatePayload(ByteView{bytes.data + headerSize, payloadSize}, expanded,
                                   records, r.problems);
    readRecords(ByteView{records.data(), records.size()}, c, r.problems);
    r.ok = complete || !c.files.empty();
    return r;
}

bool writeCbs(const SaveContents& contents, std::vector<uint8_t>& out, std::string& error) {
    error = saveNameProblem(contents.folderName, "the folder");
    if (!error.empty()) return false;
    uint64_t total = 0;
    for (const SaveFile& f : contents.files) {
        error = saveNameProblem(f.name, "a file");
        if (!error.empty()) return false;
        total += CBS_RECORD_HEADER + uint64_t(f.data.size());
        if (total > SAVE_EXPANDED_MAX) {
            error = "the save holds more than " + sizeText(SAVE_EXPANDED_MAX) + " bytes";
            return false;
        }
    }

    std::vector<uint8_t> records(size_t(total), 0);
    uint8_t* p = records.data();
    for (const SaveFile& f : contents.files) {
        std::memcpy(p + CBS_RECORD_CREATED, f.created.data(), f.created.size());
        std::memcpy(p + CBS_RECORD_MODIFIED, f.modified.data(), f.modified.size());
        putU32(p + CBS_RECORD_SIZE, uint32_t(f.data.size()));
        putU16(p + CBS_RECORD_MODE, f.mode);
        std::memcpy(p + CBS_RECORD_NAME, f.name.data(), f.name.size());
        p += CBS_RECORD_HEADER;
        if (!f.data.empty()) std::memcpy(p, f.data.data(), f.data.size());
        p += f.data.size();
    }

    uLongf packed = compressBound(uLong(records.size()));
    std::vector<uint8_t> file;
    file.resize(CBS_HEADER_SIZE + size_t(packed));
    if (compress2(file.data() + CBS_HEADER_SIZE, &packed, records.data(), uLong(records.size()),
                  9) != Z_OK) {
        error = "out of memory while compressing the save";
        return false;
    }
    file.resize(CBS_HEADER_SIZE + size_t(packed));
    CbsCipher().apply(file.data() + CBS_HEADER_SIZE, packed);

    uint8_t* h = file.data();
    std::memset(h, 0, CBS_HEADER_SIZE);
    std::memcpy(h + CBS_MAGIC_OFFSET, CBS_MAGIC, sizeof CBS_MAGIC);
    putU32(h + CBS_UNKNOWN_OFFSET, CBS_UNKNOWN_WORD);
    putU32(h + CBS_HEADER_SIZE_OFFSET, CBS_HEADER_SIZE);
    putU32(h + CBS_EXPANDED_SIZE_OFFSET, uint32_t(records.size()));
    // The whole file's size: the convention every reader accepts.
    putU32(h + CBS_STORED_SIZE_OFFSET, uint32_t(file.size()));
    std::memcpy(h + CBS_FOLDER_NAME_OFFSET, contents.folderName.data(), contents.folderName.size());
    std::memcpy(h + CBS_FOLDER_CREATED_OFFSET, contents.created.data(), contents.created.size());
    std::memcpy(h + CBS_FOLDER_MODIFIED_OFFSET, contents.modified.data(), contents.modified.size());
    putU32(h + CBS_FOLDER_MODE_OFFSET, contents.folderMode);
    // Shown by the device's save list; a derived label, so a long one is shortened.
    std::string title = asciiTitleOf(contents).substr(0, CBS_TITLE_FIELD - 1);
    std::memcpy(h + CBS_TITLE_OFFSET, title.data(), title.size());

    out = std::move(file);
    return true;
}

}  // namespace marrowin
