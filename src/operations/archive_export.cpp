#include "operations/archive_export.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <map>
#include <set>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "archive/psu_writer.h"
#include "base/save_text.h"
#include "base/time_stamp.h"
#include "icon/icon_descriptor.h"

namespace marrowin {

namespace {

// The longest file name Linux takes in one component.
constexpr size_t HOST_NAME_MAX_BYTES = 255;


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

// Save text made into one path component that stays inside its folder, of at most maxBytes.
std::string hostComponent(std::string_view saveText, HostNameStyle style, bool windowsSafe,
                          size_t maxBytes = HOST_NAME_MAX_BYTES) {
    std::string host = saveTextToHostName(saveText, style);
    // A device name gains a '_' and a cut may leave a trailing dot: the cut comes first.
    if (windowsSafe) return safePathComponent(cutHostName(std::move(host), maxBytes - 1), true);
    return cutHostName(safePathComponent(host, false), maxBytes);
}

// Save text cut to at most maxBytes without leaving the lead byte of a two-byte character
// behind, which would make the last character another one, or none.
std::string cutSaveText(std::string text, size_t maxBytes) {
    size_t end = 0;
    while (end < text.size()) {
        const uint8_t b = uint8_t(text[end]);
        const size_t step = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1;
        if (end + step > maxBytes) break;
        end += step;
    }
    text.resize(std::min(end, text.size()));
    return text;
}

bool isUtf8(std::string_view name) {
    for (size_t i = 0; i < name.size();) {
        const size_t n = utf8SequenceLength(name, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool windowsSafeNames(const ExportOptions& options) {
    return options.portableNames || NATIVE_HOST_NAME_STYLE == HostNameStyle::Windows;
}

void appendNote(std::string& notes, const std::string& note) {
    if (!notes.empty()) notes += "; ";
    notes += note;
}

// True when `name` is free or a regular file that may be replaced; links, folders and
// devices are never replaced. `existing` receives what is there.
bool replaceableName(const HostFolder& dir, const std::string& name, NameInfo& existing,
                     bool& exists) {
    existing = lookUpName(dir, name);
    exists = existing.kind != PathKind::Missing;
    return !exists || existing.kind == PathKind::File;
}

// Syncs a folder after a name was placed in it; a failure is noted, the file is in place.
void syncPlaced(const HostFolder& dir, ExportResult& result) {
    if (!syncFolder(dir)) appendNote(result.error, "cannot sync the folder: " + errnoText(errno));
}

}  // namespace

std::string extractedFileName(std::string_view entryName, HostNameStyle style, bool portable) {
    return hostComponent(entryName, style, portable || style == HostNameStyle::Windows);
}

// ---- copy --------------------------------------------------------------------------------

ExportResult writeUniqueCopy(const std::string& baseSaveText, const std::string& extension,
                             const SaveImage& image, const HostFolder& dir,
                             const ExportOptions& options) {
    ExportResult result;
    if (image.empty()) {
        result.error = "no archive loaded";
        return result;
    }
    const bool windowsSafe = windowsSafeNames(options);
    // Windows rules apply to the whole name: "AUX .psu" is the device, "AUX  (2).psu" is not.
    const std::string base = hostComponent(baseSaveText, NATIVE_HOST_NAME_STYLE, false, SIZE_MAX);
    std::string ext = extension;
    std::replace(ext.begin(), ext.end(), '/', '_');
    removeStaleTemporaries(dir);

    // The whole copy is on the disk under a temporary name before it takes a real one, so an
    // interrupted copy never looks like a damaged save.
    TemporaryFile temp;
    if (!temp.create(dir)) {
        result.error = "cannot create a file in the output folder: " + errnoText(errno);
        return result;
    }
    if (!temp.file().write(image.bytes, image.fileSize) || !temp.finish()) {
        result.error = "cannot write the copy: " + errnoText(errno);
        return result;
    }

    // Names that do not fit in one component are shortened (base only), so a long title
    // still gets its copy; the numbering keeps shortened names apart.
    for (long number = 1; number < LONG_MAX; ++number) {
        std::string suffix = number == 1 ? "." + ext : " (" + std::to_string(number) + ")." + ext;
        if (suffix.size() >= HOST_NAME_MAX_BYTES) {
            result.error = "extension too long for a file name";
            return result;
        }
        std::string name;
        if (windowsSafe)
            name = safePathComponent(cutHostName(base, HOST_NAME_MAX_BYTES - 1 - suffix.size()) + suffix, true);
        else
            name = cutHostName(base, HOST_NAME_MAX_BYTES - suffix.size()) + suffix;
        // Placing without replacing is the test for a free name: an existing file is never
        // opened or replaced, whether or not it could be read.
        int err = temp.placeWithoutReplacing(name);
        if (err == EEXIST) continue;
        if (err != 0) {
            result.error = "cannot create " + name + ": " + errnoText(err);
            return result;
        }
        syncPlaced(dir, result);
        result.ok = true;
        result.path = name;
        return result;
    }
    result.error = "no free name for " + base;
    return result;
}

ExportResult writeSaveCopy(const SaveImage& image, const HostFolder& dir, const ExportOptions& options) {
    return writeUniqueCopy(getFolderName(image) + " " + readSaveTitle(image), "psu", image, dir, options);
}

// ---- extraction --------------------------------------------------------------------------

namespace {

// "NAME (N)" for the N-th file of one name, the number before the extension ("a (2).bin"), so
// the kind of file stays visible; cut to one component.
std::string numberedName(const std::string& name, long number) {
    std::string tag = " (" + std::to_string(number) + ")";
    size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string::npos || name.size() - dot > 16) dot = name.size();
    std::string ext = name.substr(dot);
    return cutHostName(name.substr(0, dot), HOST_NAME_MAX_BYTES - tag.size() - ext.size()) + tag + ext;
}

}  // namespace

ExportResult extractArchive(const SaveImage& image, const HostFolder& dir,
                            const ExportOptions& options) {
    ExportResult result;
    if (image.empty()) {
        result.error = "no archive loaded";
        return result;
    }
    // The first header's name field, whether or not that entry is marked as a directory.
    const bool windowsSafe = windowsSafeNames(options);
    const std::string folder = hostComponent(decodeEntry(image.view(), 0, ENTRY_NAME_FIELD_SIZE).name,
                                             NATIVE_HOST_NAME_STYLE, windowsSafe);
    result.path = folder;

    if (!makeFolder(folder, dir)) {
        result.error = "cannot make folder " + folder + " (something that is not a folder is in "
                       "the way, or no permission)";
        return result;
    }
    const OpenFolder opened = openFolder(folder, dir, true);
    if (!opened.isOpen()) {
        result.error = "cannot open folder " + folder + ": " + errnoText(errno);
        return result;
    }
    const HostFolder into = opened.ref();
    removeStaleTemporaries(into);

    // Names this run placed: a later entry that lands on one of them (the same name twice, or
    // names a case-blind file system takes as one) gets a numbered name instead. Identity alone
    // is not enough: another run may replace our file and its new one get our freed inode.
    std::set<std::string> placedNames;
    std::map<FileId, std::string> placedById;
    auto takenByThisRun = [&](const std::string& target, const NameInfo& existing) {
        if (placedNames.count(target)) return true;
        auto mine = placedById.find(existing.id);
        if (mine == placedById.end()) return false;
        // Another spelling of a name we placed only when both lead to that one file now.
        const NameInfo ours = lookUpName(into, mine->second);
        return ours.kind == PathKind::File && ours.id == existing.id;
    };
    std::map<std::string, long> nextNumber;
    bool allWritten = true;
    bool placedAny = false;
    walkFileEntries(image, [&](const FileEntry& e) {
        const std::string name = extractedFileName(e.name, NATIVE_HOST_NAME_STYLE, windowsSafe);
        auto failed = [&](const std::string& why) {
            appendNote(result.error, why);
            allWritten = false;
        };

        std::string target = name;
        NameInfo existing;
        bool exists = false;
        // Numbering goes on where the last entry of this name stopped: a hostile archive of
        // many entries of one name would otherwise try every taken number again each time.
        long& next = nextNumber[name];
        for (long number = std::max(next, 2L);; ++number) {
            if (!replaceableName(into, target, existing, exists))
                return failed("will not replace " + folder + "/" + target + ": not a regular file");
            if (!exists || !takenByThisRun(target, existing)) break;
            target = numberedName(name, number);
            next = number + 1;
        }
        const std::string shownName = folder + "/" + target;
        if (exists && options.keep) {
            result.kept.push_back(shownName);
            return;
        }

        // Only what the file holds: a cut-off entry is written short.
        uint64_t available = e.dataOffset < image.fileSize ? image.fileSize - e.dataOffset : 0;
        uint64_t length = std::min<uint64_t>(e.size, available);

        TemporaryFile temp;
        if (!temp.create(into))
            return failed("cannot create " + shownName + ": " + errnoText(errno));
        FileId own;
        if (!temp.file().identity(own))
            return failed("cannot create " + shownName + ": " + errnoText(errno));
        if (!temp.file().write(image.bytes + e.dataOffset, length) || !temp.finish())
            return failed("cannot write " + shownName + ": " + errnoText(errno));
        int err = options.keep ? temp.placeWithoutReplacing(target) : temp.placeReplacing(target);
        if (err == EEXIST && options.keep) {
            result.kept.push_back(shownName);
            return;
        }
        if (err != 0) return failed("cannot write " + shownName + ": " + errnoText(err));
        placedAny = true;
        placedNames.insert(target);
        placedById[own] = target;

        if (target != name)
            result.renamed.push_back(folder + "/" + name + " -> " + shownName);
        if (length < e.size)
            result.incomplete.push_back(shownName + ": cut off by the end of the archive, " +
                                        std::to_string(length) + " of " + std::to_string(e.size) +
                                        " bytes written");
        result.files.push_back(shownName);
    });
    if (placedAny) syncPlaced(into, result);
    result.ok = allWritten;
    return result;
}

// ---- packing -----------------------------------------------------------------------------

namespace {

#ifdef _WIN32
constexpr const char* PATH_SEPARATORS = "/\\";
#else
constexpr const char* PATH_SEPARATORS = "/";
#endif

bool isSeparator(char c) { return std::strchr(PATH_SEPARATORS, c) != nullptr && c != '\0'; }

// Base name of a folder path: the part after the last separator, trailing ones ignored
// ("foo/" packs as "foo"). "." and ".." are resolved to the folder's real name.
std::string folderBaseName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && isSeparator(p.back())) p.pop_back();
    size_t slash = p.find_last_of(PATH_SEPARATORS);
    std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
    if (base == "." || base == "..") {
        std::string r = realPath(path);
        if (!r.empty()) {
            size_t s = r.find_last_of(PATH_SEPARATORS);
            base = s == std::string::npos ? r : r.substr(s + 1);
        }
    }
    return base;
}

}  // namespace

namespace {

// True when `path` (a link in the folder) leads to something inside the folder `realFolder`.
bool leadsInside(const std::string& path, const std::string& realFolder) {
    std::string r = realPath(path);
    if (r.empty()) return false;
    if (realFolder.size() == 1 && isSeparator(realFolder[0])) return true;
    return r.size() > realFolder.size() && r.compare(0, realFolder.size(), realFolder) == 0 &&
           isSeparator(r[realFolder.size()]);
}

}  // namespace

ExportResult packFolder(const std::string& folderPath, const HostFolder& dir,
                        const ExportOptions& options) {
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
    NameInfo target;
    bool targetExists;
    if (!replaceableName(dir, archiveName, target, targetExists)) {
        appendNote(result.error, "will not replace " + archiveName + ": not a regular file");
        return result;
    }

    // Everything that would make the archive lose or change something is found before a
    // byte is written; each is named, and nothing is written.
    std::vector<std::string> refusals;
    std::string folderField;
    if (!hostNameToSaveName(hostBase, folderField))
        refusals.push_back("the folder name " + hostBase + " holds characters a save cannot hold "
                           "(Shift-JIS has no code for them)");

    const std::string realFolder = realPath(folderPath);

    struct Source {
        std::string hostName;
        std::string saveName;
        uint64_t size;
    };
    std::vector<Source> sources;
    std::map<std::string, std::string> bySaveName;    // save name -> host name
    std::map<std::string, std::string> byFoldedName;  // the lookup's case fold -> host name
    uint64_t archiveSize = PSU_FOLDER_ENTRIES_SIZE;
    for (const FolderItem& item : items) {
        if (!item.isRegular) continue;
        // The archive this run replaces may lie in the folder itself: it is not packed into
        // its successor. (The new one is written under a name made after the listing.)
        if (targetExists && item.id == target.id) continue;
        if (item.isLink && !options.followLinks &&
            (realFolder.empty() || !leadsInside(folderPath + "/" + item.name, realFolder))) {
            result.skipped.push_back(item.name);
            appendNote(result.error, "left out " + item.name + ": a link to a file outside the folder");
            continue;
        }
        std::string saveName;
        if (!hostNameToSaveName(item.name, saveName)) {
            refusals.push_back(item.name + ": its name holds characters a save cannot hold " +
                               (isUtf8(item.name) ? "(Shift-JIS has no code for them)"
                                                  : "(it is not UTF-8 text)"));
            continue;
        }
        if (saveName.size() >= ENTRY_NAME_MAX) {
            refusals.push_back(item.name + ": name longer than " + std::to_string(ENTRY_NAME_MAX - 1) +
                               " bytes");
            continue;
        }
        auto [same, fresh] = bySaveName.emplace(saveName, item.name);
        if (!fresh) {
            refusals.push_back(same->second + " and " + item.name +
                               " have one name in a save (the same Shift-JIS)");
            continue;
        }
        std::string folded = saveName;
        for (char& c : folded) c = char(uint8_t(c) & ~0x20);
        auto [alike, freshFold] = byFoldedName.emplace(folded, item.name);
        if (!freshFold)
            appendNote(result.error, alike->second + " and " + item.name +
                                         " differ only in letter case: a save's lookups find "
                                         "only the later one");
        archiveSize += psuFileSpan(item.size);
        sources.push_back({item.name, std::move(saveName), item.size});
    }
    if (!refusals.empty()) {
        for (const std::string& r : refusals) appendNote(result.error, r);
        appendNote(result.error, "nothing written");
        return result;
    }
    if (sources.empty()) {
        appendNote(result.error, "no files to pack in " + folderPath + ", nothing written");
        return result;
    }
    // Larger archives cannot be opened again (sizes are 32-bit).
    if (archiveSize > UINT32_MAX) {
        appendNote(result.error, "the archive would be " + std::to_string(archiveSize) +
                                     " bytes, 4 GiB or more; nothing written");
        return result;
    }
    if (targetExists && options.keep) {
        result.kept.push_back(archiveName);
        result.ok = true;
        return result;
    }

    const OpenFolder sourceFolder = openFolder(folderPath);
    if (!sourceFolder.isOpen()) {
        appendNote(result.error, "cannot open folder " + folderPath + ": " + errnoText(errno));
        return result;
    }

    removeStaleTemporaries(dir);
    TemporaryFile temp;
    if (!temp.create(dir)) {
        appendNote(result.error, "cannot create an archive in the output folder: " +
                                     errnoText(errno));
        return result;
    }
    HostFile& out = temp.file();
    auto fail = [&](const std::string& why) {
        temp.discard();
        appendNote(result.error, why);
        result.ok = false;
        result.files.clear();
        result.incomplete.clear();
        return result;
    };

    const Stamp now = options.packStamp ? *options.packStamp : stampNow(StampClock::Local);
    PsuWriter writer([&](const uint8_t* bytes, size_t size) { return out.write(bytes, size); });
    EntryRecord folder;
    folder.mode = MODE_DIRECTORY;
    folder.created = folder.modified = now;
    folder.name = cutSaveText(folderField, ENTRY_NAME_FIELD_SIZE);
    if (!writer.begin(folder, uint32_t(sources.size())))
        return fail("cannot write " + archiveName + ": " + errnoText(errno));

    // Whole chunks of a file at a time: one read and one write per 64 KiB, not per block.
    std::vector<uint8_t> chunk(64 * 1024);
    uint8_t* block = chunk.data();
    for (const Source& s : sources) {
        EntryRecord record;
        record.mode = MODE_FILE;
        record.size = uint32_t(s.size);
        record.created = record.modified = now;
        record.name = s.saveName;
        if (!writer.file(record)) return fail("cannot write " + archiveName + ": " + errnoText(errno));

        // A file that cannot be read, or shrank since the listing, is filled out with zeros by
        // the writer so the layout still matches its header; it is reported as incomplete.
        HostFile in = openForReading(s.hostName, sourceFolder.ref());
        std::string why = in.isOpen() ? "" : "cannot be read (" + errnoText(errno) + ")";
        uint64_t got = 0;
        while (why.empty() && writer.missing() > 0) {
            uint64_t want = std::min<uint64_t>(writer.missing(), chunk.size());
            uint64_t n = in.read(block, want);
            if (n < want) why = "shrank or could not be read whole";
            got += n;
            if (!writer.data(block, size_t(n)))
                return fail("cannot write " + archiveName + ": " + errnoText(errno));
        }
        if (why.empty() && in.read(block, 1) != 0) why = "grew while it was packed";
        if (!why.empty())
            result.incomplete.push_back(s.hostName + ": " + why + ", " + std::to_string(got) + " of " +
                                        std::to_string(s.size) + " bytes packed");
        result.files.push_back(s.hostName);
    }

    if (!writer.finish()) return fail("cannot write " + archiveName + ": " + errnoText(errno));
    if (!temp.finish()) return fail("cannot write " + archiveName + ": " + errnoText(errno));
    int err = options.keep ? temp.placeWithoutReplacing(archiveName) : temp.placeReplacing(archiveName);
    if (err == EEXIST && options.keep) {
        result.kept.push_back(archiveName);
        result.files.clear();
        result.incomplete.clear();
        result.ok = true;
        return result;
    }
    if (err != 0) return fail("cannot put " + archiveName + " in place: " + errnoText(err));
    syncPlaced(dir, result);
    result.ok = true;
    return result;
}

}  // namespace marrowin
