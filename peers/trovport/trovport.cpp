// The stand-in meter driver: the five exported functions over a table of
// open ports. Each open hands out a handle of its own; the library
// remembers which port and which meter stand behind it.
#define TROVPORT_BUILDING
#include "trovport_abi.h"

#include "PortConfig.h"
#include "PortHandle.h"
#include "ReadingScript.h"
#include "SeaWater.h"
#include "TrovportStatus.h"
#include "bridge/WindowsBridge.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace trovport {
namespace {

struct OpenPort {
    int port = 0;
    // A handle the program has closed, whose number the system has since
    // given to another object, must not still count as this port.
    PortHandle handle;
    PortKind kind = PortKind::Absent;
    std::vector<ScriptLine> script;
    std::size_t scriptLine = 0;
    SimulatedMeter meter{0};
    std::uint64_t set = 0; // sets of four readings completed
};

std::mutex tableMutex;
std::unordered_map<TrovportHandle, OpenPort> openPorts;
std::uint32_t opensSoFar = 0;

void report(const std::string& text)
{
    std::fprintf(stderr, "trovport: %s\n", text.c_str());
}

std::int32_t deliver(MeasuredValue* out, double value, std::int32_t status)
{
    if (out) {
        out->Value = value;
        out->Status = status;
    }
    return status;
}

// A handle that is no port of the stand-in's own may be one the bridge
// opened on the maker's driver (the ordinal is what the maker exports the
// function under); else it is no open port at all. Runs under the table's
// lock, which the bridge never takes: no order of locks to get wrong.
std::int32_t readOtherPort(TrovportHandle handle, std::int32_t model, MeasuredValue* out,
                           Quantity quantity)
{
    static constexpr std::uint32_t ordinals[QuantityCount] = {7, 11, 12, 5};
    if (const auto result = bridge::readWindowsPort(handle, model, out, ordinals[quantity]))
        return *result;
    return deliver(out, 0.0, StatusPortNotOpen);
}

std::int32_t readQuantity(TrovportHandle handle, std::int32_t model, MeasuredValue* out,
                          Quantity quantity)
{
    std::lock_guard lock(tableMutex);
    const auto found = openPorts.find(handle);
    if (found == openPorts.end())
        return readOtherPort(handle, model, out, quantity);
    OpenPort& port = found->second;
    if (!port.handle.heldBy(handle)) {
        openPorts.erase(found);
        return readOtherPort(handle, model, out, quantity);
    }
    if (model != TrovportModel5926)
        return deliver(out, 0.0, StatusWrongModel);

    double value = 0.0;
    std::int32_t status = 0;
    if (port.kind == PortKind::Script) {
        const ScriptLine& line = port.script[port.scriptLine];
        value = line.value[quantity];
        status = line.status[quantity];
        if (quantity == Temperature)
            port.scriptLine = (port.scriptLine + 1) % port.script.size();
    } else {
        const SeaWaterSample sample = port.meter.sample(port.set);
        switch (quantity) {
        case Salinity: value = sample.salinity; break;
        case Compensated: value = sample.compensated; break;
        case Uncompensated: value = sample.uncompensated; break;
        case Temperature: value = sample.temperature; break;
        }
        if (quantity == Temperature)
            ++port.set;
    }
    return deliver(out, value, status);
}

// The open itself; may throw (memory), and then leaves nothing open.
bool openPort(std::int32_t port, std::int32_t speed, TrovportHandle& handle)
{
    if (port < FirstPort || port > LastPort)
        return false;

    // Read at every open, so the set-up can change between opens.
    std::vector<std::string> warnings;
    const TrovportIni ini = loadTrovportIni(ConfigFileName, &warnings);
    const PortSetup setup = ini.ports[port - FirstPort];
    for (const std::string& warning : warnings)
        report(warning);
    // The maker's driver judges the speed itself; the stand-in's meters
    // speak at one speed only.
    if (setup.kind == PortKind::Windows)
        return bridge::openWindowsPort(port, speed, setup.driverPath, ini.serial, handle);
    if (speed != TrovportBaudRate)
        return false;

    OpenPort state;
    state.port = port;
    state.kind = setup.kind;
    switch (setup.kind) {
    case PortKind::Absent:
    case PortKind::Windows:
        return false;
    case PortKind::Script: {
        std::string error;
        if (!loadReadingScript(setup.scriptPath, state.script, error)) {
            report("COM" + std::to_string(port) + ": " + error);
            return false;
        }
        break;
    }
    case PortKind::Simulated:
        break;
    }

    std::string error;
    if (!state.handle.create(port, error)) {
        report("COM" + std::to_string(port) + ": " + error);
        return false;
    }
    // Closed again unless the port makes it into the table.
    struct DiscardUnlessKept {
        PortHandle& handle;
        bool kept = false;
        ~DiscardUnlessKept()
        {
            if (!kept)
                handle.discard();
        }
    } guard{state.handle};
    const TrovportHandle opened = state.handle.handle();

    std::lock_guard lock(tableMutex);
    state.meter = SimulatedMeter(++opensSoFar * 2654435761u + std::uint32_t(port));
    // The number may be one the program closed earlier: that port is gone.
    openPorts[opened] = std::move(state);
    guard.kept = true;
    handle = opened;
    return true;
}

// Nothing may leave through the C interface but a result: whatever goes
// wrong inside is reported here and turned into a failed open or an error
// status, as a bad configuration is.
void reportFault(const char* function, const char* what) noexcept
{
    std::fprintf(stderr, "trovport: %s failed inside: %s\n", function, what);
}

std::int32_t readAtBoundary(const char* function, TrovportHandle handle, std::int32_t model,
                            MeasuredValue* out, Quantity quantity) noexcept
{
    try {
        return readQuantity(handle, model, out, quantity);
    } catch (const std::exception& e) {
        reportFault(function, e.what());
    } catch (...) {
        reportFault(function, "unknown error");
    }
    return deliver(out, 0.0, StatusDriverFault);
}

} // namespace
} // namespace trovport

using namespace trovport;

extern "C" {

TROVPORT_EXPORT unsigned char TROVPORT_CALL OpenMeterPort(std::int32_t port, std::int32_t speed,
                                                          TrovportHandle* handle)
{
    if (!handle)
        return 0;
    *handle = NoPortHandle;
    try {
        TrovportHandle opened = NoPortHandle;
        if (!openPort(port, speed, opened))
            return 0;
        *handle = opened;
        return 1;
    } catch (const std::exception& e) {
        reportFault("OpenMeterPort", e.what());
    } catch (...) {
        reportFault("OpenMeterPort", "unknown error");
    }
    return 0;
}

TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadSalinity(TrovportHandle handle, std::int32_t model,
                                                        MeasuredValue* out)
{
    return readAtBoundary("ReadSalinity", handle, model, out, Salinity);
}

TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadCompensatedConductivity(TrovportHandle handle,
                                                                       std::int32_t model,
                                                                       MeasuredValue* out)
{
    return readAtBoundary("ReadCompensatedConductivity", handle, model, out, Compensated);
}

TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadUncompensatedConductivity(TrovportHandle handle,
                                                                         std::int32_t model,
                                                                         MeasuredValue* out)
{
    return readAtBoundary("ReadUncompensatedConductivity", handle, model, out, Uncompensated);
}

TROVPORT_EXPORT std::int32_t TROVPORT_CALL ReadTemperature(TrovportHandle handle,
                                                           std::int32_t model, MeasuredValue* out)
{
    return readAtBoundary("ReadTemperature", handle, model, out, Temperature);
}

} // extern "C"
