// A driver library that lacks one of the five functions (the one named by
// the OMIT_<name> definition), so the binding's refusal can be tested.
#define TROVPORT_BUILDING
#include "trovport_abi.h"

extern "C" {
#ifndef OMIT_OpenMeterPort
TROVPORT_EXPORT unsigned char TROVPORT_CALL OpenMeterPort(std::int32_t, std::int32_t, TrovportHandle* handle)
{
    *handle = TrovportHandle(-1);
    return 0;
}
#endif
#ifndef OMIT_ReadSalinity
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadSalinity(TrovportHandle, std::int32_t, MeasuredValue* out)
{
    *out = MeasuredValue{0.0, 9, out->Padding};
    return 9;
}
#endif
#ifndef OMIT_ReadCompensatedConductivity
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadCompensatedConductivity(TrovportHandle, std::int32_t,
                                                         MeasuredValue* out)
{
    *out = MeasuredValue{0.0, 9, out->Padding};
    return 9;
}
#endif
#ifndef OMIT_ReadUncompensatedConductivity
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadUncompensatedConductivity(TrovportHandle, std::int32_t,
                                                           MeasuredValue* out)
{
    *out = MeasuredValue{0.0, 9, out->Padding};
    return 9;
}
#endif
#ifndef OMIT_ReadTemperature
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadTemperature(TrovportHandle, std::int32_t, MeasuredValue* out)
{
    *out = MeasuredValue{0.0, 9, out->Padding};
    return 9;
}
#endif
}
