#include "archive/save_text.h"

#include <iconv.h>

#include <memory>
#include <unordered_map>
#include <vector>

namespace marrowin {

namespace {

// Code page 932 tables, made once from glibc's converter: one iconv call per possible
// character at start, none afterwards.
struct Cp932Tables {
    bool available = false;
    // Shift-JIS code (one byte: the byte; two bytes: lead << 8 | trail) -> code point, 0 = none.
    std::vector<char32_t> toUnicode;
    // Code point -> Shift-JIS code, for the characters that come back to the same bytes.
    std::unordered_map<char32_t, uint16_t> fromUnicode;
};

bool isLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

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

// Runs one complete conversion of a short input; false when iconv refuses any of it.
bool convertOnce(iconv_t cd, const char* in, size_t inLen, char* out, size_t& outLen) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(in);
    char* op = out;
    size_t left = inLen, room = outLen;
    if (iconv(cd, &ip, &left, &op, &room) == size_t(-1) || left != 0) return false;
    if (iconv(cd, nullptr, nullptr, &op, &room) == size_t(-1)) return false;
    outLen = outLen - room;
    return true;
}

std::unique_ptr<Cp932Tables> buildTables() {
    auto t = std::make_unique<Cp932Tables>();
    iconv_t toUtf8 = iconv_open("UTF-8", "CP932");
    iconv_t fromUtf8 = iconv_open("CP932", "UTF-8");
    if (toUtf8 == iconv_t(-1) || fromUtf8 == iconv_t(-1)) {
        if (toUtf8 != iconv_t(-1)) iconv_close(toUtf8);
        if (fromUtf8 != iconv_t(-1)) iconv_close(fromUtf8);
        return t;
    }
    t->toUnicode.assign(0x10000, 0);
    auto decodeOne = [&](const char* in, size_t n) -> char32_t {
        char buf[16];
        size_t len = sizeof buf;
        if (!convertOnce(toUtf8, in, n, buf, len)) return 0;
        char32_t cp;
        if (decodeUtf8(reinterpret_cast<const uint8_t*>(buf), len, cp) != len) return 0;
        return cp;
    };
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        if (isLeadByte(uint8_t(b))) continue;
        char c = char(b);
        t->toUnicode[b] = decodeOne(&c, 1);
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLeadByte(uint8_t(lead))) continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            char in[2] = {char(lead), char(trail)};
            t->toUnicode[lead << 8 | trail] = decodeOne(in, 2);
        }
    }
    // The way back keeps only characters that return to the very bytes they came from, so a
    // name read from a save and written back is unchanged (code page 932 has a few characters
    // under two codes; the other code stays raw bytes in host names).
    for (unsigned code = 0x80; code < 0x10000; ++code) {
        char32_t cp = t->toUnicode[code];
        // Private-use characters (the user-defined codes F040-F9FC) stay raw bytes: kept
        // raw, no run of other raw bytes can then spell a character that would convert back
        // to something else.
        if (cp == 0 || cp < 0x80 || (cp >= 0xE000 && cp <= 0xF8FF)) continue;
        std::string utf8;
        appendUtf8(utf8, cp);
        char buf[8];
        size_t len = sizeof buf;
        if (!convertOnce(fromUtf8, utf8.data(), utf8.size(), buf, len)) continue;
        uint16_t back = len == 1 ? uint8_t(buf[0]) : len == 2 ? uint16_t(uint8_t(buf[0]) << 8 | uint8_t(buf[1])) : 0;
        if (back == code) t->fromUnicode.emplace(cp, back);
    }
    // Other converters spell a few of these characters with other code points; names typed
    // that way still become the Shift-JIS a save expects. Decoding never yields them, so
    // names read from saves are unaffected.
    static const std::pair<char32_t, uint16_t> ONE_WAY[] = {
        {0x301C, 0x8160}, {0x2016, 0x8161}, {0x2212, 0x817C},
        {0x00A2, 0x8191}, {0x00A3, 0x8192}, {0x00AC, 0x81CA},
    };
    for (const auto& [cp, code] : ONE_WAY) t->fromUnicode.emplace(cp, code);
    iconv_close(toUtf8);
    iconv_close(fromUtf8);
    t->available = true;
    return t;
}

const Cp932Tables& tables() {
    static const std::unique_ptr<Cp932Tables> t = buildTables();
    return *t;
}

enum class Invalid { Replace, KeepRaw };

bool returnsTo(const Cp932Tables& t, char32_t cp, uint16_t code) {
    auto it = t.fromUnicode.find(cp);
    return it != t.fromUnicode.end() && it->second == code;
}

std::string saveTextToUtf8(std::string_view sjis, Invalid invalid) {
    const Cp932Tables& t = tables();
    std::string out;
    out.reserve(sjis.size() * 3 / 2 + 4);
    const auto* p = reinterpret_cast<const uint8_t*>(sjis.data());
    size_t n = sjis.size();
    auto bad = [&](uint8_t b) {
        if (invalid == Invalid::KeepRaw) out.push_back(char(b));
        else out += "\xEF\xBF\xBD";
    };
    for (size_t i = 0; i < n;) {
        uint8_t b = p[i];
        if (b < 0x80) {
            out.push_back(char(b));
            ++i;
            continue;
        }
        if (!t.available) {
            bad(b);
            ++i;
            continue;
        }
        if (isLeadByte(b) && i + 1 < n) {
            uint16_t code = uint16_t(b << 8 | p[i + 1]);
            char32_t cp = t.toUnicode[code];
            // Host names take only characters that come back to the same code.
            if (cp && (invalid == Invalid::Replace || returnsTo(t, cp, code))) {
                appendUtf8(out, cp);
                i += 2;
                continue;
            }
        } else if (!isLeadByte(b)) {
            char32_t cp = t.toUnicode[b];
            if (cp && (invalid == Invalid::Replace || returnsTo(t, cp, b))) {
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

std::string saveTextToHostName(std::string_view sjis) { return saveTextToUtf8(sjis, Invalid::KeepRaw); }

std::string hostNameToSaveText(std::string_view host) {
    const Cp932Tables& t = tables();
    std::string out;
    out.reserve(host.size());
    const auto* p = reinterpret_cast<const uint8_t*>(host.data());
    size_t n = host.size();
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80 || !t.available) {
            out.push_back(char(p[i]));
            ++i;
            continue;
        }
        char32_t cp;
        size_t len = decodeUtf8(p + i, n - i, cp);
        auto it = len ? t.fromUnicode.find(cp) : t.fromUnicode.end();
        if (it == t.fromUnicode.end()) {
            // Not a character code page 932 has: its bytes go through unchanged.
            size_t keep = len ? len : 1;
            out.append(host.substr(i, keep));
            i += keep;
            continue;
        }
        uint16_t code = it->second;
        if (code > 0xFF) out.push_back(char(code >> 8));
        out.push_back(char(code & 0xFF));
        i += len;
    }
    return out;
}

bool hostNameToSaveName(std::string_view host, std::string& saveName) {
    std::string converted = hostNameToSaveText(host);
    if (saveTextToHostName(converted) == host) {
        saveName = std::move(converted);
        return true;
    }
    bool utf8 = true, allConverted = true;
    for (size_t i = 0; i < host.size() && utf8;) {
        size_t n = utf8SequenceLength(host, i);
        utf8 = n > 0;
        // A character converted has other bytes in Shift-JIS; one kept as it is has none.
        if (n > 1 && hostNameToSaveText(host.substr(i, n)) == host.substr(i, n)) allConverted = false;
        i += n;
    }
    if (utf8) {
        // Characters with a second Unicode spelling ("〜" for "～") come back in the first.
        if (!allConverted) return false;
        saveName = std::move(converted);
        return true;
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

std::string safePathComponent(std::string_view hostName) {
    std::string out(hostName);
    // A zero byte would cut the name short inside the system call ("..\0x" would become "..").
    for (char& c : out)
        if (c == '/' || c == '\0') c = '_';
    if (out.empty() || out == "." || out == "..") out.insert(out.begin(), '_');
    return out;
}

}  // namespace marrowin
