// Copy under a free name, extraction into a folder, packing a folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>

#include "operations/archive_export.h"
#include "base/host_files.h"
#include "archive/psu_contents.h"
#include "archive/save_image.h"
#include "base/save_text.h"
#include "export_test_support.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::ArchiveBuilder;
using fixtures::Bytes;
using fixtures::readFileBytes;
using testing::TempDir;
using testing::exists;
using testing::makeDir;
using testing::namesIn;
using testing::patternBytes;
using testing::readText;
using testing::writeFile;

Bytes smallArchive() {
    return ArchiveBuilder("BASAVE").file("icon.sys", patternBytes(100)).file("x.bin", patternBytes(2000)).build();
}

SaveImage imageOfFile(const std::string& path) {
    return fixtures::imageOf(readFileBytes(path));
}

// Runs fn with the process's file size limit lowered, so writes past `limit` fail (EFBIG).
template <class Fn>
void withFileSizeLimit(rlim_t limit, Fn fn) {
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit low = old;
    low.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &low);
    fn();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

// ---- copy ------------------------------------------------------------------------------

TEST(WriteUniqueCopy, TakesTheFirstFreeNameFillingGaps) {
    TempDir dir;
    Bytes bytes = smallArchive();
    SaveImage image = fixtures::imageOf(bytes);

    EXPECT_EQ(writeUniqueCopy("A B", "psu", image, dir.fd()).path, "A B.psu");
    EXPECT_EQ(writeUniqueCopy("A B", "psu", image, dir.fd()).path, "A B (2).psu");
    EXPECT_EQ(writeUniqueCopy("A B", "psu", image, dir.fd()).path, "A B (3).psu");
    // Only (2) and (3) left: the plain name is free again.
    ::unlink((dir / "A B.psu").c_str());
    EXPECT_EQ(writeUniqueCopy("A B", "psu", image, dir.fd()).path, "A B.psu");
    // A gap at (2) is filled before (4).
    ::unlink((dir / "A B (2).psu").c_str());
    EXPECT_EQ(writeUniqueCopy("A B", "psu", image, dir.fd()).path, "A B (2).psu");
    EXPECT_EQ(writeUniqueCopy("A B", "psu", image, dir.fd()).path, "A B (4).psu");
}

TEST(WriteUniqueCopy, IsTheLoadedFileByteForByte) {
    TempDir dir;
    Bytes bytes = smallArchive();
    SaveImage image = fixtures::imageOf(bytes);
    ExportResult r = writeUniqueCopy("BASAVE TITLE", "psu", image, dir.fd());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(readFileBytes(dir / "BASAVE TITLE.psu"), bytes);  // no slack
}

// Regression: a name counted as free when it could not be opened for reading, so an
// unreadable existing file was replaced.
TEST(WriteUniqueCopy, NeverReplacesAnExistingUnreadableFile) {
    TempDir dir;
    writeFile(dir / "A B.psu", std::string("keep me"));
    ::chmod((dir / "A B.psu").c_str(), 0);
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r = writeUniqueCopy("A B", "psu", image, dir.fd());
    EXPECT_EQ(r.path, "A B (2).psu");
    ::chmod((dir / "A B.psu").c_str(), 0644);
    EXPECT_EQ(readText(dir / "A B.psu"), "keep me");
}

TEST(WriteUniqueCopy, LeavesNoPartialFileWhenTheWriteFails) {
    TempDir dir;
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r;
    withFileSizeLimit(1000, [&] { r = writeUniqueCopy("A B", "psu", image, dir.fd()); });
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

TEST(WriteUniqueCopy, StopsWithAnErrorWhenNothingCanBeCreated) {
    TempDir dir;
    writeFile(dir / "plain", std::string("x"));
    int notAFolder = ::open((dir / "plain").c_str(), O_RDONLY);
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r = writeUniqueCopy("A B", "psu", image, notAFolder);  // ENOTDIR, not EEXIST
    ::close(notAFolder);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("cannot create"), std::string::npos);
}

TEST(WriteUniqueCopy, SlashesInTheSaveNameStayInsideTheFolder) {
    TempDir outer;
    makeDir(outer / "out");
    int fd = ::open((outer / "out").c_str(), O_RDONLY | O_DIRECTORY);
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r = writeUniqueCopy("../evil/x", "psu", image, fd);
    ::close(fd);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.path.find('/'), std::string::npos);
    EXPECT_EQ(namesIn(outer.path()), std::vector<std::string>{"out"});
    EXPECT_EQ(namesIn(outer / "out"), std::vector<std::string>{r.path});
}

TEST(WriteUniqueCopy, PortableNamesAreNamesWindowsTakes) {
    TempDir dir;
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportOptions options;
    options.portableNames = true;
    // A save with the folder name AUX and no title: "AUX .psu" is the device on Windows.
    EXPECT_EQ(writeUniqueCopy("AUX ", "psu", image, dir.fd(), options).path, "_AUX .psu");
    EXPECT_EQ(writeUniqueCopy("AUX ", "psu", image, dir.fd(), options).path, "AUX  (2).psu");
    EXPECT_EQ(writeUniqueCopy("BA:X <1>?", "psu", image, dir.fd(), options).path, "BA_X _1__.psu");
    if (NATIVE_HOST_NAME_STYLE == HostNameStyle::Posix) {
        EXPECT_EQ(writeUniqueCopy("BA:X <1>?", "psu", image, dir.fd()).path, "BA:X <1>?.psu");
    }
    std::string longName = writeUniqueCopy(std::string(300, 'n') + ":", "psu", image, dir.fd(), options).path;
    EXPECT_EQ(longName, std::string(250, 'n') + ".psu");
}

TEST(WriteUniqueCopy, ShortensANameTooLongForTheFileSystem) {
    TempDir dir;
    SaveImage image = fixtures::imageOf(smallArchive());
    // 64 half-width katakana grow to 192 bytes of UTF-8 each side of the space.
    std::string kana(64, '\xB1');
    ExportResult first = writeUniqueCopy(kana + " " + kana, "psu", image, dir.fd());
    ExportResult second = writeUniqueCopy(kana + " " + kana, "psu", image, dir.fd());
    ASSERT_TRUE(first.ok) << first.error;
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_LE(first.path.size(), 255u);
    EXPECT_LE(second.path.size(), 255u);
    EXPECT_TRUE(first.path.ends_with(".psu"));
    EXPECT_TRUE(second.path.ends_with(" (2).psu"));
    EXPECT_EQ(first.path.rfind("\xEF\xBD\xB1", 0), 0u);  // starts with whole characters
}

// ---- extraction ------------------------------------------------------------------------

TEST(ExtractArchive, WritesEveryFileIntoTheSaveFolderAndReplacesOnTheSecondRun) {
    TempDir dir;
    Bytes bytes = ArchiveBuilder("BASAVE")
                      .file("icon.sys", patternBytes(964))
                      .file("empty", {})
                      .file("big.bin", patternBytes(3000, 9))
                      .build();
    SaveImage image = fixtures::imageOf(bytes);
    ExportResult r = extractArchive(image, dir.fd());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.path, "BASAVE");
    EXPECT_EQ(r.files, (std::vector<std::string>{"BASAVE/icon.sys", "BASAVE/empty", "BASAVE/big.bin"}));
    EXPECT_EQ(readFileBytes(dir / "BASAVE/icon.sys"), patternBytes(964));
    EXPECT_TRUE(exists(dir / "BASAVE/empty"));
    EXPECT_TRUE(readFileBytes(dir / "BASAVE/empty").empty());
    EXPECT_EQ(readFileBytes(dir / "BASAVE/big.bin"), patternBytes(3000, 9));

    writeFile(dir / "BASAVE/big.bin", std::string("changed since"));
    ASSERT_TRUE(extractArchive(image, dir.fd()).ok);
    EXPECT_EQ(readFileBytes(dir / "BASAVE/big.bin"), patternBytes(3000, 9));
}

TEST(ExtractArchive, NamesFolderAfterFirstHeaderEvenWhenNotADirectory) {
    TempDir dir;
    SaveImage image = fixtures::imageOf(ArchiveBuilder("FOLDER").folderMode(MODE_FILE & 0xFFDF).build());
    ExportResult r = extractArchive(image, dir.fd());
    EXPECT_EQ(r.path, "FOLDER");
    EXPECT_TRUE(exists(dir / "FOLDER"));
}

TEST(ExtractArchive, HostileFolderAndEntryNamesStayInsideTheOutputFolder) {
    for (std::string folder : {"", ".", "..", "a/b", "../x", "/"}) {
        TempDir outer;
        makeDir(outer / "out");
        int fd = ::open((outer / "out").c_str(), O_RDONLY | O_DIRECTORY);
        Bytes bytes = ArchiveBuilder(folder)
                          .file("", patternBytes(10))
                          .file(".", patternBytes(11))
                          .file("..", patternBytes(12))
                          .file("a/b", patternBytes(13))
                          .file("../x", patternBytes(14))
                          .file("../../escaped", patternBytes(15))
                          .build();
        SaveImage image = fixtures::imageOf(bytes);
        ExportResult r = extractArchive(image, fd);
        ::close(fd);
        EXPECT_TRUE(r.ok) << "folder '" << folder << "': " << r.error;
        EXPECT_EQ(namesIn(outer.path()), std::vector<std::string>{"out"}) << folder;
        std::vector<std::string> top = namesIn(outer / "out");
        ASSERT_EQ(top.size(), 1u) << folder;
        EXPECT_EQ(top[0], r.path);
        EXPECT_EQ(namesIn(outer / "out" + "/" + top[0]).size(), 6u) << folder;
        for (const std::string& f : r.files) {
            ASSERT_EQ(std::count(f.begin(), f.end(), '/'), 1) << f;
            for (std::string part : {f.substr(0, f.find('/')), f.substr(f.find('/') + 1)})
                EXPECT_TRUE(part != "" && part != "." && part != "..") << f;
        }
    }
}

TEST(ExtractArchive, RefusesALinkWhereTheFolderGoes) {
    TempDir outer;
    makeDir(outer / "out");
    makeDir(outer / "elsewhere");
    ASSERT_EQ(::symlink((outer / "elsewhere").c_str(), (outer / "out/BASAVE").c_str()), 0);
    int fd = ::open((outer / "out").c_str(), O_RDONLY | O_DIRECTORY);
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r = extractArchive(image, fd);
    ::close(fd);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(namesIn(outer / "elsewhere").empty());
}

TEST(ExtractArchive, DoesNotWriteThroughALinkWhereAFileGoes) {
    TempDir outer;
    makeDir(outer / "out");
    makeDir(outer / "out/BASAVE");
    writeFile(outer / "target", std::string("outside"));
    ASSERT_EQ(::symlink((outer / "target").c_str(), (outer / "out/BASAVE/icon.sys").c_str()), 0);
    int fd = ::open((outer / "out").c_str(), O_RDONLY | O_DIRECTORY);
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r = extractArchive(image, fd);
    ::close(fd);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("icon.sys"), std::string::npos);
    EXPECT_EQ(readText(outer / "target"), "outside");
    // The other entry is still written.
    EXPECT_EQ(readFileBytes(outer / "out/BASAVE/x.bin"), patternBytes(2000));
}

// A hard link planted under an entry's name used to be emptied and rewritten, changing the
// file it shares with outside the folder. The name is replaced instead.
TEST(ExtractArchive, ReplacesAHardLinkedNameWithoutTouchingTheOtherLink) {
    TempDir outer;
    makeDir(outer / "out");
    makeDir(outer / "out/BASAVE");
    writeFile(outer / "target", std::string("outside"));
    ASSERT_EQ(::link((outer / "target").c_str(), (outer / "out/BASAVE/x.bin").c_str()), 0);
    int fd = ::open((outer / "out").c_str(), O_RDONLY | O_DIRECTORY);
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r = extractArchive(image, fd);
    ::close(fd);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(readText(outer / "target"), "outside");
    EXPECT_EQ(readFileBytes(outer / "out/BASAVE/x.bin"), patternBytes(2000));
}

TEST(ExtractArchive, AFailedWriteKeepsThePreviousFileAndLeavesNoTemporary) {
    TempDir dir;
    makeDir(dir / "BASAVE");
    writeFile(dir / "BASAVE/x.bin", std::string("previous"));
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportResult r;
    withFileSizeLimit(1000, [&] { r = extractArchive(image, dir.fd()); });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(readText(dir / "BASAVE/x.bin"), "previous");
    EXPECT_EQ(namesIn(dir / "BASAVE"), (std::vector<std::string>{"icon.sys", "x.bin"}));
}

TEST(ExtractArchive, WritesACutOffEntryOnlyAsFarAsTheFileGoes) {
    TempDir dir;
    // The header says 5000 bytes; the file ends 100 bytes into the data.
    Bytes bytes = ArchiveBuilder("BASAVE").rawFile("cut.bin", 5000, patternBytes(100)).build();
    SaveImage image = fixtures::imageOf(bytes);
    ExportResult r = extractArchive(image, dir.fd());
    EXPECT_EQ(readFileBytes(dir / "BASAVE/cut.bin"), patternBytes(100));
    // Written, but reported as incomplete rather than as a success with a note.
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.complete());
    ASSERT_EQ(r.incomplete.size(), 1u);
    EXPECT_NE(r.incomplete[0].find("BASAVE/cut.bin: cut off"), std::string::npos) << r.incomplete[0];
    EXPECT_NE(r.incomplete[0].find("100 of 5000"), std::string::npos);
}

// Two entries of one name used to leave only the later one on disk.
TEST(ExtractArchive, AnEntryWhoseNameAnEarlierOneTookGetsANumberedName) {
    TempDir dir;
    Bytes bytes = ArchiveBuilder("BASAVE")
                      .file("x.bin", patternBytes(10, 1))
                      .file("x.bin", patternBytes(20, 2))
                      .file("x.bin", patternBytes(30, 3))
                      .file("X.BIN", patternBytes(40, 4))
                      .build();
    SaveImage image = fixtures::imageOf(bytes);
    for (int run = 0; run < 2; ++run) {
        ExportResult r = extractArchive(image, dir.fd());
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_FALSE(r.complete());
        EXPECT_EQ(r.renamed, (std::vector<std::string>{"BASAVE/x.bin -> BASAVE/x (2).bin",
                                                       "BASAVE/x.bin -> BASAVE/x (3).bin"}));
        // A second run replaces its own files again instead of numbering further.
        EXPECT_EQ(namesIn(dir / "BASAVE"),
                  (std::vector<std::string>{"X.BIN", "x (2).bin", "x (3).bin", "x.bin"}));
        EXPECT_EQ(readFileBytes(dir / "BASAVE/x.bin"), patternBytes(10, 1));
        EXPECT_EQ(readFileBytes(dir / "BASAVE/x (2).bin"), patternBytes(20, 2));
        EXPECT_EQ(readFileBytes(dir / "BASAVE/x (3).bin"), patternBytes(30, 3));
        EXPECT_EQ(readFileBytes(dir / "BASAVE/X.BIN"), patternBytes(40, 4));
    }
}

TEST(ExtractArchive, PortableNamesAreNamesWindowsTakes) {
    Bytes bytes = ArchiveBuilder("BA:SAVE.")
                      .file("a:b", patternBytes(10, 1))
                      .file("a_b", patternBytes(11, 2))
                      .file("CON", patternBytes(12, 3))
                      .file("nul.txt", patternBytes(13, 4))
                      .file("x.", patternBytes(14, 5))
                      .file("ok.bin", patternBytes(15, 6))
                      .build();
    SaveImage image = fixtures::imageOf(bytes);
    TempDir plain, portable;
    ExportResult r;
    if (NATIVE_HOST_NAME_STYLE == HostNameStyle::Posix) {  // on Windows always portable
        r = extractArchive(image, plain.fd());
        ASSERT_TRUE(r.complete()) << r.error;
        EXPECT_EQ(r.path, "BA:SAVE.");
        EXPECT_EQ(namesIn(plain / r.path), (std::vector<std::string>{"CON", "a:b", "a_b", "nul.txt", "ok.bin", "x."}));
    }

    ExportOptions options;
    options.portableNames = true;
    r = extractArchive(image, portable.fd(), options);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.path, "BA_SAVE_");
    EXPECT_EQ(r.renamed, std::vector<std::string>{"BA_SAVE_/a_b -> BA_SAVE_/a_b (2)"});
    EXPECT_EQ(namesIn(portable / r.path),
              (std::vector<std::string>{"_CON", "_nul.txt", "a_b", "a_b (2)", "ok.bin", "x_"}));
    EXPECT_EQ(readFileBytes(portable / "BA_SAVE_/a_b"), patternBytes(10, 1));
    EXPECT_EQ(readFileBytes(portable / "BA_SAVE_/_CON"), patternBytes(12, 3));
}

TEST(ExtractedFileName, WindowsStyleEscapesRawBytesAndTakesWindowsRules) {
    EXPECT_EQ(extractedFileName("a\xFF.", HostNameStyle::Windows), "a\uF0FF_");
    EXPECT_EQ(extractedFileName("a\xFF.", HostNameStyle::Posix), "a\xFF.");
    EXPECT_EQ(extractedFileName("a\xFF.", HostNameStyle::Posix, true), "a\xFF_");
    EXPECT_EQ(extractedFileName("lpt1", HostNameStyle::Windows), "_lpt1");
    EXPECT_EQ(extractedFileName("\x83\x65:", HostNameStyle::Windows), "\u30C6_");  // テ
    // Cut to a whole character, and a dot the cut leaves at the end is no trailing dot.
    std::string cut = extractedFileName(std::string(100, '\xFF'), HostNameStyle::Windows);
    EXPECT_EQ(cut.size(), 252u);
    EXPECT_EQ(hostNameToSaveText(cut, HostNameStyle::Windows), std::string(84, '\xFF'));
    std::string dots = extractedFileName("a" + std::string(299, '.'), HostNameStyle::Windows);
    EXPECT_EQ(dots, "a" + std::string(252, '.') + "_");
}

TEST(ExtractArchive, KeepLeavesExistingFilesAloneAndReportsThem) {
    TempDir dir;
    makeDir(dir / "BASAVE");
    writeFile(dir / "BASAVE/x.bin", std::string("mine"));
    SaveImage image = fixtures::imageOf(smallArchive());
    ExportOptions keep;
    keep.keep = true;
    ExportResult r = extractArchive(image, dir.fd(), keep);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.complete());
    EXPECT_EQ(r.kept, std::vector<std::string>{"BASAVE/x.bin"});
    EXPECT_EQ(r.files, std::vector<std::string>{"BASAVE/icon.sys"});
    EXPECT_EQ(readText(dir / "BASAVE/x.bin"), "mine");
    EXPECT_EQ(readFileBytes(dir / "BASAVE/icon.sys"), patternBytes(100));
}

// ---- interrupted writes ------------------------------------------------------------------

// Runs fn in a child process whose files may not grow past `limit` bytes, with SIGXFSZ at its
// default action (the process is killed, as by a shell's ulimit -f); gives the wait status.
template <class Fn>
int inChildWithFileSizeLimit(rlim_t limit, Fn fn) {
    pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit low{limit, limit};
        setrlimit(RLIMIT_FSIZE, &low);
        fn();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

// A copy killed mid-write used to leave "NAME TITLE.psu" cut short, and extraction and packing
// their temporary files.
TEST(InterruptedWrites, AKilledWriteLeavesNeitherAPartialFileNorATemporary) {
    TempDir dir;
    Bytes big = ArchiveBuilder("BASAVE").file("big.bin", patternBytes(200000)).build();
    SaveImage image = fixtures::imageOf(big);
    int status = inChildWithFileSizeLimit(50000, [&] { writeUniqueCopy("A B", "psu", image, dir.fd()); });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_TRUE(namesIn(dir.path()).empty());

    status = inChildWithFileSizeLimit(50000, [&] { extractArchive(image, dir.fd()); });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_TRUE(namesIn(dir / "BASAVE").empty());

    TempDir src;
    makeDir(src / "S");
    writeFile(src / "S/big", patternBytes(200000));
    status = inChildWithFileSizeLimit(50000, [&] { packFolder(src / "S", dir.fd()); });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"BASAVE"});
}

// The pid of a process that has ended.
pid_t goneProcess() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST(InterruptedWrites, ALaterRunRemovesOnlyStaleTemporariesOfItsOwnNaming) {
    TempDir dir;
    const std::string gone = std::to_string(goneProcess());
    const std::string live = std::to_string(getppid());
    const std::string stale = ".marrowin-" + gone + "-0.tmp";
    const std::vector<std::string> others = {
        ".marrowin-" + live + "-0.tmp",       // its process still runs
        ".marrowin-" + gone + "-0.tmp.keep",  // not our pattern
        ".marrowin-0" + gone + "-0.tmp",
        ".marrowin-" + gone + "-x.tmp",
        "marrowin-" + gone + "-0.tmp",
    };
    writeFile(dir / stale, std::string("left by a killed run"));
    for (const std::string& n : others) writeFile(dir / n, std::string("keep"));
    makeDir(dir / (".marrowin-" + gone + "-1.tmp"));  // a folder
    ASSERT_EQ(::symlink("elsewhere", (dir / (".marrowin-" + gone + "-2.tmp")).c_str()), 0);

    SaveImage image = fixtures::imageOf(smallArchive());
    ASSERT_TRUE(writeUniqueCopy("A B", "psu", image, dir.fd()).ok);
    EXPECT_FALSE(exists(dir / stale));
    for (const std::string& n : others) EXPECT_TRUE(exists(dir / n)) << n;
    EXPECT_TRUE(exists(dir / (".marrowin-" + gone + "-1.tmp")));
    EXPECT_TRUE(exists(dir / (".marrowin-" + gone + "-2.tmp")));

    // Extraction cleans the save's folder, packing its output folder.
    makeDir(dir / "BASAVE");
    writeFile(dir / ("BASAVE/" + stale), std::string("x"));
    ASSERT_TRUE(extractArchive(image, dir.fd()).ok);
    EXPECT_FALSE(exists(dir / ("BASAVE/" + stale)));
    writeFile(dir / stale, std::string("x"));
    ASSERT_TRUE(packFolder(dir / "BASAVE", dir.fd()).ok);
    EXPECT_FALSE(exists(dir / stale));
}


// ---- packing ---------------------------------------------------------------------------

struct PackedEntry {
    uint16_t mode;
    uint32_t size;
    std::string name;
};
std::vector<PackedEntry> headersOf(const Bytes& archive) {
    std::vector<PackedEntry> out;
    SaveImage image = fixtures::imageOf(archive);
    for (uint64_t off = 0; off < image.fileSize; off = nextEntryOffset(image, off)) {
        ByteView v = image.view();
        std::string name;
        for (uint64_t i = 64; i < 512 && v.u8(off + i); ++i) name.push_back(char(v.u8(off + i)));
        out.push_back({v.u16(off), v.u32(off + 4), name});
    }
    return out;
}

TEST(PackFolder, OneByteFileMakesThreeKilobytes) {
    TempDir src, out;
    makeDir(src / "SAVE");
    writeFile(src / "SAVE/a", std::string("Z"));
    ExportResult r = packFolder(src / "SAVE", out.fd());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.path, "SAVE.psu");
    Bytes a = readFileBytes(out / "SAVE.psu");
    ASSERT_EQ(a.size(), 3072u);
    auto h = headersOf(a);
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h[0].mode, MODE_DIRECTORY);
    EXPECT_EQ(h[0].size, 3u);
    EXPECT_EQ(h[0].name, "SAVE");
    EXPECT_EQ(h[1].name, ".");
    EXPECT_EQ(h[2].name, "..");
    EXPECT_EQ(h[1].size, 0u);
    EXPECT_EQ(h[3].mode, MODE_FILE);
    EXPECT_EQ(h[3].size, 1u);
    EXPECT_EQ(a[2048], 'Z');
    EXPECT_TRUE(std::all_of(a.begin() + 2049, a.end(), [](uint8_t b) { return b == 0; }));
    SaveImage image = fixtures::imageOf(a);
    EXPECT_EQ(detectArchiveKind(image), ArchiveKind::SaveArchive);
    EXPECT_EQ(getFolderName(image), "SAVE");
    // All entries carry the same stamp, in both fields.
    for (int e = 0; e < 4; ++e) {
        EXPECT_EQ(std::memcmp(&a[e == 3 ? 1536 : 512 * e] + 8, &a[8], 8), 0);
        EXPECT_EQ(std::memcmp(&a[e == 3 ? 1536 : 512 * e] + 24, &a[8], 8), 0);
    }
}

TEST(PackFolder, FullBlocksGetNoZeroBlockAndPartialOnesOne) {
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/a1024", patternBytes(1024));
    writeFile(src / "S/b1025", patternBytes(1025, 3));
    ASSERT_TRUE(packFolder(src / "S", out.fd()).ok);
    Bytes a = readFileBytes(out / "S.psu");
    // 3 directory headers, then 512 + 1024, then 512 + 2048.
    EXPECT_EQ(a.size(), 1536u + 1536u + 2560u);
    SaveImage image = fixtures::imageOf(a);
    auto found = findFileEntry(image, "b1025");
    ASSERT_TRUE(found);
    EXPECT_EQ(Bytes(image.bytes + *found, image.bytes + *found + 1025), patternBytes(1025, 3));
}

TEST(PackFolder, LeavesOutSubfoldersAndWritesNothingWithoutFiles) {
    TempDir src, out;
    makeDir(src / "EMPTY");
    makeDir(src / "ONLYDIRS");
    makeDir(src / "ONLYDIRS/sub");
    writeFile(src / "ONLYDIRS/sub/deep", std::string("x"));
    EXPECT_FALSE(packFolder(src / "EMPTY", out.fd()).ok);
    ExportResult r = packFolder(src / "ONLYDIRS", out.fd());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(namesIn(out.path()).empty());

    writeFile(src / "ONLYDIRS/top", std::string("y"));
    ASSERT_TRUE(packFolder(src / "ONLYDIRS", out.fd()).ok);
    auto h = headersOf(readFileBytes(out / "ONLYDIRS.psu"));
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h[3].name, "top");
}

TEST(PackFolder, PassesOverItsOwnArchiveWhenWrittenIntoThePackedFolder) {
    TempDir dir;
    makeDir(dir / "S");
    writeFile(dir / "S/a", std::string("aaa"));
    int fd = ::open((dir / "S").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_TRUE(packFolder(dir / "S", fd).ok);
    Bytes first = readFileBytes(dir / "S/S.psu");
    ExportResult again = packFolder(dir / "S", fd);
    ::close(fd);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.files, std::vector<std::string>{"a"});
    auto h = headersOf(readFileBytes(dir / "S/S.psu"));
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h[0].size, 3u);
    EXPECT_EQ(namesIn(dir / "S"), (std::vector<std::string>{"S.psu", "a"}));  // no temporary left
}

TEST(PackFolder, ReplacesAnArchiveButNeverALink) {
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/a", std::string("new"));
    writeFile(out / "S.psu", std::string("old archive"));
    ASSERT_TRUE(packFolder(src / "S", out.fd()).ok);
    EXPECT_EQ(readFileBytes(out / "S.psu").size(), 3072u);

    ::unlink((out / "S.psu").c_str());
    writeFile(src / "victim", std::string("outside"));
    ASSERT_EQ(::symlink((src / "victim").c_str(), (out / "S.psu").c_str()), 0);
    EXPECT_FALSE(packFolder(src / "S", out.fd()).ok);
    EXPECT_EQ(readText(src / "victim"), "outside");
}

TEST(PackFolder, AFailedWriteKeepsThePreviousArchiveAndLeavesNoTemporary) {
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/big", patternBytes(50000));
    writeFile(out / "S.psu", std::string("previous"));
    ExportResult r;
    withFileSizeLimit(10000, [&] { r = packFolder(src / "S", out.fd()); });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(readText(out / "S.psu"), "previous");
    EXPECT_EQ(namesIn(out.path()), std::vector<std::string>{"S.psu"});
}

TEST(PackFolder, KeepLeavesAnExistingArchiveAlone) {
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/a", std::string("new"));
    writeFile(out / "S.psu", std::string("old archive"));
    ExportOptions keep;
    keep.keep = true;
    ExportResult r = packFolder(src / "S", out.fd(), keep);
    EXPECT_FALSE(r.complete());
    EXPECT_EQ(r.kept, std::vector<std::string>{"S.psu"});
    EXPECT_EQ(readText(out / "S.psu"), "old archive");
    EXPECT_EQ(namesIn(out.path()), std::vector<std::string>{"S.psu"});
}

// "a〜" (U+301C) and "a～" (U+FF5E) are both Shift-JIS 81 60: they used to be packed as two
// entries of one name, of which extraction kept one.
TEST(PackFolder, RefusesTwoNamesThatAreOneInShiftJis) {
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/a\xE3\x80\x9C", std::string("wave dash"));
    writeFile(src / "S/a\xEF\xBD\x9E", std::string("fullwidth tilde"));
    ExportResult r = packFolder(src / "S", out.fd());
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("a\xE3\x80\x9C and a\xEF\xBD\x9E"), std::string::npos) << r.error;
    EXPECT_TRUE(namesIn(out.path()).empty());
}

// "é" used to be stored as its UTF-8 bytes, which come back as "ﾃｩ".
TEST(PackFolder, RefusesNamesWithCharactersShiftJisLacksButTakesRawSaveBytes) {
    // "bad\xC3" is no UTF-8; it used to be packed as Shift-JIS and come back as "badﾃ".
    for (std::string name : {"caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "bad\xC3"}) {
        TempDir src, out;
        makeDir(src / "S");
        writeFile(src / "S/plain", std::string("p"));
        writeFile(src / "S/" + name, std::string("x"));
        ExportResult r = packFolder(src / "S", out.fd());
        EXPECT_FALSE(r.ok) << name;
        EXPECT_NE(r.error.find(name + ": its name holds characters"), std::string::npos) << r.error;
        EXPECT_TRUE(namesIn(out.path()).empty());
    }
    // Names that are not UTF-8 are the bytes a PS2 shows: Shift-JIS "テ", and a byte that is
    // not Shift-JIS either (as extraction writes it).
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/\x83\x65.dat", std::string("t"));
    writeFile(src / "S/raw\xFF", std::string("r"));
    ExportResult r = packFolder(src / "S", out.fd());
    ASSERT_TRUE(r.ok) << r.error;
    SaveImage image = imageOfFile(out / "S.psu");
    EXPECT_TRUE(findFileEntry(image, "\x83\x65.dat"));
    EXPECT_TRUE(findFileEntry(image, "raw\xFF"));
}

TEST(PackFolder, PacksNamesEqualOnlyUnderTheCaseFoldWithANote) {
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/icon.sys", std::string("lower"));
    writeFile(src / "S/ICON.SYS", std::string("upper"));
    ExportResult r = packFolder(src / "S", out.fd());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(r.files.size(), 2u);
    EXPECT_NE(r.error.find("differ only in letter case"), std::string::npos) << r.error;
}

// A 4 GiB - 1 file used to give a 4 GiB archive that the program refuses to open. The files
// are sparse, and a file size limit keeps a faulty run from writing gigabytes.
TEST(PackFolder, RefusesAFolderWhoseArchiveWouldReachFourGibibytes) {
    TempDir src, out;
    makeDir(src / "ONE");
    writeFile(src / "ONE/huge", std::string());
    ASSERT_EQ(::truncate((src / "ONE/huge").c_str(), off_t(UINT32_MAX)), 0);
    makeDir(src / "TWO");
    writeFile(src / "TWO/a", std::string());
    writeFile(src / "TWO/b", std::string());
    ASSERT_EQ(::truncate((src / "TWO/a").c_str(), off_t(1) << 31), 0);
    ASSERT_EQ(::truncate((src / "TWO/b").c_str(), (off_t(1) << 31) - 1024), 0);  // 4 GiB + 1536 in all
    for (const char* folder : {"ONE", "TWO"}) {
        ExportResult r;
        withFileSizeLimit(1 << 20, [&] { r = packFolder(src / folder, out.fd()); });
        EXPECT_FALSE(r.ok) << folder;
        EXPECT_NE(r.error.find("4 GiB or more"), std::string::npos) << r.error;
        EXPECT_TRUE(namesIn(out.path()).empty()) << folder;
    }
}

// A link to /etc/passwd used to be packed like any file of the folder.
TEST(PackFolder, LeavesOutLinksThatLeadOutsideUnlessAskedToFollowThem) {
    TempDir src, out;
    makeDir(src / "S");
    makeDir(src / "S/sub");
    writeFile(src / "S/own", std::string("own"));
    writeFile(src / "S/sub/deep", std::string("deep"));
    writeFile(src / "secret", std::string("outside"));
    ASSERT_EQ(::symlink("own", (src / "S/inside").c_str()), 0);
    ASSERT_EQ(::symlink("sub/deep", (src / "S/inside-sub").c_str()), 0);
    ASSERT_EQ(::symlink((src / "secret").c_str(), (src / "S/outside").c_str()), 0);
    ASSERT_EQ(::symlink("../secret", (src / "S/outside-relative").c_str()), 0);

    ExportResult r = packFolder(src / "S", out.fd());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(r.files, (std::vector<std::string>{"inside", "inside-sub", "own"}));
    EXPECT_EQ(r.skipped, (std::vector<std::string>{"outside", "outside-relative"}));
    EXPECT_NE(r.error.find("left out outside: a link to a file outside the folder"), std::string::npos);

    ExportOptions follow;
    follow.followLinks = true;
    r = packFolder(src / "S", out.fd(), follow);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.files.size(), 5u);
    EXPECT_TRUE(r.skipped.empty());
    SaveImage image = imageOfFile(out / "S.psu");
    auto found = findFileEntry(image, "outside");
    ASSERT_TRUE(found);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.bytes + *found), 7), "outside");
}

// A source that gave less than its listed size used to be packed with only a note. A sysfs
// file lists 4096 bytes and holds a few.
TEST(PackFolder, ASourceThatShrankIsPackedFilledOutButReportedIncomplete) {
    const char* sysfs = "/sys/devices/system/cpu/online";
    struct stat st;
    if (::stat(sysfs, &st) != 0 || st.st_size != 4096) GTEST_SKIP() << "no sysfs file to read";
    TempDir src, out;
    makeDir(src / "S");
    writeFile(src / "S/a", std::string("a"));
    ASSERT_EQ(::symlink(sysfs, (src / "S/short").c_str()), 0);
    ExportOptions follow;
    follow.followLinks = true;
    ExportResult r = packFolder(src / "S", out.fd(), follow);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.complete());
    ASSERT_EQ(r.incomplete.size(), 1u);
    EXPECT_EQ(r.incomplete[0].rfind("short: shrank", 0), 0u) << r.incomplete[0];
    EXPECT_EQ(readFileBytes(out / "S.psu").size(), 1536u + 1536u + 512u + 4096u);
}

TEST(PackFolder, BaseNameIgnoresTrailingSlashesAndLongNamesAreKept) {
    TempDir src, out;
    makeDir(src / "SLASH");
    writeFile(src / "SLASH/a", std::string("a"));
    EXPECT_EQ(packFolder(src / "SLASH//", out.fd()).path, "SLASH.psu");

    std::string longName(200, 'L');
    makeDir(src / longName);
    writeFile(src / longName + "/a", std::string("a"));
    ExportResult r = packFolder(src / longName, out.fd());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.path, longName + ".psu");
    SaveImage image = imageOfFile(out / r.path);
    EXPECT_EQ(getFolderName(image), std::string(64, 'L'));  // the field is cut, no terminator
    EXPECT_EQ(headersOf(readFileBytes(out / r.path))[1].name, ".");

    // A cut never splits a Shift-JIS character: "A" and 40 of "テ" (0x83 0x65) keep 31 whole.
    std::string wide = "A";
    for (int i = 0; i < 40; ++i) wide += "\u30C6";
    makeDir(src / wide);
    writeFile(src / wide + "/a", std::string("a"));
    r = packFolder(src / wide, out.fd());
    ASSERT_TRUE(r.ok) << r.error;
    std::string cut = "A";
    for (int i = 0; i < 31; ++i) cut += "\x83\x65";
    EXPECT_EQ(getFolderName(imageOfFile(out / r.path)), cut);

    std::string longest(255, 'M');
    makeDir(src / longest);
    writeFile(src / longest + "/a", std::string("a"));
    r = packFolder(src / longest, out.fd());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.path, std::string(251, 'M') + ".psu");
}

TEST(PackFolder, ShiftJisNamesSurviveExtractAndPack) {
    TempDir dir;
    // "ＭＡＲＲＯＷＩＮ.sys" in Shift-JIS.
    const std::string sjisName = "\x82\x6c\x82\x60\x82\x71\x82\x71\x82\x6e\x82\x76\x82\x68\x82\x6d.sys";
    const std::string sjisFolder = "BA\x83\x66\x83\x82";  // "BAデモ"
    Bytes original = ArchiveBuilder(sjisFolder).file(sjisName, patternBytes(40)).file("plain", patternBytes(5)).build();
    SaveImage image = fixtures::imageOf(original);
    ExportResult ex = extractArchive(image, dir.fd());
    ASSERT_TRUE(ex.ok) << ex.error;
    EXPECT_EQ(ex.path, "BAデモ");
    EXPECT_TRUE(exists(dir / "BAデモ/ＭＡＲＲＯＷＩＮ.sys"));

    ExportResult pk = packFolder(dir / ex.path, dir.fd());
    ASSERT_TRUE(pk.ok) << pk.error;
    SaveImage packed = imageOfFile(dir / pk.path);
    EXPECT_EQ(getFolderName(packed), sjisFolder);
    auto found = findFileEntry(packed, sjisName.c_str());
    ASSERT_TRUE(found);
    EXPECT_EQ(Bytes(packed.bytes + *found, packed.bytes + *found + 40), patternBytes(40));
}

TEST(PackFolder, RoundTripsThroughReadAndExtract) {
    TempDir src, out;
    makeDir(src / "RT");
    std::vector<std::pair<std::string, Bytes>> files = {
        {"zero", {}}, {"one", patternBytes(1)}, {"k", patternBytes(1024, 2)},
        {"long-name-" + std::string(100, 'n'), patternBytes(5000, 3)}, {"odd", patternBytes(777, 4)}};
    for (auto& [name, data] : files) writeFile(src / "RT/" + name, data);

    ASSERT_TRUE(packFolder(src / "RT", out.fd()).ok);
    SaveImage image = imageOfFile(out / "RT.psu");
    ASSERT_EQ(detectArchiveKind(image), ArchiveKind::SaveArchive);
    makeDir(out / "x");
    int fd = ::open((out / "x").c_str(), O_RDONLY | O_DIRECTORY);
    ExportResult r = extractArchive(image, fd);
    ::close(fd);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.files.size(), files.size());
    for (auto& [name, data] : files) EXPECT_EQ(readFileBytes(out / "x/RT/" + name), data) << name;
}

TEST(StampEntryTimes, WritesTheSameStampAsCreatedAndModified) {
    uint8_t header[512] = {};
    std::memset(header, 0xAA, sizeof header);
    EntryRecord record;
    record.created = record.modified = stampOf(2006, 12, 31, 23, 58, 59);
    record.size = record.cluster = record.attribute = 0xAAAAAAAA;
    encodeEntry(record, header);
    const uint8_t expected[8] = {0, 59, 58, 23, 31, 12, 2006 & 0xFF, 2006 >> 8};
    EXPECT_EQ(std::memcmp(header + 8, expected, 8), 0);
    EXPECT_EQ(std::memcmp(header + 24, expected, 8), 0);
    EXPECT_EQ(header[16], 0xAA);  // nothing else touched
    EXPECT_EQ(header[7], 0xAA);
    EXPECT_EQ(header[32], 0xAA);
}

// Packing streams a folder through the same writer that lays out a neutral save: given one
// stamp, the bytes are the same, whatever the files' sizes and however long the names.
TEST(PackFolder, WritesTheBytesWritePsuWritesForTheSameFiles) {
    const std::vector<std::vector<std::pair<std::string, Bytes>>> folders = {
        {{"one", patternBytes(1)}},
        {{"zero", {}}, {"k", patternBytes(1024, 2)}, {"odd", patternBytes(777, 4)}},
        {{"long-name-" + std::string(300, 'n'), patternBytes(5000, 3)}, {"icon.sys", patternBytes(964, 5)}},
    };
    const std::vector<std::string> folderNames = {"S", "BASLUS-20000SAVE", std::string(70, 'F')};
    const Stamp stamp = stampOf(2004, 2, 29, 12, 34, 56);
    for (size_t i = 0; i < folders.size(); ++i) {
        TempDir src, out;
        makeDir(src / folderNames[i]);
        for (auto& [name, data] : folders[i]) writeFile(src / folderNames[i] + "/" + name, data);
        ExportOptions options;
        options.packStamp = stamp;
        ExportResult r = packFolder(src / folderNames[i], out.fd(), options);
        ASSERT_TRUE(r.complete()) << r.error;

        SaveContents c;
        c.folderName = folderNames[i].substr(0, 64);  // the folder's field holds 64 bytes
        c.created = c.modified = stamp;
        for (const std::string& name : r.files) {
            SaveFile f;
            f.name = name;
            f.created = f.modified = stamp;
            f.data = readFileBytes(src / folderNames[i] + "/" + name);
            c.files.push_back(std::move(f));
        }
        std::vector<uint8_t> written;
        std::string error;
        ASSERT_TRUE(writePsu(c, written, error)) << error;
        EXPECT_TRUE(readFileBytes(out / r.path) == written) << folderNames[i];
    }
}

}  // namespace
}  // namespace marrowin
