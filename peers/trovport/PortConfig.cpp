#include "PortConfig.h"

#include "RegularFile.h"
#include "TextUtil.h"

namespace trovport {

PortTable defaultPorts()
{
    PortTable table;
    table[0].kind = PortKind::Simulated;
    return table;
}

namespace {

void warn(std::vector<std::string>* warnings, int lineNumber, const std::string& text)
{
    if (warnings)
        warnings->push_back(std::string(ConfigFileName) + " line " + std::to_string(lineNumber)
                            + ": " + text);
}

// "COM1" .. "COM4" to 1 .. 4; 0 for anything else.
int portOfKey(std::string_view key)
{
    if (key.size() != 4 || !equalsIgnoreCase(key.substr(0, 3), "COM"))
        return 0;
    const char digit = key[3];
    if (digit < '0' + FirstPort || digit > '0' + LastPort)
        return 0;
    return digit - '0';
}

} // namespace

namespace {

// A file name after the kind word: may hold blanks, may be in double quotes.
std::string_view unquoted(std::string_view rest)
{
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
        rest = rest.substr(1, rest.size() - 2);
    return rest;
}

void parsePortLine(PortTable& table, int port, std::string_view value, int lineNumber,
                   std::vector<std::string>* warnings)
{
    PortSetup& setup = table[port - FirstPort];
    setup = PortSetup{};

    // The kind is the first word; for a script or the maker's driver the
    // rest, after blanks or one comma, is the file name.
    std::size_t wordEnd = 0;
    while (wordEnd < value.size() && value[wordEnd] != ',' && value[wordEnd] != ' '
           && value[wordEnd] != '\t')
        ++wordEnd;
    const std::string_view word = value.substr(0, wordEnd);
    std::string_view rest = trim(value.substr(wordEnd));
    if (!rest.empty() && rest.front() == ',')
        rest = trim(rest.substr(1));

    const bool script = equalsIgnoreCase(word, "script");
    const bool windows = equalsIgnoreCase(word, "windows");
    if (equalsIgnoreCase(word, "absent") && rest.empty()) {
        setup.kind = PortKind::Absent;
    } else if (equalsIgnoreCase(word, "simulated") && rest.empty()) {
        setup.kind = PortKind::Simulated;
    } else if (script || windows) {
        rest = unquoted(rest);
        if (rest.empty()) {
            warn(warnings, lineNumber,
                 std::string(script ? "script" : "windows") + " without a file name; COM"
                     + std::to_string(port) + " is absent");
            return;
        }
        setup.kind = script ? PortKind::Script : PortKind::Windows;
        (script ? setup.scriptPath : setup.driverPath) = std::string(rest);
    } else {
        warn(warnings, lineNumber, "unknown value \"" + std::string(value) + "\"; COM"
                                       + std::to_string(port) + " is absent");
    }
}

void parseSerialLine(SerialDevices& serial, int port, std::string_view value, int lineNumber,
                     std::vector<std::string>* warnings)
{
    std::string& device = serial[port - FirstPort];
    device.clear();
    value = unquoted(value);
    if (value.empty() || value.front() != '/') {
        // Wine resolves a link from its own prefix, so only a full path
        // means the same device wherever the program runs.
        warn(warnings, lineNumber, "[Serial] COM" + std::to_string(port) + " needs the full path "
                                       "of a device, not \"" + std::string(value) + "\"");
        return;
    }
    device = std::string(value);
}

} // namespace

TrovportIni parseTrovportIni(std::string_view text, std::vector<std::string>* warnings)
{
    TrovportIni ini;
    ini.ports = defaultPorts();
    bool inSerial = false;
    int lineNumber = 0;
    for (std::string_view line : splitLines(text)) {
        ++lineNumber;
        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            // Files from before [Serial] existed put their ports under any
            // header or none; they keep meaning what they meant.
            const auto close = line.find(']');
            const std::string_view name =
                trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            inSerial = equalsIgnoreCase(name, "Serial");
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            warn(warnings, lineNumber, "no '=' in \"" + std::string(line) + "\"");
            continue;
        }
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        const int port = portOfKey(key);
        if (port == 0) {
            warn(warnings, lineNumber, "unknown key \"" + std::string(key) + "\"");
            continue;
        }
        if (inSerial)
            parseSerialLine(ini.serial, port, value, lineNumber, warnings);
        else
            parsePortLine(ini.ports, port, value, lineNumber, warnings);
    }
    return ini;
}

PortTable parsePortConfig(std::string_view text, std::vector<std::string>* warnings)
{
    return parseTrovportIni(text, warnings).ports;
}

TrovportIni loadTrovportIni(const std::string& path, std::vector<std::string>* warnings)
{
    std::string text;
    std::string error;
    switch (readRegularFile(path, MaxConfigBytes, text, error)) {
    case FileReadResult::Missing: {
        TrovportIni ini;
        ini.ports = defaultPorts();
        return ini;
    }
    case FileReadResult::Refused:
        if (warnings)
            warnings->push_back(path + ": " + error + "; every port is absent");
        return TrovportIni{};
    case FileReadResult::Ok:
        break;
    }
    return parseTrovportIni(text, warnings);
}

PortTable loadPortConfig(const std::string& path, std::vector<std::string>* warnings)
{
    return loadTrovportIni(path, warnings).ports;
}

} // namespace trovport
