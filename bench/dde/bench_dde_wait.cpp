// What the forced wait for "Ready" costs: the headless stand-in spreadsheet
// carries out one command slowly (--delay-ms), and the client waits for it
// with WaitForReady. Prints, per second of wait, the CPU seconds of this
// process and of the spreadsheet (/proc), and how often "Status"
// was asked for (the mean gap between two polls bounds how late the wait
// sees "Ready"). Target: under 0.05 CPU seconds per second of wait.
#include "BenchSupport.h"
#include "DdeFrames.h"
#include "Excels.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

// utime + stime of another process, from /proc/<pid>/stat (clock ticks).
double otherCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

struct Round {
    double wall = 0;
    double cpu = 0;
    double peerCpu = 0;
    int polls = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir runtime; // a private runtime folder: no clash with a real session
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    const int delayMs = argc > 1 ? std::max(100, atoi(argv[1])) : 3000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    QProcess spreadsheet;
    spreadsheet.start(QCoreApplication::applicationDirPath() + QStringLiteral("/Excel"),
                      {QStringLiteral("--headless"), QStringLiteral("--delay-ms"),
                       QString::number(delayMs)});
    if (!spreadsheet.waitForStarted(5000) || !bench::waitForExcelServer(10000)) {
        std::fprintf(stderr, "the stand-in spreadsheet did not start\n");
        return 1;
    }

    TAdvExcel excel;
    excel.setBurstCount(0);
    excel.Connect();
    if (!excel.Connected()) {
        std::fprintf(stderr, "no conversation with the stand-in spreadsheet\n");
        return 1;
    }
    int polls = 0;
    excel.OnWaiting = [&](TCustomExcel*) { ++polls; };
    excel.WaitForReady(); // the two commands of the connect

    QList<Round> results;
    for (int i = 0; i < rounds; ++i) {
        excel.PutStrAt(1, 1, QStringLiteral("slow"));
        polls = 0;
        const double cpu0 = bench::processCpuSeconds();
        const double peer0 = otherCpuSeconds(spreadsheet.processId());
        QElapsedTimer t;
        t.start();
        excel.WaitForReady();
        Round r;
        r.wall = t.nsecsElapsed() / 1e9;
        r.cpu = bench::processCpuSeconds() - cpu0;
        r.peerCpu = otherCpuSeconds(spreadsheet.processId()) - peer0;
        r.polls = polls + 1;
        results << r;
        std::printf("round %d: wait %.3f s, program %.4f CPU s/s, spreadsheet %.4f CPU s/s, "
                    "%.0f polls/s (one every %.2f ms)\n",
                    i + 1, r.wall, r.cpu / r.wall, r.peerCpu / r.wall, r.polls / r.wall,
                    1000.0 * r.wall / r.polls);
    }
    std::sort(results.begin(), results.end(),
              [](const Round& a, const Round& b) { return a.cpu / a.wall < b.cpu / b.wall; });
    const Round& m = results[results.size() / 2];
    std::printf("median: program %.4f CPU s per s of wait, spreadsheet %.4f, %.0f polls/s, "
                "wait over the delay %.0f ms (target: program < 0.05)\n",
                m.cpu / m.wall, m.peerCpu / m.wall, m.polls / m.wall, 1000.0 * m.wall - delayMs);

    excel.Disconnect();
    spreadsheet.kill();
    spreadsheet.waitForFinished(5000);
    return 0;
}
