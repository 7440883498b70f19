#include "operations/archive_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "operations/archive_export.h"
#include "base/save_text.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_model.h"

namespace marrowin {

namespace {


constexpr uint32_t TEXTURE_PIXELS = TEXTURE_SIDE * TEXTURE_SIDE;
constexpr uint64_t PLAIN_TEXTURE_BYTES = 2 * uint64_t(TEXTURE_PIXELS);
constexpr uint64_t ANIMATION_HEAD_SIZE = 20;
// The longest file name Linux takes in one component (as extraction cuts them).
constexpr size_t HOST_NAME_MAX_BYTES = 255;

std::string hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}
std::string num(uint64_t v) { return std::to_string(v); }
// Messages are for people: save text is decoded here, once, and a host name (already what
// extraction writes) is quoted as it stands.
std::string quoted(std::string_view saveText) { return "\"" + saveTextToDisplay(saveText) + "\""; }
std::string quotedHost(std::string_view hostName) { return "\"" + std::string(hostName) + "\""; }

// The lookup's case fold: bytes that differ only in bit 5 are one.
std::string foldedName(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = char(uint8_t(c) & ~0x20);
    return out;
}

struct Entry {
    uint64_t offset;
    bool directory;
    uint32_t size;
    std::string name;
    bool trailingZeros = false;  // fewer than 512 zero bytes at the end, read as a header
};

class Checker {
public:
    explicit Checker(const SaveImage& image) : image_(image), v_(image.view()), fileSize_(image.fileSize) {}

    std::vector<Problem> run() {
        if (!recognised()) return std::move(problems_);
        checkFirstEntries();
        walk();
        checkCount();
        checkNames();
        checkDescriptorAndIcons();
        std::stable_sort(problems_.begin(), problems_.end(),
                         [](const Problem& a, const Problem& b) { return a.offset < b.offset; });
        return std::move(problems_);
    }

private:
    const SaveImage& image_;
    ByteView v_;
    uint64_t fileSize_;
    std::vector<Problem> problems_;
    std::vector<Entry> entries_;  // as the walk visits them, the folder's own entry first
    bool firstIsDirectory_ = true;

    void add(Severity s, std::string_view entry, uint64_t offset, std::string message) {
        problems_.push_back({s, std::string(entry), offset, std::move(message)});
    }
    void error(std::string_view entry, uint64_t offset, std::string message) {
        add(Severity::Error, entry, offset, std::move(message));
    }
    void warning(std::string_view entry, uint64_t offset, std::string message) {
        add(Severity::Warning, entry, offset, std::move(message));
    }

    bool recognised() {
        if (image_.empty()) {
            error({}, 0, "nothing loaded");
            return false;
        }
        switch (detectArchiveKind(image_)) {
        case ArchiveKind::SaveArchive:
            return true;
        case ArchiveKind::PowerSaveArchive:
            error({}, 0, "a Ps2PowerSave archive, which is refused");
            return false;
        case ArchiveKind::NotRecognized:
            break;
        }
        if (fileSize_ <= 3 * uint64_t(ENTRY_HEADER_SIZE))
            error({}, 0, "not a save archive: " + num(fileSize_) +
                             " bytes, too short for the folder's three entries and a file");
        else if (v_.u32(ENTRY_HEADER_SIZE + ENTRY_NAME_OFFSET) != 0x2E)
            error({}, ENTRY_HEADER_SIZE, "not a save archive: the second entry is not named \".\"");
        else
            error({}, 2 * ENTRY_HEADER_SIZE, "not a save archive: the third entry is not named \"..\"");
        return false;
    }

    void checkFirstEntries() {
        const EntryRecord first = decodeEntry(v_, 0, ENTRY_NAME_FIELD_SIZE);
        firstIsDirectory_ = first.mode & MODE_DIRECTORY_BIT;
        if (!firstIsDirectory_)
            error(first.name, 0,
                  "the folder's entry is not a directory entry: readers take it as a file of " +
                      num(first.size) + " bytes");
        for (uint64_t off : {uint64_t(ENTRY_HEADER_SIZE), 2 * uint64_t(ENTRY_HEADER_SIZE)}) {
            const EntryRecord dots = decodeEntry(v_, off, ENTRY_NAME_MAX);
            if (!(dots.mode & MODE_DIRECTORY_BIT))
                error(dots.name, off, "not a directory entry: readers take it as a file of " + num(dots.size) + " bytes");
        }

        // Extraction names its folder from the first name field whatever the entry's mode.
        const std::string& folder = first.name;
        std::string host = saveTextToHostName(folder);
        if (folder.empty())
            error(folder, ENTRY_NAME_OFFSET, "the folder name is empty: extraction names the folder \"_\"");
        else if (host == "." || host == "..")
            error(folder, ENTRY_NAME_OFFSET, "the folder name " + quoted(folder) +
                                                 " is not a folder of its own: extraction adds '_'");
        else if (host.find('/') != std::string::npos)
            error(folder, ENTRY_NAME_OFFSET, "the folder name holds '/': extraction writes it as '_'");
        else
            windowsNameWarning(folder, ENTRY_NAME_OFFSET, "folder");
    }

    bool allZero(uint64_t from, uint64_t to, uint64_t& firstNonZero) const {
        for (uint64_t i = from; i < to; ++i)
            if (v_.u8(i) != 0) {
                firstNonZero = i;
                return false;
            }
        return true;
    }

    void walk() {
        for (uint64_t off = 0; off < fileSize_; off = nextEntryOffset(image_, off)) {
            uint64_t present = fileSize_ - off;
            if (present < ENTRY_HEADER_SIZE) {
                uint64_t at;
                // The walk reads a header there whatever the bytes: zeros make a file entry with
                // an empty name and no data. Said once here; the names are still compared.
                if (allZero(off, fileSize_, at)) {
                    error({}, off,
                          num(present) + (present == 1 ? " zero byte" : " zero bytes") +
                              " after the last entry: readers take them for a file with an empty "
                              "name and no data, which info lists and extraction writes as an "
                              "empty file \"_\"");
                    entries_.push_back(Entry{off, false, 0, {}, true});
                    return;
                }
                error(entryNameAt(image_, off), off,
                      "entry header runs past the end of the file: " + num(present) + " of " +
                          num(ENTRY_HEADER_SIZE) + " bytes present");
            }
            const EntryRecord record = decodeEntry(v_, off, off == 0 ? ENTRY_NAME_FIELD_SIZE : ENTRY_NAME_MAX);
            Entry e{off, bool(record.mode & MODE_DIRECTORY_BIT), record.size, record.name};
            entries_.push_back(e);
            if (e.directory) {
                if (off > 2 * uint64_t(ENTRY_HEADER_SIZE))
                    warning(e.name, off, "a directory entry among the files: every reader passes it over");
                continue;
            }
            if (present < ENTRY_HEADER_SIZE) continue;
            checkFileData(e);
        }
    }

    void checkFileData(const Entry& e) {
        uint64_t data = e.offset + ENTRY_HEADER_SIZE;
        uint64_t present = data < fileSize_ ? fileSize_ - data : 0;
        if (e.size > present) {
            error(e.name, data, "its data runs past the end of the file: " + num(e.size) + " bytes, " +
                                    num(present) + " present");
            return;
        }
        uint64_t dataEnd = data + e.size;
        uint64_t padEnd = data + paddedDataSize(e.size);
        uint64_t at;
        if (!allZero(dataEnd, std::min(padEnd, fileSize_), at))
            warning(e.name, at, "padding after the data holds bytes other than zero");
        if (padEnd > fileSize_)
            warning(e.name, dataEnd, "padding cut short by the end of the file: " +
                                         num(fileSize_ - dataEnd) + " of " + num(padEnd - dataEnd) +
                                         " bytes present");
    }

    void checkCount() {
        if (!firstIsDirectory_ || entries_.empty()) return;
        // "." and ".." and the files; a directory among the files is no entry of this folder.
        uint64_t files = 0;
        for (const Entry& e : entries_) files += e.directory || e.trailingZeros ? 0 : 1;
        uint64_t counted = files + 2;
        uint32_t said = decodeEntry(v_, 0, 0).size;
        if (said == counted) return;
        error(entries_[0].name, ENTRY_SIZE_OFFSET,
              "the folder's entry counts " + num(said) + " entries, the archive holds " + num(counted) +
                  " (\".\", \"..\" and " + num(files) + (files == 1 ? " file)" : " files)"));
    }

    // A name Windows would not take as it stands: extraction there, or with --portable-names,
    // writes another.
    void windowsNameWarning(const std::string& saveText, uint64_t at, const char* what) {
        std::string problem = windowsNameProblem(saveTextToHostName(saveText));
        if (problem.empty()) return;
        warning(saveText, at, std::string("the ") + what + " name " + problem +
                                  ", which Windows does not take: extraction there or with "
                                  "--portable-names writes it as " +
                                  quotedHost(extractedFileName(saveText, NATIVE_HOST_NAME_STYLE, true)));
    }

    void checkNames() {
        std::unordered_map<std::string, uint64_t> extracted;  // name on disk -> first entry
        std::unordered_map<std::string, uint64_t> folded;     // lookup key -> first entry
        // Windows names, letter case ignored as Windows does -> first entry.
        std::unordered_map<std::string, uint64_t> onWindows;
        for (const Entry& e : entries_) {
            if (e.directory || e.offset == 0) continue;
            uint64_t nameAt = e.offset + ENTRY_NAME_OFFSET;
            std::string host = saveTextToHostName(e.name);
            std::string onDisk = extractedFileName(e.name);
            if (e.trailingZeros) {
                // Reported by the walk; what it lands on is still compared below.
            } else if (e.name.empty())
                error(e.name, nameAt, "empty file name: extraction writes it as \"_\"");
            else if (host == "." || host == "..")
                error(e.name, nameAt, "the file name " + quoted(e.name) +
                                          " names a folder: extraction writes it as " + quotedHost(onDisk));
            else if (host.find('/') != std::string::npos)
                error(e.name, nameAt, "the file name holds '/': extraction writes it as " + quotedHost(onDisk));
            else if (host.size() > HOST_NAME_MAX_BYTES)
                error(e.name, nameAt, "the file name is " + num(host.size()) +
                                          " bytes as a host name, longer than " +
                                          num(HOST_NAME_MAX_BYTES) + ": extraction cuts it");
            else
                windowsNameWarning(e.name, nameAt, "file");

            auto [same, fresh] = extracted.emplace(onDisk, e.offset);
            if (!fresh) {
                error(e.name, e.offset, "extracts to the same file as the entry at " + hex(same->second) +
                                            ": extraction writes it under a numbered name");
                continue;  // the fold below would only say it again
            }
            auto [twin, first] = folded.emplace(foldedName(e.name), e.offset);
            if (!first)
                warning(e.name, e.offset, "matches the name of the entry at " + hex(twin->second) +
                                              " when letter case is ignored: lookups find only this later one");
            std::string windowsName = extractedFileName(e.name, NATIVE_HOST_NAME_STYLE, true);
            for (char& c : windowsName)
                if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
            auto [clash, apart] = onWindows.emplace(windowsName, e.offset);
            if (!apart && first)
                warning(e.name, e.offset, "extracts on Windows, or with --portable-names, to the same "
                                          "name as the entry at " + hex(clash->second) +
                                              ": it is written there under a numbered name");
        }
    }

    const Entry* entryWithData(uint64_t dataOffset) const {
        if (dataOffset < ENTRY_HEADER_SIZE) return nullptr;
        uint64_t header = dataOffset - ENTRY_HEADER_SIZE;
        auto it = std::lower_bound(entries_.begin(), entries_.end(), header,
                                   [](const Entry& e, uint64_t off) { return e.offset < off; });
        return it != entries_.end() && it->offset == header ? &*it : nullptr;
    }

    void checkDescriptorAndIcons() {
        // The readers' own rule: any file entry whose data begin "PS2D", the last one winning.
        std::vector<const Entry*> descriptors;
        for (const Entry& e : entries_) {
            if (e.directory) continue;
            if (isDescriptorData(image_, e.offset + ENTRY_HEADER_SIZE)) descriptors.push_back(&e);
        }
        if (descriptors.empty()) {
            error({}, 0, "no icon descriptor (no file whose data begin with \"PS2D\")");
            return;
        }
        const Entry& used = *descriptors.back();
        for (size_t i = 0; i + 1 < descriptors.size(); ++i)
            error(descriptors[i]->name, descriptors[i]->offset,
                  "a second icon descriptor: readers use the last one, " + quoted(used.name) + " at " +
                      hex(used.offset));
        uint64_t data = used.offset + ENTRY_HEADER_SIZE;
        if (used.size < DESCRIPTOR_SIZE)
            warning(used.name, data, "the icon descriptor is " + num(used.size) + " bytes, shorter than its " +
                                         num(DESCRIPTOR_SIZE) + ": readers take the rest from the bytes after it");

        std::vector<uint64_t> models;
        for (int i = 0; i < 3; ++i) {
            uint64_t field = data + DESCRIPTOR_ICON_NAME_OFFSET + DESCRIPTOR_TEXT_SIZE * uint64_t(i);
            std::string name = readIconFileName(image_, i);
            std::string role = std::string("the ") + ICON_ROLE_NAMES[i] + " icon's name";
            if (name.empty()) {
                error(used.name, field, role + " is empty");
                continue;
            }
            std::optional<uint64_t> found = findFileEntry(image_, name.c_str());
            // A console's own system saves name icons it keeps in its ROM ("_SCE8"); a name
            // that finds nothing is shown that way or not at all, which damages nothing.
            if (!found) {
                warning(used.name, field,
                        role + " " + quoted(name) + " matches no file: the console shows its own icon or none");
                continue;
            }
            if (std::find(models.begin(), models.end(), *found) == models.end()) models.push_back(*found);
        }
        for (uint64_t m : models)
            if (const Entry* e = entryWithData(m)) checkModel(*e);
    }

    // "" when a piece ending at model offset `end` stays inside the entry and the file; else
    // what it runs past.
    std::string pastWhat(const Entry& e, uint64_t end) const {
        uint64_t data = e.offset + ENTRY_HEADER_SIZE;
        bool pastEntry = end > e.size;
        bool pastFile = addSaturating(data, end) > fileSize_;
        if (pastEntry && pastFile) return "runs past the end of its entry and of the file";
        if (pastEntry) return "runs past the end of its entry";
        if (pastFile) return "runs past the end of the file";
        return {};
    }

    void checkModel(const Entry& e) {
        const uint64_t data = e.offset + ENTRY_HEADER_SIZE;
        const std::string& name = e.name;
        std::string past = pastWhat(e, MODEL_HEADER_SIZE);
        if (!past.empty()) {
            error(name, data, "the icon model's " + num(MODEL_HEADER_SIZE) + "-byte header " + past);
            return;
        }
        IconModel model{&image_, data};
        ModelHeader h = readModelHeader(model);
        if (h.shapeCount == 0)
            warning(name, data + 4, "the icon model has no shapes (shapeCount 0): nothing to draw");
        if (h.vertexCount % 3 != 0)
            warning(name, data + 16, "vertexCount " + num(h.vertexCount) +
                                         " is not a multiple of 3: the last vertices make no triangle");

        uint64_t records = mulSaturating(h.vertexCount, vertexRecordSize(h.shapeCount));
        uint64_t section = addSaturating(MODEL_HEADER_SIZE, records);
        past = pastWhat(e, section);
        if (!past.empty()) {
            error(name, data + MODEL_HEADER_SIZE,
                  "the vertex data (" + num(h.vertexCount) + " records of " + num(vertexRecordSize(h.shapeCount)) +
                      " bytes) " + past);
            return;
        }
        past = pastWhat(e, section + ANIMATION_HEAD_SIZE);
        if (!past.empty()) {
            error(name, data + section, "the animation section's head " + past);
            return;
        }
        // Each frame takes at least 8 bytes and the walk stops at the entry's end, so a huge
        // frameCount costs no more than the entry's bytes.
        uint32_t frameCount = v_.u32(data + section + 16);
        uint64_t off = section + ANIMATION_HEAD_SIZE;
        for (uint32_t f = 0; f < frameCount; ++f) {
            auto frame = [&] { return "animation frame " + num(f) + " of " + num(frameCount); };
            past = pastWhat(e, off + 8);
            if (!past.empty()) {
                error(name, data + off, "the " + frame() + " " + past);
                return;
            }
            uint32_t keys = v_.u32(data + off + 4);
            uint64_t next = off + 8 + 8 * uint64_t(keys);
            past = pastWhat(e, next);
            if (!past.empty()) {
                error(name, data + off + 8, "the " + num(keys) + " keys of " + frame() + " " + past);
                return;
            }
            off = next;
        }

        uint64_t textureEnd = off;
        if ((h.textureType & 0xFF) == 3) {
            // No texture: the section is the last thing read.
        } else if (!(h.textureType & 8)) {
            textureEnd = off + PLAIN_TEXTURE_BYTES;
            past = pastWhat(e, textureEnd);
            if (!past.empty()) {
                error(name, data + off, "the plain texture (" + num(PLAIN_TEXTURE_BYTES) + " bytes) " + past);
                return;
            }
        } else {
            past = pastWhat(e, off + 4);
            if (!past.empty()) {
                error(name, data + off, "the word before the run-length texture " + past);
                return;
            }
            uint64_t start = data + off + 4;
            uint64_t entryEnd = data + e.size;
            RunLengthExtent inside = measureRunLengthStream(v_, start, std::min<uint64_t>(entryEnd, fileSize_));
            if (!inside.complete) {
                // Would it complete with the rest of the file, past the entry?
                std::string where;
                if (entryEnd < fileSize_) {
                    RunLengthExtent inFile = measureRunLengthStream(v_, start, fileSize_);
                    where = inFile.complete ? "runs past the end of its entry"
                                            : "runs past the end of its entry and of the file";
                } else if (entryEnd == fileSize_) {
                    where = "runs past the end of its entry and of the file";
                } else {
                    where = "runs past the end of the file";
                }
                error(name, start, "the run-length texture " + where + ": " + num(inside.pixels) + " of " +
                                       num(TEXTURE_PIXELS) + " pixels inside");
                return;
            }
            textureEnd = inside.end - data;
        }
        if (textureEnd < e.size)
            warning(name, data + textureEnd,
                    num(e.size - textureEnd) + " trailing bytes after the " +
                        ((h.textureType & 0xFF) == 3 ? "animation section" : "texture"));
    }
};

}  // namespace

RunLengthExtent measureRunLengthStream(const ByteView& view, uint64_t start, uint64_t limit) {
    RunLengthExtent r;
    limit = std::min(limit, view.size);
    uint64_t pos = start;
    uint32_t left = TEXTURE_PIXELS;
    auto words = [&]() -> uint64_t { return pos < limit ? (limit - pos) / 2 : 0; };
    // Every round consumes at least two words, so the loop is bounded by the bytes given.
    while (left > 0) {
        if (words() == 0) return r;
        uint16_t c = view.u16(pos);
        pos += 2;
        if (c & 0x8000) {
            uint32_t count = std::min<uint32_t>(0x10000u - c, left);
            uint64_t have = words();
            if (have < count) {
                r.pixels += uint32_t(have);
                return r;
            }
            pos += 2 * uint64_t(count);
            r.pixels += count;
            left -= count;
        } else {
            if (words() == 0) return r;
            pos += 2;
            uint32_t count = std::min<uint32_t>(c, left);
            r.pixels += count;
            left -= count;
        }
    }
    r.complete = true;
    r.end = pos;
    return r;
}

std::vector<Problem> checkArchive(const SaveImage& image) { return Checker(image).run(); }


}  // namespace marrowin
