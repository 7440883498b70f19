// marrowin-cli card: memory card images and PCSX2 folder cards: list, export, import, delete,
// format and check. A card is never left damaged: every change is made to a whole new image
// in memory, checked, and only then put in the card's place (see card/card_file.h).
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "operations/archive_export.h"
#include "operations/card_change.h"
#include "base/host_files.h"
#include "base/save_text.h"
#include "card/card.h"
#include "card/card_file.h"
#include "card/folder_card.h"
#include "card/memory_card.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "containers/save_contents.h"

namespace marrowin::cli {

namespace {

using card::CardSave;

const char* const CARD_USAGE =
    "usage: marrowin-cli card SUBCOMMAND [OPTIONS] CARD ...\n"
    "Works on a PS2 memory card image (8 MB, with or without ECC) or a PCSX2 folder card\n"
    "(a folder holding _pcsx2_superblock).\n"
    "  ls [--json] CARD                       the card's saves and its free space\n"
    "  export [--to KIND] [-C DIR] CARD [FOLDER...]   saves into container files\n"
    "  import [--replace] [--force] [--no-backup] CARD SAVE...   saves onto the card\n"
    "  delete [--force] [--no-backup] CARD FOLDER...   saves off the card\n"
    "  format [--no-ecc] [--folder] [--replace] CARD   a new, empty card\n"
    "  check [--json] CARD...                 report damage, exit 1 on any error\n"
    "marrowin-cli card SUBCOMMAND --help says more.\n";

const char* const LS_USAGE =
    "usage: marrowin-cli card ls [--json] CARD\n"
    "Lists every save folder on the card: its title, size in clusters and bytes, modified\n"
    "time, whether icon.sys and the icons it names are there; then the free space.\n"
    "  --json   one JSON object\n";

const char* const EXPORT_USAGE =
    "usage: marrowin-cli card export [--to psu|max|cbs|sps|psv] [-C DIR] [-k|--replace]\n"
    "                                [--portable-names] CARD [FOLDER...]\n"
    "Writes each save folder given (every save by default) as a container file named after\n"
    "the folder, DIR/FOLDER.psu and so on (DIR default ., made when missing). An existing\n"
    "file is never replaced unless --replace is given, and the card itself never is.\n"
    "  --to WORD          the container: psu (default), max, cbs, sps (xps), psv\n"
    "  -C DIR             the folder to write into\n"
    "  -k, --keep         an existing output is left alone and reported (exit 0)\n"
    "  --replace          an existing output is replaced\n"
    "  --portable-names   output names Windows takes as they stand\n"
    "  -q, --quiet        no line per save (errors still show)\n";

const char* const IMPORT_USAGE =
    "usage: marrowin-cli card import [--replace] [--force] [--no-backup] CARD SAVE...\n"
    "Puts each save (.psu, .max, .cbs, .sps/.xps or .psv, told apart by content; \"-\" reads\n"
    "standard input) on the card.\n"
    "Time stamps a save lacks are set to now. The new card is built whole and checked before\n"
    "it replaces the old one, which is kept as CARD.bak (an older CARD.bak is replaced).\n"
    "Refuses a damaged save, one that does not fit, and a folder the card already holds.\n"
    "  --replace     replace a save folder of the same name\n"
    "  --force       change a card whose check finds errors\n"
    "  --no-backup   keep no CARD.bak\n"
    "  -q, --quiet   no line per save (errors still show)\n";

const char* const DELETE_USAGE =
    "usage: marrowin-cli card delete [--force] [--no-backup] CARD FOLDER...\n"
    "Deletes save folders from the card. The old card is kept as CARD.bak (a folder card\n"
    "keeps each deleted folder as _pcsx2_deleted_FOLDER, as PCSX2 does).\n"
    "  --force       change a card whose check finds errors\n"
    "  --no-backup   keep no CARD.bak\n"
    "  -q, --quiet   no line per save (errors still show)\n";

const char* const FORMAT_USAGE =
    "usage: marrowin-cli card format [--no-ecc] [--folder] [--replace] CARD\n"
    "Writes a new, empty 8 MB card image (with ECC spare bytes unless --no-ecc). An existing\n"
    "file is replaced only with --replace (no backup is kept).\n"
    "  --no-ecc    8,388,608 bytes without spare bytes, instead of 8,650,752 with them\n"
    "  --folder    a PCSX2 folder card: CARD is a missing or empty folder\n"
    "  --replace   replace an existing card file\n";

const char* const CHECK_USAGE =
    "usage: marrowin-cli card check [--json] CARD...\n"
    "Checks each card: superblock, ECC, allocation table chains, directories; one line per\n"
    "problem, then \"CARD: ok\" or the counts. Exits 1 when any card has an error.\n"
    "  --json   one JSON array with an object per card\n";

using card::Card;
using card::openCard;

std::string display(std::string_view saveText) { return terminalText(saveTextToDisplay(saveText)); }

// The subcommand's own argv: argv[0] "card SUB" so messages name both.
struct SubArgs {
    std::string name;
    std::vector<char*> argv;
};

// ---- ls ------------------------------------------------------------------------------------

int runLs(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> paths;
    int code = walkReportArguments(argc, argv, LS_USAGE, json, paths);
    if (code >= 0) return code;
    if (paths.size() != 1) return usageError(argv[0], "one card at a time", LS_USAGE);
    Card c;
    std::string error;
    if (!openCard(paths[0], c, error)) {
        say(stderr, "marrowin-cli %s: %s\n", argv[0], terminalText(error).c_str());
        return 1;
    }
    std::vector<Problem> problems;
    const std::vector<CardSave> saves = c.list(&problems);
    // Each count walks the whole allocation table: once.
    const uint32_t freeClusters = c.freeClusters();
    const uint64_t freeBytes = uint64_t(freeClusters) * c.clusterSize();
    if (json) {
        std::string s = "{\"path\":" + jsonString(c.path) + ",\"kind\":" + jsonString(c.kind()) +
                        ",\"clusterSize\":" + std::to_string(c.clusterSize()) +
                        ",\"freeClusters\":" + std::to_string(freeClusters) +
                        ",\"freeBytes\":" + std::to_string(freeBytes) + ",\"saves\":[";
        for (size_t i = 0; i < saves.size(); ++i) {
            const CardSave& v = saves[i];
            s += std::string(i ? "," : "") + "\n{\"folder\":" + jsonString(saveTextToDisplay(v.name)) +
                 ",\"title\":" + jsonString(v.titleUtf8) + ",\"clusters\":" + std::to_string(v.clusters) +
                 ",\"bytes\":" + std::to_string(v.bytes) + ",\"files\":" + std::to_string(v.fileCount) +
                 ",\"created\":" + jsonString(formatEntryTime(v.created.data())) +
                 ",\"modified\":" + jsonString(formatEntryTime(v.modified.data())) +
                 ",\"iconSys\":" + (v.hasIconSys ? "true" : "false") +
                 ",\"icons\":" + (v.hasIcons ? "true" : "false") + "}";
        }
        s += "],\"problems\":[";
        for (size_t i = 0; i < problems.size(); ++i)
            s += std::string(i ? "," : "") + "{\"severity\":" + jsonString(severityWord(problems[i].severity)) +
                 ",\"message\":" + jsonString(problems[i].text) + "}";
        std::printf("%s]}\n", s.c_str());
    } else {
        std::printf("%s: %s, %zu save%s\n", terminalText(c.path).c_str(), c.kind(), saves.size(),
                    saves.size() == 1 ? "" : "s");
        for (const CardSave& v : saves) {
            std::printf("  %-32s %5u clusters %9llu bytes  modified %s  %s\n", display(v.name).c_str(), v.clusters,
                        static_cast<unsigned long long>(v.bytes), formatEntryTime(v.modified.data()).c_str(),
                        !v.hasIconSys ? "no icon.sys" : v.hasIcons ? "icons" : "icons missing");
            if (!v.titleUtf8.empty()) std::printf("  %-32s %s\n", "", terminalText(v.titleUtf8).c_str());
        }
        std::printf("free: %u clusters, %llu bytes\n", freeClusters, static_cast<unsigned long long>(freeBytes));
        for (const Problem& p : problems)
            say(stderr, "%s: %s: %s\n", terminalText(c.path).c_str(), severityWord(p.severity), terminalText(p.text).c_str());
    }
    return 0;
}

// ---- export --------------------------------------------------------------------------------

int runExportSaves(int argc, char** argv) {
    ContainerKind to = ContainerKind::Psu;
    std::string outputDir = ".";
    bool replace = false, keep = false, portable = false;
    std::vector<std::string> operands;
    int code = walkArguments(
        argc, argv, EXPORT_USAGE,
        [&](const std::string& option, const OptionValue& value) -> std::string {
            if (option == "--to") {
                const char* word = value();
                if (!word) return "--to needs a container: psu, max, cbs, sps or psv";
                to = containerFromWord(word);
                if (to == ContainerKind::Unknown) return std::string("unknown container ") + word;
            } else if (option == "-C") {
                const char* dir = value();
                if (!dir) return "-C needs a folder";
                outputDir = dir;
            } else if (option.compare(0, 2, "-C") == 0) {
                outputDir = option.substr(2);
            } else if (option == "-k" || option == "--keep") {
                keep = true;
            } else if (option == "--replace") {
                replace = true;
            } else if (option == "--portable-names") {
                portable = true;
            } else {
                return "unknown option " + option;
            }
            return "";
        },
        operands);
    if (code >= 0) return code;
    if (operands.empty()) return usageError(argv[0], "no card given", EXPORT_USAGE);
    if (keep && replace) return usageError(argv[0], "-k and --replace exclude each other", EXPORT_USAGE);
    Card c;
    std::string error;
    if (!openCard(operands[0], c, error)) {
        say(stderr, "marrowin-cli %s: %s\n", argv[0], terminalText(error).c_str());
        return 1;
    }
    std::vector<std::string> folders(operands.begin() + 1, operands.end());
    if (folders.empty())
        for (const CardSave& s : c.list(nullptr)) folders.push_back(s.name);
    else
        // Folder names are given as host text; the card holds save text.
        for (std::string& f : folders) f = hostNameToSaveText(f);
    if (!ensureOutputFolder(outputDir, error)) {
        say(stderr, "marrowin-cli %s: %s\n", argv[0], error.c_str());
        return 1;
    }
    const OpenFolder out = openOutputFolder(outputDir, error);
    if (!out.isOpen()) {
        say(stderr, "marrowin-cli %s: %s\n", argv[0], error.c_str());
        return 1;
    }
    int status = 0;
    Progress progress(argv[0], folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
        const std::string shownName = display(folders[i]);
        progress.begin(i, shownName);
        SaveContents save;
        std::vector<uint8_t> bytes;
        std::vector<Problem> left;  // folders inside the save, which no container holds
        const bool exported = c.exportSave(folders[i], save, error, &left);
        // What a container cannot hold is left out, said, and fails the run: nothing is lost quietly.
        for (const Problem& p : left) {
            say(stderr, "marrowin-cli %s: %s: left out: %s\n", argv[0], shownName.c_str(), terminalText(p.text).c_str());
            status = 1;
        }
        if (!exported || !writeContainer(to, save, bytes, error)) {
            say(stderr, "marrowin-cli %s: %s: %s\n", argv[0], shownName.c_str(), terminalText(error).c_str());
            status = 1;
            continue;
        }
        const std::string name =
            extractedFileName(folders[i], NATIVE_HOST_NAME_STYLE, portable) + "." + containerWord(to);
        const std::string shownOut = terminalText(outputDir == "." ? name : outputDir + "/" + name);
        const NameInfo there = lookUpName(out.ref(), name);
        if (there.kind != PathKind::Missing) {
            FileId cardId, outId;
            if (identityOfPath(c.path, cardId) && identityOfPath(outputDir + "/" + name, outId) && cardId == outId) {
                say(stderr, "marrowin-cli %s: %s: %s is the card itself; not replaced\n", argv[0], shownName.c_str(),
                    shownOut.c_str());
                status = 1;
                continue;
            }
            if (keep) {
                say(stderr, "marrowin-cli %s: %s: left alone, already there: %s\n", argv[0], shownName.c_str(),
                    shownOut.c_str());
                continue;
            }
            if (!replace || there.kind != PathKind::File) {
                say(stderr, "marrowin-cli %s: %s: %s\n", argv[0], shownName.c_str(),
                    (shownOut + (replace ? ": not a regular file; not replaced"
                                         : " already exists (--replace replaces it, -k keeps it)"))
                        .c_str());
                status = 1;
                continue;
            }
        }
        TemporaryFile temp;
        int err = 0;
        if (!temp.create(out.ref()) || !temp.file().write(bytes.data(), bytes.size()) || !temp.finish())
            err = errno ? errno : EIO;
        else
            err = replace ? temp.placeReplacing(name) : temp.placeWithoutReplacing(name);
        if (err) {
            say(stderr, "marrowin-cli %s: %s: %s: %s\n", argv[0], shownName.c_str(), shownOut.c_str(),
                err == EEXIST ? "already exists" : std::strerror(err));
            status = 1;
        } else if (!quiet) {
            say(stdout, "%s: wrote %s\n", shownName.c_str(), shownOut.c_str());
        }
    }
    if (status == 0 && !syncFolder(out.ref())) {
        say(stderr, "marrowin-cli %s: %s: cannot sync the folder: %s\n", argv[0], outputDir.c_str(),
            std::strerror(errno));
        status = 1;
    }
    return status;
}

// ---- import and delete ---------------------------------------------------------------------

struct ChangeOptions {
    bool replace = false, force = false, noBackup = false;
};

int parseChangeArgs(int argc, char** argv, const char* usage, bool acceptReplace, ChangeOptions& o,
                    std::vector<std::string>& operands) {
    int code = walkArguments(
        argc, argv, usage,
        [&](const std::string& option, const OptionValue&) -> std::string {
            if (acceptReplace && option == "--replace") o.replace = true;
            else if (option == "--force") o.force = true;
            else if (option == "--no-backup") o.noBackup = true;
            else return "unknown option " + option;
            return "";
        },
        operands);
    if (code >= 0) return code;
    if (operands.size() < 2) return usageError(argv[0], operands.empty() ? "no card given" : "nothing given", usage);
    return -1;
}


// Says why a change stopped; the library gives the reason, the flags that get past it are
// named here.
void sayRefusal(const char* command, const CardChange& change, CardChange::Outcome outcome, const std::string& path) {
    const std::string shown = terminalText(path);
    switch (outcome) {
    case CardChange::Outcome::Done:
        return;
    case CardChange::Outcome::Failed:
        say(stderr, "marrowin-cli %s: %s\n", command, terminalText(change.error()).c_str());
        return;
    case CardChange::Outcome::Damaged:
        for (const Problem& p : change.problems())
            say(stderr, "marrowin-cli %s: %s: error: %s\n", command, shown.c_str(), terminalText(p.text).c_str());
        say(stderr, "marrowin-cli %s: %s: the card is damaged; nothing changed (--force changes it anyway)\n",
            command, shown.c_str());
        return;
    case CardChange::Outcome::WouldDamage:
        for (const Problem& p : change.problems())
            say(stderr, "marrowin-cli %s: %s: the changed card would have an error: %s\n", command, shown.c_str(),
                terminalText(p.text).c_str());
        say(stderr, "marrowin-cli %s: %s: nothing written\n", command, shown.c_str());
        return;
    }
}

// Locks, opens and checks the card a change names first; false once the reason is said.
bool openForChange(const char* command, const std::string& path, bool force, CardChange& change) {
    const CardChange::Outcome outcome = change.begin(path, force);
    sayRefusal(command, change, outcome, path);
    return outcome == CardChange::Outcome::Done;
}

// Writes the card when anything changed and names what was done; the run's exit status.
int finishChange(const char* command, CardChange& change, bool backup, const std::vector<std::string>& done,
                 const char* how, int status) {
    if (!done.empty()) {
        const CardChange::Outcome outcome = change.commit(backup);
        sayRefusal(command, change, outcome, change.card().path);
        if (outcome != CardChange::Outcome::Done) return 1;
    }
    if (!quiet)
        for (const std::string& d : done) say(stdout, "%s: %s\n", terminalText(d).c_str(), how);
    return status;
}

int runImport(int argc, char** argv) {
    ChangeOptions o;
    std::vector<std::string> operands;
    int code = parseChangeArgs(argc, argv, IMPORT_USAGE, true, o, operands);
    if (code >= 0) return code;
    CardChange change;
    if (!openForChange(argv[0], operands[0], o.force, change)) return 1;
    Card& c = change.card();
    std::string error;
    // Japan time on a card image, as a console stamps; UTC on a folder card, which the
    // emulator reads as UTC.
    const Stamp now = stampNow(c.isFolder ? StampClock::Utc : StampClock::Japan);
    int status = 0;
    std::vector<std::string> done;
    for (size_t i = 1; i < operands.size(); ++i) {
        const std::string& input = operands[i];
        SaveContents save;
        if (!openSaveToImport(input, save, error)) {
            say(stderr, "marrowin-cli %s: %s\n", argv[0], terminalText(error).c_str());
            status = 1;
            continue;
        }
        completeMetadata(save, now);
        // Both kinds of card refuse a folder they hold already, unless replace.
        bool taken = false;
        if (!c.importSave(save, o.replace, error, &taken)) {
            if (taken) error += " (--replace replaces it)";
            say(stderr, "marrowin-cli %s: %s: %s\n", argv[0], terminalText(input).c_str(), terminalText(error).c_str());
            status = 1;
            continue;
        }
        done.push_back(input + ": " + saveTextToDisplay(save.folderName));
    }
    return finishChange(argv[0], change, !o.noBackup, done, "imported", status);
}

int runDelete(int argc, char** argv) {
    ChangeOptions o;
    std::vector<std::string> operands;
    int code = parseChangeArgs(argc, argv, DELETE_USAGE, false, o, operands);
    if (code >= 0) return code;
    CardChange change;
    if (!openForChange(argv[0], operands[0], o.force, change)) return 1;
    Card& c = change.card();
    std::string error;
    int status = 0;
    std::vector<std::string> done;
    for (size_t i = 1; i < operands.size(); ++i) {
        const std::string folder = hostNameToSaveText(operands[i]);
        if (!c.deleteSave(folder, error)) {
            say(stderr, "marrowin-cli %s: %s: %s\n", argv[0], terminalText(operands[i]).c_str(),
                terminalText(error).c_str());
            status = 1;
            continue;
        }
        done.push_back(operands[i]);
    }
    return finishChange(argv[0], change, !o.noBackup, done, "deleted", status);
}

// ---- format and check ----------------------------------------------------------------------

int runFormat(int argc, char** argv) {
    bool noEcc = false, folder = false, replace = false;
    std::vector<std::string> operands;
    int code = walkArguments(
        argc, argv, FORMAT_USAGE,
        [&](const std::string& option, const OptionValue&) -> std::string {
            if (option == "--no-ecc") noEcc = true;
            else if (option == "--folder") folder = true;
            else if (option == "--replace") replace = true;
            else return "unknown option " + option;
            return "";
        },
        operands);
    if (code >= 0) return code;
    if (operands.size() != 1) return usageError(argv[0], "one card at a time", FORMAT_USAGE);
    std::string error;
    bool taken = false;
    const bool ok = folder ? card::FolderCard::format(operands[0], error)
                           : card::writeNewCardFile(operands[0], card::MemoryCard::format(!noEcc), replace, error, &taken);
    if (!ok) {
        if (taken) error += " (--replace replaces it)";
        say(stderr, "marrowin-cli %s: %s\n", argv[0], terminalText(error).c_str());
        return 1;
    }
    if (!quiet) say(stdout, "%s: formatted\n", terminalText(operands[0]).c_str());
    return 0;
}

int runCardCheck(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> paths;
    int code = walkReportArguments(argc, argv, CHECK_USAGE, json, paths);
    if (code >= 0) return code;
    int status = 0;
    if (json) std::fputs("[", stdout);
    for (size_t i = 0; i < paths.size(); ++i) {
        Card c;
        std::string error;
        const bool opened = openCard(paths[i], c, error);
        std::vector<Problem> problems;
        if (opened) problems = c.check();
        if (!opened || hasErrors(problems)) status = 1;
        size_t errors = opened ? 0 : 1;
        for (const Problem& p : problems) errors += p.severity == Severity::Error;
        if (json) {
            // The shape of check --json: path, kind, ok, the counts, then each problem.
            std::string s = "{\"path\":" + jsonString(paths[i]) +
                            ",\"kind\":" + (opened ? jsonString(c.kind()) : std::string("null")) +
                            ",\"ok\":" + (errors == 0 ? "true" : "false") + ",\"errors\":" + std::to_string(errors) +
                            ",\"warnings\":" + std::to_string(problems.size() + (opened ? 0 : 1) - errors) +
                            ",\"problems\":[";
            if (!opened) s += "{\"severity\":\"error\",\"message\":" + jsonString(error) + "}";
            for (size_t k = 0; k < problems.size(); ++k)
                s += std::string(k ? "," : "") + "{\"severity\":" + jsonString(severityWord(problems[k].severity)) +
                     ",\"message\":" + jsonString(problems[k].text) + "}";
            std::printf("%s\n%s]}", i ? "," : "", s.c_str());
            continue;
        }
        const std::string shown = terminalText(paths[i]);
        if (!opened) {
            std::printf("%s: error: %s\n", shown.c_str(), terminalText(error).c_str());
            continue;
        }
        for (const Problem& p : problems)
            std::printf("%s: %s: %s\n", shown.c_str(), severityWord(p.severity), terminalText(p.text).c_str());
        const size_t warnings = problems.size() - errors;
        if (problems.empty())
            std::printf("%s: ok\n", shown.c_str());
        else
            std::printf("%s: %zu error%s, %zu other\n", shown.c_str(), errors, errors == 1 ? "" : "s", warnings);
    }
    if (json) std::fputs("\n]\n", stdout);
    return status;
}

struct Subcommand {
    const char* name;
    int (*run)(int, char**);
};

const Subcommand SUBCOMMANDS[] = {
    {"ls", runLs},         {"export", runExportSaves}, {"import", runImport},
    {"delete", runDelete}, {"format", runFormat},      {"check", runCardCheck},
};

}  // namespace

int runCard(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(CARD_USAGE, stderr);
        return EXIT_USAGE;
    }
    const std::string sub = argv[1];
    if (sub == "--help" || sub == "-h") {
        std::fputs(CARD_USAGE, stdout);
        return 0;
    }
    for (const Subcommand& s : SUBCOMMANDS) {
        if (sub != s.name) continue;
        std::string name = std::string(argv[0]) + " " + s.name;
        std::vector<char*> args{name.data()};
        for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        return s.run(int(args.size()) - 1, args.data());
    }
    return usageError(argv[0], "unknown subcommand " + sub, CARD_USAGE);
}

}  // namespace marrowin::cli
