// Writes that fail only at fsync or close (quotas, network file systems) used to pass as
// success: the CLI must say so, exit 1 and leave neither the file nor its temporary behind.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "export_test_support.h"
#include "fixtures.h"

namespace marrowin {
namespace {

using fixtures::ArchiveBuilder;
using testing::TempDir;
using testing::makeDir;
using testing::namesIn;
using testing::writeFile;

struct FailedRun {
    int code;
    std::string err;
};

FailedRun cliFailing(const TempDir& dir, const char* call, const std::string& args) {
    std::string errFile = dir / ".stderr";
    std::string cmd = "cd '" + dir.path() + "' && LD_PRELOAD='" MARROWIN_FAILING_IO "' MARROWIN_FAIL_IO=" +
                      call + " '" MARROWIN_CLI "' " + args + " 2>'" + errFile + "' >/dev/null";
    int status = std::system(cmd.c_str());
    FailedRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::readText(errFile)};
    std::remove(errFile.c_str());
    return r;
}

bool anyTemporary(const std::vector<std::string>& names) {
    for (const std::string& n : names)
        if (n.rfind(".marrowin-", 0) == 0) return true;
    return false;
}

TEST(FailedClose, CopyExtractAndPackFailAndLeaveNothing) {
    for (const char* call : {"fsync", "close"}) {
        SCOPED_TRACE(call);
        TempDir dir;
        writeFile(dir / "a.psu", ArchiveBuilder("SAVE").file("data.bin", {1, 2, 3}).build());
        makeDir(dir / "PACKME");
        writeFile(dir / "PACKME/x.bin", std::string("789"));
        makeDir(dir / "out");

        FailedRun copy = cliFailing(dir, call, "copy -C out a.psu");
        EXPECT_EQ(copy.code, 1) << copy.err;
        FailedRun extract = cliFailing(dir, call, "extract -C out a.psu");
        EXPECT_EQ(extract.code, 1) << extract.err;
        FailedRun pack = cliFailing(dir, call, "pack -C out PACKME");
        EXPECT_EQ(pack.code, 1) << pack.err;

        std::vector<std::string> out = namesIn(dir / "out");
        EXPECT_FALSE(anyTemporary(out));
        for (const std::string& n : out) {
            EXPECT_FALSE(n.size() > 4 && n.compare(n.size() - 4, 4, ".psu") == 0)
                << "an archive was left: " << n;
            if (n == "SAVE") {
                std::vector<std::string> inside = namesIn(dir / "out/SAVE");
                EXPECT_TRUE(inside.empty()) << inside.front();
            }
        }
    }
}

}  // namespace
}  // namespace marrowin
