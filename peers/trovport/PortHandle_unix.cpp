#include "PortHandle.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trovport {

PortHandle::PortHandle(PortHandle&& other) noexcept
    : handle_(other.handle_), identity_{other.identity_[0], other.identity_[1]}
{
    other.handle_ = NoPortHandle;
}

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept
{
    if (this != &other) {
        release();
        handle_ = other.handle_;
        identity_[0] = other.identity_[0];
        identity_[1] = other.identity_[1];
        other.handle_ = NoPortHandle;
    }
    return *this;
}

PortHandle::~PortHandle()
{
    release();
}

// The device and inode are all the library keeps: nothing to let go of.
void PortHandle::release() noexcept {}

bool PortHandle::create(int port, std::string& error)
{
    // A file of its own, so its identity is unique while it is open.
    const std::string name = "trovport-COM" + std::to_string(port);
    int fd = ::memfd_create(name.c_str(), MFD_CLOEXEC);
    if (fd < 0)
        fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0)
            ::close(fd);
        error = "no descriptor available";
        return false;
    }
    release();
    handle_ = fd;
    identity_[0] = std::uint64_t(info.st_dev);
    identity_[1] = std::uint64_t(info.st_ino);
    return true;
}

bool PortHandle::heldBy(TrovportHandle handle) const
{
    struct stat info {};
    return ::fstat(handle, &info) == 0 && std::uint64_t(info.st_dev) == identity_[0]
        && std::uint64_t(info.st_ino) == identity_[1];
}

void PortHandle::discard() noexcept
{
    if (handle_ >= 0)
        ::close(handle_);
    handle_ = NoPortHandle;
    release();
}

} // namespace trovport
