#include "PortHandle.h"

#include <windows.h>

namespace trovport {

namespace {

HANDLE kept(const std::uint64_t identity[2])
{
    return reinterpret_cast<HANDLE>(std::uintptr_t(identity[0]));
}

using CompareObjectHandlesFn = BOOL(WINAPI*)(HANDLE, HANDLE);

// Windows 10 and Wine have it; older systems fall back to asking only
// whether the handle is open at all.
CompareObjectHandlesFn compareObjectHandles()
{
    static const CompareObjectHandlesFn compare = [] {
        HMODULE module = GetModuleHandleW(L"kernelbase.dll");
        if (!module)
            module = GetModuleHandleW(L"kernel32.dll");
        return module ? reinterpret_cast<CompareObjectHandlesFn>(reinterpret_cast<void*>(
                   GetProcAddress(module, "CompareObjectHandles")))
                      : nullptr;
    }();
    return compare;
}

} // namespace

PortHandle::PortHandle(PortHandle&& other) noexcept
    : handle_(other.handle_), identity_{other.identity_[0], other.identity_[1]}
{
    other.handle_ = NoPortHandle;
    other.identity_[0] = 0;
}

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept
{
    if (this != &other) {
        release();
        handle_ = other.handle_;
        identity_[0] = other.identity_[0];
        other.handle_ = NoPortHandle;
        other.identity_[0] = 0;
    }
    return *this;
}

PortHandle::~PortHandle()
{
    release();
}

void PortHandle::release() noexcept
{
    if (HANDLE own = kept(identity_))
        CloseHandle(own);
    identity_[0] = 0;
}

bool PortHandle::create(int, std::string& error)
{
    // An event is the lightest object that CloseHandle closes. The library
    // holds a duplicate of its own, so the object outlives the program's
    // CloseHandle and a handle number reused for something else cannot pass
    // for it.
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        error = "no handle available";
        return false;
    }
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        CloseHandle(event);
        error = "no handle available";
        return false;
    }
    release();
    handle_ = event;
    identity_[0] = std::uint64_t(reinterpret_cast<std::uintptr_t>(own));
    return true;
}

bool PortHandle::heldBy(TrovportHandle handle) const
{
    const HANDLE own = kept(identity_);
    if (!own || handle == own)
        return false;
    if (const CompareObjectHandlesFn compare = compareObjectHandles())
        return compare(handle, own);
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags);
}

void PortHandle::discard() noexcept
{
    if (handle_ && handle_ != NoPortHandle)
        CloseHandle(handle_);
    handle_ = NoPortHandle;
    release();
}

} // namespace trovport
