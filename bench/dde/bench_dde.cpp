// An export of 12,000 rows (60,006 cells) to the headless stand-in
// spreadsheet through the Excel client, against the same number of execute
// frames written straight to the same socket. Prints cells per second of
// both and the ratio client / raw.
#include "BenchSupport.h"
#include "DdeFrames.h"
#include "Excels.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

constexpr int Rows = 12000;
constexpr int Cells = 6 + 5 * Rows;

struct Cell {
    quint16 row;
    quint16 col;
    QString text;
};

const QList<Cell>& exportCells()
{
    static const QList<Cell> cells = [] {
        QList<Cell> c;
        c.reserve(Cells);
        c.append({1, 1, QStringLiteral("These data are import from Pemdat.exe (5926)")});
        const char* header[] = {"Time", "ppt", "Compensated Conductivity",
                                "UnCompensated Conductivity", "Temp"};
        for (quint16 col = 1; col <= 5; ++col)
            c.append({2, col, QString::fromLatin1(header[col - 1])});
        for (int i = 0; i < Rows; ++i) {
            const quint16 r = quint16(i + 3);
            c.append({r, 1, QStringLiteral("%1:%2:%3").arg(10 + i / 3600).arg(i / 60 % 60, 2, 10, QChar(u'0')).arg(i % 60, 2, 10, QChar(u'0'))});
            c.append({r, 2, QString::number(35.0 + (i % 100) / 1000.0, 'f', 3)});
            c.append({r, 3, QString::number(53.1 + (i % 37) / 100.0, 'f', 2)});
            c.append({r, 4, QString::number(48.7 + (i % 41) / 100.0, 'f', 2)});
            c.append({r, 5, QString::number(21.0 + (i % 13) / 10.0, 'f', 1)});
        }
        return c;
    }();
    return cells;
}

QString command(const Cell& c)
{
    return QStringLiteral("[FORMULA(\"") + c.text + QStringLiteral("\", \"R")
           + QString::number(c.row) + u'C' + QString::number(c.col) + QStringLiteral("\")]");
}

double clientSeconds = 0;
double rawSeconds = 0;
double rawBatchedSeconds = 0;

void BM_ExcelPutStrAtExport(benchmark::State& state)
{
    TAdvExcel excel;
    excel.Connect();
    if (!excel.Connected()) {
        state.SkipWithError("no connection to the stand-in spreadsheet");
        return;
    }
    const QList<Cell>& cells = exportCells();
    double best = 1e9;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        for (const Cell& c : cells)
            excel.PutStrAt(c.row, c.col, c.text);
        excel.WaitForReady(); // until the spreadsheet has carried out all of them
        best = std::min(best, t.nsecsElapsed() / 1e9);
    }
    clientSeconds = best;
    state.counters["cells_per_s"] =
        benchmark::Counter(double(Cells) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// batched = false: one write per frame; true: frames gathered into writes of
// 16 KiB, as the conversation does.
void BM_RawExecuteFrames(benchmark::State& state)
{
    const bool batched = state.range(0) != 0;
    QLocalSocket socket;
    socket.connectToServer(dde::serverName(QStringLiteral("Excel")));
    if (!socket.waitForConnected(2000)) {
        state.SkipWithError("no stand-in spreadsheet");
        return;
    }
    dde::FrameReader reader;
    auto awaitFrame = [&]() -> std::optional<dde::Frame> {
        for (;;) {
            if (auto f = reader.next())
                return f;
            if (!socket.waitForReadyRead(10000))
                return std::nullopt;
            reader.append(socket.readAll());
        }
    };
    socket.write(dde::encodeFrame({dde::FrameType::Connect, 0, false, "System"}));
    socket.flush();
    if (auto f = awaitFrame(); !f || f->type != dde::FrameType::Accept) {
        state.SkipWithError("refused");
        return;
    }
    QList<QString> commands;
    for (const Cell& c : exportCells())
        commands.append(command(c));
    quint32 id = 0;
    QByteArray frame;
    double best = 1e9;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        for (const QString& cmd : commands) {
            frame.clear();
            dde::appendFrame(frame, dde::FrameType::Execute, ++id, false, cmd.toUtf8());
            socket.write(frame);
            if (!batched || socket.bytesToWrite() >= 16 * 1024)
                socket.flush();
        }
        for (;;) { // until the spreadsheet has carried out all of them
            socket.write(dde::encodeFrame({dde::FrameType::Request, ++id, false, "Status"}));
            socket.flush();
            const auto f = awaitFrame();
            if (!f) {
                state.SkipWithError("no reply");
                return;
            }
            if (f->text.startsWith("Ready"))
                break;
        }
        best = std::min(best, t.nsecsElapsed() / 1e9);
    }
    (batched ? rawBatchedSeconds : rawSeconds) = best;
    state.counters["cells_per_s"] =
        benchmark::Counter(double(Cells) * double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ExcelPutStrAtExport)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RawExecuteFrames)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir runtime; // a private runtime folder: no clash with a real session
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    QProcess spreadsheet;
    spreadsheet.start(QCoreApplication::applicationDirPath() + QStringLiteral("/Excel"),
                      {QStringLiteral("--headless")});
    if (!spreadsheet.waitForStarted(5000) || !bench::waitForExcelServer(10000)) {
        std::fprintf(stderr, "the stand-in spreadsheet did not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    spreadsheet.kill();
    spreadsheet.waitForFinished(5000);
    if (clientSeconds > 0 && rawSeconds > 0 && rawBatchedSeconds > 0) {
        std::printf("client: %.0f cells/s; raw, a write per frame: %.0f cells/s; raw, batched "
                    "writes: %.0f cells/s\n",
                    Cells / clientSeconds, Cells / rawSeconds, Cells / rawBatchedSeconds);
        std::printf("time ratio client/raw: %.2f (a write per frame), %.2f (batched); targets: "
                    ">= 50000 cells/s, ratio <= 2\n",
                    clientSeconds / rawSeconds, clientSeconds / rawBatchedSeconds);
    }
    return 0;
}
