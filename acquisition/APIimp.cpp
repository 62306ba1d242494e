#include "APIimp.h"
#include "APIimp_p.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The five functions, with the ordinals the maker's Windows build exports
// them under. The order here is the order of the members of Functions.
constexpr DriverEntry entries[5] = {
    {TROVPORT_OPEN_METER_PORT, 1},
    {TROVPORT_READ_SALINITY, 7},
    {TROVPORT_READ_COMPENSATED, 11},
    {TROVPORT_READ_UNCOMPENSATED, 12},
    {TROVPORT_READ_TEMPERATURE, 5},
};

} // namespace

QString displayPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

struct DriverLibrary::Private {
    QString path;
    std::unique_ptr<LoadedLibrary> library;
    OpenMeterPortFn open = nullptr;
    ReadMeasurementFn read[4] = {}; // salinity, compensated, uncompensated, temperature
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
    QString why;
    d->library = loadLibraryFile(absolute, why);
    if (!d->library)
        return fail(why);
    void* resolved[5] = {};
    for (int i = 0; i < 5; ++i) {
        resolved[i] = d->library->resolve(entries[i]);
        if (!resolved[i])
            return fail(QStringLiteral("The meter driver library '%1' does not provide the "
                                       "function %2.")
                            .arg(displayPath(absolute), QLatin1String(entries[i].name)));
    }

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
