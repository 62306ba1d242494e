// The stand-in meter driver: the five exported functions over a table of
// open ports. Each open hands out a descriptor of its own; the library
// remembers which port and which meter stand behind it.
#define TROVPORT_BUILDING
#include "trovport_abi.h"

#include "PortConfig.h"
#include "ReadingScript.h"
#include "SeaWater.h"
#include "TrovportStatus.h"
#include "bridge/WindowsBridge.h"

#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace trovport {
namespace {

struct OpenPort {
    int port = 0;
    // Identity of the descriptor's file when opened: a descriptor number the
    // program has closed and the system has since given to another file must
    // not still count as this port.
    dev_t device = 0;
    ino_t inode = 0;
    PortKind kind = PortKind::Absent;
    std::vector<ScriptLine> script;
    std::size_t scriptLine = 0;
    SimulatedMeter meter{0};
    std::uint64_t set = 0; // sets of four readings completed
};

std::mutex tableMutex;
std::unordered_map<int, OpenPort> openPorts;
std::uint32_t opensSoFar = 0;

void report(const std::string& text)
{
    std::fprintf(stderr, "trovport: %s\n", text.c_str());
}

// A descriptor that refers to a file of its own, so its identity is unique
// while it is open.
int newPortDescriptor(int port)
{
    const std::string name = "trovport-COM" + std::to_string(port);
    int fd = ::memfd_create(name.c_str(), MFD_CLOEXEC);
    if (fd < 0)
        fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return fd;
}

bool sameFile(int fd, const OpenPort& port)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && info.st_dev == port.device && info.st_ino == port.inode;
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
    if (!sameFile(handle, port)) {
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

    const int fd = newPortDescriptor(port);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0)
            ::close(fd);
        report("COM" + std::to_string(port) + ": no descriptor available");
        return false;
    }
    // Closed again unless the port makes it into the table.
    struct CloseUnlessKept {
        int fd;
        bool kept = false;
        ~CloseUnlessKept()
        {
            if (!kept)
                ::close(fd);
        }
    } guard{fd};
    state.device = info.st_dev;
    state.inode = info.st_ino;

    std::lock_guard lock(tableMutex);
    state.meter = SimulatedMeter(++opensSoFar * 2654435761u + std::uint32_t(port));
    // The number may be one the program closed earlier: that port is gone.
    openPorts[fd] = std::move(state);
    guard.kept = true;
    handle = fd;
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

TROVPORT_EXPORT unsigned char OpenMeterPort(std::int32_t port, std::int32_t speed,
                                            TrovportHandle* handle)
{
    if (!handle)
        return 0;
    *handle = -1;
    try {
        TrovportHandle opened = -1;
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

TROVPORT_EXPORT std::int32_t ReadSalinity(TrovportHandle handle, std::int32_t model,
                                          MeasuredValue* out)
{
    return readAtBoundary("ReadSalinity", handle, model, out, Salinity);
}

TROVPORT_EXPORT std::int32_t ReadCompensatedConductivity(TrovportHandle handle, std::int32_t model,
                                                         MeasuredValue* out)
{
    return readAtBoundary("ReadCompensatedConductivity", handle, model, out, Compensated);
}

TROVPORT_EXPORT std::int32_t ReadUncompensatedConductivity(TrovportHandle handle,
                                                           std::int32_t model, MeasuredValue* out)
{
    return readAtBoundary("ReadUncompensatedConductivity", handle, model, out, Uncompensated);
}

TROVPORT_EXPORT std::int32_t ReadTemperature(TrovportHandle handle, std::int32_t model,
                                             MeasuredValue* out)
{
    return readAtBoundary("ReadTemperature", handle, model, out, Temperature);
}

} // extern "C"
