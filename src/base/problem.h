#pragma once
// What a careful reading found, in one shape for saves, containers and cards: errors are
// damage, warnings oddities that lose nothing, corrections damage already mended in memory
// (a card page's single-bit ECC error).
#include <cstdint>
#include <string>
#include <vector>

namespace marrowin {

enum class Severity { Error, Warning, Corrected };

struct Problem {
    Severity severity = Severity::Error;
    std::string where;    // the entry, save or card part it concerns (save text); "" for the whole
    uint64_t offset = 0;  // where in the file, when the reader knows
    std::string text;     // UTF-8: names from the save in it are decoded already
};

inline const char* severityWord(Severity s) {
    switch (s) {
        case Severity::Error: return "error";
        case Severity::Warning: return "warning";
        case Severity::Corrected: return "corrected";
    }
    return "error";
}

inline size_t countProblems(const std::vector<Problem>& problems, Severity severity) {
    size_t n = 0;
    for (const Problem& p : problems) n += p.severity == severity;
    return n;
}

inline bool hasErrors(const std::vector<Problem>& problems) {
    return countProblems(problems, Severity::Error) != 0;
}

}  // namespace marrowin
