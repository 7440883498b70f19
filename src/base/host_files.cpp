// The parts of the file layer that are the same on every host.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/host_files.h"

namespace marrowin {

namespace {

constexpr std::string_view TEMP_PREFIX = ".marrowin-";
constexpr std::string_view TEMP_SUFFIX = ".tmp";

bool diskSync = true;

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

NewOutput createNewOutput(const std::string& path, const void* data, uint64_t size, std::string& error) {
    const int err = writeNewFile(path, data, size);
    if (err == 0) return NewOutput::Made;
    error = err == EEXIST ? path + " already exists" : "cannot write " + path + ": " + errnoText(err);
    return err == EEXIST ? NewOutput::Exists : NewOutput::Failed;
}

std::string errnoText(int err) {
#ifdef _WIN32
    // The file layer gives EINVAL for ERROR_INVALID_NAME only: "Invalid argument" tells the
    // user nothing about which argument.
    if (err == EINVAL) return "the name is not allowed on Windows (no : * ? \" < > | in a name)";
#endif
    return std::strerror(err == 0 ? EIO : err);
}

void setDiskSync(bool on) { diskSync = on; }
bool diskSyncEnabled() { return diskSync; }

std::string temporaryName(long pid, int attempt) {
    return std::string(TEMP_PREFIX) + std::to_string(pid) + "-" + std::to_string(attempt) +
           std::string(TEMP_SUFFIX);
}

bool parseTemporaryName(std::string_view name, long& pid) {
    const std::string_view prefix = TEMP_PREFIX, suffix = TEMP_SUFFIX;
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    size_t dash = middle.find('-');
    if (dash == std::string_view::npos) return false;
    std::string_view pidText = middle.substr(0, dash), number = middle.substr(dash + 1);
    // Exactly the names we make: decimal numbers without leading zeros.
    if (!allDigits(pidText) || !allDigits(number) || pidText[0] == '0' ||
        (number.size() > 1 && number[0] == '0') || pidText.size() > 9 || number.size() > 9)
        return false;
    pid = std::stol(std::string(pidText));
    return true;
}

// Synced and closed, both checked: a write that fails only then is still a failure.
bool TemporaryFile::finish() {
    if (!file_.sync()) {
        int err = errno;
        file_.close();
        errno = err;
        return false;
    }
    return file_.close();
}

int writeNewFile(const std::string& path, const void* data, uint64_t size) {
    const size_t cut = lastPathSeparator(path);
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    OpenFolder opened;  // outlives the temporary file, which works in it
    HostFolder dir;
    if (cut != std::string::npos) {
        opened = openFolder(path.substr(0, cut + 1));
        if (!opened.isOpen()) return errno;
        dir = opened.ref();
    }
    TemporaryFile temp;
    if (!temp.create(dir) || !temp.file().write(data, size) || !temp.finish()) {
        // EEXIST is kept for a taken name.
        const int err = errno;
        return err == 0 || err == EEXIST ? EIO : err;
    }
    return temp.placeWithoutReplacing(name);
}

}  // namespace marrowin
