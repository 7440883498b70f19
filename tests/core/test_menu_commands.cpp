#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/menu_commands.h"

using namespace marrowin;

namespace {
// Records what each command asked of the window.
struct RecordingHost : CommandHost {
    std::vector<std::string> calls;
    AnimationState anim;
    void chooseAndLoadFile() override { calls.push_back("open"); }
    void closeMainWindow() override { calls.push_back("close"); }
    void toggleOption(int command) override { calls.push_back("toggle " + std::to_string(command)); }
    void selectIcon(int index) override { calls.push_back("icon " + std::to_string(index)); }
    AnimationState& animation() override { return anim; }
    void showConfigDialog() override { calls.push_back("configure"); }
};

std::vector<std::string> callsFor(int command) {
    RecordingHost host;
    runCommand(host, command);
    return host.calls;
}
}  // namespace

TEST(MenuCommands, EachCommandReachesItsWindowOperation) {
    using V = std::vector<std::string>;
    EXPECT_EQ(callsFor(CMD_OPEN), V{"open"});
    EXPECT_EQ(callsFor(CMD_EXIT), V{"close"});
    EXPECT_EQ(callsFor(CMD_OPT_COPY), V{"toggle 528"});
    EXPECT_EQ(callsFor(CMD_OPT_EXTRACT), V{"toggle 544"});
    EXPECT_EQ(callsFor(CMD_OPT_PACK), V{"toggle 560"});
    EXPECT_EQ(callsFor(CMD_ICON_NORMAL), V{"icon 0"});
    EXPECT_EQ(callsFor(CMD_ICON_COPY), V{"icon 1"});
    EXPECT_EQ(callsFor(CMD_ICON_DELETE), V{"icon 2"});
    EXPECT_EQ(callsFor(CMD_CONFIGURE), V{"configure"});
}

TEST(MenuCommands, IdsFollowPopupAndPlaceNumbering) {
    // 0x100 * popup + 0x10 * place: the resource files of both windows use these numbers.
    EXPECT_EQ(CMD_OPEN, 0x110);
    EXPECT_EQ(CMD_EXIT, 0x120);
    EXPECT_EQ(CMD_OPT_COPY, 0x210);
    EXPECT_EQ(CMD_OPT_PACK, 0x230);
    EXPECT_EQ(CMD_ICON_NORMAL, 0x310);
    EXPECT_EQ(CMD_ANIM_SLOWER, 0x350);
    EXPECT_EQ(CMD_CONFIGURE, 0x360);
}

TEST(MenuCommands, AnimationSpeedChangesTheWindowsAnimation) {
    RecordingHost host;
    runCommand(host, CMD_ANIM_FASTER);
    EXPECT_EQ(host.anim.paintsPerStep, 2u);
    runCommand(host, CMD_ANIM_SLOWER);
    runCommand(host, CMD_ANIM_SLOWER);
    EXPECT_EQ(host.anim.paintsPerStep, 8u);
    EXPECT_TRUE(host.calls.empty());
}

TEST(MenuCommands, IdsWithoutACommandDoNothing) {
    // 0 is the Help items' id; the others are near misses and ids of other windows.
    for (int id : {0, 0x100, 0x111, 0x240, 0x370, 999, 1000, 0xFFFF}) {
        RecordingHost host;
        runCommand(host, id);
        EXPECT_TRUE(host.calls.empty()) << id;
        EXPECT_EQ(host.anim.paintsPerStep, 4u) << id;
    }
}

TEST(MenuCommands, OnlyTheEditItemsAreOptions) {
    EXPECT_TRUE(isOptionCommand(CMD_OPT_COPY));
    EXPECT_TRUE(isOptionCommand(CMD_OPT_EXTRACT));
    EXPECT_TRUE(isOptionCommand(CMD_OPT_PACK));
    EXPECT_FALSE(isOptionCommand(CMD_OPEN));
    EXPECT_FALSE(isOptionCommand(CMD_ICON_COPY));
    EXPECT_FALSE(isOptionCommand(0));
}

TEST(MenuCommands, EachLoadOptionIsItsOwnEditItem) {
    // A load asks for options by name; the window answers with these items' check marks.
    EXPECT_EQ(optionCommand(LoadOption::Copy), CMD_OPT_COPY);
    EXPECT_EQ(optionCommand(LoadOption::Extract), CMD_OPT_EXTRACT);
    EXPECT_EQ(optionCommand(LoadOption::Pack), CMD_OPT_PACK);
    for (LoadOption o : {LoadOption::Copy, LoadOption::Extract, LoadOption::Pack})
        EXPECT_TRUE(isOptionCommand(optionCommand(o)));
}

#ifndef _WIN32
// The Help menu's version label is the project's version, put into main.xrc as it is embedded
// (it once said 0.1 while the program was 0.2.0).
TEST(MenuCommands, TheVersionLabelHoldsTheProjectVersion) {
    char dir[] = "/tmp/marrowin-embed-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string out = std::string(dir) + "/resources.cpp";
    const std::string cmd = std::string("'" MARROWIN_CMAKE "' -DINPUTS='" MARROWIN_SOURCE_DIR "/res/main.xrc' -DOUTPUT='") +
                            out + "' -DVERSION=" MARROWIN_PROJECT_VERSION " -P '" MARROWIN_SOURCE_DIR
                            "/cmake/embed_resources.cmake'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out);
    std::stringstream generated;
    generated << in.rdbuf();
    // The embedded bytes back into text.
    std::string text;
    const std::string g = generated.str();
    for (size_t at = g.find("0x"); at != std::string::npos; at = g.find("0x", at + 4))
        text += char(std::strtol(g.substr(at + 2, 2).c_str(), nullptr, 16));
    std::remove(out.c_str());
    std::remove((out + ".tmp").c_str());
    rmdir(dir);
    EXPECT_NE(text.find("<label>Version 06/05/26 Marrowin " MARROWIN_PROJECT_VERSION " (Linux)</label>"),
              std::string::npos)
        << text.substr(0, 300);
    EXPECT_EQ(text.find("@PROJECT_VERSION@"), std::string::npos);
}
#endif
