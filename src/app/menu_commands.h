#pragma once
// The menu's command dispatch, shared by the window of each platform. A window implements
// CommandHost with its own dialog, check marks and configuration window; what a command does
// is decided here once.
#include "operations/save_loading.h"
#include "icon/animation.h"

namespace marrowin {

// 0x100 times the popup's place on the bar plus 0x10 times the command's place in it.
constexpr int CMD_OPEN = 272;
constexpr int CMD_EXIT = 288;
constexpr int CMD_OPT_COPY = 528;
constexpr int CMD_OPT_EXTRACT = 544;
constexpr int CMD_OPT_PACK = 560;
constexpr int CMD_ICON_NORMAL = 784;
constexpr int CMD_ICON_COPY = 800;
constexpr int CMD_ICON_DELETE = 816;
constexpr int CMD_ANIM_FASTER = 832;
constexpr int CMD_ANIM_SLOWER = 848;
constexpr int CMD_CONFIGURE = 864;

class CommandHost {
public:
    virtual ~CommandHost() = default;
    virtual void chooseAndLoadFile() = 0;
    virtual void closeMainWindow() = 0;
    // Flips the check mark that is the option.
    virtual void toggleOption(int command) = 0;
    virtual void selectIcon(int index) = 0;
    virtual AnimationState& animation() = 0;
    // Shows the configuration window as its fields stand (no refresh).
    virtual void showConfigDialog() = 0;
};

bool isOptionCommand(int command);
// The Edit menu item whose check mark is the load option.
int optionCommand(LoadOption option);

// Acts on one command id; an id with no command (the Help items' 0) does nothing.
void runCommand(CommandHost& host, int command);

}  // namespace marrowin
