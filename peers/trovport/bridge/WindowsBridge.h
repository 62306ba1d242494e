#pragma once
// Ports of kind `windows`: the maker's own 32-bit trovport.dll, hosted under
// Wine by trovport-host.exe, behind the same five functions as the stand-in.
// That is the Linux build's (WindowsBridge_unix.cpp); on Windows the program
// loads the maker's library itself, and such a port does not open
// (WindowsBridge_win.cpp).
//
// The program gets a descriptor of its own for each open port and closes it
// with close() as for any port of this library; the bridge notices that at
// once and closes the maker's handle behind it. A host lives while the
// library is loaded and serves every open of the same maker's library; it
// ends when the library is unloaded or the process exits, and with it the
// Wine processes it brought up.
#include "PortConfig.h"
#include "trovport_abi.h"

#include <cstdint>
#include <optional>
#include <string>

namespace trovport::bridge {

// Opens COM`port` at `speed` baud through the maker's library at
// `driverPath` (a relative path is taken against the working folder now),
// linking the ports `serial` names first. False when it does not open; the
// reason, when it is not the maker's own refusal, goes to standard error.
bool openWindowsPort(int port, int speed, const std::string& driverPath,
                     const SerialDevices& serial, TrovportHandle& handle);

// A reading call (ordinal 7, 11, 12 or 5) on `handle` when it is a port of
// the bridge: the maker's result, with `out` written as the maker wrote it,
// or StatusBridgeLost with Value 0 when the host is gone. nullopt when
// `handle` is not an open port of the bridge.
std::optional<std::int32_t> readWindowsPort(TrovportHandle handle, std::int32_t model,
                                            MeasuredValue* out, std::uint32_t ordinal);

} // namespace trovport::bridge
