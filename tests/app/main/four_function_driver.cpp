// A driver library that provides four of the five functions: everything
// but ReadTemperature. The program must refuse it at start.
#define TROVPORT_BUILDING
#include "trovport_abi.h"

extern "C" {
TROVPORT_EXPORT unsigned char OpenMeterPort(std::int32_t, std::int32_t, TrovportHandle* handle)
{
    *handle = -1;
    return 0;
}
TROVPORT_EXPORT std::int32_t ReadSalinity(TrovportHandle, std::int32_t, MeasuredValue* out)
{
    out->Value = 0;
    out->Status = 0;
    return 0;
}
TROVPORT_EXPORT std::int32_t ReadCompensatedConductivity(TrovportHandle, std::int32_t,
                                                         MeasuredValue* out)
{
    out->Value = 0;
    out->Status = 0;
    return 0;
}
TROVPORT_EXPORT std::int32_t ReadUncompensatedConductivity(TrovportHandle, std::int32_t,
                                                           MeasuredValue* out)
{
    out->Value = 0;
    out->Status = 0;
    return 0;
}
}
