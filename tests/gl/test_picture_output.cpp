// Where render -o and thumbnail put a named picture: into what is there already, in place,
// as file managers and sandboxes hand it over; "-" is standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "fixtures.h"
#include "picture_support.h"

using namespace marrowin;
using namespace marrowin::gltest;

namespace {

const std::string CLI = MARROWIN_CLI;
const std::string DEMO = std::string(MARROWIN_SAMPLES) + "/demo.psu";

// The two commands that write a picture the user names, each drawing a 32 x 32 one.
struct NamedOutput {
    const char* what;
    std::string command(const std::string& input, const std::string& output) const {
        return std::string(what) == "thumbnail"
                   ? CLI + " thumbnail -s 32 '" + input + "' '" + output + "'"
                   : CLI + " render --size 32x32 -o '" + output + "' '" + input + "'";
    }
};
const NamedOutput COMMANDS[] = {{"thumbnail"}, {"render"}};

std::string bytesOf(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// A whole PNG and nothing after it.
bool isWholePng(const std::string& bytes) {
    static const std::string SIGNATURE = "\x89PNG\r\n\x1a\n";
    return bytes.size() > 20 && bytes.compare(0, 8, SIGNATURE) == 0 &&
           bytes.compare(bytes.size() - 8, 4, "IEND") == 0;
}

// Tumbler makes the output file, keeps it open and reads the picture back through that
// descriptor; a picture renamed over the name never reached it.
TEST(NamedPicture, IsWrittenIntoTheFileAReaderHoldsOpen) {
    for (const NamedOutput& c : COMMANDS) {
        TempDir dir;
        const std::string out = dir.path + "/out.png";
        std::ofstream(out) << "an older, longer content than nothing";
        const int held = open(out.c_str(), O_RDONLY);
        ASSERT_GE(held, 0);
        struct stat before, after;
        ASSERT_EQ(fstat(held, &before), 0);
        ASSERT_EQ(run(c.command(DEMO, out) + " >/dev/null"), 0) << c.what;

        ASSERT_EQ(fstat(held, &after), 0);
        std::string seen(size_t(after.st_size), '\0');
        EXPECT_EQ(pread(held, seen.data(), seen.size(), 0), ssize_t(seen.size()));
        close(held);
        EXPECT_TRUE(isWholePng(seen)) << c.what << ": the open file does not hold the picture";
        struct stat named;
        ASSERT_EQ(stat(out.c_str(), &named), 0);
        EXPECT_EQ(named.st_ino, before.st_ino) << c.what << ": the file was replaced";
        EXPECT_EQ(loadPng(out).width, 32u) << c.what;
    }
}

TEST(NamedPicture, GoesThroughALinkAndLeavesTheLinkALink) {
    for (const NamedOutput& c : COMMANDS) {
        TempDir dir;
        const std::string target = dir.path + "/target.png", link = dir.path + "/link.png";
        std::ofstream(target) << "old";
        ASSERT_EQ(symlink("target.png", link.c_str()), 0);
        ASSERT_EQ(run(c.command(DEMO, link) + " >/dev/null"), 0) << c.what;
        struct stat st;
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what;
        EXPECT_EQ(loadPng(target).width, 32u) << c.what;

        // A link to a pipe, as /dev/stdout often is: the picture goes down it.
        const std::string toStdout = dir.path + "/stdout.png", caught = dir.path + "/caught.png";
        const std::string code = dir.path + "/code";
        ASSERT_EQ(symlink("/dev/stdout", toStdout.c_str()), 0);
        ASSERT_EQ(run("(" + c.command(DEMO, toStdout) + "; echo $? >'" + code + "') | cat >'" +
                      caught + "'"),
                  0);
        EXPECT_EQ(bytesOf(code), "0\n") << c.what;
        ASSERT_EQ(lstat(toStdout.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what;
        // render then names the picture it wrote on the same standard output.
        EXPECT_EQ(bytesOf(caught).compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << c.what;

        // A link to nothing is not followed into a new file.
        const std::string dangling = dir.path + "/dangling.png";
        ASSERT_EQ(symlink("nowhere/x.png", dangling.c_str()), 0);
        EXPECT_EQ(run(c.command(DEMO, dangling) + " >/dev/null 2>&1"), 1) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir.path + "/nowhere")) << c.what;
    }
}

TEST(NamedPicture, GoesIntoAFifoWhichStaysAFifo) {
    for (const NamedOutput& c : COMMANDS) {
        TempDir dir;
        const std::string fifo = dir.path + "/fifo", got = dir.path + "/got.png";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const std::string code = dir.path + "/code";
        ASSERT_EQ(run("(" + c.command(DEMO, fifo) + " >/dev/null; echo $? >'" + code + "') & cat '" +
                      fifo + "' >'" + got + "'; wait"),
                  0);
        EXPECT_EQ(bytesOf(code), "0\n") << c.what;
        EXPECT_TRUE(isWholePng(bytesOf(got))) << c.what;
        struct stat st;
        ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << c.what;
    }
}

TEST(NamedPicture, DashIsStandardOutputWithThePictureAlone) {
    TempDir dir;
    const std::string got = dir.path + "/got.png";
    ASSERT_EQ(run(CLI + " thumbnail -s 32 '" + DEMO + "' - >'" + got + "'"), 0);
    EXPECT_TRUE(isWholePng(bytesOf(got)));
    EXPECT_EQ(loadPng(got).width, 32u);
    ASSERT_EQ(run(CLI + " render --size 40x30 -o - '" + DEMO + "' >'" + got + "'"), 0);
    EXPECT_TRUE(isWholePng(bytesOf(got))) << "render printed more than the picture";
    EXPECT_EQ(loadPng(got).height, 30u);
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/-"));
}

TEST(NamedPicture, NoPictureLeavesTheOutputAloneAndAFailedWriteFails) {
    TempDir dir;
    const std::string junk = dir.path + "/junk.psu";
    std::ofstream(junk) << std::string(4096, 'x');
    for (const NamedOutput& c : COMMANDS) {
        const std::string out = dir.path + "/keep.png";
        std::ofstream(out) << "keep";
        EXPECT_EQ(run(c.command(junk, out) + " >/dev/null 2>&1"), 1) << c.what;
        EXPECT_EQ(bytesOf(out), "keep") << c.what;
        EXPECT_EQ(run(c.command(junk, dir.path + "/new.png") + " >/dev/null 2>&1"), 1) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir.path + "/new.png")) << c.what;
        // Written in place, a picture over its own archive would destroy the save.
        const std::string save = dir.path + "/save.psu", alias = dir.path + "/alias.png";
        std::filesystem::copy_file(DEMO, save, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::remove(alias);
        ASSERT_EQ(link(save.c_str(), alias.c_str()), 0);
        EXPECT_EQ(run(c.command(save, alias) + " >/dev/null 2>&1"), 1) << c.what;
        EXPECT_EQ(run(c.command(save, save) + " >/dev/null 2>&1"), 1) << c.what;
        EXPECT_EQ(bytesOf(save), bytesOf(DEMO)) << c.what;
        // A device that takes nothing: the write fails and so does the command.
        EXPECT_EQ(run(c.command(DEMO, "/dev/full") + " >/dev/null 2>&1"), 1) << c.what;
    }
}

// render named its picture on a standard output that took nothing and still exited 0.
TEST(NamedPicture, AStandardOutputThatTakesNothingFailsTheCommand) {
    TempDir dir;
    for (const std::string& command :
         {CLI + " thumbnail -s 32 '" + DEMO + "' -", CLI + " render --size 32x32 -o - '" + DEMO + "'",
          CLI + " render --size 32x32 -o '" + dir.path + "/r.png' '" + DEMO + "'"}) {
        const std::string err = dir.path + "/err";
        EXPECT_EQ(run(command + " >/dev/full 2>'" + err + "'"), 1) << command;
        EXPECT_NE(bytesOf(err).find("No space left on device"), std::string::npos) << bytesOf(err);
    }
}

// -q is taken by every command; the help of each picture command says so, and completion
// reads its options from there.
TEST(NamedPicture, HelpNamesTheQuietOption) {
    TempDir dir;
    for (const char* command : {"thumbnail", "render"}) {
        const std::string out = dir.path + "/help";
        EXPECT_EQ(run(CLI + " " + command + " --help >'" + out + "'"), 0) << command;
        EXPECT_NE(bytesOf(out).find("-q, --quiet"), std::string::npos) << command;
    }
}

#ifdef MARROWIN_FAILING_IO
// On a full disk the old picture used to be emptied before the new one found no room.
TEST(NamedPicture, AFullDiskKeepsTheOldPictureWhole) {
    // The second: a file system that cannot reserve room, where zeros past the end take it.
    for (const std::string mode : {"full", "full-unreserved"}) {
        const std::string full = "LD_PRELOAD='" MARROWIN_FAILING_IO "' MARROWIN_FAIL_IO=" + mode + " ";
        for (const NamedOutput& c : COMMANDS) {
            const std::string what = std::string(c.what) + " on " + mode;
            TempDir dir;
            const std::string out = dir.path + "/old.png", err = dir.path + "/err";
            const std::string old = "an older picture, shorter than the new one";
            std::ofstream(out) << old;
            EXPECT_EQ(run(full + c.command(DEMO, out) + " >/dev/null 2>'" + err + "'"), 1) << what;
            EXPECT_EQ(bytesOf(out), old) << what;
            EXPECT_NE(bytesOf(err).find("No space left on device"), std::string::npos) << bytesOf(err);

            // What takes no more room than the old picture is written, and the old tail goes.
            std::ofstream(out, std::ios::trunc) << std::string(200000, 'x');
            EXPECT_EQ(run(full + c.command(DEMO, out) + " >/dev/null"), 0) << what;
            EXPECT_TRUE(isWholePng(bytesOf(out))) << what;
            EXPECT_EQ(loadPng(out).width, 32u) << what;
        }
    }
}
#endif

}  // namespace
