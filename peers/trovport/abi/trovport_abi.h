#pragma once
// Binary contract of the meter driver library trovport.dll: the record a
// reading function fills and the five exported functions. The program's
// binding and the stand-in driver both compile against this one header, so
// they cannot drift apart.
#include <cstddef>
#include <cstdint>

// One measured quantity. The caller owns the 16 bytes; a reading function
// writes Value and Status on every call and never touches Padding.
struct MeasuredValue {
    double Value;        // bytes 0-7
    std::int32_t Status; // bytes 8-11: 0 = Value valid, otherwise a meter error code
    std::int32_t Padding; // bytes 12-15, never read
};
static_assert(sizeof(MeasuredValue) == 16, "MeasuredValue must stay a 16-byte record");
static_assert(offsetof(MeasuredValue, Value) == 0, "Value sits at byte 0");
static_assert(offsetof(MeasuredValue, Status) == 8, "Status sits at byte 8");

// The meter's model number, passed to every reading call.
inline constexpr std::int32_t TrovportModel5926 = 5926;

// The meter speaks at this speed only.
inline constexpr std::int32_t TrovportBaudRate = 4800;

#ifdef _WIN32
// The maker's Windows build hands out a Win32 HANDLE (32 bits on the 32-bit
// program) and is bound by ordinal: OpenMeterPort 1, ReadSalinity 7,
// ReadCompensatedConductivity 11, ReadUncompensatedConductivity 12,
// ReadTemperature 5. Its calling convention is stdcall.
typedef void* TrovportHandle;
#define TROVPORT_CALL __stdcall
// The library's .def file exports the functions by ordinal alone, so no
// export attribute may add their names.
#define TROVPORT_EXPORT
#else
// On Linux the handle is a file descriptor; the caller closes it with close().
typedef std::int32_t TrovportHandle;
#define TROVPORT_CALL
#define TROVPORT_EXPORT __attribute__((visibility("default")))
#endif

// Function types, as the binding resolves them.
typedef unsigned char(TROVPORT_CALL* OpenMeterPortFn)(std::int32_t port, std::int32_t speed,
                                                      TrovportHandle* handle);
typedef std::int32_t(TROVPORT_CALL* ReadMeasurementFn)(TrovportHandle handle, std::int32_t model,
                                                       MeasuredValue* out);

// Exported names. The binding only needs the names; the stand-in driver
// defines the functions.
#define TROVPORT_OPEN_METER_PORT "OpenMeterPort"
#define TROVPORT_READ_SALINITY "ReadSalinity"
#define TROVPORT_READ_COMPENSATED "ReadCompensatedConductivity"
#define TROVPORT_READ_UNCOMPENSATED "ReadUncompensatedConductivity"
#define TROVPORT_READ_TEMPERATURE "ReadTemperature"

#ifdef TROVPORT_BUILDING
extern "C" {
// Nonzero when the port is open; *handle then holds its handle.
TROVPORT_EXPORT unsigned char TROVPORT_CALL OpenMeterPort(std::int32_t port, std::int32_t speed,
                                                          TrovportHandle* handle);
// Each reading function fills *out and returns its Status.
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadSalinity(TrovportHandle handle, std::int32_t model,
                                                        MeasuredValue* out);
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadCompensatedConductivity(TrovportHandle handle,
                                                                       std::int32_t model,
                                                                       MeasuredValue* out);
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadUncompensatedConductivity(TrovportHandle handle,
                                                                         std::int32_t model,
                                                                         MeasuredValue* out);
TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadTemperature(TrovportHandle handle,
                                                           std::int32_t model, MeasuredValue* out);
}
#endif
