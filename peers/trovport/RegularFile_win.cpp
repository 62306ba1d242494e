#include "RegularFile.h"

#include <windows.h>

#include <cstdint>

namespace trovport {

namespace {

std::string systemError(DWORD code)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length && buffer ? std::string(buffer, length) : std::string();
    if (buffer)
        LocalFree(buffer);
    // The system's texts end in ".\r\n"; the reports around them add their own ending.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '
                             || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "error " + std::to_string(code);
    return text;
}

bool isMissing(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Names such as "COM1", "NUL" or "\\.\pipe\x" lead to devices wherever they
// appear; the system's own path resolution shows them as "\\.\<device>".
bool namesDevice(const std::string& path)
{
    char full[MAX_PATH * 2];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full && std::string(full, length).rfind("\\\\.\\", 0) == 0;
}

std::string notRegular(DWORD fileType)
{
    switch (fileType) {
    case FILE_TYPE_PIPE: return "a pipe, not a regular file";
    case FILE_TYPE_CHAR: return "a device, not a regular file";
    default: return "not a regular file";
    }
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

FileReadResult readRegularFile(const std::string& path, std::size_t limit, std::string& text,
                               std::string& error)
{
    text.clear();
    error.clear();

    // A look before opening spares devices (a serial port above all) the
    // side effects of an open; the check that counts is the one on the
    // opened handle below.
    if (namesDevice(path)) {
        error = "a device, not a regular file";
        return FileReadResult::Refused;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (isMissing(code))
            return FileReadResult::Missing;
        error = systemError(code);
        return FileReadResult::Refused;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = "a folder, not a regular file";
        return FileReadResult::Refused;
    }

    // Others may go on writing or even replacing the file while it is read.
    Handle file(CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (isMissing(code))
            return FileReadResult::Missing;
        error = systemError(code);
        return FileReadResult::Refused;
    }
    const DWORD fileType = GetFileType(file.get());
    if (fileType != FILE_TYPE_DISK) {
        error = notRegular(fileType);
        return FileReadResult::Refused;
    }
    BY_HANDLE_FILE_INFORMATION info {};
    if (!GetFileInformationByHandle(file.get(), &info)) {
        error = systemError(GetLastError());
        return FileReadResult::Refused;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = "a folder, not a regular file";
        return FileReadResult::Refused;
    }
    const std::uint64_t size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > limit) {
        error = "larger than " + describeSize(limit);
        return FileReadResult::Refused;
    }

    // The size may change while we read: read up to one byte past the limit
    // and judge by what arrived.
    std::size_t capacity = std::size_t(size) + 1;
    if (capacity > limit + 1)
        capacity = limit + 1;
    text.resize(capacity < 4096 ? 4096 : capacity);
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (got > limit)
                break;
            text.resize(got * 2 > limit + 1 ? limit + 1 : got * 2);
        }
        const std::size_t wanted = text.size() - got;
        DWORD n = 0;
        if (!ReadFile(file.get(), text.data() + got,
                      wanted > 0x40000000u ? 0x40000000u : DWORD(wanted), &n, nullptr)) {
            error = systemError(GetLastError());
            text.clear();
            return FileReadResult::Refused;
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > limit) {
        text.clear();
        error = "larger than " + describeSize(limit);
        return FileReadResult::Refused;
    }
    text.resize(got);
    return FileReadResult::Ok;
}

} // namespace trovport
