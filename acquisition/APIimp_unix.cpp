#include "APIimp_p.h"

#include <QFileInfo>
#include <QLibrary>

namespace {

class SharedObject final : public LoadedLibrary {
public:
    ~SharedObject() override
    {
        if (library.isLoaded())
            library.unload();
    }
    void* resolve(const DriverEntry& entry) override
    {
        return reinterpret_cast<void*>(library.resolve(entry.name));
    }

    QLibrary library;
};

} // namespace

std::unique_ptr<LoadedLibrary> loadLibraryFile(const QString& path, QString& error)
{
    auto loaded = std::make_unique<SharedObject>();
    // When the exact file is missing (it may vanish after the caller's
    // check), QLibrary goes on to try "lib" prefixes and ".so" suffixes; only
    // the file that was asked for will do.
    loaded->library.setFileName(path);
    if (!loaded->library.load()) {
        error = QStringLiteral("The meter driver library '%1' cannot be loaded: %2")
                    .arg(displayPath(path), loaded->library.errorString());
        return nullptr;
    }
    if (QFileInfo(loaded->library.fileName()).canonicalFilePath()
        != QFileInfo(path).canonicalFilePath()) {
        error = QStringLiteral("The meter driver library '%1' cannot be loaded: "
                               "'%2' was found instead.")
                    .arg(displayPath(path), displayPath(loaded->library.fileName()));
        return nullptr;
    }
    return loaded;
}
