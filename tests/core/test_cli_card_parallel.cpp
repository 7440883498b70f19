// marrowin-cli card changes run at once on one card, extractions run at once into one folder,
// and changes cut short by a signal: no change is lost quietly, and no temporary outlives its run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "containers/save_contents.h"
#include "export_test_support.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::Bytes;
using testing::TempDir;
using testing::cli;
using testing::namesIn;
using testing::patternBytes;
using testing::readText;
using testing::writeFile;

bool has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

std::string folderName(int i) { return "BASLUS-2000" + std::to_string(i); }

// A save of `files` files of `bytes` bytes each, written as dir/name.
void writeSave(const TempDir& dir, const std::string& name, const std::string& folder, int files, size_t bytes,
               uint8_t seed) {
    SaveContents s;
    s.folderName = folder;
    s.created = s.modified = stampOf(2020, 1, 2, 3, 4, 5);
    for (int i = 0; i < files; ++i) {
        SaveFile f;
        f.name = "f" + std::to_string(i);
        f.created = f.modified = s.created;
        f.data = patternBytes(bytes, uint8_t(seed + i));
        s.files.push_back(f);
    }
    Bytes out;
    std::string error;
    ASSERT_TRUE(writePsu(s, out, error)) << error;
    writeFile(dir / name, out);
}

// Runs `count` marrowin-cli commands at once (each given its own index i) and gives their exit
// codes.
std::vector<int> runAtOnce(const TempDir& dir, int count, const std::string& argsWithI) {
    std::string script = "cd '" + dir.path() + "' && for i in $(seq 0 " + std::to_string(count - 1) +
                         "); do ( '" MARROWIN_CLI "' " + argsWithI + " >out$i 2>err$i; echo $? >rc$i ) & done; wait";
    EXPECT_EQ(std::system(script.c_str()), 0);
    std::vector<int> codes;
    for (int i = 0; i < count; ++i) codes.push_back(std::atoi(readText(dir / ("rc" + std::to_string(i))).c_str()));
    return codes;
}

struct CardKind {
    const char* label;
    const char* format;
};
const CardKind KINDS[] = {
    {"card image", "card format card"},
    {"folder card", "card format --folder card"},
};

TEST(CliCardParallel, TenImportsAtOnceLeaveAllTenOrSaySoAndFail) {
    for (const CardKind& k : KINDS) {
        SCOPED_TRACE(k.label);
        TempDir dir;
        ASSERT_EQ(cli(dir, k.format).code, 0);
        for (int i = 0; i < 10; ++i)
            writeSave(dir, "s" + std::to_string(i) + ".psu", folderName(i), 2, 4000, uint8_t(i));
        const std::vector<int> codes = runAtOnce(dir, 10, "card import card s$i.psu");
        const std::string listed = cli(dir, "card ls card").out;
        for (int i = 0; i < 10; ++i) {
            SCOPED_TRACE(i);
            const std::string err = readText(dir / ("err" + std::to_string(i)));
            // A run that says it imported its save has it on the card; one that failed only
            // because the others held the card past its wait says so.
            if (codes[i] == 0)
                EXPECT_TRUE(has(listed, folderName(i))) << listed;
            else
                EXPECT_TRUE(has(err, "another change of this card is under way")) << err;
        }
        EXPECT_EQ(cli(dir, "card check card").code, 0);
    }
}

TEST(CliCardParallel, TenExtractionsOfOneArchiveIntoOneFolderNumberNothing) {
    // Regression: a run took a file another run had just placed for one of its own earlier
    // entries (the inode of a file it wrote, since replaced, had been given to the other's
    // file), and wrote "f1 (2)" beside it, exiting 1.
    for (int trial = 0; trial < 3; ++trial) {
        SCOPED_TRACE(trial);
        TempDir dir;
        writeSave(dir, "s.psu", folderName(0), 12, 300, 7);
        const std::vector<int> codes = runAtOnce(dir, 10, "extract s.psu");
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(codes[i], 0) << readText(dir / ("err" + std::to_string(i)));
        const std::vector<std::string> names = namesIn(dir / folderName(0));
        EXPECT_EQ(names.size(), 12u);
        for (const std::string& name : names) EXPECT_FALSE(has(name, "(")) << name;
    }
}

TEST(CliCardParallel, ADeleteBesideAnImportKeepsBoth) {
    for (const CardKind& k : KINDS) {
        SCOPED_TRACE(k.label);
        for (int trial = 0; trial < 2; ++trial) {
            TempDir dir;
            ASSERT_EQ(cli(dir, k.format).code, 0);
            writeSave(dir, "s0.psu", folderName(0), 2, 4000, 1);
            writeSave(dir, "s1.psu", folderName(1), 2, 4000, 2);
            ASSERT_EQ(cli(dir, "card import card s0.psu").code, 0);
            const std::string script = "cd '" + dir.path() + "' && ( '" MARROWIN_CLI "' card delete card " +
                                       folderName(0) + " >/dev/null 2>&1 & '" MARROWIN_CLI
                                       "' card import card s1.psu >/dev/null 2>&1 & wait )";
            ASSERT_EQ(std::system(script.c_str()), 0);
            const std::string listed = cli(dir, "card ls card").out;
            EXPECT_FALSE(has(listed, folderName(0))) << listed;  // the deleted save stays deleted
            EXPECT_TRUE(has(listed, folderName(1))) << listed;
        }
    }
}

// Starts marrowin-cli in dir with args, without waiting.
pid_t start(const TempDir& dir, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(MARROWIN_CLI)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(MARROWIN_CLI, argv.data());
        _exit(127);
    }
    return pid;
}

// Interrupts a change after each of a range of delays, so that the signal lands at every step
// of it in turn.
template <typename After>
void interruptAtEveryStep(const TempDir& dir, const std::vector<std::string>& args, int steps, int stepUs,
                          After after) {
    for (int n = 0; n < steps; ++n) {
        SCOPED_TRACE("interrupted after " + std::to_string(n * stepUs) + " us");
        const pid_t pid = start(dir, args);
        usleep(useconds_t(n * stepUs));
        kill(pid, SIGINT);
        int status = 0;
        waitpid(pid, &status, 0);
        after();
    }
}

TEST(CliCardParallel, AnInterruptedImageChangeLeavesNoTemporaryAndAWholeCard) {
    TempDir dir;
    ASSERT_EQ(cli(dir, "card format card").code, 0);
    writeSave(dir, "big.psu", folderName(0), 4, 60000, 3);
    interruptAtEveryStep(dir, {"card", "import", "--replace", "card", "big.psu"}, 8, 12000, [&] {
        for (const std::string& name : namesIn(dir.path())) EXPECT_NE(name.rfind(".marrowin-", 0), 0u) << name;
        EXPECT_EQ(cli(dir, "card check card").code, 0);
    });
}

#ifdef MARROWIN_FAILING_IO
// marrowin-cli sent SIGINT as it gives a file or folder the name `at`.
int interruptedAt(const TempDir& dir, const std::string& at, const std::string& args) {
    const std::string cmd = "cd '" + dir.path() + "' && MARROWIN_FAIL_IO=int-rename MARROWIN_FAIL_NAME='" + at +
                            "' LD_PRELOAD='" MARROWIN_FAILING_IO "' '" MARROWIN_CLI "' " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliCardParallel, CtrlCAtEachRenameLeavesNoTemporary) {
    // Regression: the new image and its backup are written at once, and only the last
    // temporary made was removed on a signal: Ctrl+C while the backup took its name left the
    // new 8.6 MB image behind.
    struct Case {
        const char* format;
        const char* at;  // the name being given when the signal comes
        const char* inside;
    } cases[] = {
        {"card format card", "card.bak", ""},
        {"card format card", "card", ""},
        {"card format --folder card", "BASLUS-20000", "card"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + ", at " + c.at);
        TempDir dir;
        ASSERT_EQ(cli(dir, c.format).code, 0);
        writeSave(dir, "s0.psu", folderName(0), 3, 5000, 1);
        EXPECT_NE(interruptedAt(dir, c.at, "card import card s0.psu"), 0);
        for (const std::string& name : namesIn(dir / c.inside)) {
            EXPECT_NE(name.rfind(".marrowin-", 0), 0u) << name;
            EXPECT_NE(name.rfind("_pcsx2_marrowin_new_", 0), 0u) << name;
        }
        EXPECT_EQ(cli(dir, "card check card").code, 0);
    }
}
#endif

TEST(CliCardParallel, AnInterruptedFolderCardImportLeavesNoStagingFolder) {
    TempDir dir;
    ASSERT_EQ(cli(dir, "card format --folder card").code, 0);
    writeSave(dir, "many.psu", folderName(0), 120, 1024, 3);
    interruptAtEveryStep(dir, {"card", "import", "--replace", "card", "many.psu"}, 15, 3000, [&] {
        for (const std::string& name : namesIn(dir / "card"))
            EXPECT_NE(name.rfind("_pcsx2_marrowin_new_", 0), 0u) << name;
        EXPECT_EQ(cli(dir, "card check card").code, 0);
    });
}

TEST(CliCardParallel, AKilledRunsStagingFolderGoesWithTheNextChange) {
    TempDir dir;
    ASSERT_EQ(cli(dir, "card format --folder card").code, 0);
    writeSave(dir, "s0.psu", folderName(0), 2, 4000, 1);
    // A pid that is surely gone: a child that has ended.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string dead = "_pcsx2_marrowin_new_" + std::to_string(gone);
    const std::string live = "_pcsx2_marrowin_new_" + std::to_string(getpid());
    for (const std::string& name : {dead, dead + "-2", live}) {
        testing::makeDir(dir / ("card/" + name));
        writeFile(dir / ("card/" + name + "/partial"), patternBytes(700));
    }
    ASSERT_EQ(cli(dir, "card import card s0.psu").code, 0);
    const std::vector<std::string> left = namesIn(dir / "card");
    EXPECT_EQ(std::count(left.begin(), left.end(), dead), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), dead + "-2"), 0);
    // A run that still lives may still be writing its own.
    EXPECT_EQ(std::count(left.begin(), left.end(), live), 1);
}

}  // namespace
}  // namespace marrowin
