#include "ExportTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

THandle openNullHandle()
{
    return ::open("/dev/null", O_RDWR | O_CLOEXEC);
}
