/* Loaded with LD_PRELOAD into marrowin-cli by the tests: makes close() or fsync() of a regular
 * file opened for writing fail with EIO, as a quota or a network file system reports a write
 * it could not keep only then. MARROWIN_FAIL_IO names the call: "close" or "fsync". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
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
