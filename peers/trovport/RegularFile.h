#pragma once
// Reading the driver's own files (trovport.ini, script CSVs) so that a name
// that leads to a device, a FIFO or a huge file can neither hang the program
// that loaded the library nor exhaust its memory.
#include <cstddef>
#include <string>

namespace trovport {

enum class FileReadResult {
    Ok,      // the whole file is in `text`
    Missing, // nothing under that name (or a link that leads nowhere)
    Refused, // there is something, but not a readable regular file within the limit
};

// Reads the regular file `path` whole, when it holds at most `limit` bytes.
// Anything else (a FIFO, a device, a folder, a longer file, a read error) is
// refused with `error` saying why, without ever waiting on the file.
FileReadResult readRegularFile(const std::string& path, std::size_t limit, std::string& text,
                               std::string& error);

// "64 MiB", "1 MiB", or the number of bytes when it is not whole MiB.
std::string describeSize(std::size_t bytes);

} // namespace trovport
