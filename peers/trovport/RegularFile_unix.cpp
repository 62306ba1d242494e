#include "RegularFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trovport {

namespace {

std::string systemError(int code)
{
    return std::strerror(code);
}

std::string notRegular(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder, not a regular file";
    if (S_ISFIFO(mode))
        return "a FIFO, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device, not a regular file";
    return "not a regular file";
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

FileReadResult readRegularFile(const std::string& path, std::size_t limit, std::string& text,
                               std::string& error)
{
    text.clear();
    error.clear();

    // A look before opening spares devices the side effects of an open; the
    // check that counts is the one on the opened descriptor below, which a
    // swap of the name in between cannot fool.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FileReadResult::Missing;
        error = systemError(errno);
        return FileReadResult::Refused;
    }
    if (!S_ISREG(before.st_mode)) {
        error = notRegular(before.st_mode);
        return FileReadResult::Refused;
    }

    // Non-blocking, so that a FIFO put in place after the look still cannot
    // make the open wait for a writer.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FileReadResult::Missing;
        error = systemError(errno);
        return FileReadResult::Refused;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = systemError(errno);
        return FileReadResult::Refused;
    }
    if (!S_ISREG(info.st_mode)) {
        error = notRegular(info.st_mode);
        return FileReadResult::Refused;
    }
    if (info.st_size < 0 || std::uint64_t(info.st_size) > limit) {
        error = "larger than " + describeSize(limit);
        return FileReadResult::Refused;
    }

    // The size may change while we read (and some regular files report 0):
    // read up to one byte past the limit and judge by what arrived.
    std::size_t capacity = std::size_t(info.st_size) + 1;
    if (capacity > limit + 1)
        capacity = limit + 1;
    text.resize(capacity < 4096 ? 4096 : capacity);
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (got > limit)
                break;
            text.resize(got * 2 > limit + 1 ? limit + 1 : got * 2);
        }
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = systemError(errno);
            text.clear();
            return FileReadResult::Refused;
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    if (got > limit) {
        text.clear();
        error = "larger than " + describeSize(limit);
        return FileReadResult::Refused;
    }
    text.resize(got);
    return FileReadResult::Ok;
}

} // namespace trovport
