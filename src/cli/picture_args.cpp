#include "cli/picture_args.h"

#include <cctype>
#include <cmath>

#include "base/host_files.h"
#include "view/value_text.h"

namespace marrowin::cli {

bool sameExistingFile(const std::string& a, const std::string& b) {
    // By identity from the host layer: mingw's stat gives every file inode 0.
    FileId ia, ib;
    return identityOfPath(a, ia) && identityOfPath(b, ib) && ia == ib;
}

bool parseDegrees(const std::string& text, float& out) {
    // The whole text must be one decimal number: sign, digits, point, exponent.
    size_t i = 0, digits = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    for (; i < text.size() && std::isdigit(uint8_t(text[i])); ++i) ++digits;
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && std::isdigit(uint8_t(text[i])); ++i) ++digits;
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        const size_t start = i;
        while (i < text.size() && std::isdigit(uint8_t(text[i]))) ++i;
        if (i == start) return false;
    }
    if (i != text.size()) return false;
    float v;
    if (!takeViewValue(text, v) || !std::isfinite(v) || std::fabs(v) > 100000) return false;
    out = v;
    return true;
}

}  // namespace marrowin::cli
