#pragma once
// The running program as the host sees it: where its file is, and (POSIX) handing the
// process over to another program. Kept apart from the file layer: only the command-line
// launcher needs it.
#include <string>
#include <vector>

namespace marrowin {

// The running program's own file, symbolic links resolved where the host can; empty when the
// host cannot tell.
std::string runningProgramPath();

#ifndef _WIN32
// Replaces this process with `path`, given `args` (args[0] first): standard streams, the
// environment and the exit status are the new program's. Returns only on failure, with errno.
void replaceProcess(const std::string& path, const std::vector<std::string>& args);
#endif

}  // namespace marrowin
