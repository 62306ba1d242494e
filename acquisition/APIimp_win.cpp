#include "APIimp_p.h"

#include <QDir>
#include <QFileInfo>

#include <iterator>

#include <windows.h>

namespace {

class Module final : public LoadedLibrary {
public:
    explicit Module(HMODULE handle) : module(handle) {}
    ~Module() override { FreeLibrary(module); }
    void* resolve(const DriverEntry& entry) override
    {
        // The maker's library exports its functions by ordinal alone.
        return reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal)));
    }

    HMODULE module;
};

// The system's text for `code`; a "%1" in it stands for the file.
QString systemMessage(DWORD code, const QString& file)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = n ? QString::fromWCharArray(text, int(n)).trimmed() : QString();
    if (text)
        LocalFree(text);
    if (message.isEmpty())
        return QStringLiteral("error %1").arg(code);
    return message.replace(QLatin1String("%1"), file);
}

QString modulePath(HMODULE module)
{
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(module, buffer, DWORD(std::size(buffer)));
    return n && n < std::size(buffer) ? QString::fromWCharArray(buffer, int(n)) : QString();
}

} // namespace

std::unique_ptr<LoadedLibrary> loadLibraryFile(const QString& path, QString& error)
{
    // By its full path only: a bare name would send the loader through the
    // search path (the program's folder, the system folders, PATH) and bind
    // whatever trovport.dll it met first. The altered search order makes the
    // driver's own imports resolve from its folder too.
    const QString native = QDir::toNativeSeparators(path);
    // No "file not found" box from the system if the file vanishes now.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE module = LoadLibraryExW(reinterpret_cast<const wchar_t*>(native.utf16()),
                                          nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetErrorMode(previousMode);
    if (!module) {
        error = QStringLiteral("The meter driver library '%1' cannot be loaded: %2")
                    .arg(displayPath(path), systemMessage(code, displayPath(path)));
        return nullptr;
    }
    auto loaded = std::make_unique<Module>(module);
    const QString found = modulePath(module);
    if (QFileInfo(found).canonicalFilePath().compare(QFileInfo(path).canonicalFilePath(),
                                                     Qt::CaseInsensitive)
        != 0) {
        error = QStringLiteral("The meter driver library '%1' cannot be loaded: "
                               "'%2' was found instead.")
                    .arg(displayPath(path), displayPath(found));
        return nullptr;
    }
    return loaded;
}
