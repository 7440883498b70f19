// marrowin-cli check: every problem a careful reader finds in each archive.
#include <cstdio>
#include <string>
#include <vector>

#include "operations/archive_check.h"
#include "base/save_text.h"
#include "cli/cli_support.h"
#include "cli/commands.h"

namespace marrowin::cli {

namespace {

const char* const CHECK_USAGE =
    "usage: marrowin-cli check [-q] [--json] ARCHIVE...\n"
    "Reports each archive's problems, one line each: where the file is cut or damaged, names\n"
    "extraction cannot write as they stand, a missing or doubled icon descriptor, icon names that\n"
    "find no file, icon models and textures that run past their data. Warnings (padding that is\n"
    "not zero, bytes after a texture, ...) do not fail the check. A save in another container\n"
    "(.max, .cbs, .sps/.xps, .psv) gets the container's own problems first (a bad checksum, data\n"
    "cut off, sizes that disagree), then those of the save archive it holds.\n"
    "Exit status: 0 when no archive has an error, 1 when one has.\n"
    "  --json        one JSON array with an object per archive\n"
    "  -q, --quiet   taken as by every command; the report is the output, so it still shows\n";

struct Report {
    std::string path;
    std::string kind;          // empty when the file could not be read
    std::string container;     // the container's word for a save not in a save archive
    std::string readError;     // why it could not be read
    // The container's own faults, reported first, each message led by the container's name.
    std::vector<Problem> containerProblems;
    std::string containerTitle;
    std::vector<Problem> problems;
    size_t errors = 0, warnings = 0;
};

Report checkPath(const std::string& path) {
    Report r;
    r.path = path;
    OpenedSave a;
    std::string error;
    const bool loaded = openSave(path, OpenOptions{}, a, error);
    if (a.container != ContainerKind::Psu && a.container != ContainerKind::Unknown) {
        r.container = containerWord(a.container);
        r.containerTitle = containerTitle(a.container);
        r.containerProblems = a.problems;
        for (const Problem& p : a.problems) ++(p.severity == Severity::Error ? r.errors : r.warnings);
    }
    // A file that loads but is not a save archive is the check's own first finding.
    if (!loaded && a.image.empty()) {
        if (error.compare(0, path.size() + 2, path + ": ") == 0) error.erase(0, path.size() + 2);
        // A container that could not be read says why among its own problems.
        if (r.errors == 0) {
            r.readError = error;
            r.errors = 1;
        }
        return r;
    }
    r.kind = archiveKindName(a.kind);
    r.problems = checkArchive(a.image);
    r.errors += countProblems(r.problems, Severity::Error);
    r.warnings += countProblems(r.problems, Severity::Warning);
    return r;
}

std::string hexOffset(uint64_t offset) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(offset));
    return buf;
}

std::string plural(size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

void printText(const Report& r) {
    const std::string path = terminalText(r.path);
    if (!r.readError.empty())
        std::printf("%s: error: %s\n", path.c_str(), terminalText(r.readError).c_str());
    for (const Problem& p : r.containerProblems)
        std::printf("%s: %s: %s: %s\n", path.c_str(), severityWord(p.severity),
                    r.containerTitle.c_str(), terminalText(p.text).c_str());
    for (const Problem& p : r.problems) {
        std::string entry = p.where.empty() ? "" : "\"" + terminalText(saveTextToDisplay(p.where)) + "\" ";
        std::printf("%s: %s: %sat %s: %s\n", path.c_str(), severityWord(p.severity), entry.c_str(),
                    hexOffset(p.offset).c_str(), terminalText(p.text).c_str());
    }
    if (r.errors == 0 && r.warnings == 0)
        std::printf("%s: ok\n", path.c_str());
    else
        std::printf("%s: %s, %s\n", path.c_str(), plural(r.errors, "error").c_str(),
                    plural(r.warnings, "warning").c_str());
}

std::string jsonReport(const Report& r) {
    std::string s = "{\"path\":" + jsonString(r.path) +
                    ",\"kind\":" + (r.kind.empty() ? std::string("null") : jsonString(r.kind)) +
                    ",\"container\":" + (r.container.empty() ? std::string("null") : jsonString(r.container)) +
                    ",\"ok\":" + (r.errors == 0 ? "true" : "false") +
                    ",\"errors\":" + std::to_string(r.errors) +
                    ",\"warnings\":" + std::to_string(r.warnings) + ",\"problems\":[";
    bool first = true;
    auto item = [&](const char* severity, const std::string& entry, const std::string& offset,
                    const std::string& message) {
        s += std::string(first ? "" : ",") + "{\"severity\":\"" + severity + "\",\"entry\":" + entry +
             ",\"offset\":" + offset + ",\"message\":" + message + "}";
        first = false;
    };
    if (!r.readError.empty()) item("error", "null", "null", jsonString(r.readError));
    for (const Problem& p : r.containerProblems)
        item(severityWord(p.severity), "null", "null", jsonString(r.containerTitle + ": " + p.text));
    for (const Problem& p : r.problems)
        item(severityWord(p.severity), jsonString(saveTextToDisplay(p.where)), std::to_string(p.offset),
             jsonString(p.text));
    return s + "]}";
}

}  // namespace

int runCheck(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> paths;
    const int code = walkReportArguments(argc, argv, CHECK_USAGE, json, paths);
    if (code >= 0) return code;

    int status = 0;
    if (json) std::fputs("[", stdout);
    for (size_t i = 0; i < paths.size(); ++i) {
        Report r = checkPath(paths[i]);
        if (r.errors) status = 1;
        if (json)
            std::printf("%s\n%s", i ? "," : "", jsonReport(r).c_str());
        else
            printText(r);
        flushStandardOutput();
    }
    if (json) std::fputs("\n]\n", stdout);
    return status;
}

}  // namespace marrowin::cli
