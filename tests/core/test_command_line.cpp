// The desktop program's command line: paths for the window, options for the toolkit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace marrowin {
namespace {

ProgramArguments split(std::vector<std::string> words) {
    static std::vector<std::string> keep;
    keep = std::move(words);
    static std::vector<char*> argv;
    argv.clear();
    for (std::string& w : keep) argv.push_back(w.data());
    return splitProgramArguments(int(argv.size()), argv.data());
}

std::vector<std::string> toolkit(const ProgramArguments& a) {
    std::vector<std::string> out;
    for (char* p : a.toolkitArgs)
        if (p) out.emplace_back(p);
    return out;
}

TEST(CommandLine, PathsKeepTheirOrderAndBytes) {
    ProgramArguments a = split({"marrowin", "b.psu", "\x83Z\x81[\x83u.psu", "-", "a folder"});
    EXPECT_EQ(a.paths, (std::vector<std::string>{"b.psu", "\x83Z\x81[\x83u.psu", "-", "a folder"}));
    EXPECT_EQ(toolkit(a), std::vector<std::string>{"marrowin"});
    EXPECT_EQ(a.toolkitArgs.back(), nullptr);
    EXPECT_TRUE(a.error.empty());
}

TEST(CommandLine, ToolkitOptionsGoToTheToolkitWithTheirValues) {
    // "--display :1" must not open a file named ":1".
    ProgramArguments a = split({"marrowin", "--display", ":1", "x.psu", "--class=M", "--sync"});
    EXPECT_EQ(a.paths, std::vector<std::string>{"x.psu"});
    EXPECT_EQ(toolkit(a), (std::vector<std::string>{"marrowin", "--display", ":1", "--class=M", "--sync"}));
}

TEST(CommandLine, DoubleDashMakesEverythingAfterItAPath) {
    ProgramArguments a = split({"marrowin", "--", "--help", "--display"});
    EXPECT_FALSE(a.help);
    EXPECT_EQ(a.paths, (std::vector<std::string>{"--help", "--display"}));
}

TEST(CommandLine, HelpVersionAndUnknownOptions) {
    EXPECT_TRUE(split({"marrowin", "--help"}).help);
    EXPECT_TRUE(split({"marrowin", "-h"}).help);
    EXPECT_TRUE(split({"marrowin", "--version"}).version);
    ProgramArguments a = split({"marrowin", "--frobnicate", "x.psu"});
    EXPECT_EQ(a.error, "unknown option --frobnicate");
}

}  // namespace
}  // namespace marrowin
