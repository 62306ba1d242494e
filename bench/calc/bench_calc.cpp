// The program's Excel export of 10,000 records (50,006 cells) through the
// Excel client into the stand-in spreadsheet: its own grid, then LibreOffice
// Calc (a headless one with a temporary profile, started by the stand-in).
// Prints cells per second into each, from the export's start until the
// spreadsheet reports every cell carried out, and the program's own CPU time
// for it. Run: QT_QPA_PLATFORM=offscreen build/bin/bench_calc [rows]
#include "ExcelExport.h"
#include "Excels.h"
#include "RecordList.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <cstdio>
#include <ctime>

#include "BenchSupport.h"
#include "DdeFrames.h"

namespace {

struct Result {
    double seconds = 0;
    double cpu = 0;
};

// Best of `runs` exports over the same cells.
std::optional<Result> measure(const QStringList& peerArgs, const RecordList& rows, int runs)
{
    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/Excel"), peerArgs);
    if (!peer.waitForStarted(5000) || !bench::waitForExcelServer(120000)) {
        std::fprintf(stderr, "the stand-in spreadsheet did not come up (%s)\n",
                     qPrintable(peerArgs.join(u' ')));
        return std::nullopt;
    }
    std::optional<Result> best;
    {
        TAdvExcel excel;
        QWidget window;
        excel.Connect();
        excel.WaitForReady();
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            const double cpu0 = bench::processCpuSeconds();
            t.start();
            ExportToExcel(&window, excel, rows, [](const QString&) {});
            excel.WaitForReady(); // every cell carried out
            const Result r{t.nsecsElapsed() / 1e9, bench::processCpuSeconds() - cpu0};
            if (!excel.Connected()) {
                std::fprintf(stderr, "the conversation ended during the export\n");
                return std::nullopt;
            }
            if (!best || r.seconds < best->seconds)
                best = r;
        }
    }
    peer.terminate(); // a clean end: the headless LibreOffice goes with it
    if (!peer.waitForFinished(30000))
        peer.kill();
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir scratch; // private runtime folder and LibreOffice profile
    qputenv("XDG_RUNTIME_DIR", (scratch.path() + QStringLiteral("/runtime")).toLocal8Bit());
    QDir().mkpath(scratch.path() + QStringLiteral("/runtime"));
    QFile::setPermissions(scratch.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QApplication app(argc, argv);
    const int n = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    RecordList rows;
    for (int i = 0; i < n; ++i)
        rows.appendRow(QByteArray::number(10 + i / 3600) + ':' + QByteArray::number(10 + i / 60 % 50) + ':'
                           + QByteArray::number(10 + i % 50),
                       {QByteArray::number(35.0 + (i % 100) / 1000.0, 'f', 3),
                        QByteArray::number(53.1 + (i % 37) / 100.0, 'f', 6),
                        QByteArray::number(48.7 + (i % 41) / 100.0, 'f', 6),
                        QByteArray::number(21.0 + (i % 13) / 10.0, 'f', 1)});
    const double cells = 6.0 + 5.0 * n;

    const auto grid = measure({QStringLiteral("--headless"), QStringLiteral("--grid")}, rows, 3);
    const auto calc = measure({QStringLiteral("--headless"), QStringLiteral("--calc"),
                               QStringLiteral("--calc-profile"), scratch.path() + QStringLiteral("/profile")},
                              rows, 3);
    if (!grid || !calc)
        return 1;
    std::printf("export of %d rows (%.0f cells), best of 3:\n", n, cells);
    std::printf("  grid: %8.0f cells/s  (%.3f s; program CPU %.3f s)\n", cells / grid->seconds,
                grid->seconds, grid->cpu);
    std::printf("  calc: %8.0f cells/s  (%.3f s; program CPU %.3f s)\n", cells / calc->seconds,
                calc->seconds, calc->cpu);
    std::printf("goal: >= 30000 cells/s into Calc\n");
    return 0;
}
