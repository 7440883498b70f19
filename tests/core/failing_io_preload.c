/* Loaded with LD_PRELOAD into marrowin-cli by the tests: makes close() or fsync() of a regular
 * file opened for writing fail with EIO, as a quota or a network file system reports a write
 * it could not keep only then. MARROWIN_FAIL_IO names the call: "close" or "fsync".
 * MARROWIN_FAIL_IO=kill-rename kills the process (SIGKILL) as it renames a file to the name
 * in MARROWIN_FAIL_NAME: a crash between writing a replacement and putting it in place.
 * MARROWIN_FAIL_IO=int-rename sends it SIGINT there instead (a Ctrl+C at that step), for
 * renameat and renameat2 alike. MARROWIN_FAIL_IO=full is a full file system: a write or a
 * reservation that would take a regular file past its present size fails with ENOSPC (what fits
 * in the present size is written), while bytes already there may be overwritten.
 * MARROWIN_FAIL_IO=full-unreserved is that disk on a file system that cannot reserve room
 * (posix_fallocate gives EOPNOTSUPP). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int chosen(int fd, const char* call) {
    const char* which = getenv("MARROWIN_FAIL_IO");
    struct stat st;
    int flags;
    if (!which || strcmp(which, call) != 0) return 0;
    flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && fstat(fd, &st) == 0 &&
           S_ISREG(st.st_mode);
}

/* Under "full", how many of n bytes at offset (-1: the file offset) fit in the file as it is;
 * n when the descriptor is not chosen. */
static size_t fitting(int fd, off_t offset, size_t n) {
    struct stat st;
    if ((!chosen(fd, "full") && !chosen(fd, "full-unreserved")) || fstat(fd, &st) != 0) return n;
    if (offset < 0) offset = lseek(fd, 0, SEEK_CUR);
    if (offset < 0 || offset >= st.st_size) return 0;
    return (size_t)(st.st_size - offset) < n ? (size_t)(st.st_size - offset) : n;
}

ssize_t write(int fd, const void* buf, size_t n) {
    static ssize_t (*real)(int, const void*, size_t);
    size_t fit;
    if (!real) real = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    fit = fitting(fd, -1, n);
    if (n > 0 && fit == 0) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, fit);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    size_t fit;
    if (!real) real = (ssize_t (*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    fit = fitting(fd, offset, n);
    if (n > 0 && fit == 0) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, fit, offset);
}

int posix_fallocate(int fd, off_t offset, off_t length) {
    static int (*real)(int, off_t, off_t);
    struct stat st;
    if (!real) real = (int (*)(int, off_t, off_t))dlsym(RTLD_NEXT, "posix_fallocate");
    if (chosen(fd, "full") && fstat(fd, &st) == 0 && offset + length > st.st_size) return ENOSPC;
    if (chosen(fd, "full-unreserved")) return EOPNOTSUPP;
    return real(fd, offset, length);
}

int close(int fd) {
    static int (*real)(int);
    int fail, r;
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "close");
    fail = chosen(fd, "close");
    r = real(fd);
    if (fail) {
        errno = EIO;
        return -1;
    }
    return r;
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (chosen(fd, "fsync")) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
    static int (*real)(int, const char*, int, const char*);
    const char* which = getenv("MARROWIN_FAIL_IO");
    const char* name = getenv("MARROWIN_FAIL_NAME");
    const char* last = strrchr(newpath, '/');
    if (!real) real = (int (*)(int, const char*, int, const char*))dlsym(RTLD_NEXT, "renameat");
    if (which && name && strcmp(which, "kill-rename") == 0 && strcmp(last ? last + 1 : newpath, name) == 0)
        kill(getpid(), SIGKILL);
    if (which && name && strcmp(which, "int-rename") == 0 && strcmp(last ? last + 1 : newpath, name) == 0)
        raise(SIGINT);
    return real(olddirfd, oldpath, newdirfd, newpath);
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
    static int (*real)(int, const char*, int, const char*, unsigned int);
    const char* which = getenv("MARROWIN_FAIL_IO");
    const char* name = getenv("MARROWIN_FAIL_NAME");
    const char* last = strrchr(newpath, '/');
    if (!real) real = (int (*)(int, const char*, int, const char*, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    if (which && name && strcmp(which, "int-rename") == 0 && strcmp(last ? last + 1 : newpath, name) == 0)
        raise(SIGINT);
    return real(olddirfd, oldpath, newdirfd, newpath, flags);
}
