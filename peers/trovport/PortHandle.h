#pragma once
// The handle OpenMeterPort gives out is an object of the system's own (a
// descriptor on Linux, a HANDLE on Windows), so the program's CloseHandle
// really closes something. The library must also know it again when it comes
// back: the program may have closed it, and the system may since have given
// the same number to something else.
#include "trovport_abi.h"

#include <cstdint>
#include <string>

namespace trovport {

// What a failed open leaves in the caller's handle: -1, which on Windows is
// also INVALID_HANDLE_VALUE.
inline const TrovportHandle NoPortHandle = (TrovportHandle)(std::intptr_t)-1;

class PortHandle {
public:
    PortHandle() = default;
    PortHandle(PortHandle&& other) noexcept;
    PortHandle& operator=(PortHandle&& other) noexcept;
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;
    // Lets go of what the library keeps to recognise the object; the
    // program's handle is the program's to close.
    ~PortHandle();

    // A new object of its own for COM`port`. False, with `error` saying
    // why, when the system has none to give.
    bool create(int port, std::string& error);

    TrovportHandle handle() const { return handle_; }

    // Whether `handle`, as the program passes it in, is still this port's
    // object.
    bool heldBy(TrovportHandle handle) const;

    // Closes the program's handle as well, for an open that fails after the
    // object was made.
    void discard() noexcept;

private:
    void release() noexcept;

    TrovportHandle handle_ = NoPortHandle;
    // How the object is recognised: its device and inode on Linux, the
    // library's own duplicate of the handle on Windows.
    std::uint64_t identity_[2] = {};
};

} // namespace trovport
