#include "base/save_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/cp932_table.h"

namespace marrowin {

namespace {

bool isLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Code point of a one-byte (byte) or two-byte (lead << 8 | trail) code, 0 = none.
char32_t decodeCode(uint16_t code) {
    if (code < 0x80) return code;
    if (code < 0x100) return cp932::SINGLE[code - 0x80];
    uint8_t lead = uint8_t(code >> 8), trail = uint8_t(code);
    if (!isLeadByte(lead) || trail < cp932::TRAIL_FIRST || trail > cp932::TRAIL_LAST) return 0;
    size_t row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + (0x9F - 0x81 + 1);
    return cp932::DOUBLE[row][trail - cp932::TRAIL_FIRST];
}

// The code a character goes back to, or -1. Private-use characters (the user-defined codes
// F040-F9FC) have none and stay raw bytes in host names: kept raw, no run of other raw bytes
// can then spell a character that would convert back to something else.
int encodeChar(char32_t cp) {
    if (cp < 0x80 || cp > 0xFFFF || (cp >= 0xE000 && cp <= 0xF8FF)) return -1;
    const cp932::Reverse* end = cp932::REVERSE + cp932::REVERSE_COUNT;
    const cp932::Reverse* it = std::lower_bound(
        cp932::REVERSE, end, cp, [](const cp932::Reverse& r, char32_t c) { return r.codePoint < c; });
    if (it != end && it->codePoint == cp) return it->code;
    // Other converters spell a few characters with other code points; names typed that way
    // still become the Shift-JIS a save expects. Decoding never yields them, so names read
    // from saves are unaffected.
    static const std::pair<char32_t, uint16_t> ONE_WAY[] = {
        {0x301C, 0x8160}, {0x2016, 0x8161}, {0x2212, 0x817C},
        {0x00A2, 0x8191}, {0x00A3, 0x8192}, {0x00AC, 0x81CA},
    };
    for (const auto& [other, code] : ONE_WAY)
        if (other == cp) return code;
    return -1;
}

// Host names take only characters that come back to the same code: code page 932 has a few
// characters under two codes, and the other code stays raw bytes.
bool returnsTo(char32_t cp, uint16_t code) { return encodeChar(cp) == int(code); }

// A byte that is no character, in a Windows host name.
constexpr char32_t RAW_BYTE_ESCAPE = 0xF000;

// Decodes one UTF-8 character (shortest form, no surrogates); gives its length or 0.
size_t decodeUtf8(const uint8_t* p, size_t n, char32_t& cp) {
    if (n == 0) return 0;
    uint8_t b = p[0];
    size_t len;
    char32_t min;
    if (b < 0x80) { cp = b; return 1; }
    if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; min = 0x10000; }
    else return 0;
    if (n < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

enum class Invalid { Replace, KeepRaw, Escape };

std::string saveTextToUtf8(std::string_view sjis, Invalid invalid) {
    std::string out;
    out.reserve(sjis.size() * 3 / 2 + 4);
    const auto* p = reinterpret_cast<const uint8_t*>(sjis.data());
    size_t n = sjis.size();
    auto bad = [&](uint8_t b) {
        if (invalid == Invalid::KeepRaw) out.push_back(char(b));
        else if (invalid == Invalid::Escape) appendUtf8(out, RAW_BYTE_ESCAPE + b);
        else out += "\xEF\xBF\xBD";
    };
    for (size_t i = 0; i < n;) {
        uint8_t b = p[i];
        if (b < 0x80) {
            out.push_back(char(b));
            ++i;
            continue;
        }
        if (isLeadByte(b) && i + 1 < n) {
            uint16_t code = uint16_t(b << 8 | p[i + 1]);
            char32_t cp = decodeCode(code);
            if (cp && (invalid == Invalid::Replace || returnsTo(cp, code))) {
                appendUtf8(out, cp);
                i += 2;
                continue;
            }
        } else if (!isLeadByte(b)) {
            char32_t cp = decodeCode(b);
            if (cp && (invalid == Invalid::Replace || returnsTo(cp, b))) {
                appendUtf8(out, cp);
                ++i;
                continue;
            }
        }
        // Not Shift-JIS: this byte alone is passed on (or replaced), the next one starts afresh.
        bad(b);
        ++i;
    }
    return out;
}

}  // namespace

std::string saveTextToDisplay(std::string_view sjis) { return saveTextToUtf8(sjis, Invalid::Replace); }

std::string saveTextToHostName(std::string_view sjis, HostNameStyle style) {
    return saveTextToUtf8(sjis, style == HostNameStyle::Windows ? Invalid::Escape : Invalid::KeepRaw);
}

std::string hostNameToSaveText(std::string_view host, HostNameStyle style) {
    std::string out;
    out.reserve(host.size());
    const auto* p = reinterpret_cast<const uint8_t*>(host.data());
    size_t n = host.size();
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            out.push_back(char(p[i]));
            ++i;
            continue;
        }
        char32_t cp;
        size_t len = decodeUtf8(p + i, n - i, cp);
        if (len && style == HostNameStyle::Windows && cp >= RAW_BYTE_ESCAPE + 0x80 &&
            cp <= RAW_BYTE_ESCAPE + 0xFF) {
            out.push_back(char(cp - RAW_BYTE_ESCAPE));
            i += len;
            continue;
        }
        int code = len ? encodeChar(cp) : -1;
        if (code < 0) {
            // Not a character code page 932 has: its bytes go through unchanged.
            size_t keep = len ? len : 1;
            out.append(host.substr(i, keep));
            i += keep;
            continue;
        }
        if (code > 0xFF) out.push_back(char(code >> 8));
        out.push_back(char(code & 0xFF));
        i += len;
    }
    return out;
}

bool hostNameToSaveName(std::string_view host, std::string& saveName, HostNameStyle style) {
    std::string converted = hostNameToSaveText(host, style);
    if (saveTextToHostName(converted, style) == host) {
        saveName = std::move(converted);
        return true;
    }
    bool utf8 = true, allConverted = true;
    for (size_t i = 0; i < host.size() && utf8;) {
        size_t n = utf8SequenceLength(host, i);
        utf8 = n > 0;
        // A character converted has other bytes in Shift-JIS; one kept as it is has none.
        if (n > 1 && hostNameToSaveText(host.substr(i, n), style) == host.substr(i, n)) allConverted = false;
        i += n;
    }
    if (utf8) {
        // Characters with a second Unicode spelling ("〜" for "～") come back in the first.
        if (!allConverted) return false;
        saveName = std::move(converted);
        return true;
    }
    // A name whose first non-ASCII byte starts a UTF-8 sequence was meant as UTF-8 and is
    // broken ("bad\xC3", a cut "badé", Latin-1 "École"): read as Shift-JIS it would come back
    // as other characters ("badﾃ"). Legacy Shift-JIS names start with a byte UTF-8 never
    // starts with, or are refused too: a refused name can be renamed, a changed one is lost.
    for (char c : host) {
        const uint8_t b = uint8_t(c);
        if (b < 0x80) continue;
        if (b >= 0xC2 && b <= 0xF4) return false;
        break;
    }
    // Raw bytes: acceptable as they stand when all of them read as Shift-JIS.
    if (saveTextToDisplay(host).find("\xEF\xBF\xBD") != std::string::npos) return false;
    saveName = std::string(host);
    return true;
}

size_t utf8SequenceLength(std::string_view text, size_t i) {
    if (i >= text.size()) return 0;
    char32_t cp;
    return decodeUtf8(reinterpret_cast<const uint8_t*>(text.data()) + i, text.size() - i, cp);
}

namespace {

bool forbiddenOnWindows(char c) {
    return (uint8_t(c) >= 0x01 && uint8_t(c) < 0x20) || std::strchr("\\:*?\"<>|", c) != nullptr;
}

// The device name a component stands for on Windows, or empty: the part before the first dot,
// trailing spaces ignored, in any letter case ("con", "Nul.txt", "COM1 .tar.gz").
std::string reservedDeviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    std::string upper(base);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : DEVICES)
        if (upper == d) return upper;
    if (upper.size() >= 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
        std::string_view digit = std::string_view(upper).substr(3);
        // Windows also takes the superscript digits ¹ ² ³ as port numbers.
        if ((digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\u00B9" ||
            digit == "\u00B2" || digit == "\u00B3")
            return upper;
    }
    return {};
}

}  // namespace

std::string safePathComponent(std::string_view hostName, bool windowsSafe) {
    std::string out(hostName);
    // A zero byte would cut the name short inside the system call ("..\0x" would become "..").
    for (char& c : out)
        if (c == '/' || c == '\0' || (windowsSafe && forbiddenOnWindows(c))) c = '_';
    if (out.empty() || out == "." || out == "..") out.insert(out.begin(), '_');
    if (windowsSafe) {
        // Windows drops trailing dots and spaces, so "a." would become "a"; only the last one
        // changes, so "a.." and "a." stay apart.
        if (out.back() == '.' || out.back() == ' ') out.back() = '_';
        if (!reservedDeviceName(out).empty()) out.insert(out.begin(), '_');
    }
    return out;
}

std::string windowsNameProblem(std::string_view hostName) {
    for (char c : hostName) {
        if (c == '/' || c == '\0' || !forbiddenOnWindows(c)) continue;
        if (uint8_t(c) < 0x20) return "holds a control character";
        return std::string("holds '") + c + "'";
    }
    if (!hostName.empty() && (hostName.back() == '.' || hostName.back() == ' '))
        return hostName.back() == '.' ? "ends with a dot" : "ends with a space";
    std::string device = reservedDeviceName(hostName);
    if (!device.empty()) return "is the device name " + device;
    return {};
}

}  // namespace marrowin
