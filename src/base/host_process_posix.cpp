#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "base/host_process.h"

namespace marrowin {

std::string runningProgramPath() {
    // Linux and the BSDs with a Linux-like /proc; elsewhere there is no portable answer.
    std::vector<char> buffer(PATH_MAX);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (size_t(n) < buffer.size()) return std::string(buffer.data(), size_t(n));
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

void replaceProcess(const std::string& path, const std::vector<std::string>& args) {
    std::vector<char*> pointers;
    pointers.reserve(args.size() + 1);
    for (const std::string& a : args) pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
    ::execv(path.c_str(), pointers.data());
}

}  // namespace marrowin
