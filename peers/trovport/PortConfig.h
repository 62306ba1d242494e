#pragma once
// What the stand-in driver pretends sits on each serial port, as read from
// trovport.ini in the working folder.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace trovport {

enum class PortKind { Absent, Simulated, Script };

struct PortSetup {
    PortKind kind = PortKind::Absent;
    std::string scriptPath; // only for PortKind::Script, as written in the file
};

inline constexpr int FirstPort = 1;
inline constexpr int LastPort = 4;
inline constexpr const char* ConfigFileName = "trovport.ini";

// Index 0 is COM1.
using PortTable = std::array<PortSetup, LastPort - FirstPort + 1>;

// Without a configuration file: a simulated meter on COM1, nothing elsewhere.
PortTable defaultPorts();

// Reads the text of trovport.ini. Ports the text does not name keep their
// defaults. Lines that cannot be understood are skipped and described in
// `warnings` (when given); a port whose value is not understood is absent,
// so a typing error never makes a meter appear where none was meant.
PortTable parsePortConfig(std::string_view text, std::vector<std::string>* warnings = nullptr);

// Reads `path` (relative names against the working folder); the defaults
// when the file does not exist or cannot be read.
PortTable loadPortConfig(const std::string& path, std::vector<std::string>* warnings = nullptr);

} // namespace trovport
