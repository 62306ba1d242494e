#include "HandleCheck.h"

#include <windows.h>

namespace handlecheck {

bool isOpen(THandle handle)
{
    DWORD flags = 0;
    return handle != InvalidHandle && GetHandleInformation(handle, &flags);
}

bool isClosed(THandle handle)
{
    DWORD flags = 0;
    return !GetHandleInformation(handle, &flags) && GetLastError() == ERROR_INVALID_HANDLE;
}

int openCount()
{
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? int(count) : -1;
}

THandle openStandIn()
{
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event ? event : InvalidHandle;
}

} // namespace handlecheck
