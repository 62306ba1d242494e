// Record list: appending must cost the same on a short list and on a list of
// a million rows (a recording of more than a week at one row a second), and a
// typical row must stay small. Reading texts: the four texts of one tick.
#include "ReadingText.h"
#include "RecordList.h"
#include "RegionalSettings.h"

#include <QTime>
#include <benchmark/benchmark.h>
#include <fstream>
#include <unistd.h>

namespace {

const QByteArray Caption("09:05:07");
const std::array<QByteArray, 4> TypicalRow = {QByteArray("35.0"), QByteArray("12.500000"),
                                              QByteArray("42.123456"), QByteArray("21.3")};

// Rows appended per timed batch, and batches per run: bounded so the large
// list stays near a million rows while it is measured.
constexpr int Batch = 64;
constexpr int Batches = 2000;

void fill(RecordList& list, int rows)
{
    for (int i = 0; i < rows; ++i)
        list.appendRow(Caption, TypicalRow);
}

void BM_AppendToShortList(benchmark::State& state)
{
    RecordList list;
    for (auto _ : state) {
        state.PauseTiming();
        list.clear();
        fill(list, 10);
        state.ResumeTiming();
        for (int i = 0; i < Batch; ++i)
            benchmark::DoNotOptimize(list.appendRow(Caption, TypicalRow));
    }
    state.SetItemsProcessed(state.iterations() * Batch);
}
BENCHMARK(BM_AppendToShortList)->Iterations(Batches)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_AppendToMillionRowList(benchmark::State& state)
{
    RecordList list;
    fill(list, 1000000);
    for (auto _ : state) {
        // Same timing structure as the short list, so the two compare fairly.
        state.PauseTiming();
        state.ResumeTiming();
        for (int i = 0; i < Batch; ++i)
            benchmark::DoNotOptimize(list.appendRow(Caption, TypicalRow));
    }
    state.SetItemsProcessed(state.iterations() * Batch);
    state.counters["rows_at_end"] = double(list.rowCount());
}
BENCHMARK(BM_AppendToMillionRowList)
    ->Iterations(Batches)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Resident set size of the process, as the system counts it (Linux).
double residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    double pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * double(sysconf(_SC_PAGESIZE));
}

void BM_MemoryOfMillionRows(benchmark::State& state)
{
    for (auto _ : state) {
        const double rssBefore = residentBytes();
        RecordList list;
        const std::size_t before = list.memoryBytes();
        fill(list, 1000000);
        const std::size_t after = list.memoryBytes();
        state.counters["bytes_per_row"] = double(after - before) / 1e6;
        state.counters["rss_bytes_per_row"] = (residentBytes() - rssBefore) / 1e6;
        state.counters["total_MiB"] = double(after) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_MemoryOfMillionRows)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_FourReadingTexts(benchmark::State& state)
{
    const QChar sep = RegionalSettings::current().decimalSeparator;
    double salinity = 35.0, comp = 0.042123456, uncomp = 0.0398765, temp = 21.25;
    for (auto _ : state) {
        benchmark::DoNotOptimize(salinity);
        benchmark::DoNotOptimize(comp);
        auto a = textsFor(Quantity::Salinity, salinity, 0, sep);
        auto b = textsFor(Quantity::CompConductivity, comp * 1000, 0, sep);
        auto c = textsFor(Quantity::UncompConductivity, uncomp * 1000, 0, sep);
        auto d = textsFor(Quantity::Temperature, temp, 0, sep);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(c);
        benchmark::DoNotOptimize(d);
    }
}
BENCHMARK(BM_FourReadingTexts);

void BM_TimeOfDayText(benchmark::State& state)
{
    RegionalSettings s;
    s.longTimeFormat = QStringLiteral("h:mm:ss AP");
    const QTime t(21, 5, 7);
    for (auto _ : state)
        benchmark::DoNotOptimize(timeOfDayText(t, s));
}
BENCHMARK(BM_TimeOfDayText);

} // namespace

BENCHMARK_MAIN();
