#include "archive/archive_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "archive/save_text.h"
#include "icon/icon_descriptor.h"

namespace marrowin {

namespace {

// The longest file name Linux takes in one component.
constexpr size_t HOST_NAME_MAX_BYTES = 255;

std::string errnoText(int err) { return std::strerror(err); }

// Cuts a host name to at most maxBytes without splitting a UTF-8 sequence.
std::string cutHostName(std::string name, size_t maxBytes) {
    if (name.size() <= maxBytes) return name;
    size_t n = maxBytes;
    // Step back over continuation bytes, then over the lead byte they belong to.
    size_t k = n;
    while (k > 0 && (uint8_t(name[k]) & 0xC0) == 0x80 && n - k < 4) --k;
    if ((uint8_t(name[k]) & 0xC0) == 0x80) k = n;  // not UTF-8 after all: cut where we are
    name.resize(k);
    return name;
}

// Save text made into one path component that stays inside its folder.
std::string hostComponent(std::string_view saveText) {
    return safePathComponent(saveTextToHostName(saveText));
}

void appendNote(std::string& notes, const std::string& note) {
    if (!notes.empty()) notes += "; ";
    notes += note;
}

// Closes a descriptor when it goes out of scope.
struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
};

// A temporary name in the output directory that did not exist before. Files that replace
// others are written there first and renamed into place, so a failure never leaves a half
// file and the name is replaced rather than written through (a hard link planted under it
// keeps its contents).
HostFile createTemporary(int dirFd, std::string& name) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        name = ".marrowin-" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        HostFile f = createExclusive(name, dirFd);
        if (f.isOpen() || errno != EEXIST) return f;
    }
    errno = EEXIST;
    return HostFile();
}

// True when `name` is free or a regular file that may be replaced; links, folders and
// devices are never replaced. `existing` receives what is there.
bool replaceableName(int dirFd, const std::string& name, struct stat& existing, bool& exists) {
    exists = ::fstatat(dirFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    return !exists || S_ISREG(existing.st_mode);
}

}  // namespace

std::string extractedFileName(std::string_view entryName) {
    return cutHostName(hostComponent(entryName), HOST_NAME_MAX_BYTES);
}

void stampEntryTimes(uint8_t* header, const LocalTime& time) {
    uint8_t stamp[8] = {0,
                        time.second,
                        time.minute,
                        time.hour,
                        time.day,
                        time.month,
                        uint8_t(time.year & 0xFF),
                        uint8_t(time.year >> 8)};
    std::memcpy(header + ENTRY_CREATED_OFFSET, stamp, sizeof stamp);
    std::memcpy(header + ENTRY_MODIFIED_OFFSET, stamp, sizeof stamp);
}

// ---- copy --------------------------------------------------------------------------------

ExportResult writeUniqueCopy(const std::string& baseSaveText, const std::string& extension,
                             const SaveImage& image, int dirFd) {
    ExportResult result;
    if (image.empty()) {
        result.error = "no archive loaded";
        return result;
    }
    const std::string base = hostComponent(baseSaveText);
    std::string ext = extension;
    std::replace(ext.begin(), ext.end(), '/', '_');

    // Names that do not fit in one component are shortened (base only), so a long title
    // still gets its copy; the numbering keeps shortened names apart.
    for (long number = 1; number < LONG_MAX; ++number) {
        std::string suffix = number == 1 ? "." + ext : " (" + std::to_string(number) + ")." + ext;
        if (suffix.size() >= HOST_NAME_MAX_BYTES) {
            result.error = "extension too long for a file name";
            return result;
        }
        std::string name = cutHostName(base, HOST_NAME_MAX_BYTES - suffix.size()) + suffix;

        // Exclusive creation is the test for a free name: an existing file is never opened,
        // whether or not it could be read.
        HostFile out = createExclusive(name, dirFd);
        if (!out.isOpen()) {
            int err = errno;
            if (err == EEXIST) continue;
            result.error = "cannot create " + name + ": " + errnoText(err);
            return result;
        }
        if (!out.write(image.bytes, image.fileSize)) {
            int err = errno;
            out.close();
            ::unlinkat(dirFd, name.c_str(), 0);
            result.error = "cannot write " + name + ": " + errnoText(err);
            return result;
        }
        out.close();
        result.ok = true;
        result.path = name;
        return result;
    }
    result.error = "no free name for " + base;
    return result;
}

ExportResult writeSaveCopy(const SaveImage& image, int dirFd) {
    return writeUniqueCopy(getFolderName(image) + " " + readSaveTitle(image), "psu", image, dirFd);
}

// ---- extraction --------------------------------------------------------------------------

ExportResult extractArchive(const SaveImage& image, int dirFd) {
    ExportResult result;
    if (image.empty()) {
        result.error = "no archive loaded";
        return result;
    }
    // The first header's name field, whether or not that entry is marked as a directory.
    const std::string folder =
        hostComponent(image.view().text(ENTRY_NAME_OFFSET, ENTRY_NAME_FIELD_SIZE));
    result.path = folder;

    if (!makeFolder(folder, dirFd)) {
        result.error = "cannot make folder " + folder + " (something that is not a folder is in "
                       "the way, or no permission)";
        return result;
    }
    FdGuard folderFd{::openat(dirFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (folderFd.fd < 0) {
        result.error = "cannot open folder " + folder + ": " + errnoText(errno);
        return result;
    }

    bool allWritten = true;
    walkFileEntries(image, [&](const FileEntry& e) {
        const std::string name = extractedFileName(e.name);
        const std::string shownName = folder + "/" + name;
        // Only what the file holds: a cut-off entry is written short.
        uint64_t available = e.dataOffset < image.fileSize ? image.fileSize - e.dataOffset : 0;
        uint64_t length = std::min<uint64_t>(e.size, available);
        auto failed = [&](const std::string& why) {
            appendNote(result.error, why);
            allWritten = false;
        };

        struct stat existing;
        bool exists;
        if (!replaceableName(folderFd.fd, name, existing, exists))
            return failed("will not replace " + shownName + ": not a regular file");
        std::string temp;
        HostFile out = createTemporary(folderFd.fd, temp);
        if (!out.isOpen()) return failed("cannot create " + shownName + ": " + errnoText(errno));
        bool written = out.write(image.bytes + e.dataOffset, length);
        int err = errno;
        out.close();
        if (!written || ::renameat(folderFd.fd, temp.c_str(), folderFd.fd, name.c_str()) != 0) {
            if (written) err = errno;
            ::unlinkat(folderFd.fd, temp.c_str(), 0);
            return failed("cannot write " + shownName + ": " + errnoText(err));
        }
        if (length < e.size)
            appendNote(result.error, shownName + " is cut off: " +
                                         std::to_string(length) + " of " +
                                         std::to_string(e.size) + " bytes written");
        result.files.push_back(shownName);
    });
    result.ok = allWritten;
    return result;
}

// ---- packing -----------------------------------------------------------------------------

namespace {

// Base name of a folder path: the part after the last '/', trailing slashes ignored
// ("foo/" packs as "foo"). "." and ".." are resolved to the folder's real name.
std::string folderBaseName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
    if (base == "." || base == "..") {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string r(real);
            std::free(real);
            size_t s = r.rfind('/');
            base = s == std::string::npos ? r : r.substr(s + 1);
        }
    }
    return base;
}

}  // namespace

ExportResult packFolder(const std::string& folderPath, int dirFd) {
    ExportResult result;
    std::vector<FolderItem> items;
    if (!listFolder(folderPath, items)) {
        result.error = "cannot list folder " + folderPath;
        return result;
    }

    const std::string hostBase = folderBaseName(folderPath);
    // A 251-byte base plus ".psu" is the longest one-component name.
    const std::string archiveName =
        safePathComponent(cutHostName(hostBase, HOST_NAME_MAX_BYTES - 4) + ".psu");
    result.path = archiveName;

    // Replacing a link or a folder at the archive's name is refused.
    struct stat target;
    bool targetExists;
    if (!replaceableName(dirFd, archiveName, target, targetExists)) {
        appendNote(result.error, "will not replace " + archiveName + ": not a regular file");
        return result;
    }

    // Entry names must end inside their 512-byte header (with a terminating zero).
    struct Source {
        std::string hostName;
        std::string saveName;
        uint64_t size;
    };
    std::vector<Source> sources;
    for (const FolderItem& item : items) {
        if (!item.isRegular) continue;
        // The archive this run replaces may lie in the folder itself: it is not packed into
        // its successor. (The new one is written under a name made after the listing.)
        if (targetExists && item.device == uint64_t(target.st_dev) &&
            item.inode == uint64_t(target.st_ino))
            continue;
        std::string saveName = hostNameToSaveText(item.name);
        if (saveName.size() >= ENTRY_NAME_MAX) {
            appendNote(result.error, "passed over " + item.name + ": name longer than " +
                                         std::to_string(ENTRY_NAME_MAX - 1) + " bytes");
            continue;
        }
        if (item.size > UINT32_MAX) {
            appendNote(result.error, "passed over " + item.name + ": 4 GiB or larger");
            continue;
        }
        sources.push_back({item.name, std::move(saveName), item.size});
    }
    if (sources.empty()) {
        appendNote(result.error, "no files to pack in " + folderPath + ", nothing written");
        return result;
    }

    FdGuard folderFd{::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folderFd.fd < 0) {
        appendNote(result.error, "cannot open folder " + folderPath + ": " + errnoText(errno));
        return result;
    }

    std::string tempName;
    HostFile out = createTemporary(dirFd, tempName);
    if (!out.isOpen()) {
        appendNote(result.error, "cannot create an archive in the output folder: " +
                                     errnoText(errno));
        return result;
    }
    auto fail = [&](const std::string& why) {
        out.close();
        ::unlinkat(dirFd, tempName.c_str(), 0);
        appendNote(result.error, why);
        result.ok = false;
        return result;
    };

    const LocalTime now = localTimeNow();
    uint8_t header[ENTRY_HEADER_SIZE];
    auto startHeader = [&](uint16_t mode, uint32_t size) {
        std::memset(header, 0, sizeof header);
        header[ENTRY_MODE_OFFSET] = uint8_t(mode);
        header[ENTRY_MODE_OFFSET + 1] = uint8_t(mode >> 8);
        for (int i = 0; i < 4; ++i) header[ENTRY_SIZE_OFFSET + i] = uint8_t(size >> (8 * i));
        stampEntryTimes(header, now);
    };

    // The folder's entry: its name field takes at most 64 bytes, with no terminator when full.
    startHeader(MODE_DIRECTORY, uint32_t(sources.size() + 2));
    std::string folderField = hostNameToSaveText(hostBase);
    std::memcpy(header + ENTRY_NAME_OFFSET, folderField.data(),
                std::min(folderField.size(), size_t(ENTRY_NAME_FIELD_SIZE)));
    bool written = out.write(header, sizeof header);
    for (const char* dots : {".", ".."}) {
        startHeader(MODE_DIRECTORY, 0);
        std::memcpy(header + ENTRY_NAME_OFFSET, dots, std::strlen(dots));
        written = written && out.write(header, sizeof header);
    }
    if (!written) return fail("cannot write " + archiveName + ": " + errnoText(errno));

    uint8_t block[DATA_BLOCK_SIZE];
    for (const Source& s : sources) {
        startHeader(MODE_FILE, uint32_t(s.size));
        std::memcpy(header + ENTRY_NAME_OFFSET, s.saveName.data(), s.saveName.size());
        if (!out.write(header, sizeof header))
            return fail("cannot write " + archiveName + ": " + errnoText(errno));

        // A file that cannot be read, or shrank since the listing, is filled out with zero
        // blocks so the layout still matches its header.
        HostFile in = openForReading(s.hostName, folderFd.fd);
        if (!in.isOpen())
            appendNote(result.error, "cannot read " + s.hostName + ": packed as zero bytes");
        bool shortRead = false;
        for (uint64_t left = s.size; left > 0;) {
            uint64_t want = std::min<uint64_t>(left, DATA_BLOCK_SIZE);
            uint64_t got = 0;
            if (in.isOpen() && !shortRead) {
                got = in.read(block, want);
                if (got < want) shortRead = true;
            }
            std::memset(block + got, 0, DATA_BLOCK_SIZE - got);
            if (!out.write(block, DATA_BLOCK_SIZE))
                return fail("cannot write " + archiveName + ": " + errnoText(errno));
            left -= want;
        }
        if (shortRead)
            appendNote(result.error, s.hostName + " shrank or could not be read whole: "
                                                  "filled out with zero bytes");
        result.files.push_back(s.hostName);
    }

    out.close();
    if (::renameat(dirFd, tempName.c_str(), dirFd, archiveName.c_str()) != 0) {
        int err = errno;
        ::unlinkat(dirFd, tempName.c_str(), 0);
        appendNote(result.error, "cannot put " + archiveName + " in place: " + errnoText(err));
        result.files.clear();
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace marrowin
