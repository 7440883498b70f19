#pragma once
// Pictures on disk and the command-line program, for the tests that run marrowin-cli.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "view/png_io.h"

namespace marrowin::gltest {

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

inline Picture loadPng(const std::string& path) {
    Picture p;
    std::string error;
    EXPECT_TRUE(readPng(path, p.width, p.height, p.rgba, error)) << error;
    return p;
}

// The commands are POSIX shell (quoting, redirections, env, cd): tests that run one start
// with SKIP_WITHOUT_POSIX_SHELL().
#ifdef _WIN32
#define SKIP_WITHOUT_POSIX_SHELL() \
    GTEST_SKIP() << "runs marrowin-cli through a POSIX shell, which Windows lacks"
// Not reached: every caller skipped before.
inline int run(const std::string&) { return -1; }
#else
#define SKIP_WITHOUT_POSIX_SHELL() static_cast<void>(0)
inline int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

class TempDir {
public:
    TempDir() {
#ifdef _WIN32
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("marrowin-render-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) path = candidate.string();
        }
#else
        char name[] = "/tmp/marrowin-render-XXXXXX";
        if (mkdtemp(name)) path = name;
#endif
        EXPECT_FALSE(path.empty()) << "no temporary folder";
    }
    ~TempDir() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
};

}  // namespace marrowin::gltest
