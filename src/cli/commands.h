#pragma once
// The commands of marrowin-cli. Each takes the arguments after its own name (argv[0] is the
// command name) and gives the process exit code: 0 done, 1 some input failed, 2 usage.

namespace marrowin::cli {

int runInfo(int argc, char** argv);
int runExtract(int argc, char** argv);
int runPack(int argc, char** argv);
int runCopy(int argc, char** argv);
// Reports every problem found in each archive; 1 when any has an error.
int runCheck(int argc, char** argv);
// Memory card images and folder cards: ls, export, import, delete, format, check.
int runCard(int argc, char** argv);
// Writes the save in each input as another container; 1 when any input failed.
int runConvert(int argc, char** argv);
// Off-screen rendering of a save's icon; built only with OpenGL.
int runRender(int argc, char** argv);
// A square picture of the save's normal icon for file managers; built only with OpenGL.
int runThumbnail(int argc, char** argv);

}  // namespace marrowin::cli
