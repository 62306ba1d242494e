#pragma once
// The program entry's work once the application object exists: the driver
// check, the windows, the message loop. Returns the process's exit code.
int RunProgram();
