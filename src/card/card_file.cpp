// Reading a card image file whole, and replacing it without ever leaving a damaged card.
#include "card/card_file.h"

#include <cerrno>
#include <cstring>

#include "base/host_files.h"

namespace marrowin::card {

namespace {

struct SplitPath {
    std::string folder;  // "" for the current folder
    std::string name;
};

SplitPath splitPath(const std::string& path) {
    const size_t cut = lastPathSeparator(path);
    if (cut == std::string::npos) return {"", path};
    return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

// Opens the folder a card lies in (the current one for "") into `opened`, which must outlive
// the temporaries working in it.
bool openCardFolder(const std::string& path, const std::string& folder, OpenFolder& opened, HostFolder& dir,
                    std::string& error) {
    if (folder.empty()) return true;
    opened = openFolder(folder);
    if (!opened.isOpen()) {
        error = path + ": cannot open its folder: " + errnoText(errno);
        return false;
    }
    dir = opened.ref();
    return true;
}

// Writes data to a new temporary file in dir, synced and closed.
bool writeTemporary(TemporaryFile& temp, const HostFolder& dir, const std::vector<uint8_t>& data,
                    std::string& error) {
    if (!temp.create(dir) || !temp.file().write(data.data(), data.size()) || !temp.finish()) {
        error = "cannot write a temporary file beside it: " + errnoText(errno);
        return false;
    }
    return true;
}

}  // namespace

bool readCardFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    HostFile file = openForReading(path);
    if (!file.isOpen()) {
        const int err = errno;
        // A FIFO or a device is refused before anything is read from it (a FIFO would block);
        // its errno is then nothing to show.
        if (pathKind(path) == PathKind::Other)
            error = path + ": not a regular file (a device, pipe or socket), so no card image";
        else
            error = path + ": cannot open: " + errnoText(err);
        return false;
    }
    return readOpenCardFile(file, path, out, error);
}

bool readOpenCardFile(HostFile& file, const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    if (!file.rewind()) {
        error = path + ": cannot read: " + errnoText(errno);
        return false;
    }
    const int64_t size = file.size();
    if (size < 0) {
        error = path + ": cannot read: " + errnoText(errno);
        return false;
    }
    if (uint64_t(size) > CARD_FILE_MAX) {
        error = path + ": too large for a memory card image";
        return false;
    }
    out.assign(size_t(size), 0);
    errno = 0;
    // One byte more than the size tells a file that grew while it was read.
    uint8_t extra = 0;
    if (file.read(out.data(), out.size()) != out.size() || file.read(&extra, 1) != 0) {
        error = path + ": cannot read it whole" + (errno ? ": " + errnoText(errno) : std::string(" (it changed while read)"));
        return false;
    }
    return true;
}

bool replaceCardFile(const std::string& path, const std::vector<uint8_t>& image,
                     const std::vector<uint8_t>& old, bool backup, std::string& error,
                     const FileState* readState) {
    SplitPath where = splitPath(path);
    // A link to a card (an emulator's card folder, say) stays a link: the card it leads to is
    // replaced, and its backup is kept beside that.
    if (pathKind(path) == PathKind::File) {
        OpenFolder in = where.folder.empty() ? OpenFolder() : openFolder(where.folder);
        const HostFolder inRef = where.folder.empty() ? HostFolder() : in.ref();
        const std::string real = lookUpName(inRef, where.name).kind == PathKind::Other ? realPath(path) : "";
        if (!real.empty()) where = splitPath(real);
    }
    const std::string target = where.folder + where.name;
    OpenFolder opened;
    HostFolder dir;
    if (!openCardFolder(path, where.folder, opened, dir, error)) return false;
    // Temporaries of an earlier run that was killed between writing and renaming.
    removeStaleTemporaries(dir);

    TemporaryFile fresh;
    if (!writeTemporary(fresh, dir, image, error)) {
        error = path + ": " + error;
        return false;
    }
    copyPermissions(target, where.folder + fresh.name());
    // Whoever changed the card since it was read (a program that takes no lock) keeps their
    // change, and the backup they may rely on: this one is given up instead.
    auto stillAsRead = [&] {
        FileState now;
        if (!readState || (stateOfPath(target, now) && now == *readState)) return true;
        error = path + ": changed by another program while this change was made; nothing written";
        return false;
    };
    if (!stillAsRead()) return false;
    if (backup) {
        TemporaryFile saved;
        if (!writeTemporary(saved, dir, old, error)) {
            error = path + ": backup: " + error;
            return false;
        }
        copyPermissions(target, where.folder + saved.name());
        if (int err = saved.placeReplacing(where.name + ".bak")) {
            error = path + ": cannot name the backup " + where.name + ".bak: " + errnoText(err);
            return false;
        }
    }
    if (!stillAsRead()) return false;
    if (int err = fresh.placeReplacing(where.name)) {
        error = path + ": cannot replace it: " + errnoText(err);
        return false;
    }
    if (!syncFolder(dir)) {
        // The new card has its name; only its durability across a power cut is in doubt.
        error = path + ": written, but its folder could not be synced: " + errnoText(errno);
        return false;
    }
    return true;
}

bool writeNewCardFile(const std::string& path, const std::vector<uint8_t>& image, bool replace,
                      std::string& error, bool* taken) {
    const SplitPath where = splitPath(path);
    OpenFolder opened;
    HostFolder dir;
    if (!openCardFolder(path, where.folder, opened, dir, error)) return false;
    const NameInfo there = lookUpName(dir, where.name);
    if (there.kind != PathKind::Missing && (!replace || there.kind != PathKind::File)) {
        error = path + (there.kind == PathKind::File ? ": already exists" : ": already exists and is not a regular file");
        if (taken) *taken = there.kind == PathKind::File;
        return false;
    }
    TemporaryFile fresh;
    if (!writeTemporary(fresh, dir, image, error)) {
        error = path + ": " + error;
        return false;
    }
    const int err = replace ? fresh.placeReplacing(where.name) : fresh.placeWithoutReplacing(where.name);
    if (err) {
        error = path + ": " + (err == EEXIST ? std::string("already exists") : errnoText(err));
        return false;
    }
    if (!syncFolder(dir)) {
        error = path + ": written, but its folder could not be synced: " + errnoText(errno);
        return false;
    }
    return true;
}

}  // namespace marrowin::card
