#include "archive/psu_contents.h"

#include <algorithm>

#include "archive/psu_writer.h"

namespace marrowin {

namespace {

// A file name in a ".psu" header may run on to the header's end but needs its terminator there.
constexpr size_t PSU_FILE_NAME_MAX = ENTRY_NAME_MAX - 1;

}  // namespace

ContainerRead readPsu(ByteView bytes) {
    ContainerRead r;
    const EntryRecord folder = decodeEntry(bytes, 0, ENTRY_NAME_FIELD_SIZE);
    if (!(folder.mode & MODE_DIRECTORY_BIT)) {
        r.problems.push_back({Severity::Error, {}, 0, "the first entry is not a folder"});
        return r;
    }
    SaveContents& c = r.contents;
    takeFolderRecord(c, folder);

    for (uint64_t off = ENTRY_HEADER_SIZE; off < bytes.size; off = nextEntryOffset(bytes, off)) {
        const EntryRecord e = decodeEntry(bytes, off, ENTRY_NAME_MAX);
        if (e.mode & MODE_DIRECTORY_BIT) {  // "." and ".."; no container holds other folders
            if (e.name != "." && e.name != "..")
                r.problems.push_back({Severity::Warning, {}, 0, e.name + ": a folder inside the save, left out"});
            continue;
        }
        SaveFile f = saveFileOf(e);
        const uint64_t data = addSaturating(off, ENTRY_HEADER_SIZE);
        const uint64_t have = data < bytes.size ? std::min<uint64_t>(e.size, bytes.size - data) : 0;
        if (!bytes.fits(off, ENTRY_HEADER_SIZE))
            r.problems.push_back({Severity::Error, {}, 0, "the last entry's header is cut off"});
        if (have < e.size)
            r.problems.push_back({Severity::Error, {}, 0, f.name + ": cut off, " + std::to_string(have) + " of " +
                                                               std::to_string(e.size) + " bytes present"});
        if (have > 0) f.data.assign(bytes.data + data, bytes.data + data + have);
        c.files.push_back(std::move(f));
    }
    if (folder.size != c.files.size() + 2)
        r.problems.push_back({Severity::Warning, {}, 0, "the folder entry counts " + std::to_string(folder.size) +
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
    uint64_t total = PSU_FOLDER_ENTRIES_SIZE;
    for (const SaveFile& f : contents.files) {
        if (f.name.size() > PSU_FILE_NAME_MAX || f.name.empty()) {
            error = f.name.empty() ? "a file has no name" : f.name + ": the name is too long";
            return false;
        }
        if (f.data.size() > UINT32_MAX) {
            error = f.name + ": too large";
            return false;
        }
        total += psuFileSpan(f.data.size());
    }
    if (total > UINT32_MAX) {
        error = "the archive would be 4 GiB or more";
        return false;
    }
    out.clear();
    out.reserve(size_t(total));
    PsuWriter writer([&](const uint8_t* bytes, size_t size) {
        out.insert(out.end(), bytes, bytes + size);
        return true;
    });
    writer.begin(entryRecordOf(contents), uint32_t(contents.files.size()));
    for (const SaveFile& f : contents.files) {
        writer.file(entryRecordOf(f));
        writer.data(f.data.data(), f.data.size());
    }
    writer.finish();
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

}  // namespace marrowin
