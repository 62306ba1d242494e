#pragma once
// The operating system's handle of an open port, and its release.
#include <cstdint>

#ifdef _WIN32
using THandle = void*; // a HANDLE
inline const THandle InvalidHandle = reinterpret_cast<THandle>(std::intptr_t(-1));
// The system's own, declared as <windows.h> declares it, so that the users
// of a port handle need not take in all of the system's headers.
extern "C" __declspec(dllimport) int __stdcall CloseHandle(THandle handle);
#else
using THandle = std::int32_t; // a file descriptor
inline constexpr THandle InvalidHandle = -1;
// Closes the handle; true when the system accepted it.
bool CloseHandle(THandle handle);
#endif
