#include "WinePrefix.h"

#include "RegularFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace trovport::bridge {

namespace {

// A maker's driver is a few hundred KiB; a file far beyond that is not one,
// and the check reads the whole file.
constexpr std::size_t MaxLibraryBytes = std::size_t(64) << 20;

std::uint32_t le32(const std::string& bytes, std::size_t at)
{
    return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8
           | std::uint32_t(std::uint8_t(bytes[at + 2])) << 16
           | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
}

std::uint16_t le16(const std::string& bytes, std::size_t at)
{
    return std::uint16_t(std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8);
}

std::string hex4(unsigned value)
{
    static const char digits[] = "0123456789abcdef";
    std::string text = "0x0000";
    for (int i = 0; i < 4; ++i)
        text[5 - i] = digits[(value >> (4 * i)) & 0xf];
    return text;
}

} // namespace

std::string prefixPath(const char* xdgDataHome, const char* home)
{
    std::string data;
    if (xdgDataHome && xdgDataHome[0] == '/')
        data = xdgDataHome;
    else if (home && home[0] == '/')
        data = std::string(home) + "/.local/share";
    else
        return {};
    return data + "/trova-5926/wine";
}

std::string prefixPath()
{
    return prefixPath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

bool prefixReady(const std::string& prefix)
{
    struct stat info {};
    return ::stat((prefix + "/system.reg").c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string findProgram(const std::string& name, const char* path)
{
    if (!path)
        return {};
    const std::string folders = path;
    std::size_t from = 0;
    for (;;) {
        const std::size_t colon = folders.find(':', from);
        std::string folder = folders.substr(from, colon == std::string::npos ? colon : colon - from);
        // An empty entry is the working folder, which is no place to take
        // a program from on the driver's behalf.
        if (!folder.empty() && folder.front() == '/') {
            const std::string candidate = folder + "/" + name;
            struct stat info {};
            if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)
                && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string::npos)
            return {};
        from = colon + 1;
    }
}

bool linkSerialPort(const std::string& prefix, int port, const std::string& device,
                    std::string& error)
{
    const std::string folder = prefix + "/dosdevices";
    const std::string link = folder + "/com" + std::to_string(port);
    const std::string fresh = link + ".trovport-new";
    ::unlink(fresh.c_str());
    if (::symlink(device.c_str(), fresh.c_str()) != 0 || ::rename(fresh.c_str(), link.c_str()) != 0) {
        error = link + ": " + std::strerror(errno);
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

bool isWin32Library(const std::string& path, std::string& reason)
{
    std::string bytes;
    std::string error;
    switch (readRegularFile(path, MaxLibraryBytes, bytes, error)) {
    case FileReadResult::Missing:
        reason = "it does not exist";
        return false;
    case FileReadResult::Refused:
        reason = "it cannot be read: " + error;
        return false;
    case FileReadResult::Ok:
        break;
    }

    if (bytes.size() >= 4 && bytes.compare(0, 4, "\x7f" "ELF") == 0) {
        reason = "it is a Linux library (ELF), not the maker's Windows driver";
        return false;
    }
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) {
        reason = "it is not a Windows library";
        return false;
    }
    const std::uint32_t pe = le32(bytes, 0x3c);
    // Signature, file header (20 bytes) and the optional header's magic.
    if (pe > bytes.size() || bytes.size() - pe < 4 + 20 + 2 || bytes.compare(pe, 4, "PE\0\0", 4) != 0) {
        reason = "it is not a Windows library (an MS-DOS program or a damaged file)";
        return false;
    }
    const std::uint16_t machine = le16(bytes, pe + 4);
    const std::uint16_t characteristics = le16(bytes, pe + 4 + 18);
    const std::uint16_t magic = le16(bytes, pe + 4 + 20);
    constexpr std::uint16_t MachineI386 = 0x014c;
    constexpr std::uint16_t MachineAmd64 = 0x8664;
    constexpr std::uint16_t FileDll = 0x2000;
    constexpr std::uint16_t Pe32Magic = 0x010b;
    if (machine == MachineAmd64) {
        reason = "it is a 64-bit Windows library; the maker's 32-bit one is needed";
        return false;
    }
    if (machine != MachineI386 || magic != Pe32Magic) {
        reason = "it is a Windows file for another processor (machine " + hex4(machine) + ")";
        return false;
    }
    if (!(characteristics & FileDll)) {
        reason = "it is a Windows program, not a library";
        return false;
    }
    return true;
}

std::string absolutePath(const std::string& path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    std::string cwd(4096, '\0');
    while (!::getcwd(cwd.data(), cwd.size())) {
        if (errno != ERANGE)
            return path;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd + (cwd.back() == '/' ? "" : "/") + path;
}

} // namespace trovport::bridge
