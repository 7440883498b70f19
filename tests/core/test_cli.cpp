// marrowin-cli as a person runs it: the real program in a temporary folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "export_test_support.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::ArchiveBuilder;
using fixtures::Bytes;
using fixtures::testDataPath;
using testing::CliRun;
using testing::TempDir;
using testing::cli;
using testing::exists;
using testing::makeDir;
using testing::namesIn;
using testing::readText;
using testing::writeFile;


int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

Bytes powerSave() {
    Bytes b(4096, 0);
    std::memcpy(b.data(), "Ps2PowerSave", 12);
    return b;
}

TEST(Cli, InfoOnAPackedOplFolderShowsItsTitleAndIcon) {
    TempDir dir;
    makeDir(dir / "OPL");
    writeFile(dir / "OPL/opl.icn", fixtures::readFileBytes(testDataPath("opl.icn")));
    writeFile(dir / "OPL/icon.sys", fixtures::readFileBytes(testDataPath("opl-icon.sys")));
    CliRun pack = cli(dir, "pack OPL");
    ASSERT_EQ(pack.code, 0) << pack.err;
    EXPECT_NE(pack.out.find("OPL.psu"), std::string::npos);

    CliRun info = cli(dir, "info OPL.psu");
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("kind: save archive"), std::string::npos);
    EXPECT_NE(info.out.find("folder: OPL"), std::string::npos);
    EXPECT_NE(info.out.find("title: Ｏｐｅｎ　ＰＳ２　ＬｏａｄｅｒＳｅｔｔｉｎｇｓ"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("icon (normal): opl.icn"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("    opl.icn  "), std::string::npos);
    EXPECT_NE(info.out.find("light 0: position"), std::string::npos);
}

// info --json used to print one object per line while check --json printed one array.
TEST(Cli, InfoJsonIsOneArrayOfObjectsLikeCheckWhateverTheNames) {
    TempDir dir;
    // Quotes, backslashes, control characters and bytes that are not UTF-8 in the names.
    Bytes a = ArchiveBuilder("Q\"\\\x01\x7f").file("bad\xff\xfe\x80name", {1, 2, 3}).file("tab\tname\n", {}).build();
    writeFile(dir / "a.psu", a);
    writeFile(dir / "b.psu", fixtures::iconSave());
    CliRun r = cli(dir, "info --json a.psu b.psu missing.psu");
    EXPECT_EQ(r.code, 1) << r.err;
    writeFile(dir / "out.json", r.out);
    // The whole output parses as one array, the names came through, and a file that could not
    // be read has its object too, as in check.
    std::string check = "python3 -c 'import json,sys\n"
                        "objs=json.load(open(sys.argv[1],encoding=\"utf-8\"))\n"
                        "assert len(objs)==3\n"
                        "assert objs[0][\"folder\"].startswith(\"Q\\\"\\\\\\x01\")\n"
                        "assert objs[0][\"files\"][1][\"name\"]==\"tab\\tname\\n\"\n"
                        "assert objs[0][\"error\"] is None\n"
                        "assert objs[1][\"title\"]==\"TEST SAVE\"\n"
                        "assert objs[1][\"icons\"][\"normal\"]==\"icon.icn\"\n"
                        "assert len(objs[1][\"lights\"])==3\n"
                        "assert objs[2][\"kind\"] is None and \"missing.psu\" in objs[2][\"error\"]' '" +
                        (dir / "out.json") + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << r.out;
}

// A light component stored as -0 used to be printed as "-0".
TEST(Cli, InfoShowsNegativeZeroAsZero) {
    TempDir dir;
    fixtures::DescriptorRecipe d;
    d.lightColour[0][0] = -0.0f;
    writeFile(dir / "a.psu", fixtures::iconSave(d));
    CliRun text = cli(dir, "info a.psu");
    CliRun json = cli(dir, "info --json a.psu");
    ASSERT_EQ(text.code, 0) << text.err;
    // (Dates hold "-0" followed by a digit; a number ends with a comma, a bracket or a paren.)
    for (const char* negativeZero : {"-0,", "-0)", "-0]"}) {
        EXPECT_EQ(text.out.find(negativeZero), std::string::npos) << text.out;
        EXPECT_EQ(json.out.find(negativeZero), std::string::npos) << json.out;
    }
    EXPECT_NE(text.out.find("diffuse (0, 0.5, 0.5, 0)"), std::string::npos) << text.out;
}

// A title holding an escape sequence used to reach the terminal as it stood.
TEST(Cli, InfoTextShowsControlBytesEscaped) {
    TempDir dir;
    Bytes a = ArchiveBuilder("F\x1b[31mX").file("two\nlines", {1}).build();
    writeFile(dir / "a.psu", a);
    CliRun r = cli(dir, "info a.psu");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("folder: F\\x1B[31mX"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("two\\x0Alines"), std::string::npos) << r.out;
}

// copy and extract used to print the folder name and file names raw: a save could send
// escape sequences, bells and carriage returns to the user's terminal.
TEST(Cli, EveryCommandShowsSaveTextEscaped) {
    struct Row {
        const char* command;
        const char* seen;  // what the output shows of the folder name
    };
    const Row rows[] = {
        {"info a.psu", "folder: F\\x1B[31mX\\x07\\x0D"},
        {"copy -C out a.psu", "wrote out/F\\x1B[31mX\\x07\\x0D"},
        {"extract -C out a.psu", "into out/F\\x1B[31mX\\x07\\x0D"},
        {"check a.psu", "a.psu: "},
    };
    for (const Row& row : rows) {
        TempDir dir;
        writeFile(dir / "a.psu", ArchiveBuilder("F\x1b[31mX\a\r").file("two\nlines", {1}).build());
        CliRun r = cli(dir, row.command);
        for (char control : {'\x1b', '\a', '\r'}) {
            EXPECT_EQ(r.out.find(control), std::string::npos) << row.command << ": " << r.out;
            EXPECT_EQ(r.err.find(control), std::string::npos) << row.command << ": " << r.err;
        }
        EXPECT_NE(r.out.find(row.seen), std::string::npos) << row.command << ": " << r.out;
    }
}

// Text that never reached standard output (a full disk, /dev/full) used to leave exit code 0.
TEST(Cli, AFailedWriteToStandardOutputFailsEveryCommand) {
    TempDir dir;
    writeFile(dir / "a.psu", fixtures::iconSave());
    ASSERT_EQ(cli(dir, "card format card.ps2").code, 0);
    ASSERT_EQ(cli(dir, "card import card.ps2 a.psu").code, 0);
    for (const char* command : {"info a.psu", "info --json a.psu", "check a.psu", "check --json a.psu",
                                "card ls card.ps2", "card ls --json card.ps2", "card check card.ps2",
                                "extract -C out a.psu", "copy -C out a.psu", "--help", "--version"}) {
        const std::string err = dir / ".err";
        const std::string cmd = "cd '" + dir.path() + "' && '" MARROWIN_CLI "' " + command +
                                " >/dev/full 2>'" + err + "'";
        const int status = std::system(cmd.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << command;
        EXPECT_NE(readText(err).find("marrowin-cli: write error: No space left on device"),
                  std::string::npos)
            << command << ": " << readText(err);
    }
}

// -q was taken by info and check but their help did not say so, so completion never offered it.
TEST(Cli, HelpNamesTheQuietOptionOfEveryReportCommand) {
    TempDir dir;
    for (const char* command : {"info --help", "check --help", "extract --help", "copy --help"}) {
        CliRun r = cli(dir, command);
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_NE(r.out.find("-q, --quiet"), std::string::npos) << command << ": " << r.out;
    }
}

// An extraction that wrote nothing used to say "0 files into ..." beside its error.
TEST(Cli, AFailedExtractionPrintsNoLineOfSuccess) {
    TempDir dir;
    writeFile(dir / "a.psu", fixtures::iconSave());
    makeDir(dir / "out");
    // A file where the save's folder would go: the folder cannot be made, even by root.
    writeFile(dir / "out/BASLUS-20000SAVE", std::string("in the way"));
    CliRun r = cli(dir, "extract -C out a.psu");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("a.psu"), std::string::npos) << r.err;
}

// A light the file holds as no number used to be shown as the view's default value.
TEST(Cli, InfoJsonShowsALightThatIsNoNumberAsNull) {
    TempDir dir;
    fixtures::DescriptorRecipe d;
    d.lightColour[1][2] = std::numeric_limits<float>::infinity();
    writeFile(dir / "a.psu", fixtures::iconSave(d));
    CliRun r = cli(dir, "info --json a.psu");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"diffuse\":[0.300000012,0.300000012,null,0]"), std::string::npos) << r.out;
}

TEST(Cli, BadInputsFailLoudlyWhileTheOthersStillRun) {
    TempDir dir;
    writeFile(dir / "good.psu", fixtures::iconSave());
    writeFile(dir / "text.psu", std::string("not an archive at all"));
    writeFile(dir / "power.psu", powerSave());
    makeDir(dir / "out");

    CliRun info = cli(dir, "info missing.psu text.psu power.psu good.psu");
    EXPECT_EQ(info.code, 1);
    EXPECT_NE(info.err.find("missing.psu: no such file"), std::string::npos) << info.err;
    EXPECT_NE(info.err.find("text.psu: not a save archive"), std::string::npos);
    // A "Ps2PowerSave" file is an Action Replay MAX save; this one is no more than its magic.
    EXPECT_NE(info.err.find("power.psu: Action Replay MAX (.max): "), std::string::npos) << info.err;
    EXPECT_NE(info.out.find("good.psu\n  kind: save archive"), std::string::npos) << info.out;

    for (const char* command : {"extract", "copy"}) {
        CliRun r = cli(dir, std::string(command) + " -C out missing.psu text.psu power.psu good.psu");
        EXPECT_EQ(r.code, 1) << command;
        EXPECT_EQ(countOf(r.err, "marrowin-cli " + std::string(command) + ":"), 3) << r.err;
        EXPECT_NE(r.out.find("good.psu"), std::string::npos) << command;
    }
    // Only the good archive left anything behind: its folder and its copy.
    EXPECT_EQ(namesIn(dir / "out"),
              (std::vector<std::string>{"BASLUS-20000SAVE", "BASLUS-20000SAVE TEST SAVE.psu"}));
    EXPECT_EQ(namesIn(dir / "out/BASLUS-20000SAVE"), (std::vector<std::string>{"icon.icn", "icon.sys"}));

    CliRun pack = cli(dir, "pack -C out good.psu nowhere");
    EXPECT_EQ(pack.code, 1);
    EXPECT_EQ(countOf(pack.err, "good.psu: not a folder"), 1);
    EXPECT_EQ(countOf(pack.err, "nowhere: no such file or folder"), 1);
}

TEST(Cli, CopyNamesTheArchiveAfterFolderAndTitleAndNeverReplaces) {
    TempDir dir;
    writeFile(dir / "good.psu", fixtures::iconSave());
    ASSERT_EQ(cli(dir, "copy good.psu good.psu").code, 0);
    EXPECT_TRUE(exists(dir / "BASLUS-20000SAVE TEST SAVE.psu"));
    EXPECT_TRUE(exists(dir / "BASLUS-20000SAVE TEST SAVE (2).psu"));
}

TEST(Cli, UsageErrorsExitTwoAndHelpAndVersionExitZero) {
    TempDir dir;
    CliRun r = cli(dir, "frobnicate");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
    EXPECT_EQ(cli(dir, "").code, 2);
    EXPECT_EQ(cli(dir, "--bogus").code, 2);
    EXPECT_EQ(cli(dir, "info --bogus x.psu").code, 2);
    EXPECT_EQ(cli(dir, "info").code, 2);
    EXPECT_EQ(cli(dir, "extract -C").code, 2);

    CliRun v = cli(dir, "--version");
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out.rfind("marrowin-cli ", 0), 0u);
    CliRun h = cli(dir, "--help");
    EXPECT_EQ(h.code, 0);
    EXPECT_NE(h.out.find("extract"), std::string::npos);
    CliRun ph = cli(dir, "pack --help");
    EXPECT_EQ(ph.code, 0);
    EXPECT_NE(ph.out.find("usage: marrowin-cli pack"), std::string::npos);
    EXPECT_EQ(cli(dir, "help copy").code, 0);
}

// Runs marrowin-cli in `dir` with stderr on a pseudo-terminal (as in a terminal window) and
// stdout in a file; gives what each received.
CliRun cliOnTerminal(const TempDir& dir, const std::vector<std::string>& args) {
    CliRun r;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return r;
    const std::string outFile = dir / ".stdout";
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(127);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(slave, 2);
        std::vector<char*> argv{const_cast<char*>(MARROWIN_CLI)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(MARROWIN_CLI, argv.data());
        _exit(127);
    }
    ::close(slave);
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) r.err.append(buf, size_t(n));
    ::close(master);
    int status = 0;
    waitpid(child, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readText(outFile);
    return r;
}

// Batch work shows a bar on a terminal, nothing of it in a pipe or file, and carries on past
// a bad input in either case.
TEST(Cli, ProgressShowsOnATerminalOnlyAndBadInputsDoNotStopTheBatch) {
    TempDir dir;
    const Bytes save = fixtures::iconSave();
    writeFile(dir / "a.psu", save);
    writeFile(dir / "c.psu", save);
    writeFile(dir / "b.psu", std::string(2000, 'b'));

    const CliRun quiet = cli(dir, "copy a.psu b.psu c.psu");
    EXPECT_EQ(quiet.code, 1);
    EXPECT_EQ(countOf(quiet.out, ": wrote "), 2);
    EXPECT_EQ(quiet.err.find('\r'), std::string::npos);
    EXPECT_EQ(quiet.err, "marrowin-cli copy: b.psu: not a save archive\n");

    const CliRun shown = cliOnTerminal(dir, {"copy", "a.psu", "b.psu", "c.psu"});
    EXPECT_EQ(shown.code, 1);
    EXPECT_EQ(countOf(shown.out, ": wrote "), 2);
    EXPECT_NE(shown.err.find("1/3 a.psu"), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("3/3 c.psu"), std::string::npos) << shown.err;
    // The error stands on a line of its own: the bar is taken off first...
    EXPECT_NE(shown.err.find("\r\033[Kmarrowin-cli copy: b.psu: not a save archive"),
              std::string::npos)
        << shown.err;
    // ...and the line is left clean at the end.
    EXPECT_EQ(shown.err.substr(shown.err.size() - 4), "\r\033[K");

    // One input shows no bar.
    EXPECT_EQ(cliOnTerminal(dir, {"copy", "a.psu"}).err.find('['), std::string::npos);
}

// The peak memory of one run of marrowin-cli through `sh -c script` (the shell and all it ran).
long peakKiB(const std::string& script) {
    const pid_t child = fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage use{};
    if (wait4(child, &status, 0, &use) != child || !WIFEXITED(status)) return -1;
    return use.ru_maxrss;
}

// A save archive piped in used to be gathered in a growing buffer and then copied whole: twice
// (and more) the memory of the same file. It is now read into its image as it comes.
TEST(Cli, ASaveFromAPipeCostsTheMemoryOfTheSameFile) {
    TempDir dir;
    Bytes save = fixtures::iconSave();
    constexpr uint32_t BIG = 48u << 20;
    const Bytes header = fixtures::entryHeader(MODE_FILE, BIG, "big.bin");
    save.insert(save.end(), header.begin(), header.end());
    save.resize(save.size() + BIG, 0x5A);
    const std::string path = dir / "big.psu";
    writeFile(path, save);
    const std::string run = "'" MARROWIN_CLI "' info ";
    const long fromFile = peakKiB(run + "'" + path + "'");
    const long fromPipe = peakKiB("cat '" + path + "' | " + run + "-");
    ASSERT_GT(fromFile, long(BIG >> 10));
    EXPECT_LT(fromPipe, fromFile + 12 * 1024) << "from a file " << fromFile << " KiB, from a pipe " << fromPipe;
}

}  // namespace
}  // namespace marrowin
