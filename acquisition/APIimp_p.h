#pragma once
// The system's side of the driver binding: loading exactly one library file
// and finding its functions, one per system.
#include <QString>
#include <memory>

struct DriverEntry {
    const char* name;
    int ordinal;
};

class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default; // unloads the library
    // The entry's function, nullptr when the library lacks it.
    virtual void* resolve(const DriverEntry& entry) = 0;
};

// Loads the library file at the absolute `path`, never another one found in
// its place. nullptr when that fails; `error` then holds the operator's text.
std::unique_ptr<LoadedLibrary> loadLibraryFile(const QString& path, QString& error);

// The path as the operator knows paths.
QString displayPath(const QString& path);
