#pragma once
// The system's side of starting programs, one per system.
#include "ProgramStart.h"

// The starter that really starts programs.
ProgramStarter& systemStarter();
// WinExec with no other starter installed; not called once the program is
// quitting.
unsigned systemWinExec(const QString& commandLine, int showMode);
