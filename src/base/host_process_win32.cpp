#include <windows.h>

#include <string>

#include "base/host_process.h"

namespace marrowin {

std::string runningProgramPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 6; ++attempt) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return {};
        // A full buffer means the name was cut short: try a larger one.
        if (n < buffer.size()) {
            int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), int(n), nullptr, 0, nullptr,
                                            nullptr);
            if (bytes <= 0) return {};
            std::string out(size_t(bytes), '\0');
            WideCharToMultiByte(CP_UTF8, 0, buffer.data(), int(n), out.data(), bytes, nullptr,
                                nullptr);
            return out;
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

}  // namespace marrowin
