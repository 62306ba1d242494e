#include "HandleCheck.h"

#include <map>
#include <mutex>
#include <windows.h>

namespace handlecheck {

namespace {
// Windows hands a closed handle's value to the next object opened, so a
// value that is valid again says nothing of the stand-in it once named.
// Each stand-in keeps a second handle of its own here, and the value counts
// as open only while it still names that same object.
std::mutex guard;
std::map<HANDLE, HANDLE>& witnesses()
{
    static std::map<HANDLE, HANDLE> map;
    return map;
}

// Windows 10 and Wine have it; the import library here does not.
BOOL sameObject(HANDLE a, HANDLE b)
{
    using Fn = BOOL(WINAPI*)(HANDLE, HANDLE);
    static const Fn compare = [] {
        HMODULE module = GetModuleHandleW(L"kernelbase.dll");
        return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                   GetProcAddress(module, "CompareObjectHandles")))
                      : nullptr;
    }();
    return compare ? compare(a, b) : TRUE;
}

bool namesItsStandIn(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(guard);
    const auto it = witnesses().find(handle);
    return it == witnesses().end() || sameObject(handle, it->second);
}
} // namespace

bool isOpen(THandle handle)
{
    DWORD flags = 0;
    return handle != InvalidHandle && GetHandleInformation(handle, &flags) && namesItsStandIn(handle);
}

bool isClosed(THandle handle)
{
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags))
        return GetLastError() == ERROR_INVALID_HANDLE;
    return !namesItsStandIn(handle);
}

int openCount()
{
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? int(count) : -1;
}

THandle openStandIn()
{
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return InvalidHandle;
    HANDLE witness = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &witness, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
        std::lock_guard<std::mutex> lock(guard);
        HANDLE& slot = witnesses()[event];
        if (slot)
            CloseHandle(slot); // the value was handed out before and closed
        slot = witness;
    }
    return event;
}

} // namespace handlecheck
