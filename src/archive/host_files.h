#pragma once
// The small file layer that the save operations use: POSIX here, one place for a port.
// Every file is opened relative to a directory descriptor (AT_FDCWD for the current
// directory) and never through a symbolic link at its last component.
#include <fcntl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowin {

// An open file. Move-only; closes itself.
class HostFile {
public:
    HostFile() = default;
    explicit HostFile(int fd) : fd_(fd) {}
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    HostFile(HostFile&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    HostFile& operator=(HostFile&& o) noexcept;
    ~HostFile() { close(); }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
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

private:
    int fd_ = -1;
};

// An existing regular file, for reading.
HostFile openForReading(const std::string& path, int dirFd = AT_FDCWD);
// A new file that must not exist yet (O_EXCL): the way to never replace anything.
HostFile createExclusive(const std::string& name, int dirFd = AT_FDCWD);
// A file created or emptied for writing; refuses to follow a symbolic link.
HostFile createOrEmpty(const std::string& name, int dirFd = AT_FDCWD);

enum class PathKind { Missing, File, Folder, Other };
PathKind pathKind(const std::string& path);

// Makes a folder; true when it was made or a real folder (not a link) is already there.
bool makeFolder(const std::string& name, int dirFd = AT_FDCWD);

struct FolderItem {
    std::string name;  // host name (UTF-8 or raw bytes)
    uint64_t size = 0;
    bool isFolder = false;
    bool isRegular = false;
    bool isLink = false;  // the name itself is a symbolic link
    uint64_t device = 0, inode = 0;  // of what the name leads to: tells two names of one file
};
// Lists a folder's items (without "." and ".."), sorted by name so archives are reproducible.
// False when the folder cannot be listed.
bool listFolder(const std::string& path, std::vector<FolderItem>& items);

// ---- writing without losing anything --------------------------------------------------
// New files are written under a temporary name ".marrowin-PID-N.tmp" beside their final name,
// put on the disk, and only then given their final name; so an interrupted run never leaves a
// partial file under a real name.

// True when `name` is exactly a temporary name of ours; gives the pid in it.
bool parseTemporaryName(std::string_view name, long& pid);

// A temporary file in a folder. While it exists, a caught SIGINT, SIGTERM, SIGHUP, SIGXFSZ or
// SIGPIPE removes it before the process ends as the signal says. Removed by the destructor
// unless it was placed under its final name.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the file in dirFd (which must stay open while it exists); false with errno.
    bool create(int dirFd);
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
    int dirFd_ = AT_FDCWD;
    std::string name_;
    HostFile file_;
    bool exists_ = false;
};

// Removes temporary files of ours left in the folder by runs that were killed: only regular
// files whose name matches exactly and whose process is gone. Gives how many went.
size_t removeStaleTemporaries(int dirFd);

// Puts a folder's entries (a new or renamed name) on the disk; false with errno.
bool syncFolder(int dirFd);

// Files and folders are synced to the disk before and after they take their names (on by
// default). Fuzzing, where nothing written is kept, may switch it off for speed.
void setDiskSync(bool on);

// The local time of now, in the fields the archive stamps use.
struct LocalTime {
    uint16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime localTimeNow();

}  // namespace marrowin
