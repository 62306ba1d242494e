#pragma once
// The operating system's handle of an open port, and its release.
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
using THandle = HANDLE;
inline const THandle InvalidHandle = INVALID_HANDLE_VALUE;
// CloseHandle is the system's own.
#else
using THandle = std::int32_t; // a file descriptor
inline constexpr THandle InvalidHandle = -1;
// Closes the handle; true when the system accepted it.
bool CloseHandle(THandle handle);
#endif
