// The file layer on Windows: UTF-8 names inside, UTF-16 at every call, handles in binary.
// A folder is named by its path, since Win32 opens nothing relative to a folder handle.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "base/host_files.h"

namespace marrowin {

namespace {

HANDLE handleOf(intptr_t native) { return reinterpret_cast<HANDLE>(native); }
intptr_t nativeOf(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

// The errno value the shared code reports for the last Win32 error.
int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    // A name with ? * < > | : or " in it: nothing is missing, Windows refuses the name, and
    // errnoText says so for EINVAL there.
    case ERROR_INVALID_NAME:
        return EINVAL;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    default:
        return EIO;
    }
}

void setErrnoFromLastError() { errno = errnoOf(GetLastError()); }

// UTF-8 to UTF-16; false (EILSEQ) for bytes that are not UTF-8, which no Windows name holds.
bool toWide(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty()) return true;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()),
                                nullptr, 0);
    if (n <= 0) {
        errno = EILSEQ;
        return false;
    }
    out.resize(size_t(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), out.data(), n);
    return true;
}

// A path in UTF-16 for the W calls. Past MAX_PATH it takes the "\\?\" form, which every W
// call takes at any length, even where the manifest's longPathAware is not honoured (Windows
// before 10 1607, or long paths off in the registry). That form skips the normalising of
// "/", "." and "..": GetFullPathNameW does it first.
bool toWidePath(const std::string& path, std::wstring& out) {
    if (!toWide(path, out)) return false;
    if (out.size() < MAX_PATH - 12 || out.rfind(L"\\\\?\\", 0) == 0) return true;
    const DWORD n = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
    if (n == 0) return true;  // the call itself then says what is wrong
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(out.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n) return true;
    full.resize(got);
    if (full.rfind(L"\\\\.\\", 0) == 0 || full.rfind(L"\\\\?\\", 0) == 0) out = full;
    else if (full.rfind(L"\\\\", 0) == 0) out = L"\\\\?\\UNC\\" + full.substr(2);
    else out = L"\\\\?\\" + full;
    return true;
}

std::string toUtf8(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(std::max(n, 0)), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), n, nullptr, nullptr);
    return out;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isAbsolute(const std::string& path) {
    return (!path.empty() && isSeparator(path[0])) ||
           (path.size() >= 2 && path[1] == ':' && std::isalpha(uint8_t(path[0])));
}

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a path with the given access and flags; INVALID_HANDLE_VALUE with errno.
HANDLE openPath(const std::string& path, DWORD access, DWORD disposition, DWORD flags,
                DWORD share = SHARE_ALL) {
    std::wstring wide;
    if (!toWidePath(path, wide)) return INVALID_HANDLE_VALUE;
    HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) setErrnoFromLastError();
    return h;
}

// Opens only to ask what a path is: no access rights, folders too; links followed unless asked.
HANDLE openForQuery(const std::string& path, bool followLinks) {
    return openPath(path, 0, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
}

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {uint64_t(info.dwVolumeSerialNumber),
            uint64_t(info.nFileIndexHigh) << 32 | uint64_t(info.nFileIndexLow)};
}

PathKind kindOf(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info) {
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Other;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
    return GetFileType(h) == FILE_TYPE_DISK ? PathKind::File : PathKind::Other;
}

// What a path is; Missing when it cannot be opened for a query.
bool queryPath(const std::string& path, bool followLinks, PathKind& kind, FileId& id,
               uint64_t* size = nullptr) {
    kind = PathKind::Missing;
    HANDLE h = openForQuery(path, followLinks);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    if (ok) {
        kind = kindOf(h, info);
        id = idOf(info);
        if (size) *size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    } else {
        // Devices (NUL, CON) answer no file information.
        kind = PathKind::Other;
    }
    CloseHandle(h);
    return true;
}

// Keeps an open handle only when it is a regular file (and, for writing, one with no other
// names and not a link).
HostFile regularFileOnly(HANDLE h, bool soleLink) {
    if (h == INVALID_HANDLE_VALUE) return HostFile();
    HostFile file(nativeOf(h));
    BY_HANDLE_FILE_INFORMATION info;
    // EINVAL is kept for names Windows refuses; a device is an operation not permitted here.
    if (!GetFileInformationByHandle(h, &info)) {
        errno = EPERM;
        return HostFile();
    }
    if (kindOf(h, info) != PathKind::File) {
        errno = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR : EPERM;
        return HostFile();
    }
    if (soleLink && info.nNumberOfLinks > 1) {
        errno = EMLINK;
        return HostFile();
    }
    return file;
}

}  // namespace

// ---- folders ----------------------------------------------------------------------------

std::string HostFolder::pathOf(const std::string& name) const {
    if (path_.empty() || isAbsolute(name)) return name;
    return isSeparator(path_.back()) ? path_ + name : path_ + "\\" + name;
}

OpenFolder::OpenFolder(OpenFolder&& o) noexcept : ref_(std::move(o.ref_)), open_(o.open_) {
    o.open_ = false;
}

OpenFolder& OpenFolder::operator=(OpenFolder&& o) noexcept {
    ref_ = std::move(o.ref_);
    open_ = o.open_;
    o.open_ = false;
    return *this;
}

OpenFolder::~OpenFolder() = default;

OpenFolder openFolder(const std::string& path, const HostFolder& in, bool noFollow) {
    OpenFolder folder;
    const std::string full = in.pathOf(path);
    PathKind kind;
    FileId id;
    if (!queryPath(full, !noFollow, kind, id)) return folder;
    if (kind != PathKind::Folder) {
        errno = kind == PathKind::Other && noFollow ? ELOOP : ENOTDIR;
        return folder;
    }
    folder.ref_ = HostFolder(full);
    folder.open_ = true;
    return folder;
}

NameInfo lookUpName(const HostFolder& folder, const std::string& name) {
    NameInfo info;
    queryPath(folder.pathOf(name), false, info.kind, info.id);
    return info;
}

bool identityOfPath(const std::string& path, FileId& id) {
    PathKind kind;
    return queryPath(path, true, kind, id) && kind != PathKind::Other;
}

std::string realPath(const std::string& path) {
    HANDLE h = openForQuery(path, true);
    if (h == INVALID_HANDLE_VALUE) return "";
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), DWORD(buffer.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, buffer.data(), DWORD(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    CloseHandle(h);
    if (n == 0 || n >= buffer.size()) return "";
    buffer.resize(n);
    // "\\?\C:\x" -> "C:\x"; "\\?\UNC\server\share" -> "\\server\share".
    if (buffer.rfind(L"\\\\?\\UNC\\", 0) == 0) buffer = L"\\\\" + buffer.substr(8);
    else if (buffer.rfind(L"\\\\?\\", 0) == 0) buffer = buffer.substr(4);
    return toUtf8(buffer.data(), buffer.size());
}

PathKind pathKind(const std::string& path) {
    PathKind kind;
    FileId id;
    queryPath(path, true, kind, id);
    return kind;
}

bool makeFolder(const std::string& name, const HostFolder& dir) {
    std::wstring wide;
    if (!toWidePath(dir.pathOf(name), wide)) return false;
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    setErrnoFromLastError();
    if (errno != EEXIST) return false;
    return lookUpName(dir, name).kind == PathKind::Folder || (errno = EEXIST, false);
}

bool listFolder(const std::string& path, std::vector<FolderItem>& items) {
    items.clear();
    const HostFolder folder(path.empty() ? std::string(".") : path);
    std::wstring pattern;
    if (!toWidePath(folder.pathOf("*"), pattern)) return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        setErrnoFromLastError();
        // An empty folder still lists "." and ".."; only a drive root may have nothing at all.
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        std::string name = toUtf8(found.cFileName, wcslen(found.cFileName));
        if (name == "." || name == "..") continue;
        FolderItem item;
        item.name = name;
        item.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        // Links are followed: a link to a regular file counts as that file.
        PathKind kind;
        uint64_t size = 0;
        if (queryPath(folder.pathOf(name), true, kind, item.id, &size)) {
            item.isRegular = kind == PathKind::File;
            item.isFolder = kind == PathKind::Folder;
            if (item.isRegular) item.size = size;
        }
        items.push_back(std::move(item));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(items.begin(), items.end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return true;
}

// ---- files ------------------------------------------------------------------------------

HostFile& HostFile::operator=(HostFile&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

bool HostFile::close() {
    if (fd_ == -1) return true;
    bool ok = CloseHandle(handleOf(fd_)) != 0;
    if (!ok) setErrnoFromLastError();
    fd_ = -1;
    return ok;
}

bool HostFile::sync() {
    if (fd_ == -1) {
        errno = EBADF;
        return false;
    }
    if (!diskSyncEnabled()) return true;
    if (FlushFileBuffers(handleOf(fd_))) return true;
    setErrnoFromLastError();
    return false;
}

uint64_t HostFile::read(void* buffer, uint64_t n) {
    if (fd_ == -1) return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < n) {
        DWORD chunk = DWORD(std::min<uint64_t>(n - done, 0x40000000)), got = 0;
        if (!ReadFile(handleOf(fd_), p + done, chunk, &got, nullptr) || got == 0) break;
        done += got;
    }
    return done;
}

bool HostFile::write(const void* buffer, uint64_t n) {
    if (fd_ == -1) return false;
    auto* p = static_cast<const uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < n) {
        DWORD chunk = DWORD(std::min<uint64_t>(n - done, 0x40000000)), put = 0;
        if (!WriteFile(handleOf(fd_), p + done, chunk, &put, nullptr)) {
            setErrnoFromLastError();
            return false;
        }
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        done += put;
    }
    return true;
}

int64_t HostFile::size() const {
    LARGE_INTEGER size;
    if (fd_ == -1 || !GetFileSizeEx(handleOf(fd_), &size)) return -1;
    return int64_t(size.QuadPart);
}

bool HostFile::rewind() {
    LARGE_INTEGER zero{};
    if (fd_ != -1 && SetFilePointerEx(handleOf(fd_), zero, nullptr, FILE_BEGIN)) return true;
    if (fd_ == -1) errno = EBADF;
    else setErrnoFromLastError();
    return false;
}

bool HostFile::identity(FileId& id) const {
    BY_HANDLE_FILE_INFORMATION info;
    if (fd_ == -1) {
        errno = EBADF;
        return false;
    }
    if (!GetFileInformationByHandle(handleOf(fd_), &info)) {
        setErrnoFromLastError();
        return false;
    }
    id = idOf(info);
    return true;
}

int64_t readDescriptor(int fd, void* buffer, uint64_t n) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    auto* p = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < n) {
        DWORD chunk = DWORD(std::min<uint64_t>(n - done, 1 << 20)), got = 0;
        if (!ReadFile(h, p + done, chunk, &got, nullptr)) {
            // The writing end of a pipe closed: the end of the input.
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            setErrnoFromLastError();
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return int64_t(done);
}

HostFile openForReading(const std::string& path, const HostFolder& dir) {
    return regularFileOnly(openPath(dir.pathOf(path), GENERIC_READ, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL),
                           false);
}

HostFile createExclusive(const std::string& name, const HostFolder& dir) {
    // Shared for deletion so a console Ctrl+C can remove a temporary that is still open.
    HANDLE h = openPath(dir.pathOf(name), GENERIC_WRITE, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                        FILE_SHARE_READ | FILE_SHARE_DELETE);
    return h == INVALID_HANDLE_VALUE ? HostFile() : HostFile(nativeOf(h));
}

HostFile createOrEmpty(const std::string& name, const HostFolder& dir) {
    // Emptied only once it is known to be a regular file with no other name, not a link.
    HostFile file = regularFileOnly(
        openPath(dir.pathOf(name), GENERIC_WRITE, OPEN_ALWAYS,
                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, FILE_SHARE_READ),
        true);
    if (file.isOpen() && !SetEndOfFile(handleOf(file.native()))) {
        setErrnoFromLastError();
        return HostFile();
    }
    return file;
}

// ---- temporary files --------------------------------------------------------------------

namespace {

// Every temporary file and staging folder that exists now, for the console control handler,
// which Windows runs on a thread of its own: a lock is enough there. A change writes two
// files at once (the new card and its backup), so there is a slot for each.
std::mutex activeTempLock;
std::vector<std::wstring> activeTempPaths;     // "" in a free slot
std::vector<std::wstring> activeTempFolders;

void removeFlatFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

BOOL WINAPI removeTempOnControl(DWORD) {
    {
        std::lock_guard<std::mutex> held(activeTempLock);
        for (std::wstring& path : activeTempPaths)
            if (!path.empty()) DeleteFileW(path.c_str());
        for (std::wstring& folder : activeTempFolders)
            if (!folder.empty()) removeFlatFolder(folder);
        activeTempPaths.clear();
        activeTempFolders.clear();
    }
    // Not handled: the next handler (the default one) ends the process as before.
    return FALSE;
}

// Called under activeTempLock.
int takeSlot(std::vector<std::wstring>& slots, const std::wstring& path) {
    for (size_t i = 0; i < slots.size(); ++i)
        if (slots[i].empty()) {
            slots[i] = path;
            return int(i);
        }
    slots.push_back(path);
    return int(slots.size() - 1);
}

void installControlCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SetConsoleCtrlHandler(removeTempOnControl, TRUE);
}

void unregisterTemp(int& slot) {
    std::lock_guard<std::mutex> held(activeTempLock);
    if (slot >= 0 && size_t(slot) < activeTempPaths.size()) activeTempPaths[size_t(slot)].clear();
    slot = -1;
}

// A process that still runs (or that we cannot look at, so may).
bool processAlive(long pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    bool alive = !GetExitCodeProcess(h, &code) || code == STILL_ACTIVE;
    CloseHandle(h);
    return alive;
}

int moveFile(const std::string& from, const std::string& to, DWORD flags) {
    std::wstring wideFrom, wideTo;
    if (!toWidePath(from, wideFrom) || !toWidePath(to, wideTo)) return errno;
    if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(), flags | MOVEFILE_WRITE_THROUGH)) return 0;
    return errnoOf(GetLastError());
}

}  // namespace

bool TemporaryFile::create(const HostFolder& dir) {
    discard();
    installControlCleanup();
    dir_ = dir;
    const long pid = long(GetCurrentProcessId());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = temporaryName(pid, attempt);
        std::wstring wide;
        if (!toWidePath(dir.pathOf(name), wide)) return false;
        // Registered under the lock, so the handler never sees the file without its name.
        std::lock_guard<std::mutex> held(activeTempLock);
        HostFile f = createExclusive(name, dir);
        if (f.isOpen()) {
            slot_ = takeSlot(activeTempPaths, wide);
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
    int err = moveFile(dir_.pathOf(name_), dir_.pathOf(finalName), MOVEFILE_REPLACE_EXISTING);
    if (err != 0) return err;
    exists_ = false;
    unregisterTemp(slot_);
    return 0;
}

int TemporaryFile::placeWithoutReplacing(const std::string& finalName) {
    if (!exists_) return ENOENT;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    int err = moveFile(dir_.pathOf(name_), dir_.pathOf(finalName), 0);
    if (err != 0) return err;
    exists_ = false;
    unregisterTemp(slot_);
    return 0;
}

void TemporaryFile::discard() {
    file_.close();
    if (exists_) {
        std::wstring wide;
        if (toWidePath(dir_.pathOf(name_), wide)) DeleteFileW(wide.c_str());
        exists_ = false;
        unregisterTemp(slot_);
    }
}

size_t removeStaleTemporaries(const HostFolder& folder) {
    std::wstring pattern;
    const HostFolder where(folder.path().empty() ? std::string(".") : folder.path());
    if (!toWidePath(where.pathOf(".marrowin-*.tmp"), pattern)) return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    std::vector<std::string> stale;
    const long self = long(GetCurrentProcessId());
    do {
        std::string name = toUtf8(found.cFileName, wcslen(found.cFileName));
        long pid = 0;
        if (!parseTemporaryName(name, pid) || pid == self) continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        // Only when that process is gone: a live one may still be writing it.
        if (processAlive(pid)) continue;
        stale.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    size_t removed = 0;
    for (const std::string& name : stale) {
        std::wstring wide;
        if (toWidePath(where.pathOf(name), wide) && DeleteFileW(wide.c_str())) ++removed;
    }
    return removed;
}

bool syncFolder(const HostFolder&) { return true; }

int registerTemporaryFolder(const HostFolder& dir, const std::string& name) {
    installControlCleanup();
    std::wstring wide;
    if (!toWidePath(dir.pathOf(name), wide)) return -1;
    std::lock_guard<std::mutex> held(activeTempLock);
    return takeSlot(activeTempFolders, wide);
}

void unregisterTemporaryFolder(int slot) {
    std::lock_guard<std::mutex> held(activeTempLock);
    if (slot >= 0 && size_t(slot) < activeTempFolders.size()) activeTempFolders[size_t(slot)].clear();
}

bool processGone(long pid) { return pid > 0 && !processAlive(pid); }

long currentProcessId() { return long(GetCurrentProcessId()); }

// ---- changing a file in place of another -----------------------------------------------

namespace {

bool stateOfHandle(HANDLE h, FileState& out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) {
        setErrnoFromLastError();
        return false;
    }
    out.id = idOf(info);
    out.size = int64_t((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    const uint64_t ticks = (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    // 100 ns ticks since 1601 to nanoseconds since 1970.
    out.modifiedNs = (int64_t(ticks) - 116444736000000000LL) * 100;
    return true;
}

}  // namespace

bool stateOfFile(const HostFile& file, FileState& out) {
    if (!file.isOpen()) {
        errno = EBADF;
        return false;
    }
    return stateOfHandle(handleOf(file.native()), out);
}

bool stateOfPath(const std::string& path, FileState& out) {
    HANDLE h = openForQuery(path, true);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = stateOfHandle(h, out);
    CloseHandle(h);
    return ok;
}

bool modifiedSeconds(const std::string& path, int64_t& seconds) {
    FileState s;
    if (!stateOfPath(path, s)) return false;
    seconds = s.modifiedNs / 1000000000;
    return true;
}

HostFile openForChange(const std::string& path) {
    // Shared for deletion: the new image is moved over this name while it is open.
    HostFile file = regularFileOnly(openPath(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE),
                                    false);
    // A read-only file is refused as Windows itself refuses writing it: the change replaces the
    // card by a new file, which the attribute would not stop where the open is let through
    // (an administrator's, or Wine run as root).
    BY_HANDLE_FILE_INFORMATION info;
    if (file.isOpen() && GetFileInformationByHandle(handleOf(file.native()), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        errno = EACCES;
        return HostFile();
    }
    return file;
}

int lockFileExclusive(HostFile& file, int waitMs, long& holder) {
    holder = 0;  // Windows does not say who holds a lock
    if (!file.isOpen()) return EBADF;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        // One byte far past any card's data: Windows locks keep others from reading the range
        // they cover, and readers of the card must not be stopped.
        OVERLAPPED at{};
        at.Offset = 0;
        at.OffsetHigh = 0x7FFFFFFF;
        if (LockFileEx(handleOf(file.native()), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return 0;
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) return errnoOf(error);
        if (GetTickCount64() - start >= ULONGLONG(waitMs)) return EWOULDBLOCK;
        Sleep(20);
    }
}

int renameWithoutReplacing(const std::string& from, const std::string& to, const HostFolder& dir) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    return moveFile(dir.pathOf(from), dir.pathOf(to), 0);
}

namespace {

bool removeTreeWide(const std::wstring& path, int depth) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    // A link (a junction too) goes itself; what it leads to stays.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(path.c_str()) != 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveDirectoryW(path.c_str()) != 0;
    if (depth > 64) return false;
    bool ok = true;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            ok = removeTreeWide(path + L"\\" + name, depth + 1) && ok;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(path.c_str()) != 0 && ok;
}

}  // namespace

bool removeTree(const std::string& path) {
    std::wstring wide;
    return toWidePath(path, wide) && removeTreeWide(wide, 0);
}

void copyPermissions(const std::string& from, const std::string& to) {
    // Windows keeps rights in the folder's inherited ACL; only the read-only bit follows.
    std::wstring wideFrom, wideTo;
    if (!toWidePath(from, wideFrom) || !toWidePath(to, wideTo)) return;
    const DWORD a = GetFileAttributesW(wideFrom.c_str()), b = GetFileAttributesW(wideTo.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || b == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(wideTo.c_str(), (b & ~FILE_ATTRIBUTE_READONLY) | (a & FILE_ATTRIBUTE_READONLY));
}

LocalTime localTimeNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LocalTime t;
    t.year = uint16_t(now.wYear);
    t.month = uint8_t(now.wMonth);
    t.day = uint8_t(now.wDay);
    t.hour = uint8_t(now.wHour);
    t.minute = uint8_t(now.wMinute);
    t.second = uint8_t(std::min<WORD>(now.wSecond, 59));
    return t;
}

// ---- named outputs -------------------------------------------------------------------------

namespace {

bool setFileEnd(HANDLE h, int64_t size) {
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end) != 0;
}

// Into the file that is there, so whoever holds it open reads the picture; all through one
// handle (a second open would meet our own sharing mode). A regular file is grown to the new
// size first, which takes its clusters: on a full disk that fails with the old picture whole.
bool writeInPlace(const std::string& path, const uint8_t* png, uint64_t pngSize, std::string& error) {
    std::wstring wide;
    if (!toWidePath(path, wide)) {
        error = "cannot write " + path + ": " + errnoText(errno);
        return false;
    }
    // A link is not written through, nor a file with other names, as everywhere else here.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = "cannot write " + path + ": " + errnoText(errnoOf(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    if (disk) {
        const char* refusal = nullptr;
        if (!GetFileInformationByHandle(h, &info))
            refusal = "cannot tell what it is";
        else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            refusal = "a link; not written through";
        else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            refusal = "a folder";
        else if (info.nNumberOfLinks > 1)
            refusal = "a file with other names; not written into";
        if (refusal) {
            CloseHandle(h);
            error = path + ": " + refusal;
            return false;
        }
    }
    const int64_t oldSize = disk ? int64_t(uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow) : 0;
    if (disk && int64_t(pngSize) > oldSize && !setFileEnd(h, int64_t(pngSize))) {
        const int err = errnoOf(GetLastError());
        setFileEnd(h, oldSize);
        CloseHandle(h);
        error = "cannot write " + path + ": " + errnoText(err) + " (the old contents are kept)";
        return false;
    }
    bool ok = true;
    int err = 0;
    size_t done = 0;
    while (ok && done < pngSize) {
        const DWORD piece = DWORD(std::min<size_t>(pngSize - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, png + done, piece, &written, nullptr) || written == 0) {
            ok = false;
            err = errnoOf(GetLastError());
        }
        done += written;
    }
    // The rest of a longer old picture goes; a half picture would be taken for a broken one,
    // so a failed write leaves the file empty.
    if (ok && disk && !setFileEnd(h, int64_t(pngSize))) {
        ok = false;
        err = errnoOf(GetLastError());
    }
    if (!ok && disk) setFileEnd(h, 0);
    if (!CloseHandle(h) && ok) {
        ok = false;
        err = errnoOf(GetLastError());
    }
    if (!ok) error = "cannot write " + path + ": " + errnoText(err);
    return ok;
}

}  // namespace

bool writeOutput(const std::string& path, const void* data, uint64_t size, OutputWrite mode,
                 std::string& error) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (mode == OutputWrite::NewFile) return createNewOutput(path, bytes, size, error) == NewOutput::Made;
    if (path == "-") {
        std::fflush(stdout);
        if (std::fwrite(bytes, 1, size_t(size), stdout) != size || std::fflush(stdout) != 0) {
            error = "cannot write to standard output: " + errnoText(errno);
            return false;
        }
        return true;
    }
    switch (pathKind(path)) {
    case PathKind::Folder:
        error = path + " is a folder";
        return false;
    case PathKind::Missing: {
        const NewOutput created = createNewOutput(path, bytes, size, error);
        // Made by someone else meanwhile: write into it like any existing file.
        if (created != NewOutput::Exists) return created == NewOutput::Made;
        break;
    }
    default:
        break;
    }
    return writeInPlace(path, bytes, size, error);
}

}  // namespace marrowin
