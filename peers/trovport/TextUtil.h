#pragma once
// Small text helpers for the driver's two file formats.
#include <string_view>
#include <vector>

namespace trovport {

// Without leading and trailing blanks, tabs, CR and LF.
std::string_view trim(std::string_view text);

// Lines split at LF; a CR before the LF stays (trim removes it). A leading
// UTF-8 byte-order mark is dropped.
std::vector<std::string_view> splitLines(std::string_view text);

bool equalsIgnoreCase(std::string_view a, std::string_view b);

} // namespace trovport
