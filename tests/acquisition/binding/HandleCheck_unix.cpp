#include "HandleCheck.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>

namespace handlecheck {

bool isOpen(THandle handle)
{
    return handle >= 0 && ::fcntl(handle, F_GETFD) != -1;
}

bool isClosed(THandle handle)
{
    return ::fcntl(handle, F_GETFD) == -1 && errno == EBADF;
}

int openCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

THandle openStandIn()
{
    return ::open("/dev/null", O_RDWR | O_CLOEXEC);
}

} // namespace handlecheck
