#pragma once
// What the system knows of a port handle, for tests that must see a handle
// really opened and really closed.
#include "Handles.h"

namespace handlecheck {

// True while `handle` names an open handle (descriptor) of this process.
bool isOpen(THandle handle);
// True when the system refuses `handle` as one it never gave out or has
// closed (EBADF, ERROR_INVALID_HANDLE), as opposed to failing otherwise.
bool isClosed(THandle handle);
// The number of handles (descriptors) this process holds.
int openCount();
// A handle of the system's own kind that stands for an open port: real, so
// that a missing or doubled CloseHandle shows. InvalidHandle on failure.
THandle openStandIn();

} // namespace handlecheck
