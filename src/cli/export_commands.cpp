// marrowin-cli extract, pack and copy: the window's three export options, into -C DIR.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_export.h"
#include "archive/save_image.h"
#include "cli/cli_support.h"
#include "cli/commands.h"

namespace marrowin::cli {

namespace {

struct ExportArgs {
    std::string outputDir = ".";
    std::vector<std::string> inputs;
};

// Parses [-C DIR] INPUT...; gives -1 to go on, or an exit code.
int parseExportArgs(int argc, char** argv, const char* usage, ExportArgs& args) {
    int code = walkArguments(
        argc, argv, usage,
        [&](const std::string& option, const OptionValue& value) -> std::string {
            if (option == "-C") {
                const char* dir = value();
                if (!dir) return "-C needs a folder";
                args.outputDir = dir;
            } else if (option.compare(0, 2, "-C") == 0) {
                args.outputDir = option.substr(2);
            } else {
                return "unknown option " + option;
            }
            return "";
        },
        args.inputs);
    if (code >= 0) return code;
    if (args.inputs.empty()) return usageError(argv[0], "nothing given", usage);
    return -1;
}

std::string shown(const ExportArgs& args, const std::string& name) {
    return args.outputDir == "." ? name : args.outputDir + "/" + name;
}

// Reports one operation; true when it succeeded.
bool report(const char* command, const std::string& input, const ExportResult& r) {
    if (!r.ok) {
        say(stderr, "marrowin-cli %s: %s: %s\n", command, input.c_str(),
            r.error.empty() ? "failed" : r.error.c_str());
        return false;
    }
    if (!r.error.empty())
        say(stderr, "marrowin-cli %s: %s: note: %s\n", command, input.c_str(), r.error.c_str());
    return true;
}

using Operation = bool (*)(const char* command, const std::string& input, const ExportArgs& args,
                           int dirFd);

bool copyOne(const char* command, const std::string& input, const ExportArgs& args, int dirFd) {
    LoadedArchive a;
    std::string error;
    if (!loadArchive(input, a, error)) {
        say(stderr, "marrowin-cli %s: %s\n", command, error.c_str());
        return false;
    }
    // The same copy the window's copy option makes.
    ExportResult r = writeSaveCopy(a.image, dirFd);
    if (!report(command, input, r)) return false;
    say(stdout, "%s: wrote %s\n", input.c_str(), shown(args, r.path).c_str());
    return true;
}

bool extractOne(const char* command, const std::string& input, const ExportArgs& args, int dirFd) {
    LoadedArchive a;
    std::string error;
    if (!loadArchive(input, a, error)) {
        say(stderr, "marrowin-cli %s: %s\n", command, error.c_str());
        return false;
    }
    ExportResult r = extractArchive(a.image, dirFd);
    // Files written before a failure are still listed.
    say(stdout, "%s: %zu file%s into %s\n", input.c_str(), r.files.size(),
        r.files.size() == 1 ? "" : "s", shown(args, r.path).c_str());
    for (const std::string& f : r.files) say(stdout, "  %s\n", shown(args, f).c_str());
    return report(command, input, r);
}

bool packOne(const char* command, const std::string& input, const ExportArgs& args, int dirFd) {
    if (pathKind(input) != PathKind::Folder) {
        say(stderr, "marrowin-cli %s: %s: not a folder\n", command, input.c_str());
        return false;
    }
    ExportResult r = packFolder(input, dirFd);
    if (!report(command, input, r)) return false;
    say(stdout, "%s: wrote %s with %zu file%s\n", input.c_str(), shown(args, r.path).c_str(),
        r.files.size(), r.files.size() == 1 ? "" : "s");
    return true;
}

int runExport(int argc, char** argv, const char* usage, Operation op) {
    ExportArgs args;
    int code = parseExportArgs(argc, argv, usage, args);
    if (code >= 0) return code;
    std::string error;
    int dirFd = openOutputFolder(args.outputDir, error);
    if (dirFd < 0) {
        say(stderr, "marrowin-cli %s: %s\n", argv[0], error.c_str());
        return 1;
    }
    int status = 0;
    Progress progress(argv[0], args.inputs.size());
    for (size_t i = 0; i < args.inputs.size(); ++i) {
        progress.begin(i, args.inputs[i]);
        if (!op(argv[0], args.inputs[i], args, dirFd)) status = 1;
    }
    ::close(dirFd);
    return status;
}

}  // namespace

int runCopy(int argc, char** argv) {
    return runExport(argc, argv,
                     "usage: marrowin-cli copy [-C DIR] ARCHIVE...\n"
                     "Writes each save archive again as \"FOLDER TITLE.psu\" in DIR (default .),\n"
                     "numbered \"FOLDER TITLE (2).psu\" and so on; never replaces a file.\n",
                     copyOne);
}

int runExtract(int argc, char** argv) {
    return runExport(argc, argv,
                     "usage: marrowin-cli extract [-C DIR] ARCHIVE...\n"
                     "Writes the files of each save archive into a folder named after the save,\n"
                     "in DIR (default .); files of the same names there are replaced.\n",
                     extractOne);
}

int runPack(int argc, char** argv) {
    return runExport(argc, argv,
                     "usage: marrowin-cli pack [-C DIR] FOLDER...\n"
                     "Packs the regular files of each folder into \"NAME.psu\" in DIR (default .),\n"
                     "replacing an archive of that name; subfolders are left out.\n",
                     packOne);
}

}  // namespace marrowin::cli
