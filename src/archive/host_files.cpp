#include "archive/host_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace marrowin {

HostFile& HostFile::operator=(HostFile&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

void HostFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

uint64_t HostFile::read(void* buffer, uint64_t n) {
    if (fd_ < 0) return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < n) {
        // Linux moves at most about 2 GiB per call; ask for no more than that.
        size_t chunk = size_t(std::min<uint64_t>(n - done, 0x40000000));
        ssize_t got = ::read(fd_, p + done, chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += uint64_t(got);
    }
    return done;
}

bool HostFile::write(const void* buffer, uint64_t n) {
    if (fd_ < 0) return false;
    auto* p = static_cast<const uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < n) {
        size_t chunk = size_t(std::min<uint64_t>(n - done, 0x40000000));
        ssize_t put = ::write(fd_, p + done, chunk);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += uint64_t(put);
    }
    return true;
}

int64_t HostFile::size() const {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
    return int64_t(st.st_size);
}

namespace {

// Keeps an open descriptor only when it is a regular file (and, for writing, one with no other
// names), and clears the O_NONBLOCK it was opened with.
HostFile regularFileOnly(int fd, bool soleLink) {
    if (fd < 0) return HostFile();
    HostFile file(fd);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return HostFile();
    if (soleLink && st.st_nlink > 1) {
        errno = EMLINK;
        return HostFile();
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return HostFile();
    return file;
}

}  // namespace

HostFile openForReading(const std::string& path, int dirFd) {
    // Paths the user gives may be links; what they lead to must be a regular file. O_NONBLOCK
    // keeps a FIFO from hanging the open; it is cleared again for the read.
    return regularFileOnly(openat(dirFd, path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK), false);
}

HostFile createExclusive(const std::string& name, int dirFd) {
    int fd = openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd < 0 ? HostFile() : HostFile(fd);
}

HostFile createOrEmpty(const std::string& name, int dirFd) {
    // O_NONBLOCK: a FIFO planted under the name must not block us before it is refused. The
    // file is emptied only once it is known to be ours alone: a hard link planted under the
    // name would otherwise empty and rewrite a file somewhere else.
    HostFile file = regularFileOnly(
        openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644),
        true);
    if (file.isOpen() && ftruncate(file.fd(), 0) != 0) return HostFile();
    return file;
}

PathKind pathKind(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISREG(st.st_mode)) return PathKind::File;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    return PathKind::Other;
}

bool makeFolder(const std::string& name, int dirFd) {
    if (mkdirat(dirFd, name.c_str(), 0755) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st;
    return fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool listFolder(const std::string& path, std::vector<FolderItem>& items) {
    items.clear();
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    int fd = dirfd(dir);
    while (dirent* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        FolderItem item;
        item.name = name;
        // Links are followed: a link to a regular file counts as that file.
        struct stat st;
        if (fstatat(fd, d->d_name, &st, 0) == 0) {
            item.isRegular = S_ISREG(st.st_mode);
            item.isFolder = S_ISDIR(st.st_mode);
            if (item.isRegular) item.size = uint64_t(st.st_size);
            item.device = uint64_t(st.st_dev);
            item.inode = uint64_t(st.st_ino);
        }
        items.push_back(std::move(item));
    }
    closedir(dir);
    std::sort(items.begin(), items.end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return true;
}

LocalTime localTimeNow() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    LocalTime t;
    if (!localtime_r(&now, &tm)) return t;
    t.year = uint16_t(tm.tm_year + 1900);
    t.month = uint8_t(tm.tm_mon + 1);
    t.day = uint8_t(tm.tm_mday);
    t.hour = uint8_t(tm.tm_hour);
    t.minute = uint8_t(tm.tm_min);
    // A leap second (60) is folded into 59, the largest value a stamp holds.
    t.second = uint8_t(std::min(tm.tm_sec, 59));
    return t;
}

}  // namespace marrowin
