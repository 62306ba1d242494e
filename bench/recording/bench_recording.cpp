// One acquisition tick on the real main window (driver calls, texts, the
// new row with its list view, the displays, the status bar) must cost the
// same with 10 rows and with a million rows in the list; and the memory a
// million rows add, as the list counts it and as the process's resident set
// grows. At the end the tick ratios (million rows / 10 rows) are printed.
//
//   bench_recording                                  all of it
//   bench_recording --benchmark_filter=Memory        the memory figures only
#include "APIimp.h"
#include "AppWindows.h"
#include "Fmain.h"
#include "RecordList.h"
#include "RegionalSettings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

namespace {

// A meter that always answers with the same sea-water reading.
class SteadyMeter final : public MeterDriver {
public:
    bool OpenMeterPort(int, int, THandle&) override { return false; }
    void ReadSalinity(THandle, int, MeasuredValue& v) override { set(v, 35.012); }
    void ReadCompensatedConductivity(THandle, int, MeasuredValue& v) override { set(v, 0.0531234); }
    void ReadUncompensatedConductivity(THandle, int, MeasuredValue& v) override { set(v, 0.0498765); }
    void ReadTemperature(THandle, int, MeasuredValue& v) override { set(v, 21.34); }

private:
    static void set(MeasuredValue& v, double value)
    {
        v.Value = value;
        v.Status = 0;
    }
};

const QByteArray Caption("09:05:07");
const std::array<QByteArray, 4> TypicalRow = {QByteArray("35.0"), QByteArray("53.123400"),
                                              QByteArray("49.876500"), QByteArray("21.3")};

void fillTo(int rows)
{
    Main->Records->clear();
    for (int i = 0; i < rows; ++i)
        Main->Records->appendRow(Caption, TypicalRow);
    // Let the view catch up (its layout is deferred to the event loop).
    QCoreApplication::processEvents();
}

double residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    double pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * double(sysconf(_SC_PAGESIZE));
}

// Ticks per run: bounded, so the lists stay near their sizes while measured.
constexpr int Ticks = 200;

// What a million rows add: the list's own count of its bytes, and the growth
// of the process's resident set (which also holds the view's per-row state).
void BM_MemoryOfMillionRows(benchmark::State& state)
{
    constexpr double Rows = 1000000;
    for (auto _ : state) {
        fillTo(0);
        const double rssBefore = residentBytes();
        const std::size_t before = Main->Records->memoryBytes();
        fillTo(int(Rows));
        const std::size_t after = Main->Records->memoryBytes();
        const double rssAfter = residentBytes();
        state.counters["list_bytes_per_row"] = double(after - before) / Rows;
        state.counters["rss_bytes_per_row"] = (rssAfter - rssBefore) / Rows;
        fillTo(0);
    }
}
// Registered first, so it runs while the process's heap is still fresh.
BENCHMARK(BM_MemoryOfMillionRows)->Iterations(1)->Unit(benchmark::kMillisecond);

// The tick alone, as Start and the timer run it.
void BM_Tick(benchmark::State& state)
{
    fillTo(int(state.range(0)));
    for (auto _ : state)
        Main->AcquisitionTick();
    state.counters["rows_at_end"] = double(Main->Records->rowCount());
}
BENCHMARK(BM_Tick)
    ->Arg(10)
    ->Arg(1000000)
    ->Iterations(Ticks)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// Which view shows the record list while a tick runs.
enum ListViewKind { WindowView, NoView };

// Puts the chosen view over the list for the lifetime of this object.
class ViewChoice {
public:
    explicit ViewChoice(ListViewKind kind) : hidden_(kind == NoView)
    {
        if (!hidden_)
            return;
        Main->ListView->setModel(nullptr);
        Main->ListView->hide();
    }
    ~ViewChoice()
    {
        if (!hidden_)
            return;
        Main->ListView->setModel(Main->Records);
        Main->ListView->show();
    }

private:
    bool hidden_;
};

// The tick and the event-loop work it causes before the next timer event:
// the view's deferred layout and the repaint of the window. Also with no
// view at all, to show where the cost of a long list lies.
void BM_TickWithEvents(benchmark::State& state)
{
    ViewChoice view(ListViewKind(state.range(1)));
    fillTo(int(state.range(0)));
    for (auto _ : state) {
        Main->AcquisitionTick();
        QCoreApplication::processEvents();
    }
    state.counters["rows_at_end"] = double(Main->Records->rowCount());
}
BENCHMARK(BM_TickWithEvents)
    ->ArgNames({"rows", "view"})
    ->ArgsProduct({{10, 1000000}, {WindowView, NoView}})
    ->Iterations(Ticks)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// Prints the usual table and remembers each mean and median, to print the
// ratios of the million-row runs to the 10-row runs.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        double mean = 0, median = 0;
        std::string unit;
    };
    std::map<std::string, Times> times; // run name without aggregate -> times

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            Times& t = times[run.run_name.str()];
            t.unit = benchmark::GetTimeUnitString(run.time_unit);
            if (run.aggregate_name == "mean")
                t.mean = run.GetAdjustedRealTime();
            else if (run.aggregate_name == "median")
                t.median = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const
    {
        for (const auto& [name, small] : times) {
            std::string large = name;
            for (const std::string from : {"/10/", "rows:10/"}) {
                const auto at = large.find(from);
                if (at != std::string::npos) {
                    large.replace(at, from.size(), from.substr(0, from.size() - 3) + "1000000/");
                    break;
                }
            }
            const auto found = times.find(large);
            if (large == name || found == times.end() || small.mean <= 0 || small.median <= 0)
                continue;
            const Times& big = found->second;
            std::printf("%s -> 1000000 rows: mean %.1f / %.1f %s = %.2f, median %.1f / %.1f %s"
                        " = %.2f (must stay below 1.5)\n",
                        name.substr(0, name.find("/iterations")).c_str(), big.mean, small.mean,
                        small.unit.c_str(), big.mean / small.mean, big.median, small.median,
                        small.unit.c_str(), big.median / small.median);
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // No display, and never the user's own settings or runtime folder.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", (scratch.path() + "/config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (scratch.path() + "/runtime").toLocal8Bit());
    QDir().mkpath(scratch.path() + "/config");
    QDir().mkpath(scratch.path() + "/runtime");
    QFile::setPermissions(scratch.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QApplication app(argc, argv);
    RegionalSettings::fix(RegionalSettings{});

    SteadyMeter meter;
    CreateWindows(meter);
    // Shown without the show step: no settings, no port test, just the
    // window and its list view as the operator sees them.
    Main->show();
    QCoreApplication::processEvents();

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();

    DestroyWindows();
    benchmark::Shutdown();
    return 0;
}
