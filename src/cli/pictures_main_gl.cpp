// marrowin-cli-gl: the picture commands of marrowin-cli, which starts this program for them
// with its own arguments, so that its other commands never load the OpenGL libraries.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/console.h"

int main(int rawArgc, char** rawArgv) {
    std::vector<std::string> args = marrowin::cli::prepareConsole(rawArgc, rawArgv);
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    const int argc = int(args.size());
    char** argv = pointers.data();

    // render names what it wrote on standard output: checked as marrowin-cli checks it.
    if (argc >= 2 && std::strcmp(argv[1], "render") == 0)
        return marrowin::cli::closeStandardOutput(marrowin::cli::runRender(argc - 1, argv + 1));
    if (argc >= 2 && std::strcmp(argv[1], "thumbnail") == 0)
        return marrowin::cli::closeStandardOutput(marrowin::cli::runThumbnail(argc - 1, argv + 1));
    std::fputs("marrowin-cli-gl runs marrowin-cli's render and thumbnail commands;"
               " use marrowin-cli\n",
               stderr);
    return 2;
}
