// marrowin-cli convert: a save from any container into another (.psu, .max, .cbs, .sps, .psv).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "operations/archive_export.h"
#include "base/host_files.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "containers/save_contents.h"

namespace marrowin::cli {

namespace {

const char* const CONVERT_USAGE =
    "usage: marrowin-cli convert [-q] [--to psu|max|cbs|sps|psv] [-C DIR] [-k|--replace]\n"
    "                            [--force] [--portable-names] [-o FILE] INPUT...\n"
    "Writes the save in each INPUT (a save archive, .max, .cbs, .sps/.xps or .psv, told by\n"
    "its content) as another container, named after the save's folder: DIR/FOLDER.psu and\n"
    "so on (DIR default ., made when missing). File names and contents always come through\n"
    "unchanged. What a container cannot hold is lost: .max keeps no time stamps, modes\n"
    "or attributes, the others no attributes. Missing time stamps are filled with the\n"
    "time now and missing modes with the usual ones when the output keeps them. A .psv\n"
    "is written unsigned: emulators and PC tools read it, a PS3 does not take it.\n"
    "An existing file is never replaced unless --replace is given, and the input itself\n"
    "never is. Names a container cannot hold (over 32 bytes in all but .psu) are refused,\n"
    "never cut.\n"
    "  --to WORD          the container to write: psu (default), max, cbs, sps (xps), psv\n"
    "  -o FILE            the output's path (only with one INPUT)\n"
    "  -C DIR             the folder to write into\n"
    "  -k, --keep         an existing output is left alone and reported (exit 0)\n"
    "  --replace          an existing output is replaced\n"
    "  --force            convert a damaged input as far as it could be read (still exit 1)\n"
    "  --portable-names   output names Windows takes as they stand\n"
    "  -q, --quiet        no line per conversion and no notes (errors still show)\n"
    "Exit status: 0 when every input was converted (or kept with -k), 1 otherwise.\n";

enum class Existing { Fail, Keep, Replace };

struct ConvertArgs {
    ContainerKind to = ContainerKind::Psu;
    std::string outputDir;
    std::string output;  // -o
    Existing existing = Existing::Fail;
    bool force = false;
    bool portable = false;
    std::vector<std::string> inputs;
};

// Where one output goes: its name in the output folder, and its path as the user sees it.
struct Target {
    std::string shown;  // the path as the user sees it
    std::string name;
};

std::string joined(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir == ".") return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool holdsMetadata(ContainerKind kind) { return kind != ContainerKind::Max; }

class Converter {
public:
    Converter(const ConvertArgs& args) : args_(args) {}

    // Converts one input into `name` inside `dir`; true when it was written whole (or kept).
    bool convert(const std::string& input, const HostFolder& dir, const std::string& outDir) {
        const std::string in = terminalText(input);
        OpenOptions what;
        what.image = false;
        what.contents = true;
        what.cards = false;
        OpenedSave r;
        std::string error;
        const bool opened = openSave(input, what, r, error);
        // Without problems to show, the message says why nothing was read.
        if (!opened && r.problems.empty()) return fail(terminalText(error));
        const char* title = containerTitle(r.container);
        bool damaged = false;
        for (const Problem& p : r.problems) {
            if (p.severity == Severity::Error) {
                damaged = true;
                say(stderr, "marrowin-cli convert: %s: damaged %s: %s\n", in.c_str(), title,
                    terminalText(p.text).c_str());
            } else if (!quiet) {
                say(stderr, "marrowin-cli convert: %s: note: %s: %s\n", in.c_str(), title,
                    terminalText(p.text).c_str());
            }
        }
        if (!opened) return fail(in + ": nothing could be read");
        if (damaged && !args_.force)
            return fail(in + ": not converted, the save would be written incomplete (--force "
                             "converts what could be read)");

        Target t;
        t.name = args_.output.empty()
                     ? extractedFileName(r.contents.folderName, NATIVE_HOST_NAME_STYLE, args_.portable) +
                           "." + containerWord(args_.to)
                     : baseName(args_.output);
        t.shown = args_.output.empty() ? joined(outDir, t.name) : args_.output;
        const std::string shown = terminalText(t.shown);

        // The input itself is never written over, whatever the options.
        const NameInfo there = lookUpName(dir, t.name);
        FileId inputId, outputId;
        if (input != "-" && there.kind != PathKind::Missing && identityOfPath(input, inputId) &&
            identityOfPath(t.shown, outputId) && inputId == outputId)
            return fail(shown + ": the output is the input itself");
        if (there.kind != PathKind::Missing) {
            if (written_.count(there.id))
                return fail(shown + ": written by an earlier input of this run; not replaced");
            if (args_.existing == Existing::Keep) {
                say(stderr, "marrowin-cli convert: %s: left alone, already there: %s\n", in.c_str(),
                    shown.c_str());
                return true;
            }
            if (args_.existing == Existing::Fail)
                return fail(shown + " already exists (--replace replaces it, -k keeps it)");
            if (there.kind != PathKind::File)
                return fail(shown + ": not a regular file; not replaced");
        }

        size_t filled = 0;
        if (holdsMetadata(args_.to)) filled = completeMetadata(r.contents, stampNow(StampClock::Local));
        std::vector<uint8_t> out;
        if (!writeContainer(args_.to, r.contents, out, error))
            return fail(in + ": cannot be written as " + containerTitle(args_.to) + ": " +
                        terminalText(error));

        if (!placed(dir, t, out)) return false;
        if (!quiet) {
            say(stdout, "%s: wrote %s (%zu file%s, %s)\n", in.c_str(), shown.c_str(),
                r.contents.files.size(), r.contents.files.size() == 1 ? "" : "s",
                containerTitle(args_.to));
            if (filled)
                say(stdout, "%s: %zu missing time stamp%s and mode%s filled in\n", in.c_str(), filled,
                    filled == 1 ? "" : "s", filled == 1 ? "" : "s");
        }
        return !damaged;
    }

private:
    bool fail(const std::string& message) {
        say(stderr, "marrowin-cli convert: %s\n", message.c_str());
        return false;
    }

    static std::string baseName(const std::string& path) {
        const size_t slash = lastPathSeparator(path);
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    // Written under a temporary name, put on the disk, then given its name.
    bool placed(const HostFolder& dir, const Target& t, const std::vector<uint8_t>& out) {
        const std::string shown = terminalText(t.shown);
        TemporaryFile tmp;
        if (!tmp.create(dir))
            return fail(shown + ": cannot write a temporary file: " + std::strerror(errno));
        if (!tmp.file().write(out.data(), out.size()) || !tmp.finish())
            return fail(shown + ": cannot write: " + std::strerror(errno));
        const int err = args_.existing == Existing::Replace ? tmp.placeReplacing(t.name)
                                                             : tmp.placeWithoutReplacing(t.name);
        if (err == EEXIST && args_.existing == Existing::Keep) {
            say(stderr, "marrowin-cli convert: %s: left alone, already there\n", shown.c_str());
            return true;
        }
        if (err == EEXIST) return fail(shown + " already exists");
        if (err != 0) return fail(shown + ": cannot write: " + std::strerror(err));
        syncFolder(dir);
        const NameInfo now = lookUpName(dir, t.name);
        if (now.kind == PathKind::File) written_.insert(now.id);
        return true;
    }

    const ConvertArgs& args_;
    std::set<FileId> written_;
};

std::string parentOf(const std::string& path) {
    const size_t slash = lastPathSeparator(path);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int runConvert(int argc, char** argv) {
    ConvertArgs args;
    bool keep = false, replace = false, dirGiven = false;
    const int code = walkArguments(
        argc, argv, CONVERT_USAGE,
        [&](const std::string& option, const OptionValue& value) -> std::string {
            if (option == "--to") {
                const char* v = value();
                if (!v || (args.to = containerFromWord(v)) == ContainerKind::Unknown)
                    return "--to takes psu, max, cbs, sps, xps or psv";
            } else if (option.compare(0, 5, "--to=") == 0) {
                if ((args.to = containerFromWord(option.substr(5))) == ContainerKind::Unknown)
                    return "--to takes psu, max, cbs, sps, xps or psv";
            } else if (option == "-C") {
                const char* v = value();
                if (!v || !*v) return "-C needs a folder";
                args.outputDir = v;
                dirGiven = true;
            } else if (option.compare(0, 2, "-C") == 0) {
                args.outputDir = option.substr(2);
                dirGiven = true;
            } else if (option == "-o") {
                const char* v = value();
                if (!v || !*v) return "-o needs a file name";
                args.output = v;
            } else if (option == "-k" || option == "--keep") {
                keep = true;
            } else if (option == "--replace") {
                replace = true;
            } else if (option == "--force") {
                args.force = true;
            } else if (option == "--portable-names") {
                args.portable = true;
            } else {
                return "unknown option " + option;
            }
            return "";
        },
        args.inputs);
    if (code >= 0) return code;
    if (args.inputs.empty()) return usageError("convert", "no input given", CONVERT_USAGE);
    if (keep && replace) return usageError("convert", "-k and --replace exclude each other", CONVERT_USAGE);
    if (!args.output.empty() && args.inputs.size() != 1)
        return usageError("convert", "-o takes one input only", CONVERT_USAGE);
    if (!args.output.empty() && dirGiven)
        return usageError("convert", "give -o FILE or -C DIR, not both", CONVERT_USAGE);
    if (args.output == "-" || (!args.output.empty() && args.output.back() == '/'))
        return usageError("convert", "-o needs a file name", CONVERT_USAGE);
    args.existing = keep ? Existing::Keep : replace ? Existing::Replace : Existing::Fail;

    std::string error;
    std::string dir = args.output.empty() ? (dirGiven ? args.outputDir : ".") : parentOf(args.output);
    if (args.output.empty() && !ensureOutputFolder(dir, error)) {
        say(stderr, "marrowin-cli convert: %s\n", error.c_str());
        return 1;
    }
    const OpenFolder out = openOutputFolder(dir, error);
    if (!out.isOpen()) {
        say(stderr, "marrowin-cli convert: %s\n", error.c_str());
        return 1;
    }
    // Temporary files of runs that were killed here go first.
    removeStaleTemporaries(out.ref());

    Converter converter(args);
    int status = 0;
    Progress progress("convert", args.inputs.size());
    for (size_t i = 0; i < args.inputs.size(); ++i) {
        progress.begin(i, args.inputs[i]);
        if (!converter.convert(args.inputs[i], out.ref(), dirGiven ? args.outputDir : ".")) status = 1;
    }
    return status;
}

}  // namespace marrowin::cli
