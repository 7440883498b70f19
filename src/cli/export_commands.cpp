// marrowin-cli extract, pack and copy: the window's three export options, into -C DIR.
#include <cstdio>
#include <string>
#include <vector>

#include "operations/archive_export.h"
#include "base/host_files.h"
#include "archive/save_image.h"
#include "cli/cli_support.h"
#include "cli/commands.h"

namespace marrowin::cli {

namespace {

struct ExportArgs {
    std::string outputDir = ".";
    std::vector<std::string> inputs;
    ExportOptions options;
};

enum OptionSet { COPY_OPTIONS = 0, KEEP_OPTION = 1, LINK_OPTION = 2, PORTABLE_OPTION = 4 };

// Parses [-C DIR] [-k] [--follow-links] [--portable-names] INPUT...; gives -1 to go on, or an exit code.
int parseExportArgs(int argc, char** argv, const char* usage, int accepted, ExportArgs& args) {
    int code = walkArguments(
        argc, argv, usage,
        [&](const std::string& option, const OptionValue& value) -> std::string {
            if (option == "-C") {
                const char* dir = value();
                if (!dir) return "-C needs a folder";
                args.outputDir = dir;
            } else if (option.compare(0, 2, "-C") == 0) {
                args.outputDir = option.substr(2);
            } else if ((accepted & KEEP_OPTION) && (option == "-k" || option == "--keep")) {
                args.options.keep = true;
            } else if ((accepted & LINK_OPTION) && option == "--follow-links") {
                args.options.followLinks = true;
            } else if ((accepted & PORTABLE_OPTION) && option == "--portable-names") {
                args.options.portableNames = true;
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

// Reports one operation on stderr: its failure or notes, then everything that keeps it from
// being complete. True when it is complete.
bool report(const char* command, const std::string& input, const ExportArgs& args,
            const ExportResult& r) {
    const std::string in = terminalText(input);
    if (!r.ok)
        say(stderr, "marrowin-cli %s: %s: %s\n", command, in.c_str(),
            r.error.empty() ? "failed" : terminalText(r.error).c_str());
    else if (!r.error.empty())
        say(stderr, "marrowin-cli %s: %s: note: %s\n", command, in.c_str(), terminalText(r.error).c_str());
    for (const std::string& f : r.incomplete)
        say(stderr, "marrowin-cli %s: %s: incomplete: %s\n", command, in.c_str(),
            terminalText(shown(args, f)).c_str());
    for (const std::string& f : r.renamed)
        say(stderr, "marrowin-cli %s: %s: an earlier entry has this name, written under another: %s\n",
            command, in.c_str(), terminalText(shown(args, f)).c_str());
    for (const std::string& f : r.kept)
        say(stderr, "marrowin-cli %s: %s: left alone, already there: %s\n", command, in.c_str(),
            terminalText(shown(args, f)).c_str());
    return r.complete();
}

using Operation = bool (*)(const char* command, const std::string& input, const ExportArgs& args,
                           const HostFolder& dir);

bool copyOne(const char* command, const std::string& input, const ExportArgs& args, const HostFolder& dir) {
    OpenedSave a;
    std::string error;
    if (!openSave(input, OpenOptions{}, a, error)) {
        say(stderr, "marrowin-cli %s: %s\n", command, terminalText(error).c_str());
        return false;
    }
    // A damaged container is still copied as far as it could be read, and fails the command.
    const bool damaged = reportContainerErrors(command, input, a);
    // The same copy the window's copy option makes.
    ExportResult r = writeSaveCopy(a.image, dir, args.options);
    if (!report(command, input, args, r)) return false;
    // The name holds the save's folder name and title: escaped like all save text.
    if (!quiet)
        say(stdout, "%s: wrote %s\n", terminalText(input).c_str(),
            terminalText(shown(args, r.path)).c_str());
    return !damaged;
}

bool extractOne(const char* command, const std::string& input, const ExportArgs& args, const HostFolder& dir) {
    OpenedSave a;
    std::string error;
    if (!openSave(input, OpenOptions{}, a, error)) {
        say(stderr, "marrowin-cli %s: %s\n", command, terminalText(error).c_str());
        return false;
    }
    const bool damaged = reportContainerErrors(command, input, a);
    ExportResult r = extractArchive(a.image, dir, args.options);
    // Files written before a failure are still listed, but a failure that wrote nothing has
    // no line here: its message is on stderr.
    if (!quiet && (r.ok || !r.files.empty())) {
        say(stdout, "%s: %zu file%s into %s%s\n", terminalText(input).c_str(), r.files.size(),
            r.files.size() == 1 ? "" : "s", terminalText(shown(args, r.path)).c_str(),
            r.ok ? "" : " before the failure");
        for (const std::string& f : r.files)
            say(stdout, "  %s\n", terminalText(shown(args, f)).c_str());
    }
    return report(command, input, args, r) && !damaged;
}

bool packOne(const char* command, const std::string& input, const ExportArgs& args, const HostFolder& dir) {
    switch (pathKind(input)) {
    case PathKind::Folder:
        break;
    case PathKind::Missing:
        say(stderr, "marrowin-cli %s: %s: no such file or folder\n", command, terminalText(input).c_str());
        return false;
    default:
        say(stderr, "marrowin-cli %s: %s: not a folder\n", command, terminalText(input).c_str());
        return false;
    }
    ExportResult r = packFolder(input, dir, args.options);
    const bool complete = report(command, input, args, r);
    if (r.ok && r.kept.empty() && !quiet)
        say(stdout, "%s: wrote %s with %zu file%s\n", terminalText(input).c_str(),
            terminalText(shown(args, r.path)).c_str(),
            r.files.size(), r.files.size() == 1 ? "" : "s");
    return complete;
}

int runExport(int argc, char** argv, const char* usage, int accepted, Operation op) {
    ExportArgs args;
    int code = parseExportArgs(argc, argv, usage, accepted, args);
    if (code >= 0) return code;
    std::string error;
    // A missing output folder is made (one level), as for pictures.
    if (!ensureOutputFolder(args.outputDir, error)) {
        say(stderr, "marrowin-cli %s: %s\n", argv[0], terminalText(error).c_str());
        return 1;
    }
    const OpenFolder out = openOutputFolder(args.outputDir, error);
    if (!out.isOpen()) {
        say(stderr, "marrowin-cli %s: %s\n", argv[0], terminalText(error).c_str());
        return 1;
    }
    int status = 0;
    Progress progress(argv[0], args.inputs.size());
    for (size_t i = 0; i < args.inputs.size(); ++i) {
        progress.begin(i, args.inputs[i]);
        if (!op(argv[0], args.inputs[i], args, out.ref())) status = 1;
    }
    return status;
}

}  // namespace

int runCopy(int argc, char** argv) {
    return runExport(argc, argv,
                     "usage: marrowin-cli copy [-q] [--portable-names] [-C DIR] ARCHIVE...\n"
                     "Writes each save archive again as \"FOLDER TITLE.psu\" in DIR (default .,\n"
                     "made when missing), numbered \"FOLDER TITLE (2).psu\" and so on; never\n"
                     "replaces a file. \"-\" reads the archive from standard input.\n"
                     "  --portable-names   names Windows takes: \\ : * ? \" < > | and control\n"
                     "                     characters, a trailing dot or space become _, and a\n"
                     "                     device name (CON, NUL, COM1, ...) gets _ in front\n"
                     "  -q, --quiet        no line per copy (errors still show)\n",
                     COPY_OPTIONS | PORTABLE_OPTION, copyOne);
}

int runExtract(int argc, char** argv) {
    return runExport(argc, argv,
                     "usage: marrowin-cli extract [-q] [-k] [--portable-names] [-C DIR] ARCHIVE...\n"
                     "Writes the files of each save archive into a folder named after the save,\n"
                     "in DIR (default ., made when missing); files of the same names there are\n"
                     "replaced. An entry whose name an earlier entry took is written as\n"
                     "\"NAME (2)\". Exits 1 when any entry is cut off, renamed or left alone.\n"
                     "\"-\" reads the archive from standard input.\n"
                     "  -k, --keep         never replace a file: leave it alone and report it\n"
                     "  --portable-names   names Windows takes: \\ : * ? \" < > | and control\n"
                     "                     characters, a trailing dot or space become _, and a\n"
                     "                     device name (CON, NUL, COM1, ...) gets _ in front\n"
                     "  -q, --quiet        no line per file (errors still show)\n",
                     KEEP_OPTION | PORTABLE_OPTION, extractOne);
}

int runPack(int argc, char** argv) {
    return runExport(argc, argv,
                     "usage: marrowin-cli pack [-q] [-k] [--follow-links] [-C DIR] FOLDER...\n"
                     "Packs the regular files of each folder into \"NAME.psu\" in DIR (default .,\n"
                     "made when missing), replacing an archive of that name; subfolders are left\n"
                     "out. Refuses a folder whose file names a save cannot hold (characters\n"
                     "Shift-JIS lacks, two names that are one in Shift-JIS) or whose archive would\n"
                     "be 4 GiB or more. Exits 1 when a file could not be packed whole.\n"
                     "  -k, --keep       never replace NAME.psu: leave it alone and report it\n"
                     "  --follow-links   also pack links that lead outside the folder\n"
                     "                   (left out with a note otherwise)\n"
                     "  -q, --quiet      no line per archive (errors still show)\n",
                     KEEP_OPTION | LINK_OPTION, packOne);
}

}  // namespace marrowin::cli
