#pragma once
// What the stand-in driver pretends sits on each serial port, as read from
// trovport.ini in the working folder.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace trovport {

// Windows: the maker's own 32-bit driver, hosted under Wine by the bridge.
enum class PortKind { Absent, Simulated, Script, Windows };

struct PortSetup {
    PortKind kind = PortKind::Absent;
    std::string scriptPath; // only for PortKind::Script, as written in the file
    std::string driverPath; // only for PortKind::Windows, as written in the file
};

inline constexpr int FirstPort = 1;
inline constexpr int LastPort = 4;
inline constexpr const char* ConfigFileName = "trovport.ini";
// A few lines are all a configuration needs; more is not one.
inline constexpr std::size_t MaxConfigBytes = std::size_t(1) << 20;

// Index 0 is COM1.
using PortTable = std::array<PortSetup, LastPort - FirstPort + 1>;

// The [Serial] section: the Linux device behind each COMn as the maker's
// driver sees it under Wine; empty where the file names none. Index 0 is COM1.
using SerialDevices = std::array<std::string, LastPort - FirstPort + 1>;

struct TrovportIni {
    PortTable ports;
    SerialDevices serial;
};

// Without a configuration file: a simulated meter on COM1, nothing elsewhere.
PortTable defaultPorts();

// Reads the text of trovport.ini. Ports the text does not name keep their
// defaults. Lines that cannot be understood are skipped and described in
// `warnings` (when given); a port whose value is not understood is absent,
// so a typing error never makes a meter appear where none was meant.
//
// Lines before any section header and in any section but [Serial] name the
// ports, as they did before the file had sections; [Serial] lines link a
// COMn to a device (`COM1=/dev/ttyUSB0`).
TrovportIni parseTrovportIni(std::string_view text, std::vector<std::string>* warnings = nullptr);
PortTable parsePortConfig(std::string_view text, std::vector<std::string>* warnings = nullptr);

// Reads `path` (relative names against the working folder): the defaults
// when nothing is there. A name that leads to something other than a
// readable regular file of at most MaxConfigBytes (a FIFO, a device, a huge
// file) is a configuration that cannot be understood: every port is absent,
// with the reason in `warnings`.
TrovportIni loadTrovportIni(const std::string& path, std::vector<std::string>* warnings = nullptr);
PortTable loadPortConfig(const std::string& path, std::vector<std::string>* warnings = nullptr);

} // namespace trovport
