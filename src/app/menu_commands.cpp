#include "app/menu_commands.h"

namespace marrowin {

bool isOptionCommand(int command) {
    return command == CMD_OPT_COPY || command == CMD_OPT_EXTRACT || command == CMD_OPT_PACK;
}

int optionCommand(LoadOption option) {
    switch (option) {
        case LoadOption::Copy: return CMD_OPT_COPY;
        case LoadOption::Extract: return CMD_OPT_EXTRACT;
        case LoadOption::Pack: return CMD_OPT_PACK;
    }
    return 0;
}

void runCommand(CommandHost& host, int command) {
    switch (command) {
        case CMD_OPEN: host.chooseAndLoadFile(); break;
        case CMD_EXIT: host.closeMainWindow(); break;
        case CMD_OPT_COPY:
        case CMD_OPT_EXTRACT:
        case CMD_OPT_PACK:
            host.toggleOption(command);
            break;
        case CMD_ICON_NORMAL: host.selectIcon(0); break;
        case CMD_ICON_COPY: host.selectIcon(1); break;
        case CMD_ICON_DELETE: host.selectIcon(2); break;
        case CMD_ANIM_FASTER: animateFaster(host.animation()); break;
        case CMD_ANIM_SLOWER: animateSlower(host.animation()); break;
        case CMD_CONFIGURE: host.showConfigDialog(); break;
        default: break;
    }
}

}  // namespace marrowin
