#include "APIimp.h"

#include <QDir>
#include <QFileInfo>

#ifdef _WIN32
#include <windows.h>
#else
#include <QLibrary>
#endif

namespace {

// The five functions, with the ordinals the maker's Windows build exports
// them under. The order here is the order of the members of Functions.
struct Entry {
    const char* name;
    int ordinal;
};
constexpr Entry entries[5] = {
    {TROVPORT_OPEN_METER_PORT, 1},
    {TROVPORT_READ_SALINITY, 7},
    {TROVPORT_READ_COMPENSATED, 11},
    {TROVPORT_READ_UNCOMPENSATED, 12},
    {TROVPORT_READ_TEMPERATURE, 5},
};

QString displayPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

struct DriverLibrary::Private {
    QString path;
#ifdef _WIN32
    HMODULE module = nullptr;
#else
    QLibrary library;
#endif
    OpenMeterPortFn open = nullptr;
    ReadMeasurementFn read[4] = {}; // salinity, compensated, uncompensated, temperature

    ~Private()
    {
#ifdef _WIN32
        if (module)
            FreeLibrary(module);
#else
        if (library.isLoaded())
            library.unload();
#endif
    }
};

DriverLibrary::DriverLibrary(std::unique_ptr<Private> d) : d_(std::move(d)) {}

DriverLibrary::~DriverLibrary() = default;

std::unique_ptr<DriverLibrary> DriverLibrary::load(const QString& path, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return std::unique_ptr<DriverLibrary>();
    };

    const QFileInfo file(path);
    const QString absolute = file.absoluteFilePath();
    if (!file.isFile())
        return fail(QStringLiteral("The meter driver library '%1' does not exist.")
                        .arg(displayPath(absolute)));

    auto d = std::make_unique<Private>();
    d->path = absolute;
    void* resolved[5] = {};

#ifdef _WIN32
    d->module = LoadLibraryW(reinterpret_cast<const wchar_t*>(absolute.utf16()));
    if (!d->module)
        return fail(QStringLiteral("The meter driver library '%1' cannot be loaded (error %2).")
                        .arg(displayPath(absolute))
                        .arg(GetLastError()));
    for (int i = 0; i < 5; ++i) {
        resolved[i] = reinterpret_cast<void*>(
            GetProcAddress(d->module, MAKEINTRESOURCEA(entries[i].ordinal)));
        if (!resolved[i])
            return fail(QStringLiteral("The meter driver library '%1' does not provide the "
                                       "function %2 (ordinal %3).")
                            .arg(displayPath(absolute), QLatin1String(entries[i].name))
                            .arg(entries[i].ordinal));
    }
#else
    // When the exact file is missing (it may vanish after the check above),
    // QLibrary goes on to try "lib" prefixes and ".so" suffixes; only the
    // file that was asked for will do.
    d->library.setFileName(absolute);
    if (!d->library.load())
        return fail(QStringLiteral("The meter driver library '%1' cannot be loaded: %2")
                        .arg(displayPath(absolute), d->library.errorString()));
    if (QFileInfo(d->library.fileName()).canonicalFilePath() != file.canonicalFilePath())
        return fail(QStringLiteral("The meter driver library '%1' cannot be loaded: "
                                   "'%2' was found instead.")
                        .arg(displayPath(absolute), displayPath(d->library.fileName())));
    for (int i = 0; i < 5; ++i) {
        resolved[i] = reinterpret_cast<void*>(d->library.resolve(entries[i].name));
        if (!resolved[i])
            return fail(QStringLiteral("The meter driver library '%1' does not provide the "
                                       "function %2.")
                            .arg(displayPath(absolute), QLatin1String(entries[i].name)));
    }
#endif

    d->open = reinterpret_cast<OpenMeterPortFn>(resolved[0]);
    for (int i = 0; i < 4; ++i)
        d->read[i] = reinterpret_cast<ReadMeasurementFn>(resolved[i + 1]);
    if (error)
        error->clear();
    return std::unique_ptr<DriverLibrary>(new DriverLibrary(std::move(d)));
}

std::unique_ptr<DriverLibrary> DriverLibrary::loadFromWorkingDirectory(QString* error)
{
    return load(QFileInfo(QLatin1String(DriverFileName)).absoluteFilePath(), error);
}

QString DriverLibrary::filePath() const
{
    return d_->path;
}

bool DriverLibrary::OpenMeterPort(int port, int speed, THandle& handle)
{
    return d_->open(port, speed, &handle) != 0;
}

void DriverLibrary::ReadSalinity(THandle handle, int model, MeasuredValue& value)
{
    d_->read[0](handle, model, &value);
}

void DriverLibrary::ReadCompensatedConductivity(THandle handle, int model, MeasuredValue& value)
{
    d_->read[1](handle, model, &value);
}

void DriverLibrary::ReadUncompensatedConductivity(THandle handle, int model, MeasuredValue& value)
{
    d_->read[2](handle, model, &value);
}

void DriverLibrary::ReadTemperature(THandle handle, int model, MeasuredValue& value)
{
    d_->read[3](handle, model, &value);
}

bool DriverFilePresent()
{
    // A folder of that name is no driver.
    return QFileInfo(QLatin1String(DriverFileName)).isFile();
}
