#include "Handles.h"

#include <unistd.h>

bool CloseHandle(THandle handle)
{
    return handle >= 0 && ::close(handle) == 0;
}
