// The maker's driver through the bridge against the stand-in, in one run:
// one acquisition tick (the four reading calls, through the program's own
// binding) on a port of kind windows (the 32-bit test driver under Wine) and
// on the stand-in's simulated meter; then what a start of the helper costs
// on a prefix that is ready but with no Wine session running, as at the
// program's start, and an open on a helper that runs, as at Start.
// Goals: a tick under 1 ms, a helper start under 2 s.
#include "APIimp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

QString binDir()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

std::unique_ptr<DriverLibrary> library;
THandle bridged = -1;
THandle standIn = -1;

std::unique_ptr<DriverLibrary> load()
{
    QString error;
    auto lib = DriverLibrary::load(binDir() + QStringLiteral("/trovport.dll"), &error);
    if (!lib)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return lib;
}

void tick(benchmark::State& state, THandle handle)
{
    MeasuredValue m[4]{};
    for (auto _ : state) {
        library->ReadSalinity(handle, ModelCode, m[0]);
        library->ReadCompensatedConductivity(handle, ModelCode, m[1]);
        library->ReadUncompensatedConductivity(handle, ModelCode, m[2]);
        library->ReadTemperature(handle, ModelCode, m[3]);
        benchmark::DoNotOptimize(m);
    }
    if (m[0].Status != 0)
        state.SkipWithError("the reading failed");
}

void BM_TickStandIn(benchmark::State& state)
{
    tick(state, standIn);
}

void BM_TickBridge(benchmark::State& state)
{
    tick(state, bridged);
}

// Open and close on the running helper: the cost of Start after the port
// test has brought the helper up.
void BM_OpenOnRunningHelper(benchmark::State& state)
{
    for (auto _ : state) {
        THandle h = -1;
        if (!library->OpenMeterPort(1, 4800, h)) {
            state.SkipWithError("the open failed");
            break;
        }
        ::close(h);
    }
}

// Load the library and open the port: the helper and Wine's session start.
// The unload that ends them both is not timed.
void BM_HelperStart(benchmark::State& state)
{
    ::close(bridged);
    ::close(standIn);
    library.reset();
    for (auto _ : state) {
        auto lib = load();
        THandle h = -1;
        if (!lib || !lib->OpenMeterPort(1, 4800, h)) {
            state.SkipWithError("the open failed");
            break;
        }
        state.PauseTiming();
        ::close(h);
        lib.reset();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_TickStandIn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickBridge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenOnRunningHelper)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_HelperStart)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    const QString dll = binDir() + QStringLiteral("/testdriver32.dll");
    if (!QFileInfo::exists(dll) || !QFileInfo::exists(binDir() + "/trovport-host.exe")) {
        std::fprintf(stderr, "bench_bridge: the 32-bit test driver or the helper was not built "
                             "(no MinGW-w64 compiler)\n");
        return 0;
    }
    // A prefix of the benchmark's own; the first open makes it.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QDir().mkpath(QStringLiteral("maker"));
    QFile::copy(dll, QStringLiteral("maker/trovport.dll"));
    QFile script(QStringLiteral("maker/trovport.txt"));
    script.open(QIODevice::WriteOnly);
    script.write("4041800000000000 0 3FAB2FEC56D5CFAB 0 3FA8ADAB9F559B3D 0 4035800000000000 0\n");
    script.close();
    QFile ini(QStringLiteral("trovport.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("COM1=windows maker/trovport.dll\nCOM2=simulated\n");
    ini.close();

    library = load();
    if (!library || !library->OpenMeterPort(1, 4800, bridged)
        || !library->OpenMeterPort(2, 4800, standIn)) {
        std::fprintf(stderr, "bench_bridge: the ports did not open\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    library.reset();
    return 0;
}
