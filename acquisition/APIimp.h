#pragma once
// The binding of the meter driver library trovport.dll: the record its
// reading functions fill, the model code they are given, and the five
// functions behind an interface that tests can replace.
#include "Handles.h"
#include "trovport_abi.h" // MeasuredValue

#include <QString>
#include <memory>
#include <type_traits>

static_assert(std::is_same_v<THandle, TrovportHandle>,
              "the driver hands out the operating system's own port handle");

// The meter's model number, passed in every reading call.
inline constexpr std::int32_t ModelCode = 5926;
static_assert(ModelCode == TrovportModel5926);

// The driver's file name, looked up in the working folder.
inline constexpr const char* DriverFileName = "trovport.dll";

// The five driver functions the program uses. The reading functions' results
// are of no interest to the program: everything it needs is in the record.
class MeterDriver {
public:
    virtual ~MeterDriver() = default;

    // Opens COM`port` at `speed` baud. True when the port is open; `handle`
    // then holds its handle, which the caller releases with CloseHandle.
    virtual bool OpenMeterPort(int port, int speed, THandle& handle) = 0;
    virtual void ReadSalinity(THandle handle, int model, MeasuredValue& value) = 0;
    virtual void ReadCompensatedConductivity(THandle handle, int model, MeasuredValue& value) = 0;
    virtual void ReadUncompensatedConductivity(THandle handle, int model, MeasuredValue& value) = 0;
    virtual void ReadTemperature(THandle handle, int model, MeasuredValue& value) = 0;
};

// The real driver, bound at run time from its library file.
class DriverLibrary final : public MeterDriver {
public:
    // Loads the library at `path` and binds all five functions (by name; on
    // Windows by ordinal). nullptr when the file is missing, is not a
    // loadable library, or lacks one of the functions; `error` (if given)
    // then holds a text for the operator naming the file and what is wrong.
    static std::unique_ptr<DriverLibrary> load(const QString& path, QString* error = nullptr);
    // The same for trovport.dll in the current working folder.
    static std::unique_ptr<DriverLibrary> loadFromWorkingDirectory(QString* error = nullptr);

    ~DriverLibrary() override;
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // The absolute path of the loaded file.
    QString filePath() const;

    bool OpenMeterPort(int port, int speed, THandle& handle) override;
    void ReadSalinity(THandle handle, int model, MeasuredValue& value) override;
    void ReadCompensatedConductivity(THandle handle, int model, MeasuredValue& value) override;
    void ReadUncompensatedConductivity(THandle handle, int model, MeasuredValue& value) override;
    void ReadTemperature(THandle handle, int model, MeasuredValue& value) override;

private:
    struct Private;
    explicit DriverLibrary(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d_;
};

// True when a file (not a folder) named trovport.dll exists in the current
// working folder.
bool DriverFilePresent();
