#pragma once
// The small file layer that the save operations use, one header for two hosts: POSIX
// (host_files_posix.cpp) and Windows (host_files_win32.cpp). Names are UTF-8 (or raw bytes on
// POSIX) here; Windows gets UTF-16 at its API. Every file is opened relative to a folder and
// never through a symbolic link at its last component.
#ifndef _WIN32
#include <fcntl.h>
#endif

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowin {

// Where a path's last separator stands ("/", and "\\" on Windows as well); npos when none.
inline size_t lastPathSeparator(const std::string& path) {
#ifdef _WIN32
    return path.find_last_of("/\\");
#else
    return path.rfind('/');
#endif
}

// A folder that names are taken relative to, not owned: an open descriptor on POSIX (AT_FDCWD,
// the default, for the current folder), the folder's path on Windows (empty for the current
// folder), where nothing opens relative to a handle. Made implicitly from a descriptor so
// POSIX callers pass theirs as before.
class HostFolder {
public:
    HostFolder() = default;
#ifdef _WIN32
    HostFolder(std::string path) : path_(std::move(path)) {}
    HostFolder(const char* path) : path_(path) {}
    const std::string& path() const { return path_; }
    // The path of `name` inside this folder.
    std::string pathOf(const std::string& name) const;

private:
    std::string path_;
#else
    HostFolder(int fd) : fd_(fd) {}
    int fd() const { return fd_; }

private:
    int fd_ = AT_FDCWD;
#endif
};

// An opened folder; closes itself. ref() is valid while it lives.
class OpenFolder {
public:
    OpenFolder() = default;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    OpenFolder(OpenFolder&& o) noexcept;
    OpenFolder& operator=(OpenFolder&& o) noexcept;
    ~OpenFolder();

    bool isOpen() const { return open_; }
    HostFolder ref() const { return ref_; }

private:
    friend OpenFolder openFolder(const std::string&, const HostFolder&, bool);
    HostFolder ref_;
    bool open_ = false;
};

// Opens the folder at `path` (relative to `in`); with noFollow, refuses a link at its last
// component. Not open (with errno) when that is not a folder.
OpenFolder openFolder(const std::string& path, const HostFolder& in = {}, bool noFollow = false);

// What tells two names of one file apart from two files: device and inode on POSIX, volume
// serial and file index on Windows.
struct FileId {
    uint64_t device = 0, inode = 0;
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
    bool operator<(const FileId& o) const {
        return device != o.device ? device < o.device : inode < o.inode;
    }
};

enum class PathKind { Missing, File, Folder, Other };

// What a name in a folder is, without following a link at it (a link is Other).
struct NameInfo {
    PathKind kind = PathKind::Missing;
    FileId id;
};
NameInfo lookUpName(const HostFolder& folder, const std::string& name);

// Which file a path leads to (links followed); false with errno when nothing is there.
bool identityOfPath(const std::string& path, FileId& id);

// The absolute path with every link resolved, or "" when it cannot be resolved.
std::string realPath(const std::string& path);

// An open file. Move-only; closes itself.
class HostFile {
public:
    HostFile() = default;
    // Takes a native descriptor (a HANDLE on Windows).
    explicit HostFile(intptr_t native) : fd_(native) {}
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    HostFile(HostFile&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    HostFile& operator=(HostFile&& o) noexcept;
    ~HostFile() { close(); }

    bool isOpen() const { return fd_ != -1; }
#ifndef _WIN32
    int fd() const { return int(fd_); }
#endif
    intptr_t native() const { return fd_; }
    // False (with errno) when the system reports an error at close: some file systems report
    // a failed write only there.
    bool close();
    // Puts the file's data on the disk (fsync); false with errno.
    bool sync();

    // Reads up to n bytes, going on after short reads; gives the count read.
    uint64_t read(void* buffer, uint64_t n);
    // Writes all n bytes; false on any failure.
    bool write(const void* buffer, uint64_t n);
    // Size in bytes, or -1.
    int64_t size() const;
    // Back to the first byte; false with errno.
    bool rewind();
    // Which file this is; false with errno.
    bool identity(FileId& id) const;

private:
    intptr_t fd_ = -1;
};

// Reads up to n bytes from a C descriptor (standard input), in binary, going on after short
// reads; -1 on an error.
int64_t readDescriptor(int fd, void* buffer, uint64_t n);

// An existing regular file, for reading.
HostFile openForReading(const std::string& path, const HostFolder& dir = {});
// A new file that must not exist yet (O_EXCL): the way to never replace anything.
HostFile createExclusive(const std::string& name, const HostFolder& dir = {});
// A file created or emptied for writing; refuses to follow a symbolic link.
HostFile createOrEmpty(const std::string& name, const HostFolder& dir = {});

PathKind pathKind(const std::string& path);

// Makes a folder; true when it was made or a real folder (not a link) is already there.
bool makeFolder(const std::string& name, const HostFolder& dir = {});

struct FolderItem {
    std::string name;  // host name (UTF-8 or raw bytes)
    uint64_t size = 0;
    bool isFolder = false;
    bool isRegular = false;
    bool isLink = false;  // the name itself is a symbolic link
    FileId id;  // of what the name leads to: tells two names of one file
};
// Lists a folder's items (without "." and ".."), sorted by name so archives are reproducible.
// False when the folder cannot be listed.
bool listFolder(const std::string& path, std::vector<FolderItem>& items);

// ---- changing a file in place of another -----------------------------------------------

// What says a file is still the one that was read: which file, its size and its last change.
struct FileState {
    FileId id;
    int64_t size = -1;
    int64_t modifiedNs = 0;  // since 1970
    bool operator==(const FileState& o) const {
        return id == o.id && size == o.size && modifiedNs == o.modifiedNs;
    }
};
bool stateOfFile(const HostFile& file, FileState& out);
// Of what the path leads to (links followed); false with errno.
bool stateOfPath(const std::string& path, FileState& out);
// A path's modification time in Unix seconds; false with errno.
bool modifiedSeconds(const std::string& path, int64_t& seconds);

// An existing regular file opened for reading and writing, for a change under a lock.
HostFile openForChange(const std::string& path);

// Whether a file may be renamed over while this process holds it open (and locked). Windows
// refuses to replace an open file on some versions: a change lets go of its lock just before
// the rename there, and relies on its check that the card is still the one it read.
#ifdef _WIN32
constexpr bool HOST_REPLACES_OPEN_FILES = false;
#else
constexpr bool HOST_REPLACES_OPEN_FILES = true;
#endif

// Takes an exclusive advisory lock on the whole file, waiting up to waitMs for another holder
// to let go. 0, EWOULDBLOCK when another still holds it (holder gets its pid where the host
// can tell, else 0), or another errno. Held until the file is closed. On POSIX the lock is the
// process's: closing any other descriptor of the same file releases it too, so a file locked
// here is read only through this descriptor.
int lockFileExclusive(HostFile& file, int waitMs, long& holder);

// Gives file or folder `from` the name `to` (both in dir) only when `to` is free, in one step
// where the host allows: 0, EEXIST when it is taken, or another errno.
int renameWithoutReplacing(const std::string& from, const std::string& to, const HostFolder& dir = {});

// Removes a folder and everything in it, never following a link out of it; true when nothing
// is left (or nothing was there).
bool removeTree(const std::string& path);

// Gives `to` the permission bits of what `from` leads to; quietly leaves them otherwise.
void copyPermissions(const std::string& from, const std::string& to);

// ---- writing without losing anything --------------------------------------------------
// New files are written under a temporary name ".marrowin-PID-N.tmp" beside their final name,
// put on the disk, and only then given their final name; so an interrupted run never leaves a
// partial file under a real name.

// True when `name` is exactly a temporary name of ours; gives the pid in it.
bool parseTemporaryName(std::string_view name, long& pid);
// The temporary name for a process and attempt number.
std::string temporaryName(long pid, int attempt);

// A temporary file in a folder. While it exists, a caught SIGINT, SIGTERM, SIGHUP, SIGXFSZ or
// SIGPIPE (on Windows: Ctrl+C, Ctrl+Break, closing the console) removes it before the process
// ends as the signal says. Removed by the destructor
// unless it was placed under its final name.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the file in dir (which must stay open while it exists); false with errno.
    bool create(const HostFolder& dir);
    HostFile& file() { return file_; }
    const std::string& name() const { return name_; }
    // Syncs and closes the file, checking both; false with errno.
    bool finish();
    // Gives the finished file the name `finalName`, replacing a file there. 0 or an errno.
    int placeReplacing(const std::string& finalName);
    // Gives it `finalName` only when that name is free: EEXIST when it is taken. 0 or an errno.
    int placeWithoutReplacing(const std::string& finalName);
    // Removes the file (when not placed).
    void discard();

private:
    HostFolder dir_;
    std::string name_;
    HostFile file_;
    bool exists_ = false;
    int slot_ = -1;  // its place among the names a signal removes
};

// Writes size bytes to a new file at path (relative to the current directory, or absolute):
// whole under a temporary name beside it, synced, then given the name only when it is free.
// 0, EEXIST when the name is taken, or another errno; nothing is left behind on failure.
int writeNewFile(const std::string& path, const void* data, uint64_t size);

// How bytes reach a named output (a picture the user names or a thumbnailer is given).
enum class OutputWrite {
    // Only as a new file: an existing name (even a dangling link) is refused. Written beside
    // the target under a temporary name and given the name whole, so no partial file is seen.
    NewFile,
    // The name the user gave: "-" is standard output; an existing file, device or FIFO (or a
    // link to one) is written in place, so whoever holds it open reads the new bytes and links
    // stay links; a missing name is made as with NewFile. A regular file gets room for the new
    // bytes before any of it changes, so on a full disk it keeps what it held; one whose write
    // fails after that is left empty rather than half written.
    InPlace,
};
// Writes `size` bytes to `path` as `mode` says; false with a reason.
bool writeOutput(const std::string& path, const void* data, uint64_t size, OutputWrite mode,
                 std::string& error);

// writeOutput's new file, shared by both hosts: made, or the name was taken meanwhile, or failed.
enum class NewOutput { Made, Exists, Failed };
NewOutput createNewOutput(const std::string& path, const void* data, uint64_t size, std::string& error);

// Removes temporary files of ours left in the folder by runs that were killed: only regular
// files whose name matches exactly and whose process is gone. Gives how many went.
size_t removeStaleTemporaries(const HostFolder& dir);

// A folder being filled under a temporary name: while registered, a caught signal (see
// TemporaryFile) removes its files and then the folder. It may hold plain files and folders of
// them, two deep.
// Gives a slot for unregisterTemporaryFolder, or -1 when none is free.
int registerTemporaryFolder(const HostFolder& dir, const std::string& name);
void unregisterTemporaryFolder(int slot);
// The pid of a process given in a name, and whether that process is gone.
bool processGone(long pid);
long currentProcessId();

// Puts a folder's entries (a new or renamed name) on the disk; false with errno. Windows has
// no such call (its file systems keep names in their journal): true there.
bool syncFolder(const HostFolder& dir);

// Files and folders are synced to the disk before and after they take their names (on by
// default). Fuzzing, where nothing written is kept, may switch it off for speed.
void setDiskSync(bool on);
bool diskSyncEnabled();

// The system's text for an errno value (EIO for 0: a failure whose cause went unsaid).
std::string errnoText(int err);

// The local time of now, in the fields the archive stamps use.
struct LocalTime {
    uint16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime localTimeNow();

}  // namespace marrowin
