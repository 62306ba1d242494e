#include "ReadingScript.h"

#include "RegularFile.h"
#include "TextUtil.h"

#include <charconv>

namespace trovport {

namespace {

// A whole field as a number of type T; a leading '+' is allowed, nothing
// else around the number.
template <class T>
bool parseField(std::string_view field, T& out)
{
    if (!field.empty() && field.front() == '+')
        field.remove_prefix(1);
    if (field.empty())
        return false;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
    return ec == std::errc() && end == field.data() + field.size();
}

} // namespace

bool parseReadingScript(std::string_view text, std::vector<ScriptLine>& lines, std::string& error)
{
    static const char* const names[QuantityCount] = {"salinity", "compensated conductivity",
                                                     "uncompensated conductivity", "temperature"};
    lines.clear();
    int lineNumber = 0;
    for (std::string_view raw : splitLines(text)) {
        ++lineNumber;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#')
            continue;

        std::vector<std::string_view> fields;
        std::string_view rest = line;
        for (;;) {
            const auto comma = rest.find(',');
            fields.push_back(trim(rest.substr(0, comma)));
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (fields.size() != 2 * QuantityCount) {
            error = where + "expected 8 fields, found " + std::to_string(fields.size());
            return false;
        }
        ScriptLine entry;
        for (int q = 0; q < QuantityCount; ++q) {
            if (!parseField(fields[2 * q], entry.value[q])) {
                error = where + "the " + names[q] + " value \"" + std::string(fields[2 * q])
                        + "\" is not a number";
                return false;
            }
            if (!parseField(fields[2 * q + 1], entry.status[q])) {
                error = where + "the " + names[q] + " status \"" + std::string(fields[2 * q + 1])
                        + "\" is not a whole 32-bit number";
                return false;
            }
        }
        lines.push_back(entry);
    }
    error.clear();
    return true;
}

bool loadReadingScript(const std::string& path, std::vector<ScriptLine>& lines, std::string& error)
{
    std::string text;
    switch (readRegularFile(path, MaxScriptBytes, text, error)) {
    case FileReadResult::Missing:
        error = "cannot read the script \"" + path + "\"";
        return false;
    case FileReadResult::Refused:
        error = "cannot read the script \"" + path + "\": " + error;
        return false;
    case FileReadResult::Ok:
        break;
    }
    if (!parseReadingScript(text, lines, error)) {
        error = path + " " + error;
        return false;
    }
    if (lines.empty()) {
        error = "the script \"" + path + "\" holds no reading";
        return false;
    }
    return true;
}

} // namespace trovport
