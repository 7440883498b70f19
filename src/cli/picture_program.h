#pragma once
// The picture commands (render, thumbnail) live in a second program, so that the file
// commands start without loading EGL, OpenGL, GLU or libpng. This side finds it and hands
// the process over.
namespace marrowin::cli {

// Runs the picture program with this command's arguments (argv[0] is the command name) in
// place of this process; returns only when it could not be started, with exit code 1.
int runPictureProgram(int argc, char** argv);

}  // namespace marrowin::cli
