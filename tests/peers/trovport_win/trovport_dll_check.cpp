// Binds the Windows build of the stand-in driver the way the program does:
// LoadLibrary by full path, GetProcAddress by ordinal, stdcall. Plain Win32,
// no Qt, so it runs under Wine before anything else of the program does.
//
//   trovport_dll_check.exe <path of trovport.dll>
//
// Works in a fresh folder of its own under %TEMP%, since the driver reads
// trovport.ini from the working folder. Prints PASS/FAIL per case and exits
// with the number of failed cases.
#include "trovport_abi.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int failures = 0;
bool caseFailed = false;

void fail(const char* what, double got = NAN)
{
    caseFailed = true;
    if (std::isnan(got))
        std::printf("    %s\n", what);
    else
        std::printf("    %s (got %.9g)\n", what, got);
}

#define CHECK(cond)                                                                            \
    do {                                                                                       \
        if (!(cond))                                                                           \
            fail(#cond);                                                                       \
    } while (0)
#define CHECK_VALUE(cond, value)                                                               \
    do {                                                                                       \
        if (!(cond))                                                                           \
            fail(#cond, double(value));                                                        \
    } while (0)

template <typename Body> void runCase(const char* name, Body body)
{
    caseFailed = false;
    body();
    std::printf("%s %s\n", caseFailed ? "FAIL" : "PASS", name);
    std::fflush(stdout);
    if (caseFailed)
        ++failures;
}

struct Driver {
    HMODULE module = nullptr;
    OpenMeterPortFn open = nullptr;
    ReadMeasurementFn salinity = nullptr;      // ordinal 7
    ReadMeasurementFn compensated = nullptr;   // ordinal 11
    ReadMeasurementFn uncompensated = nullptr; // ordinal 12
    ReadMeasurementFn temperature = nullptr;   // ordinal 5
};
Driver driver;

void* byOrdinal(int ordinal)
{
    return reinterpret_cast<void*>(GetProcAddress(driver.module, MAKEINTRESOURCEA(ordinal)));
}

void writeText(const char* name, const char* text)
{
    FILE* file = std::fopen(name, "wb");
    if (!file) {
        fail("cannot write a file in the working folder");
        return;
    }
    std::fputs(text, file);
    std::fclose(file);
}

// One reading through `read`, on an area filled with a pattern first, so a
// field the driver forgets to write, or padding it touches, shows.
struct Reading {
    double value;
    std::int32_t status;
    std::int32_t returned;
    bool paddingKept;
};
Reading readOne(ReadMeasurementFn read, TrovportHandle handle,
                std::int32_t model = TrovportModel5926)
{
    MeasuredValue area;
    std::memset(&area, 0xA5, sizeof area);
    const std::int32_t returned = read(handle, model, &area);
    std::int32_t padding = 0;
    std::memset(&padding, 0xA5, sizeof padding);
    return {area.Value, area.Status, returned, area.Padding == padding};
}

// Calls `function` with three arguments on the stack and reports how far the
// stack pointer moved: 0 when the callee removed its arguments (stdcall),
// -12 when it left them for the caller (cdecl).
int stackMoveAcrossCall(void* function, TrovportHandle handle, MeasuredValue* out)
{
    int moved = 0;
    asm volatile("movl %%esp, %%esi\n\t"
                 "pushl %[out]\n\t"
                 "pushl %[model]\n\t"
                 "pushl %[handle]\n\t"
                 "call *%[function]\n\t"
                 "movl %%esp, %%ecx\n\t"
                 "subl %%esi, %%ecx\n\t"
                 "movl %%esi, %%esp\n\t"
                 : "=c"(moved)
                 : [function] "r"(function), [out] "r"(out), [model] "i"(TrovportModel5926),
                   [handle] "r"(handle)
                 : "eax", "edx", "esi", "memory", "cc");
    return moved;
}

std::string makeWorkingFolder()
{
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return {};
    const std::string folder =
        std::string(temp) + "trovport-check-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return SetCurrentDirectoryA(folder.c_str()) ? folder : std::string();
}

void removeWorkingFolder(const std::string& folder)
{
    SetCurrentDirectoryA("..");
    for (const char* name : {"trovport.ini", "run.csv"})
        DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA((folder + "\\trovport.ini").c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <path of trovport.dll>\n", argv[0]);
        return 100;
    }
    char dllPath[MAX_PATH];
    if (!GetFullPathNameA(argv[1], MAX_PATH, dllPath, nullptr)) {
        std::fprintf(stderr, "bad path %s\n", argv[1]);
        return 100;
    }
    const std::string folder = makeWorkingFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "no working folder under %%TEMP%%\n");
        return 100;
    }
    driver.module = LoadLibraryA(dllPath);
    if (!driver.module) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", dllPath, GetLastError());
        return 100;
    }

    runCase("allFiveOrdinalsResolveAndNoNames", [] {
        for (int ordinal : {1, 5, 7, 11, 12})
            CHECK_VALUE(byOrdinal(ordinal) != nullptr, ordinal);
        // The numbering leaves gaps; nothing sits in them.
        for (int ordinal : {2, 3, 4, 6, 8, 9, 10, 13})
            CHECK_VALUE(byOrdinal(ordinal) == nullptr, ordinal);
        for (const char* name : {"OpenMeterPort", "ReadSalinity", "ReadTemperature",
                                 "ReadCompensatedConductivity", "ReadUncompensatedConductivity",
                                 "_OpenMeterPort@12", "OpenMeterPort@12"}) {
            if (GetProcAddress(driver.module, name))
                fail((std::string("exported by name: ") + name).c_str());
        }
    });
    driver.open = reinterpret_cast<OpenMeterPortFn>(byOrdinal(1));
    driver.temperature = reinterpret_cast<ReadMeasurementFn>(byOrdinal(5));
    driver.salinity = reinterpret_cast<ReadMeasurementFn>(byOrdinal(7));
    driver.compensated = reinterpret_cast<ReadMeasurementFn>(byOrdinal(11));
    driver.uncompensated = reinterpret_cast<ReadMeasurementFn>(byOrdinal(12));
    if (!driver.open || !driver.temperature || !driver.salinity || !driver.compensated
        || !driver.uncompensated) {
        std::printf("FAIL: the driver lacks ordinals; nothing more to try\n");
        removeWorkingFolder(folder);
        return failures;
    }

    runCase("functionsAreStdcall", [] {
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, TrovportBaudRate, &handle));
        MeasuredValue area {};
        for (ReadMeasurementFn read :
             {driver.salinity, driver.compensated, driver.uncompensated, driver.temperature})
            CHECK_VALUE(stackMoveAcrossCall(reinterpret_cast<void*>(read), handle, &area) == 0,
                        stackMoveAcrossCall(reinterpret_cast<void*>(read), handle, &area));
        CloseHandle(handle);
    });

    runCase("simulatedMeterOnCom1ByDefault", [] {
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, TrovportBaudRate, &handle) != 0);
        CHECK(handle != nullptr && handle != INVALID_HANDLE_VALUE);
        // The order of a tick: 7, 11, 12, 5.
        for (int set = 0; set < 50; ++set) {
            const Reading s = readOne(driver.salinity, handle);
            const Reading c = readOne(driver.compensated, handle);
            const Reading u = readOne(driver.uncompensated, handle);
            const Reading t = readOne(driver.temperature, handle);
            for (const Reading& r : {s, c, u, t}) {
                CHECK_VALUE(r.status == 0, r.status);
                CHECK_VALUE(r.returned == r.status, r.returned);
                CHECK(r.paddingKept);
            }
            CHECK_VALUE(s.value >= 34.7 && s.value <= 35.3, s.value);
            CHECK_VALUE(t.value >= 20.7 && t.value <= 24.3, t.value);
            // Both in S: a mS slip would be a thousand times off.
            CHECK_VALUE(u.value >= 0.048 && u.value <= 0.052, u.value);
            CHECK_VALUE(c.value >= 0.0525 && c.value <= 0.0537, c.value);
            // Water below 25 °C conducts less than when referred to 25 °C.
            CHECK_VALUE(u.value < c.value, u.value - c.value);
        }
        CHECK(CloseHandle(handle));
    });

    runCase("onlyFourThousandEightHundredBaudOpens", [] {
        for (std::int32_t speed : {9600, 2400, 19200, 0, -4800}) {
            TrovportHandle handle = nullptr;
            CHECK_VALUE(driver.open(1, speed, &handle) == 0, speed);
            CHECK_VALUE(handle == INVALID_HANDLE_VALUE, speed);
        }
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, 4800, &handle) != 0);
        CHECK(CloseHandle(handle));
    });

    runCase("onlyComOneHoldsAMeterWithoutIni", [] {
        for (std::int32_t port : {0, 2, 3, 4, 5, -1}) {
            TrovportHandle handle = nullptr;
            CHECK_VALUE(driver.open(port, TrovportBaudRate, &handle) == 0, port);
            CHECK_VALUE(handle == INVALID_HANDLE_VALUE, port);
        }
    });

    runCase("closeHandleClosesThePort", [] {
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, TrovportBaudRate, &handle) != 0);
        DWORD flags = 0;
        CHECK(GetHandleInformation(handle, &flags));
        CHECK(CloseHandle(handle));
        CHECK(!GetHandleInformation(handle, &flags));
        const Reading r = readOne(driver.salinity, handle);
        CHECK_VALUE(r.status == -1, r.status);
        CHECK_VALUE(r.value == 0.0, r.value);
    });

    runCase("reusedHandleNumberIsNotThePort", [] {
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, TrovportBaudRate, &handle) != 0);
        CHECK(CloseHandle(handle));
        // The system hands freed numbers out again; catch one.
        std::vector<HANDLE> others;
        bool reused = false;
        for (int i = 0; i < 64 && !reused; ++i) {
            others.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            reused = others.back() == handle;
        }
        if (reused) {
            const Reading r = readOne(driver.temperature, handle);
            CHECK_VALUE(r.status == -1, r.status);
        } else {
            std::printf("    (the handle number was not reused; nothing to check)\n");
        }
        for (HANDLE other : others)
            CloseHandle(other);
    });

    runCase("wrongModelIsRefused", [] {
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, TrovportBaudRate, &handle) != 0);
        const Reading r = readOne(driver.compensated, handle, 5925);
        CHECK_VALUE(r.status == -2, r.status);
        CHECK_VALUE(r.value == 0.0, r.value);
        CHECK(CloseHandle(handle));
    });

    runCase("scriptPortFromIniDeliversEachColumn", [] {
        writeText("trovport.ini", "; set-up of the check\r\n[Ports]\r\nCOM1=absent\r\n"
                                  "COM3 = script \"run.csv\"\r\n");
        writeText("run.csv", "# salinity,status,comp,status,uncomp,status,temp,status\r\n"
                             "35.12,0,0.053100,0,0.048200,0,21.50,0\r\n"
                             "35.10,3,0.053000,1,0.048100,8,-2.5,10\r\n");
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, TrovportBaudRate, &handle) == 0);
        CHECK(driver.open(3, TrovportBaudRate, &handle) != 0);
        Reading s = readOne(driver.salinity, handle);
        Reading c = readOne(driver.compensated, handle);
        Reading u = readOne(driver.uncompensated, handle);
        Reading t = readOne(driver.temperature, handle);
        CHECK_VALUE(s.value == 35.12 && s.status == 0, s.value);
        CHECK_VALUE(c.value == 0.0531 && c.status == 0, c.value);
        CHECK_VALUE(u.value == 0.0482 && u.status == 0, u.value);
        CHECK_VALUE(t.value == 21.5 && t.status == 0, t.value);
        // The line advances after the temperature only.
        s = readOne(driver.salinity, handle);
        s = readOne(driver.salinity, handle);
        c = readOne(driver.compensated, handle);
        u = readOne(driver.uncompensated, handle);
        t = readOne(driver.temperature, handle);
        CHECK_VALUE(s.value == 35.10 && s.status == 3 && s.returned == 3, s.status);
        CHECK_VALUE(c.value == 0.053 && c.status == 1, c.status);
        CHECK_VALUE(u.value == 0.0481 && u.status == 8, u.status);
        CHECK_VALUE(t.value == -2.5 && t.status == 10, t.status);
        // And starts again after the last line.
        s = readOne(driver.salinity, handle);
        CHECK_VALUE(s.value == 35.12 && s.status == 0, s.value);
        CHECK(CloseHandle(handle));
    });

    runCase("unreadableFilesMakePortsAbsent", [] {
        // A script that names a device is refused without opening it.
        writeText("trovport.ini", "COM1=script NUL\r\nCOM2=script missing.csv\r\n");
        TrovportHandle handle = nullptr;
        CHECK(driver.open(1, TrovportBaudRate, &handle) == 0);
        CHECK(driver.open(2, TrovportBaudRate, &handle) == 0);
        // A folder under the configuration's name: every port is absent,
        // even COM1, which holds a meter without any file.
        DeleteFileA("trovport.ini");
        CHECK(CreateDirectoryA("trovport.ini", nullptr));
        CHECK(driver.open(1, TrovportBaudRate, &handle) == 0);
        RemoveDirectoryA("trovport.ini");
        CHECK(driver.open(1, TrovportBaudRate, &handle) != 0);
        CHECK(CloseHandle(handle));
    });

    FreeLibrary(driver.module);
    removeWorkingFolder(folder);
    std::printf("%d case(s) failed\n", failures);
    return failures;
}
