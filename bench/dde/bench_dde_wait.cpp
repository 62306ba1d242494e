// What the forced wait for "Ready" costs: the headless stand-in spreadsheet
// carries out one command slowly (--delay-ms), and the client waits for it
// with WaitForReady. Prints, per second of wait, the CPU seconds of this
// process and of the spreadsheet (/proc), how often "Status" was asked for,
// and how late the wait saw "Ready": at most the time from the last poll
// that found the spreadsheet busy to the end of the wait.
// Target: under 0.01 CPU seconds per second of wait on both sides, and
// "Ready" seen within about the longest pause between two polls.
#include "BenchSupport.h"
#include "DdeFrames.h"
#include "LocalSocketDdeClientConv.h"
#include "Excels.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
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

// CPU time of another process, all its threads: from the scheduler's
// nanosecond account (/proc/<pid>/task/*/schedstat) where there is one, else
// utime + stime from /proc/<pid>/stat, which counts only whole clock ticks
// (10 ms), too coarse for a process that is idle most of the time.
double otherCpuSeconds(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double scheduled = 0;
    bool haveSchedstat = false;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        scheduled += f.readAll().split(' ').value(0).toDouble() / 1e9;
        haveSchedstat = true;
    }
    if (haveSchedstat)
        return scheduled;
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
    double lateMs = 0;
};

// The production conversation, with the moment of every "Status" request
// that found the spreadsheet busy noted, so the lateness of the wait's end
// can be bounded from outside.
class TimedConv final : public TDdeClientConv {
public:
    TimedConv()
    {
        inner_.setConnectMode(ConnectMode::Manual);
        inner_.OnOpen = [this] { notifyOpen(); };
        inner_.OnClose = [this] {
            waitStat_ = false;
            notifyClose();
        };
    }
    bool SetLink(const QString& service, const QString& topic) override
    {
        service_ = service;
        topic_ = topic;
        return inner_.SetLink(service, topic);
    }
    bool OpenLink() override { return inner_.OpenLink(); }
    void CloseLink() override { inner_.CloseLink(); }
    bool ExecuteMacro(const QString& command, bool waitFlag) override
    {
        const bool ok = inner_.ExecuteMacro(command, waitFlag);
        waitStat_ = inner_.WaitStat();
        return ok;
    }
    std::optional<QByteArray> RequestData(const QString& item) override
    {
        const qint64 asked = clock.nsecsElapsed();
        auto reply = inner_.RequestData(item);
        waitStat_ = inner_.WaitStat();
        if (item == QLatin1String("Status") && !(reply && reply->startsWith("Ready")))
            lastBusyAsked = asked;
        return reply;
    }
    void WaitForActivity(int ms) override
    {
        inner_.WaitForActivity(ms);
        waitStat_ = inner_.WaitStat();
    }

    QElapsedTimer clock;
    qint64 lastBusyAsked = -1;

private:
    LocalSocketDdeClientConv inner_;
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

    auto timedConv = std::make_unique<TimedConv>();
    TimedConv* timed = timedConv.get();
    timed->clock.start();
    TAdvExcel excel(nullptr, std::move(timedConv));
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
        timed->lastBusyAsked = -1;
        const double cpu0 = bench::processCpuSeconds();
        const double peer0 = otherCpuSeconds(spreadsheet.processId());
        QElapsedTimer t;
        t.start();
        excel.WaitForReady();
        const qint64 ended = timed->clock.nsecsElapsed();
        Round r;
        r.wall = t.nsecsElapsed() / 1e9;
        r.cpu = bench::processCpuSeconds() - cpu0;
        r.peerCpu = otherCpuSeconds(spreadsheet.processId()) - peer0;
        r.polls = polls + 1;
        r.lateMs = timed->lastBusyAsked < 0 ? 0 : (ended - timed->lastBusyAsked) / 1e6;
        results << r;
        std::printf("round %d: wait %.3f s, program %.4f CPU s/s, spreadsheet %.4f CPU s/s, "
                    "%.0f polls/s (one every %.2f ms), Ready seen at most %.1f ms late\n",
                    i + 1, r.wall, r.cpu / r.wall, r.peerCpu / r.wall, r.polls / r.wall,
                    1000.0 * r.wall / r.polls, r.lateMs);
    }
    const auto median = [&](auto key) {
        QList<double> v;
        for (const Round& r : results)
            v << key(r);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("median: program %.4f CPU s per s of wait, spreadsheet %.4f, %.0f polls/s, "
                "Ready seen at most %.1f ms late (target: both sides < 0.01)\n",
                median([](const Round& r) { return r.cpu / r.wall; }),
                median([](const Round& r) { return r.peerCpu / r.wall; }),
                median([](const Round& r) { return r.polls / r.wall; }),
                median([](const Round& r) { return r.lateMs; }));

    excel.Disconnect();
    spreadsheet.kill();
    spreadsheet.waitForFinished(5000);
    return 0;
}
