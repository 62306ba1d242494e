#pragma once
// Status codes the stand-in driver gives on its own account, besides the
// ones a script carries. Negative, so they never collide with the meter's
// own error codes 1 to 10.
#include <cstdint>

namespace trovport {

// The handle is not a port this library opened, or the program has closed it.
inline constexpr std::int32_t StatusPortNotOpen = -1;
// The model code is not 5926: this driver only knows that meter.
inline constexpr std::int32_t StatusWrongModel = -2;
// The library failed inside (out of memory or the like) and has no reading.
inline constexpr std::int32_t StatusDriverFault = -3;
// The port is served by the maker's driver under Wine, and the bridge lost
// it: its helper ended, or a call did not come back in time and the helper
// was stopped. The port gives this until it is closed; the next open starts
// a new helper.
inline constexpr std::int32_t StatusBridgeLost = -4;

} // namespace trovport
