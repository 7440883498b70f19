// The whole read path over one untrusted archive: recognition, folder name, descriptor,
// lookups, every file entry taken as an icon model (texture, vertex records and the framing
// of thumbnails), name conversions and extraction to disk. Besides the sanitizers, a few
// invariants are checked. The work is linear in the number of entries.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "operations/archive_export.h"
#include "base/host_files.h"
#include "archive/psu_contents.h"
#include "archive/save_image.h"
#include "base/save_text.h"
#include "icon/icon_descriptor.h"
#include "view/model_framing.h"
#include "icon/icon_model.h"

namespace {

using namespace marrowin;

// Work per input, so inputs with many entries stay quick to run: vertex reads, texture decodes
// (one per entry up to this many; each is 16,384 texels, and a few cover the decoder), entry names looked up one by one
// besides the last, and the entries an archive may have to be extracted (as many as an
// input of scripts/fuzz.sh's -max_len can hold).
constexpr uint64_t MAX_VERTEX_READS = 1 << 18;
constexpr uint32_t MAX_TEXTURES = 4;
constexpr size_t MAX_LOOKUPS = 4;
constexpr uint64_t MAX_EXTRACTED_ENTRIES = 1024;
// Inputs larger than -max_len (a save given to the target by hand) still run in a moment: the
// entries after this many are walked and looked up but not converted or read as models, and
// the lookups stop at this many entry visits.
constexpr uint64_t MAX_DEEP_ENTRIES = 1024;
constexpr uint64_t MAX_LOOKUP_VISITS = 1 << 17;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = uint8_t(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

void checkName(const std::string& saveText) {
    check(validUtf8(saveTextToDisplay(saveText)), "display text is UTF-8");
    std::string host = saveTextToHostName(saveText);
    check(hostNameToSaveText(host) == saveText, "host name round trip");
    std::string safe = safePathComponent(host);
    check(!safe.empty() && safe != "." && safe != ".." && safe.find('/') == std::string::npos,
          "safe path component");
    // Windows names: UTF-8 with every byte given back, and neutralised ones that Windows takes.
    std::string windows = saveTextToHostName(saveText, HostNameStyle::Windows);
    check(validUtf8(windows), "Windows host name is UTF-8");
    check(hostNameToSaveText(windows, HostNameStyle::Windows) == saveText, "Windows host name round trip");
    std::string portable = safePathComponent(windows, true);
    check(windowsNameProblem(portable).empty() && portable.find('/') == std::string::npos &&
              portable.find('\0') == std::string::npos,
          "Windows path component");
}

// Extraction writes into a scratch folder on tmpfs when there is one: on a disk file system
// creating and removing the files cost more than everything else the target does.
char scratchPath[] = "/dev/shm/marrowin-fuzz-XXXXXX";
char scratchFallback[] = "/tmp/marrowin-fuzz-XXXXXX";
const char* scratchName = nullptr;

// Removes everything under dirFd (extraction makes one level of folders holding files).
void emptyFolder(int dirFd, int depth = 0) {
    int dup = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = fdopendir(dup);
    if (!dir) {
        if (dup >= 0) close(dup);
        return;
    }
    rewinddir(dir);
    std::vector<std::string> names;
    while (dirent* d = readdir(dir)) {
        std::string n = d->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    for (const auto& n : names) {
        struct stat st;
        if (fstatat(dirFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode) && depth < 2) {
            int sub = openat(dirFd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                emptyFolder(sub, depth + 1);
                close(sub);
            }
            unlinkat(dirFd, n.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(dirFd, n.c_str(), 0);
        }
    }
    closedir(dir);
}

// Made once per process, emptied after each input and removed when the process exits.
int scratchFd() {
    static int fd = [] {
        scratchName = mkdtemp(scratchPath);
        if (!scratchName) scratchName = mkdtemp(scratchFallback);
        if (!scratchName) std::abort();
        int d = open(scratchName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d < 0) std::abort();
        // Nothing extracted here is kept: flushing it to disk would only cost time.
        setDiskSync(false);
        std::atexit([] {
            emptyFolder(scratchFd());
            rmdir(scratchName);
        });
        return d;
    }();
    return fd;
}

// True when the folder holds nothing. Reads through one directory stream kept open.
bool folderIsEmpty(int dirFd) {
    static DIR* dir = fdopendir(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!dir) std::abort();
    rewinddir(dir);
    while (dirent* d = readdir(dir))
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) return false;
    return true;
}

// Extracts into the scratch folder, then removes exactly the files extraction reported: the
// scratch folder must be empty again, or something was written that was not reported (or
// outside the save's folder).
void extractAndCheck(const SaveImage& image) {
    int fd = scratchFd();
    ExportResult r = extractArchive(image, fd);
    check(!r.path.empty() && r.path.find('/') == std::string::npos, "one folder component");
    for (const std::string& file : r.files) {
        check(file.size() > r.path.size() + 1 && file.compare(0, r.path.size() + 1, r.path + "/") == 0,
              "extracted files lie in the save's folder");
        check(unlinkat(fd, file.c_str(), 0) == 0, "a reported file exists");
    }
    unlinkat(fd, r.path.c_str(), AT_REMOVEDIR);
    if (!folderIsEmpty(fd)) {
        emptyFolder(fd);
        check(false, "extraction wrote only the files it reported");
    }
}

// Header offset of the last file entry.
uint64_t lastHeader(const SaveImage& image) {
    uint64_t last = 0;
    walkFileEntries(image, [&](const FileEntry& e) { last = e.headerOffset; });
    return last;
}

// Names under the lookup's fold (bit 5 of every byte), so equal keys are names that match.
std::string foldedName(std::string_view name) {
    std::string key(name);
    for (char& c : key) c = char(uint8_t(c) & ~0x20);
    return key;
}

struct Budget {
    uint64_t vertexReads = MAX_VERTEX_READS;
    uint32_t textures = MAX_TEXTURES;
};

void readModel(const SaveImage& image, uint64_t dataOffset, uint8_t* texture, Budget& budget) {
    IconModel model{&image, dataOffset};
    ModelHeader h = readModelHeader(model);
    if (budget.textures > 0) {
        --budget.textures;
        decodeTexture(model, texture);
    }
    uint64_t n = readableVertexCount(model, h);
    check(n <= h.vertexCount, "readable vertices within the header's count");
    // The records at both ends, in their first and last shapes: the framing below reads
    // every record, in the first shape.
    Vertex v;
    const uint32_t last = h.shapeCount ? h.shapeCount - 1 : 0;
    for (uint64_t i : {uint64_t(0), n ? n - 1 : 0}) {
        if (i >= n) break;
        for (uint32_t s : {uint32_t(0), last})
            check(readVertex(model, h, i, s, v) == (h.shapeCount > 0), "vertex read");
        check(!readVertex(model, h, i, h.shapeCount, v), "a shape past the count is refused");
    }
    if (n < h.vertexCount) check(!readVertex(model, h, n, 0, v), "vertex past the buffer is refused");

    // Framing for thumbnails (two reads of every record): a usable view or none at all.
    if (n == 0 || h.shapeCount == 0 || 2 * n <= budget.vertexReads) {
        budget.vertexReads -= std::min(budget.vertexReads, 2 * n);
        ViewSettings view = initialViewSettings();
        resetViewSettings(view);
        view.aspect = 1;
        if (frameModel(view, model, 0)) {
            for (float t : view.translation) check(std::isfinite(t), "framed translation is finite");
            check(view.zNear > 0 && view.zNear < view.zFar && std::isfinite(view.zFar),
                  "framed depth range");
        } else {
            check(n == 0 || h.shapeCount == 0, "a model with vertices is framed");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    // One image and one texture buffer for the whole run.
    static SaveImage image;
    static uint8_t texture[TEXTURE_BUFFER_BYTES];
    if (!refillSaveImage(image, data, uint32_t(size))) return 0;

    ArchiveKind kind = detectArchiveKind(image);
    check(archiveKindName(kind) != nullptr, "kind name");
    std::string folder = getFolderName(image);
    check(folder.size() <= 64, "folder name length");
    checkName(folder);
    std::string title = readSaveTitle(image);
    check(title.size() <= 64, "title length");
    checkName(title);

    ViewSettings settings = initialViewSettings();
    loadDescriptorLights(image, settings.lights);

    // One walk: every entry's name, model and texture, and what a lookup of each name must
    // give (the last entry that matches), so the lookups below are checked exactly.
    // What a run allocates it frees: libFuzzer runs an input again to look for a leak when
    // a run ends holding more memory than it began with.
    std::unordered_map<std::string, uint64_t> lastByName;
    std::vector<std::string> sampled;
    std::string lastName;
    uint64_t entries = 0;
    Budget budget;
    walkFileEntries(image, [&](const FileEntry& e) {
        ++entries;
        check(e.name.size() <= ENTRY_NAME_MAX, "entry name bounded by its header");
        check(e.dataOffset == e.headerOffset + ENTRY_HEADER_SIZE && e.headerOffset < image.fileSize,
              "entries start inside the file");
        lastByName[foldedName(e.name)] = e.dataOffset;
        if (sampled.size() < MAX_LOOKUPS) sampled.emplace_back(e.name);
        if (entries > MAX_DEEP_ENTRIES) return;
        std::string name(e.name);
        lastName = name;
        check(compareEntryName(name.c_str(), name.c_str()) == 0, "a name matches itself");
        checkName(name);
        isDescriptorData(image, e.dataOffset);
        readModel(image, e.dataOffset, texture, budget);
    });
    if (entries > MAX_DEEP_ENTRIES) lastName = std::string(entryNameAt(image, lastHeader(image)));

    // The neutral save's reader steps as the walk does: the same files in the same order.
    if (kind == ArchiveKind::SaveArchive) {
        const ContainerRead read = readPsu(ByteView{image.bytes, image.fileSize});
        if (read.ok) {
            check(read.contents.files.size() == entries, "readPsu finds the walk's files");
            for (size_t i = 0; i < sampled.size() && i < read.contents.files.size(); ++i)
                check(read.contents.files[i].name == sampled[i], "readPsu names the walk's files");
        }
    }

    // Each lookup walks every entry: the icons' names first (the window's lookups), then the
    // last entry's, fixed names and the first entries' names, while the walks stay in budget.
    std::vector<std::string> wanted;
    for (int i = 0; i < 3; ++i) {
        wanted.push_back(readIconFileName(image, i));
        checkName(wanted.back());
    }
    if (entries > 0) wanted.push_back(lastName);
    for (const char* name : {"icon.sys", "ICON.ICN", "", ".", "..", "\x81\x40"}) wanted.push_back(name);
    wanted.insert(wanted.end(), sampled.begin(), sampled.end());
    uint64_t visits = 0;
    for (const std::string& name : wanted) {
        if (visits > 0 && visits + entries > MAX_LOOKUP_VISITS) break;
        visits += entries + 1;
        std::optional<uint64_t> found = findFileEntry(image, name.c_str());
        auto it = lastByName.find(foldedName(name));
        check(it == lastByName.end() ? !found : found && *found == it->second,
              "a lookup finds the last entry of that name");
    }

#ifndef MARROWIN_FUZZ_NO_EXTRACT
    if (kind == ArchiveKind::SaveArchive && entries <= MAX_EXTRACTED_ENTRIES) extractAndCheck(image);
#endif
    return 0;
}
