#pragma once
// The program entry's work: the application object, the driver check, the
// windows, the message loop, and the end of the program.
#include <functional>

// The driver check, the windows, the message loop. Returns the process's
// exit code (0 when the main window was closed).
int RunProgram();

// Everything main() does: the application object with its name and fonts,
// the termination signals (handled as a close of the main window), then
// RunProgram. `atStart`, when given, runs once the application object
// exists, before RunProgram (a test drives the windows from there).
int ProgramMain(int argc, char** argv, const std::function<void()>& atStart = {});

// The main window has been closed: the program ends. Every wait ends at
// once, and while RunProgram runs, its message loop and every nested one
// are left, with exit code 0.
void EndProgram();
