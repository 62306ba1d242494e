#include "Handles.h"

#ifndef _WIN32
#include <unistd.h>
bool CloseHandle(THandle handle)
{
    return handle >= 0 && ::close(handle) == 0;
}
#endif
