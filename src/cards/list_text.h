#pragma once
// The card window's words and numbers as its list and dialogs show them: plain C++, so either
// shell can use them and the tests run them on any host. Patterns come from the shell's own
// string tables ("{1} of {2}"), so every language orders its arguments itself.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/time_stamp.h"
#include "containers/save_contents.h"

namespace marrowin::cards {

// Digits grouped by commas, as the card's space line shows them.
inline std::string groupedNumber(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    const size_t lead = digits.size() % 3;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && i >= lead && (i - lead) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// A size in KB, rounded up: a save of one byte still takes room.
inline std::string kilobytesText(uint64_t bytes) { return groupedNumber(bytes / 1024 + (bytes % 1024 != 0)); }

// "2026-05-06 12:34:56" from a stamp as stored; "" for an all-zero stamp (no date written).
inline std::string stampText(const Stamp& stamp) {
    bool any = false;
    for (uint8_t b : stamp) any = any || b != 0;
    if (!any) return "";
    const unsigned year = unsigned(stamp[6]) | unsigned(stamp[7]) << 8;
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, unsigned(stamp[5]),
                  unsigned(stamp[4]), unsigned(stamp[3]), unsigned(stamp[2]), unsigned(stamp[1]));
    return text;
}

// The problems column: errors outweigh warnings; a clean save shows nothing.
inline const char* problemMark(int errors, int warnings) {
    if (errors > 0) return "\xE2\x9C\x95";  // ✕
    if (warnings > 0) return "!";
    return "";
}

// `pattern` with {1}..{9} replaced by args[0]..args[8]; "{{" is a brace; a number past the
// arguments, or a brace left open, stays as written, so a faulty translation shows its fault
// instead of reading past the arguments.
inline std::string fillIn(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '{' && i + 1 < pattern.size() && pattern[i + 1] == '{') {
            out += '{';
            ++i;
        } else if (c == '{' && i + 2 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9' &&
                   pattern[i + 2] == '}' && size_t(pattern[i + 1] - '1') < args.size()) {
            out += args[size_t(pattern[i + 1] - '1')];
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// The names a confirmation lists, one a line, at most `shown` of them; the rest as one count
// (`morePattern`, "{1} more").
inline std::string nameList(const std::vector<std::string>& names, size_t shown, const std::string& morePattern) {
    std::string out;
    for (size_t i = 0; i < names.size() && i < shown; ++i) out += "  " + names[i] + "\n";
    if (names.size() > shown) out += "  " + fillIn(morePattern, {std::to_string(names.size() - shown)}) + "\n";
    return out;
}

// The export dialog's choices, in the order it lists them; .psu first, the default.
inline const std::vector<ContainerKind>& exportChoices() {
    static const std::vector<ContainerKind> choices = {ContainerKind::Psu, ContainerKind::Max, ContainerKind::Cbs,
                                                       ContainerKind::SharkPort, ContainerKind::Psv};
    return choices;
}
inline ContainerKind exportChoice(int index) {
    const auto& choices = exportChoices();
    if (index < 0 || size_t(index) >= choices.size()) return ContainerKind::Psu;
    return choices[size_t(index)];
}

// A straight-alpha RGBA picture laid over an opaque background, as the 32-bit rows a list's
// image list takes (B, G, R, 255; rows top-down). An empty or short picture gives the
// background alone: a save without a drawable icon still has its place in the list.
inline std::vector<uint8_t> overBackground(const std::vector<uint8_t>& rgba, uint32_t size, uint8_t red,
                                           uint8_t green, uint8_t blue) {
    const size_t pixels = size_t(size) * size;
    std::vector<uint8_t> out(pixels * 4);
    const bool drawn = rgba.size() >= pixels * 4;
    for (size_t p = 0; p < pixels; ++p) {
        const unsigned a = drawn ? rgba[p * 4 + 3] : 0;
        auto mix = [a](unsigned fg, unsigned bg) { return uint8_t((fg * a + bg * (255 - a) + 127) / 255); };
        out[p * 4 + 0] = mix(drawn ? rgba[p * 4 + 2] : 0, blue);
        out[p * 4 + 1] = mix(drawn ? rgba[p * 4 + 1] : 0, green);
        out[p * 4 + 2] = mix(drawn ? rgba[p * 4 + 0] : 0, red);
        out[p * 4 + 3] = 255;
    }
    return out;
}

// The files of a multiple choice from the common open dialog: one full path alone, or the
// folder followed by the names in it, each ended by a nul, the list by a second nul.
template <typename Char>
std::vector<std::basic_string<Char>> chosenFiles(const Char* buffer, size_t capacity) {
    std::vector<std::basic_string<Char>> parts;
    size_t at = 0;
    while (at < capacity && buffer[at] != Char(0)) {
        size_t end = at;
        while (end < capacity && buffer[end] != Char(0)) ++end;
        parts.emplace_back(buffer + at, end - at);
        at = end + 1;
    }
    if (parts.size() <= 1) return parts;
    std::basic_string<Char> folder = parts[0];
    if (folder.back() != Char('\\') && folder.back() != Char('/')) folder += Char('\\');
    std::vector<std::basic_string<Char>> files;
    for (size_t i = 1; i < parts.size(); ++i) files.push_back(folder + parts[i]);
    return files;
}

}  // namespace marrowin::cards
