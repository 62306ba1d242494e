// Exporting a million rows, progress bar included, against writing the same
// bytes to the same folder in one write call. Target: the export takes at
// most twice the plain write.
#include "Fpross.h"
#include "RecordRows.h"
#include "TextExport.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

namespace {

constexpr int RowCount = 1000000;

// Texts of a thousand rows that look like recorded readings; the million
// rows repeat them, so the fakes stay small.
struct ReadingTexts {
    static constexpr int Distinct = 1024; // a power of two: picking a row is a mask
    std::vector<QByteArray> cells; // Distinct * ColumnCount

    ReadingTexts()
    {
        cells.reserve(Distinct * RecordRows::ColumnCount);
        for (int r = 0; r < Distinct; ++r) {
            const int s = r % 60;
            const int m = (r / 60) % 60;
            cells.push_back("10:" + QByteArray::number(m).rightJustified(2, '0') + ':'
                            + QByteArray::number(s).rightJustified(2, '0'));
            cells.push_back(QByteArray::number(34.5 + r * 0.001, 'f', 2));
            cells.push_back(QByteArray::number(53.1 + r * 0.003, 'f', 3));
            cells.push_back(QByteArray::number(49.7 + r * 0.002, 'f', 3));
            cells.push_back(QByteArray::number(21.3 + r * 0.0001, 'f', 1));
        }
    }
};

// Cells handed out as views into one block the fake owns, as a compact list
// model can: the figure is then mostly the writer's own cost.
class BenchRows final : public RecordRows {
public:
    explicit BenchRows(const ReadingTexts& texts)
    {
        for (const QByteArray& c : texts.cells)
            block_ += c;
        qsizetype at = 0;
        for (const QByteArray& c : texts.cells) {
            views_.push_back({block_.constData() + at, c.size()});
            at += c.size();
        }
    }
    int rowCount() const override { return RowCount; }
    QByteArray cell(int row, int column) const override
    {
        const View& v = views_[size_t(row & (ReadingTexts::Distinct - 1)) * ColumnCount + size_t(column)];
        return QByteArray::fromRawData(v.data, v.size);
    }

private:
    struct View {
        const char* data;
        qsizetype size;
    };
    QByteArray block_;
    std::vector<View> views_;
};

// Cells handed out as shared copies of stored QByteArrays: every cell costs
// a reference-count increment and decrement on top of the writer.
class SharedCellRows final : public RecordRows {
public:
    explicit SharedCellRows(const ReadingTexts& texts) : texts_(texts) {}
    int rowCount() const override { return RowCount; }
    QByteArray cell(int row, int column) const override
    {
        return texts_.cells[size_t(row % ReadingTexts::Distinct) * ColumnCount + size_t(column)];
    }

private:
    const ReadingTexts& texts_;
};

QByteArray fileBytes(const RecordRows& rows)
{
    QByteArray all;
    all.reserve(qsizetype(RowCount) * 40);
    all += TextExportHeader + "\r\n";
    for (int i = 0; i < RowCount; ++i) {
        all += rows.cell(i, 0);
        for (int c = 1; c < RecordRows::ColumnCount; ++c) {
            all += ',';
            all += rows.cell(i, c);
        }
        all += "\r\n";
    }
    return all;
}

const ReadingTexts& texts()
{
    static const ReadingTexts t;
    return t;
}

const BenchRows& rows()
{
    static const BenchRows r(texts());
    return r;
}

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

void exportRows(benchmark::State& state, const RecordRows& source)
{
    const QString path = folder().filePath(QStringLiteral("export.txt"));
    ProcessWindowGuard progress;
    progress.window()->ProgressBar1->setMaximum(RowCount - 1);
    for (auto _ : state) {
        progress.window()->ProgressBar1->setValue(0);
        if (!WriteRecordRowsToFile(path, source, RowCount, progress.window()->ProgressBar1))
            state.SkipWithError("export failed");
    }
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly) || written.readAll() != fileBytes(source))
        state.SkipWithError("export wrote other bytes than expected");
    state.SetBytesProcessed(state.iterations() * QFile(path).size());
}

void BM_ExportRowsWithProgressBar(benchmark::State& state)
{
    exportRows(state, rows());
}

void BM_ExportSharedCellsWithProgressBar(benchmark::State& state)
{
    static const SharedCellRows shared(texts());
    exportRows(state, shared);
}

void BM_OneWriteOfSameBytes(benchmark::State& state)
{
    const QString path = folder().filePath(QStringLiteral("raw.txt"));
    const QByteArray bytes = fileBytes(rows());
    for (auto _ : state) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)
            || f.write(bytes) != bytes.size()) {
            state.SkipWithError("write failed");
        }
        f.close();
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The two side by side, alternating in every iteration so that a change of
// the machine's load hits both alike. Counters: the medians in milliseconds
// and their ratio (the target is at most 2).
void BM_ExportAgainstOneWrite(benchmark::State& state)
{
    const QString exportPath = folder().filePath(QStringLiteral("export.txt"));
    const QString rawPath = folder().filePath(QStringLiteral("raw.txt"));
    const QByteArray bytes = fileBytes(rows());
    ProcessWindowGuard progress;
    QProgressBar* bar = progress.window()->ProgressBar1;
    bar->setMaximum(RowCount - 1);
    std::vector<double> exportMs;
    std::vector<double> rawMs;
    using Clock = std::chrono::steady_clock;
    bool rawFirst = true;
    auto timeRaw = [&] {
        const auto t0 = Clock::now();
        QFile f(rawPath);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)
            || f.write(bytes) != bytes.size())
            state.SkipWithError("write failed");
        f.close();
        rawMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    };
    auto timeExport = [&] {
        bar->setValue(0);
        const auto t0 = Clock::now();
        if (!WriteRecordRowsToFile(exportPath, rows(), RowCount, bar))
            state.SkipWithError("export failed");
        exportMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    };
    for (auto _ : state) {
        // Taking turns at going first, so neither always meets the other's
        // pages still being written back.
        if (rawFirst) {
            timeRaw();
            timeExport();
        } else {
            timeExport();
            timeRaw();
        }
        rawFirst = !rawFirst;
    }
    const double e = median(exportMs);
    const double r = median(rawMs);
    state.counters["export_ms"] = e;
    state.counters["one_write_ms"] = r;
    state.counters["ratio"] = r > 0 ? e / r : 0;
}

BENCHMARK(BM_ExportRowsWithProgressBar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneWriteOfSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportSharedCellsWithProgressBar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportAgainstOneWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(21);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    rows(); // built before timing starts
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
