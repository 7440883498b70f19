#include "operations/save_loading.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "operations/archive_export.h"
#include "base/host_files.h"
#include "base/save_text.h"
#include "icon/icon_descriptor.h"

namespace marrowin {

SaveImage currentSaveImage;

namespace {

// An image can only be addressed with 32 bits: a larger file is not a save we can hold.
constexpr int64_t LARGEST_LOADABLE = int64_t(UINT32_MAX);

void dropCurrent(LoadHost& host, SaveImage& current) {
    if (current.empty()) return;
    // The model points into the image, so it goes first.
    host.clearCurrentModel();
    releaseSaveImage(current);
}

}  // namespace

RecognisedRead readRecognisedFile(HostFile& file, int64_t size) {
    RecognisedRead r;
    if (size < 0) {
        r.problem = ReadProblem::ReadFailed;
        return r;
    }
    uint8_t head[RECOGNITION_BYTES];
    uint64_t want = std::min<uint64_t>(uint64_t(size), RECOGNITION_BYTES);
    // What the file does not deliver stays zero, as in a whole read.
    std::memset(head, 0, sizeof head);
    file.read(head, want);
    r.image = makeSaveImage(head, uint32_t(want));
    if (r.image.empty()) {
        r.problem = ReadProblem::NoMemory;
        return r;
    }
    r.kind = detectArchiveKind(r.image);
    if (r.kind != ArchiveKind::SaveArchive || uint64_t(size) == want) return r;
    if (size > LARGEST_LOADABLE) {
        releaseSaveImage(r.image);
        r.problem = ReadProblem::TooLarge;
        return r;
    }
    releaseSaveImage(r.image);
    if (!file.rewind()) {
        r.problem = ReadProblem::ReadFailed;
        return r;
    }
    r.image = readSaveImage(file, uint32_t(size));
    if (r.image.empty()) r.problem = ReadProblem::NoMemory;
    return r;
}

RecognisedRead readRecognisedStream(int fd) {
    RecognisedRead r;
    std::vector<uint8_t> bytes(RECOGNITION_BYTES);
    int64_t got = readDescriptor(fd, bytes.data(), RECOGNITION_BYTES);
    if (got < 0) {
        r.problem = ReadProblem::ReadFailed;
        return r;
    }
    bytes.resize(size_t(got));
    r.image = makeSaveImage(bytes.data(), uint32_t(bytes.size()));
    if (r.image.empty()) {
        r.problem = ReadProblem::NoMemory;
        return r;
    }
    r.kind = detectArchiveKind(r.image);
    if (r.kind != ArchiveKind::SaveArchive) return r;
    releaseSaveImage(r.image);
    for (;;) {
        size_t old = bytes.size();
        uint64_t chunk = std::min<uint64_t>(std::max<uint64_t>(old, 1 << 16), 64 << 20);
        // One byte past the largest loadable size is enough to know it is too large.
        chunk = std::min<uint64_t>(chunk, uint64_t(LARGEST_LOADABLE) + 1 - old);
        bytes.resize(old + chunk);
        int64_t n = readDescriptor(fd, bytes.data() + old, chunk);
        if (n < 0) {
            r.problem = ReadProblem::ReadFailed;
            return r;
        }
        bytes.resize(old + size_t(n));
        if (bytes.size() > uint64_t(LARGEST_LOADABLE)) {
            r.problem = ReadProblem::TooLarge;
            return r;
        }
        if (uint64_t(n) < chunk) break;
    }
    r.image = makeSaveImage(bytes.data(), uint32_t(bytes.size()));
    if (r.image.empty()) r.problem = ReadProblem::NoMemory;
    return r;
}

void loadPath(LoadHost& host, SaveImage& current, const std::string& baseCaption,
              const std::string& path) {
    PathKind kind = pathKind(path);
    if (kind == PathKind::Folder || kind == PathKind::Missing) {
        // A missing path takes this way too; packing then finds nothing to write.
        if (kind == PathKind::Folder && host.isOptionOn(LoadOption::Pack)) packFolder(path);
        return;
    }

    HostFile file = openForReading(path);
    if (!file.isOpen()) return;
    int64_t size = file.size();

    dropCurrent(host, current);
    // Only a save archive is read whole; the old save is gone already, so anything else
    // ends empty, under the window's own caption.
    RecognisedRead read = readRecognisedFile(file, size);
    file.close();
    current = std::move(read.image);

    host.setCaption(baseCaption);
    if (read.kind != ArchiveKind::SaveArchive || read.problem != ReadProblem::None ||
        current.empty()) {
        releaseSaveImage(current);
        return;
    }

    std::string folder = getFolderName(current);
    std::string title = readSaveTitle(current);
    host.setCaption(saveTextToDisplay(folder) + " " + saveTextToDisplay(title) + " - " +
                    baseCaption);

    if (host.isOptionOn(LoadOption::Copy)) writeSaveCopy(current);
    if (host.isOptionOn(LoadOption::Extract)) extractArchive(current);

    host.selectIcon(0);
}

}  // namespace marrowin
