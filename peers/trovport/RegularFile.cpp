#include "RegularFile.h"

namespace trovport {

std::string describeSize(std::size_t bytes)
{
    constexpr std::size_t MiB = std::size_t(1) << 20;
    if (bytes >= MiB && bytes % MiB == 0)
        return std::to_string(bytes / MiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace trovport
