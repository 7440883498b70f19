#pragma once
// Pictures on disk and the command-line program, for the tests that run marrowin-cli.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
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

inline int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/marrowin-render-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
};

}  // namespace marrowin::gltest
