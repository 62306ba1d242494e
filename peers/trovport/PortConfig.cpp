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

PortTable parsePortConfig(std::string_view text, std::vector<std::string>* warnings)
{
    PortTable table = defaultPorts();
    int lineNumber = 0;
    for (std::string_view line : splitLines(text)) {
        ++lineNumber;
        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#' || line.front() == '[')
            continue;
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
        PortSetup& setup = table[port - FirstPort];
        setup = PortSetup{};

        // The kind is the first word; for a script the rest, after blanks or
        // one comma, is the file name.
        std::size_t wordEnd = 0;
        while (wordEnd < value.size() && value[wordEnd] != ',' && value[wordEnd] != ' '
               && value[wordEnd] != '\t')
            ++wordEnd;
        const std::string_view word = value.substr(0, wordEnd);
        std::string_view rest = trim(value.substr(wordEnd));
        if (!rest.empty() && rest.front() == ',')
            rest = trim(rest.substr(1));

        if (equalsIgnoreCase(word, "absent") && rest.empty()) {
            setup.kind = PortKind::Absent;
        } else if (equalsIgnoreCase(word, "simulated") && rest.empty()) {
            setup.kind = PortKind::Simulated;
        } else if (equalsIgnoreCase(word, "script")) {
            if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
                rest = rest.substr(1, rest.size() - 2);
            if (rest.empty()) {
                warn(warnings, lineNumber, "script without a file name; COM" + std::to_string(port)
                                               + " is absent");
                continue;
            }
            setup.kind = PortKind::Script;
            setup.scriptPath = std::string(rest);
        } else {
            warn(warnings, lineNumber, "unknown value \"" + std::string(value) + "\"; COM"
                                           + std::to_string(port) + " is absent");
        }
    }
    return table;
}

PortTable loadPortConfig(const std::string& path, std::vector<std::string>* warnings)
{
    std::string text;
    std::string error;
    switch (readRegularFile(path, MaxConfigBytes, text, error)) {
    case FileReadResult::Missing:
        return defaultPorts();
    case FileReadResult::Refused:
        if (warnings)
            warnings->push_back(path + ": " + error + "; every port is absent");
        return PortTable{};
    case FileReadResult::Ok:
        break;
    }
    return parsePortConfig(text, warnings);
}

} // namespace trovport
