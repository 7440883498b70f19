#pragma once
// Temporary folders and small file helpers for the export and command-line tests.
#ifdef _WIN32
#include <filesystem>
#include <random>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures.h"

namespace marrowin::testing {

#ifdef _WIN32
namespace files = std::filesystem;

inline files::path nativePath(const std::string& utf8) {
    return files::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string utf8Path(const files::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// A fresh folder in the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        const files::path p = files::temp_directory_path() / ("marrowin-test-" + std::to_string(random()));
        files::create_directories(p);
        path_ = utf8Path(p);
    }
    ~TempDir() {
        std::error_code ignored;
        files::remove_all(nativePath(path_), ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
#else
// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/marrowin-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() {
        if (fd_ >= 0) ::close(fd_);
        std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // A descriptor of the folder, opened once, for the export operations.
    int fd() {
        if (fd_ < 0) fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY);
        return fd_;
    }

private:
    std::string path_;
    int fd_ = -1;
};

#endif

inline void writeFile(const std::string& path, const fixtures::Bytes& data) {
#ifdef _WIN32
    std::ofstream f(nativePath(path), std::ios::binary);
#else
    std::ofstream f(path, std::ios::binary);
#endif
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}
inline void writeFile(const std::string& path, const std::string& text) {
    writeFile(path, fixtures::Bytes(text.begin(), text.end()));
}
inline std::string readText(const std::string& path) {
    auto b = fixtures::readFileBytes(path);
    return std::string(b.begin(), b.end());
}
#ifdef _WIN32
inline bool exists(const std::string& path) {
    std::error_code ignored;
    return files::symlink_status(nativePath(path), ignored).type() != files::file_type::not_found;
}
inline void makeDir(const std::string& path) {
    std::error_code ignored;
    files::create_directory(nativePath(path), ignored);
}
inline std::vector<std::string> namesIn(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& e : files::directory_iterator(nativePath(path), ignored))
        names.push_back(utf8Path(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}
#else
inline bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}
inline void makeDir(const std::string& path) { ::mkdir(path.c_str(), 0755); }

// Names in a folder, sorted, without "." and "..".
inline std::vector<std::string> namesIn(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

#endif

inline fixtures::Bytes patternBytes(size_t n, uint8_t seed = 1) {
    fixtures::Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

#if defined(MARROWIN_CLI) && !defined(_WIN32)
// marrowin-cli as a person runs it: exit code, stdout and stderr.
struct CliRun {
    int code = -1;
    std::string out, err;
};

// Runs marrowin-cli with `args` (already quoted for the shell) in `dir`.
inline CliRun cli(const TempDir& dir, const std::string& args) {
    std::string outFile = dir / ".stdout", errFile = dir / ".stderr";
    std::string cmd = "cd '" + dir.path() + "' && '" MARROWIN_CLI "' " + args + " >'" + outFile +
                      "' 2>'" + errFile + "'";
    int status = std::system(cmd.c_str());
    CliRun r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readText(outFile);
    r.err = readText(errFile);
    ::unlink(outFile.c_str());
    ::unlink(errFile.c_str());
    return r;
}
#endif

}  // namespace marrowin::testing
