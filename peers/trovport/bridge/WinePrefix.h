#pragma once
// What the bridge needs from the Linux side of Wine: its own prefix, the
// programs it runs, the COMn links, and a look at a library before Wine is
// asked to load it.
#include "PortConfig.h"

#include <string>

namespace trovport::bridge {

// The bridge's prefix: ${XDG_DATA_HOME:-$HOME/.local/share}/trova-5926/wine,
// where an XDG_DATA_HOME that is not an absolute path counts as unset (the
// XDG rule). Empty when neither gives an absolute folder.
std::string prefixPath(const char* xdgDataHome, const char* home);
// The same from the environment.
std::string prefixPath();

// True once Wine has made the prefix (its system registry is there).
bool prefixReady(const std::string& prefix);

// The full path of the program `name` in the colon-separated `path`; empty
// when none of its folders holds an executable of that name.
std::string findProgram(const std::string& name, const char* path);

// Points $prefix/dosdevices/comN at `device`, replacing what is there in one
// step, so Wine never sees the link missing. False with `error` when the
// link cannot be made.
bool linkSerialPort(const std::string& prefix, int port, const std::string& device,
                    std::string& error);

// Checks that `path` is a 32-bit x86 Windows library (a PE32 DLL), reading
// only a regular file and never waiting on one. False with the reason, in
// words for the operator, when it is not.
bool isWin32Library(const std::string& path, std::string& reason);

// `path` made absolute against the current working folder.
std::string absolutePath(const std::string& path);

} // namespace trovport::bridge
