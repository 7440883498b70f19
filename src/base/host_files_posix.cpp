// The file layer on POSIX systems: descriptors, *at() calls, signals.
#include "base/host_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

bool HostFile::close() {
    if (fd_ < 0) return true;
    // The descriptor is gone whatever close says (Linux); EINTR is not retried.
    int r = ::close(int(fd_));
    fd_ = -1;
    return r == 0;
}

bool HostFile::sync() {
    if (!diskSyncEnabled() && fd_ >= 0) return true;
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    while (::fsync(int(fd_)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

uint64_t HostFile::read(void* buffer, uint64_t n) {
    if (fd_ < 0) return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < n) {
        // Linux moves at most about 2 GiB per call; ask for no more than that.
        size_t chunk = size_t(std::min<uint64_t>(n - done, 0x40000000));
        ssize_t got = ::read(int(fd_), p + done, chunk);
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
        ssize_t put = ::write(int(fd_), p + done, chunk);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += uint64_t(put);
    }
    return true;
}

int64_t HostFile::size() const {
    struct stat st;
    if (fd_ < 0 || fstat(int(fd_), &st) != 0) return -1;
    return int64_t(st.st_size);
}

bool HostFile::rewind() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    return ::lseek(int(fd_), 0, SEEK_SET) == 0;
}

bool HostFile::identity(FileId& id) const {
    struct stat st;
    if (fd_ < 0) errno = EBADF;
    if (fd_ < 0 || fstat(int(fd_), &st) != 0) return false;
    id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    return true;
}

int64_t readDescriptor(int fd, void* buffer, uint64_t n) {
    auto* p = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < n) {
        ssize_t got = ::read(fd, p + done, size_t(std::min<uint64_t>(n - done, 1 << 20)));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += uint64_t(got);
    }
    return int64_t(done);
}

OpenFolder::OpenFolder(OpenFolder&& o) noexcept : ref_(o.ref_), open_(o.open_) { o.open_ = false; }

OpenFolder& OpenFolder::operator=(OpenFolder&& o) noexcept {
    if (this != &o) {
        if (open_) ::close(ref_.fd());
        ref_ = o.ref_;
        open_ = o.open_;
        o.open_ = false;
    }
    return *this;
}

OpenFolder::~OpenFolder() {
    if (open_) ::close(ref_.fd());
}

OpenFolder openFolder(const std::string& path, const HostFolder& in, bool noFollow) {
    OpenFolder folder;
    int fd = ::openat(in.fd(), path.c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
    if (fd >= 0) {
        folder.ref_ = HostFolder(fd);
        folder.open_ = true;
    }
    return folder;
}

NameInfo lookUpName(const HostFolder& folder, const std::string& name) {
    NameInfo info;
    struct stat st;
    if (::fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return info;
    info.kind = S_ISREG(st.st_mode) ? PathKind::File
                : S_ISDIR(st.st_mode) ? PathKind::Folder
                                      : PathKind::Other;
    info.id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    return info;
}

bool identityOfPath(const std::string& path, FileId& id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    return true;
}

std::string realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return "";
    std::string r(real);
    std::free(real);
    return r;
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

HostFile openForReading(const std::string& path, const HostFolder& dir) {
    // Paths the user gives may be links; what they lead to must be a regular file. O_NONBLOCK
    // keeps a FIFO from hanging the open; it is cleared again for the read.
    return regularFileOnly(openat(dir.fd(), path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK), false);
}

HostFile createExclusive(const std::string& name, const HostFolder& dir) {
    int fd = openat(dir.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd < 0 ? HostFile() : HostFile(fd);
}

HostFile createOrEmpty(const std::string& name, const HostFolder& dir) {
    // O_NONBLOCK: a FIFO planted under the name must not block us before it is refused. The
    // file is emptied only once it is known to be ours alone: a hard link planted under the
    // name would otherwise empty and rewrite a file somewhere else.
    HostFile file = regularFileOnly(
        openat(dir.fd(), name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644),
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

bool makeFolder(const std::string& name, const HostFolder& dir) {
    if (mkdirat(dir.fd(), name.c_str(), 0755) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st;
    return fstatat(dir.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
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
        struct stat own;
        item.isLink = fstatat(fd, d->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
        // Links are followed: a link to a regular file counts as that file.
        struct stat st;
        if (fstatat(fd, d->d_name, &st, 0) == 0) {
            item.isRegular = S_ISREG(st.st_mode);
            item.isFolder = S_ISDIR(st.st_mode);
            if (item.isRegular) item.size = uint64_t(st.st_size);
            item.id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
        }
        items.push_back(std::move(item));
    }
    closedir(dir);
    std::sort(items.begin(), items.end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return true;
}

// ---- temporary files ------------------------------------------------------------------

namespace {

const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE};

// Every temporary file and folder that exists now, for the signal handler: only plain data it
// can use without locks or allocation. A change writes two files at once (the new card and
// its backup) besides a staging folder, so there is room for a few.
constexpr int TEMP_SLOTS = 16;
enum : int { SLOT_FREE = 0, SLOT_FILE = 1, SLOT_FOLDER = 2 };
struct TempSlot {
    char name[4096];
    int dir;
    volatile sig_atomic_t kind;
};
TempSlot tempSlots[TEMP_SLOTS];

// Empties and removes a folder of plain files (and folders of them, two deep) with system calls alone (getdents64, unlinkat),
// as a signal handler may.
void removeFlatFolderNow(int dirFd, const char* name, int depth = 0) {
#ifdef __linux__
    int fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        // Names are removed while the folder is read: read it again until a pass finds nothing.
        for (int pass = 0; pass < 64; ++pass) {
            bool removed = false;
            lseek(fd, 0, SEEK_SET);
            for (;;) {
                long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
                if (n <= 0) break;
                for (long at = 0; at < n;) {
                    // struct linux_dirent64: ino 8, off 8, reclen 2, type 1, name.
                    unsigned short reclen;
                    std::memcpy(&reclen, buffer + at + 16, sizeof reclen);
                    const char* entry = buffer + at + 19;
                    if (reclen == 0) break;
                    if (entry[0] == '.' && (entry[1] == 0 || (entry[1] == '.' && entry[2] == 0))) {
                    } else if (unlinkat(fd, entry, 0) == 0) {
                        removed = true;
                    } else if (errno == EISDIR && depth < 2) {
                        removeFlatFolderNow(fd, entry, depth + 1);
                        removed = true;
                    }
                    at += reclen;
                }
            }
            if (!removed) break;
        }
        ::close(fd);
    }
#endif
    unlinkat(dirFd, name, AT_REMOVEDIR);
}

extern "C" void removeTempOnSignal(int sig) {
    int savedErrno = errno;
    for (TempSlot& s : tempSlots) {
        if (s.kind == SLOT_FILE) unlinkat(s.dir, s.name, 0);
        else if (s.kind == SLOT_FOLDER) removeFlatFolderNow(s.dir, s.name);
        s.kind = SLOT_FREE;
    }
    // End the way the signal would have ended us: it is delivered again, with the default
    // action, once this handler returns and unblocks it.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
    errno = savedErrno;
}

// Installs the handler for signals nobody else has claimed (left at their default). Looked
// at again for every temporary: a signal ignored at first (nohup) and set back to its default
// later is covered from then on.
void installSignalCleanup() {
    for (int sig : CLEANUP_SIGNALS) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
            old.sa_handler != SIG_DFL)
            continue;
        struct sigaction sa {};
        sa.sa_handler = removeTempOnSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

// Blocks the cleanup signals while the registration changes, so the handler never sees half
// a name.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : CLEANUP_SIGNALS) sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

// Called with the signals held; -1 when every slot is taken (the name is then not covered).
int registerTemp(int dirFd, const std::string& name, int kind) {
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        TempSlot& s = tempSlots[i];
        if (s.kind != SLOT_FREE) continue;
        // A cut name could name something else: such a one is not registered.
        if (name.size() >= sizeof s.name) return -1;
        size_t n = name.size();
        std::memcpy(s.name, name.data(), n);
        s.name[n] = '\0';
        s.dir = dirFd;
        s.kind = kind;
        return i;
    }
    return -1;
}

void unregisterTemp(int& slot) {
    SignalsHeld held;
    if (slot >= 0 && slot < TEMP_SLOTS) tempSlots[slot].kind = SLOT_FREE;
    slot = -1;
}

}  // namespace


bool TemporaryFile::create(const HostFolder& dir) {
    discard();
    installSignalCleanup();
    dir_ = dir;
    const int dirFd = dir.fd();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = temporaryName(long(::getpid()), attempt);
        // Signals wait until the new file is registered, so none can leave it behind.
        SignalsHeld held;
        HostFile f = createExclusive(name, dirFd);
        if (f.isOpen()) {
            slot_ = registerTemp(dirFd, name, SLOT_FILE);
            name_ = name;
            file_ = std::move(f);
            exists_ = true;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
}

int TemporaryFile::placeReplacing(const std::string& finalName) {
    if (!exists_) return ENOENT;
    if (renameat(dir_.fd(), name_.c_str(), dir_.fd(), finalName.c_str()) != 0) return errno;
    exists_ = false;
    unregisterTemp(slot_);
    return 0;
}

int TemporaryFile::placeWithoutReplacing(const std::string& finalName) {
    if (!exists_) return ENOENT;
    if (renameat2(dir_.fd(), name_.c_str(), dir_.fd(), finalName.c_str(), RENAME_NOREPLACE) == 0) {
        exists_ = false;
        unregisterTemp(slot_);
        return 0;
    }
    int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return err;
    // File systems without the flag: a second hard link is made only when the name is free.
    if (linkat(dir_.fd(), name_.c_str(), dir_.fd(), finalName.c_str(), 0) != 0) return errno;
    discard();
    return 0;
}

void TemporaryFile::discard() {
    file_.close();
    if (exists_) {
        unlinkat(dir_.fd(), name_.c_str(), 0);
        exists_ = false;
        unregisterTemp(slot_);
    }
}

size_t removeStaleTemporaries(const HostFolder& folder) {
    int fd = openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    std::vector<std::string> stale;
    while (dirent* d = readdir(dir)) {
        long pid = 0;
        if (!parseTemporaryName(d->d_name, pid) || pid == long(getpid())) continue;
        struct stat st;
        if (fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        // Only when that process is gone: a live one may still be writing it.
        if (kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        stale.push_back(d->d_name);
    }
    size_t removed = 0;
    for (const std::string& name : stale)
        if (unlinkat(fd, name.c_str(), 0) == 0) ++removed;
    closedir(dir);
    return removed;
}

bool syncFolder(const HostFolder& dir) {
    if (!diskSyncEnabled()) return true;
    int fd = openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int r;
    while ((r = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder at all; nothing more can be done there.
    if (r != 0 && err != EINVAL && err != EROFS) {
        errno = err;
        return false;
    }
    return true;
}

int registerTemporaryFolder(const HostFolder& dir, const std::string& name) {
    installSignalCleanup();
    SignalsHeld held;
    return registerTemp(dir.fd(), name, SLOT_FOLDER);
}

void unregisterTemporaryFolder(int slot) { unregisterTemp(slot); }

bool processGone(long pid) { return pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

long currentProcessId() { return long(::getpid()); }

// ---- changing a file in place of another -----------------------------------------------

namespace {

FileState stateOf(const struct stat& st) {
    FileState s;
    s.id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    s.size = int64_t(st.st_size);
    s.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

}  // namespace

bool stateOfFile(const HostFile& file, FileState& out) {
    struct stat st;
    if (!file.isOpen()) errno = EBADF;
    if (!file.isOpen() || fstat(file.fd(), &st) != 0) return false;
    out = stateOf(st);
    return true;
}

bool stateOfPath(const std::string& path, FileState& out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    out = stateOf(st);
    return true;
}

bool modifiedSeconds(const std::string& path, int64_t& seconds) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    seconds = int64_t(st.st_mtime);
    return true;
}

HostFile openForChange(const std::string& path) {
    return regularFileOnly(openat(AT_FDCWD, path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK), false);
}

int lockFileExclusive(HostFile& file, int waitMs, long& holder) {
    holder = 0;
    if (!file.isOpen()) return EBADF;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(file.fd(), F_SETLK, &lock) == 0) return 0;
        if (errno != EACCES && errno != EAGAIN && errno != EINTR) return errno;
        struct flock who {};
        who.l_type = F_WRLCK;
        who.l_whence = SEEK_SET;
        if (fcntl(file.fd(), F_GETLK, &who) == 0 && who.l_type != F_UNLCK) holder = long(who.l_pid);
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t waited = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (waited >= waitMs) return EWOULDBLOCK;
        struct timespec pause {0, 20 * 1000000};
        nanosleep(&pause, nullptr);
    }
}

int renameWithoutReplacing(const std::string& from, const std::string& to, const HostFolder& dir) {
    if (renameat2(dir.fd(), from.c_str(), dir.fd(), to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return err;
    struct stat st;
    if (fstatat(dir.fd(), from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) {
        // A second hard link is made only when the name is free; then the old name goes.
        if (linkat(dir.fd(), from.c_str(), dir.fd(), to.c_str(), 0) != 0) return errno;
        unlinkat(dir.fd(), from.c_str(), 0);
        return 0;
    }
    // A folder: the free name is taken by an empty folder of ours first, which rename may
    // then replace; a name taken by anyone else fails the mkdir.
    if (mkdirat(dir.fd(), to.c_str(), 0700) != 0) return errno;
    if (renameat(dir.fd(), from.c_str(), dir.fd(), to.c_str()) != 0) {
        err = errno;
        unlinkat(dir.fd(), to.c_str(), AT_REMOVEDIR);
        return err;
    }
    return 0;
}

namespace {

bool removeTreeIn(int parent, const char* name, int depth) {
    if (unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
    if (errno != EISDIR && errno != EPERM) return false;
    if (depth > 64) return false;
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* d = readdir(dir)) {
        const std::string n = d->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    bool ok = true;
    for (const std::string& n : names) ok = removeTreeIn(dirfd(dir), n.c_str(), depth + 1) && ok;
    closedir(dir);
    return unlinkat(parent, name, AT_REMOVEDIR) == 0 && ok;
}

}  // namespace

bool removeTree(const std::string& path) { return removeTreeIn(AT_FDCWD, path.c_str(), 0); }

void copyPermissions(const std::string& from, const std::string& to) {
    struct stat st;
    if (::stat(from.c_str(), &st) == 0) ::chmod(to.c_str(), st.st_mode & 07777);
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

// ---- named outputs -------------------------------------------------------------------------

namespace {

// The whole of `data`, however the kernel splits it; errno is kept on failure.
bool writeAll(int fd, const uint8_t* data, uint64_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// Room for `size` bytes in a regular file that holds `oldSize`, made before any of its bytes
// change: on a full disk the picture that is there stays whole. 0 or an errno.
int reserveRoom(int fd, off_t oldSize, uint64_t size) {
    if (off_t(size) <= oldSize) return 0;
    int err = posix_fallocate(fd, 0, off_t(size));
    if (err == 0) return 0;
    // Whatever a failed reservation left past the old end goes again.
    if (ftruncate(fd, oldSize) != 0) {
        // The old bytes are whole all the same; the failure below says what went wrong.
    }
    if (err != EOPNOTSUPP && err != EINVAL && err != ENOSYS) return err;
    // A file system that cannot reserve: zeros written past the old end take the room.
    std::vector<uint8_t> zeros(size_t(size - uint64_t(oldSize)), 0);
    size_t done = 0;
    while (done < zeros.size()) {
        const ssize_t n = ::pwrite(fd, zeros.data() + done, zeros.size() - done, oldSize + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            if (ftruncate(fd, oldSize) != 0) {
                // As above.
            }
            return err;
        }
        done += size_t(n);
    }
    return 0;
}

// Into what is already at path (following links): file managers hold the file they made
// open and read the picture back through it, a sandbox may bind just that file, and a
// device or FIFO must stay what it is.
bool writeInPlace(const std::string& path, const uint8_t* png, uint64_t pngSize, std::string& error) {
    // Not emptied at open: a regular file is emptied only once the picture has room.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == EISDIR ? path + " is a folder"
                                : "cannot write " + path + ": " + errnoText(errno);
        return false;
    }
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) {
        const int err = reserveRoom(fd, st.st_size, pngSize);
        if (err != 0) {
            ::close(fd);
            error = "cannot write " + path + ": " + errnoText(err) + " (the old contents are kept)";
            return false;
        }
    }
    bool ok = writeAll(fd, png, pngSize);
    // The rest of a longer old picture goes.
    if (ok && regular && ftruncate(fd, off_t(pngSize)) != 0) ok = false;
    int err = errno;
    // A half picture in a regular file would be taken for a broken one; leave it empty.
    if (!ok && regular && ftruncate(fd, 0) != 0) {
        // Nothing more to do: the write has failed already and says so.
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) error = "cannot write " + path + ": " + errnoText(err);
    return ok;
}

bool writeToStandardOutput(const uint8_t* png, uint64_t pngSize, std::string& error) {
    std::fflush(stdout);
    if (!writeAll(STDOUT_FILENO, png, pngSize)) {
        error = "cannot write to standard output: " + errnoText(errno);
        return false;
    }
    return true;
}

}  // namespace

bool writeOutput(const std::string& path, const void* data, uint64_t size, OutputWrite mode,
                 std::string& error) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (mode == OutputWrite::NewFile) return createNewOutput(path, bytes, size, error) == NewOutput::Made;
    if (path == "-") return writeToStandardOutput(bytes, size, error);

    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = "cannot write " + path + ": " + errnoText(errno);
            return false;
        }
        // Creating through a dangling link would put the picture where the link points,
        // somewhere the user did not name.
        if (lstat(path.c_str(), &st) == 0) {
            error = path + " is a link to nothing";
            return false;
        }
        const NewOutput created = createNewOutput(path, bytes, size, error);
        // Made by someone else meanwhile: write into it like any existing file.
        if (created != NewOutput::Exists) return created == NewOutput::Made;
    } else if (S_ISDIR(st.st_mode)) {
        error = path + " is a folder";
        return false;
    }
    return writeInPlace(path, bytes, size, error);
}

}  // namespace marrowin
