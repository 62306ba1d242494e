// Handles.h declares the system's CloseHandle without <windows.h>; seeing
// both here makes the compiler hold the two declarations against each other.
#include <windows.h>

#include "Handles.h"

#include <type_traits>

static_assert(std::is_same_v<THandle, HANDLE>);
static_assert(std::is_same_v<decltype(&CloseHandle), BOOL(WINAPI*)(HANDLE)>);
