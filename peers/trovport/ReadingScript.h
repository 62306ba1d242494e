#pragma once
// Scripted meter readings: one CSV line per set of four reading calls.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trovport {

// The four quantities in the order of the CSV columns and of the reading
// calls the program makes in one tick.
enum Quantity { Salinity = 0, Compensated = 1, Uncompensated = 2, Temperature = 3 };
inline constexpr int QuantityCount = 4;

struct ScriptLine {
    std::array<double, QuantityCount> value{};
    std::array<std::int32_t, QuantityCount> status{};
};

// Parses `salinity,status,comp,status,uncomp,status,temp,status` lines
// (conductivities in S). Blank lines and lines starting with '#' are
// skipped. Any other line must hold exactly eight fields: a decimal number
// with '.' as the separator and a whole 32-bit status, alternately. On the
// first bad line: false, with `error` naming the line.
bool parseReadingScript(std::string_view text, std::vector<ScriptLine>& lines, std::string& error);

// Generous for any run a bench would script, small enough that the program
// that loads the library can afford it.
inline constexpr std::size_t MaxScriptBytes = std::size_t(64) << 20;

// Reads and parses a script file; a file that cannot be read, is not a
// regular file of at most MaxScriptBytes, is malformed or holds no reading
// at all gives false and an error text.
bool loadReadingScript(const std::string& path, std::vector<ScriptLine>& lines, std::string& error);

} // namespace trovport
