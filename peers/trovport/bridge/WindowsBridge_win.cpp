#include "WindowsBridge.h"

#include <cstdio>

namespace trovport::bridge {

// On Windows the program loads the maker's trovport.dll itself, in place of
// the stand-in; there is nothing to bridge to.
bool openWindowsPort(int port, int, const std::string&, const SerialDevices&, TrovportHandle&)
{
    std::fprintf(stderr,
                 "trovport: COM%d: a port of kind windows is served on Linux only; on Windows "
                 "put the maker's trovport.dll in place of the stand-in\n",
                 port);
    return false;
}

std::optional<std::int32_t> readWindowsPort(TrovportHandle, std::int32_t, MeasuredValue*,
                                            std::uint32_t)
{
    return std::nullopt;
}

} // namespace trovport::bridge
