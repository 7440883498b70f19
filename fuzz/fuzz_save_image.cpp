// The whole read path over one untrusted archive: recognition, folder name, descriptor,
// lookups, every file entry taken as an icon model (texture, vertex records and the framing
// of thumbnails), name conversions and extraction to disk. Besides the sanitizers, a few invariants are checked.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive_export.h"
#include "archive/save_image.h"
#include "archive/save_text.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_framing.h"
#include "icon/icon_model.h"

namespace {

using namespace marrowin;

// Vertex reads per input, so large inputs with many entries stay quick to run.
constexpr uint64_t MAX_VERTEX_READS = 1 << 18;

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
}

void emptyFolder(int dirFd, int depth = 0);

// Scratch folder for extraction, made once per process, emptied after each input and
// removed when the process exits.
char scratchPath[] = "/tmp/marrowin-fuzz-XXXXXX";

int scratchFd() {
    static int fd = [] {
        if (!mkdtemp(scratchPath)) std::abort();
        int d = open(scratchPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d < 0) std::abort();
        std::atexit([] {
            emptyFolder(scratchFd());
            rmdir(scratchPath);
        });
        return d;
    }();
    return fd;
}

// Removes everything under dirFd (extraction makes one level of folders holding files).
void emptyFolder(int dirFd, int depth) {
    int dup = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = fdopendir(dup);
    if (!dir) return;
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

void readModel(const SaveImage& image, uint64_t dataOffset, uint8_t* texture, uint64_t& vertexBudget) {
    IconModel model{&image, dataOffset};
    ModelHeader h = readModelHeader(model);
    decodeTexture(model, texture);
    uint64_t n = readableVertexCount(model, h);
    check(n <= h.vertexCount, "readable vertices within the header's count");
    Vertex v;
    uint32_t shapes[3] = {0, h.shapeCount / 2, h.shapeCount ? h.shapeCount - 1 : 0};
    for (uint64_t i = 0; i < n && vertexBudget > 0; ++i, --vertexBudget)
        for (uint32_t s : shapes) check(readVertex(model, h, i, s, v) == (s < h.shapeCount), "vertex read");
    if (n < h.vertexCount) check(!readVertex(model, h, n, 0, v), "vertex past the buffer is refused");

    // Framing for thumbnails: a usable view or none at all.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    SaveImage image = makeSaveImage(data, uint32_t(size));
    if (image.empty()) return 0;

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

    for (const char* wanted : {"icon.sys", "ICON.ICN", "", ".", "..", "\x81\x40"})
        if (auto off = findFileEntry(image, wanted)) check(*off < image.fileSize + uint64_t(ENTRY_HEADER_SIZE), "found data lies after a header inside the file");
    for (int i = 0; i < 3; ++i) {
        std::string icon = readIconFileName(image, i);
        checkName(icon);
        findFileEntry(image, icon.c_str());
    }

    std::vector<uint8_t> texture(TEXTURE_BUFFER_BYTES);
    uint64_t vertexBudget = MAX_VERTEX_READS;
    walkFileEntries(image, [&](const FileEntry& e) {
        std::string name(e.name);
        check(name.size() <= ENTRY_NAME_MAX, "entry name bounded by its header");
        check(compareEntryName(name.c_str(), name.c_str()) == 0, "a name matches itself");
        auto found = findFileEntry(image, name.c_str());
        check(found && *found >= e.dataOffset, "an entry's own name finds it or a later one");
        checkName(name);
        readModel(image, e.dataOffset, texture.data(), vertexBudget);
    });

#ifndef MARROWIN_FUZZ_NO_EXTRACT
    if (kind == ArchiveKind::SaveArchive) {
        int fd = scratchFd();
        extractArchive(image, fd);
        emptyFolder(fd);
    }
#endif
    return 0;
}
