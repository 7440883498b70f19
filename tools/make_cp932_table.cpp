// Writes src/base/cp932_table.cpp: code page 932 as data, so the program needs no converter
// at run time (there is none on Windows, and loading glibc's cost every CLI start).
//
// Made from glibc's iconv "CP932", run once and the output committed:
//   g++ -std=c++20 -O2 tools/make_cp932_table.cpp -o /tmp/make-cp932-table
//   /tmp/make-cp932-table > src/base/cp932_table.cpp
// glibc's converter, not Python's codec: it is what Marrowin used before, so every name keeps
// the bytes and characters it had, and on the way back it picks the code Windows picks for
// the NEC and IBM duplicates (U+2170 "ⅰ" becomes FA40, where Python gives EEEF). Both agree on
// every double-byte code; they differ only on the single bytes 0x80, 0xA0 and 0xFD-0xFF, which
// glibc leaves without a character (Python: U+0080 and private-use U+F8F0-U+F8F3).
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr unsigned TRAIL_FIRST_ = 0x40, TRAIL_LAST_ = 0xFC, TRAIL_COUNT_ = TRAIL_LAST_ - TRAIL_FIRST_ + 1;

bool isLeadByte(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

bool convert(iconv_t cd, const std::string& in, std::string& out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buf[16];
    char* ip = const_cast<char*>(in.data());
    char* op = buf;
    size_t left = in.size(), room = sizeof buf;
    if (iconv(cd, &ip, &left, &op, &room) == size_t(-1) || left != 0) return false;
    if (iconv(cd, nullptr, nullptr, &op, &room) == size_t(-1)) return false;
    out.assign(buf, sizeof buf - room);
    return true;
}

// One character of UTF-8 in the Basic Multilingual Plane, or 0.
unsigned bmpFromUtf8(const std::string& s) {
    auto b = [&](size_t i) { return unsigned(uint8_t(s[i])); };
    if (s.size() == 2 && (b(0) & 0xE0) == 0xC0) return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    if (s.size() == 3 && (b(0) & 0xF0) == 0xE0) return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    return 0;
}

std::string utf8FromBmp(unsigned cp) {
    std::string s;
    if (cp < 0x800) {
        s += char(0xC0 | cp >> 6);
    } else {
        s += char(0xE0 | cp >> 12);
        s += char(0x80 | ((cp >> 6) & 0x3F));
    }
    s += char(0x80 | (cp & 0x3F));
    return s;
}

void printRow(const unsigned* values, size_t n) {
    for (size_t i = 0; i < n; ++i)
        std::printf("%s0x%04X,%s", i % 12 == 0 ? "    " : " ", values[i], i % 12 == 11 || i + 1 == n ? "\n" : "");
}

}  // namespace

int main() {
    iconv_t toUtf8 = iconv_open("UTF-8", "CP932");
    iconv_t fromUtf8 = iconv_open("CP932", "UTF-8");
    if (toUtf8 == iconv_t(-1) || fromUtf8 == iconv_t(-1)) {
        std::fprintf(stderr, "no CP932 converter\n");
        return 1;
    }
    auto decode = [&](const std::string& bytes) -> unsigned {
        std::string out;
        return convert(toUtf8, bytes, out) ? bmpFromUtf8(out) : 0;
    };
    std::map<unsigned, unsigned> back;  // code point -> code the converter gives it
    auto noteBack = [&](unsigned cp) {
        std::string out;
        if (!cp || back.count(cp) || !convert(fromUtf8, utf8FromBmp(cp), out)) return;
        if (out.size() == 1) back[cp] = uint8_t(out[0]);
        else if (out.size() == 2) back[cp] = unsigned(uint8_t(out[0])) << 8 | uint8_t(out[1]);
    };

    std::printf("// Code page 932 as data. Made by tools/make_cp932_table.cpp from glibc's iconv; do not edit.\n"
                "#include \"base/cp932_table.h\"\n\nnamespace marrowin::cp932 {\n\n");
    unsigned single[128];
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        single[b - 0x80] = isLeadByte(b) ? 0 : decode(std::string(1, char(b)));
        noteBack(single[b - 0x80]);
    }
    std::printf("const uint16_t SINGLE[128] = {\n");
    printRow(single, 128);
    std::printf("};\n\nconst uint16_t DOUBLE[LEAD_COUNT][TRAIL_COUNT] = {\n");
    size_t mapped = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLeadByte(lead)) continue;
        unsigned row[TRAIL_COUNT_];
        for (unsigned t = TRAIL_FIRST_; t <= TRAIL_LAST_; ++t) {
            unsigned cp = t == 0x7F ? 0 : decode(std::string{char(lead), char(t)});
            row[t - TRAIL_FIRST_] = cp;
            mapped += cp != 0;
            noteBack(cp);
        }
        std::printf("    // lead 0x%02X\n    {\n", lead);
        printRow(row, TRAIL_COUNT_);
        std::printf("    },\n");
    }
    std::printf("};\n\nconst Reverse REVERSE[] = {\n");
    size_t i = 0;
    for (auto [cp, code] : back) {
        std::printf("%s{0x%04X, 0x%04X},%s", i % 6 == 0 ? "    " : " ", cp, code,
                    i % 6 == 5 || i + 1 == back.size() ? "\n" : "");
        ++i;
    }
    std::printf("};\n\nconst size_t REVERSE_COUNT = sizeof REVERSE / sizeof REVERSE[0];\n");
    std::printf("\n}  // namespace marrowin::cp932\n");
    std::fprintf(stderr, "%zu double-byte codes, %zu characters on the way back\n", mapped, back.size());
    iconv_close(toUtf8);
    iconv_close(fromUtf8);
    return 0;
}
