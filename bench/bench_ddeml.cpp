// The Excel export's rate through the DDE management library: cells per
// second that TAdvExcel::PutStrAt gets carried out by the headless stand-in
// spreadsheet, against a plain loop of asynchronous XTYP_EXECUTE
// transactions of the same command texts to the same server in the same run
// (what the library and the server allow at all). Prints both rates and
// their ratio; the client should stay within 1.5 times the plain loop.
//   bench_ddeml [cells] [rounds]
#include "Excels.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include <windows.h>
#include <ddeml.h>

namespace {

QStringList cellCommands(int cells, int round)
{
    QStringList out;
    out.reserve(cells);
    for (int i = 0; i < cells; ++i)
        out << QStringLiteral("[FORMULA(\"%1\", \"R%2C%3\")]").arg(round * cells + i).arg(i / 5 + 1).arg(i % 5 + 1);
    return out;
}

// The plain loop: one conversation, every command handed over at once, then
// the messages handled until each has completed.
struct Plain {
    static inline int completed = 0;
    static inline DWORD inst = 0;

    static HDDEDATA CALLBACK callback(UINT type, UINT, HCONV conv, HSZ, HSZ, HDDEDATA, ULONG_PTR id, ULONG_PTR)
    {
        if (type == XTYP_XACT_COMPLETE) {
            ++completed;
            // Wine keeps a completed transaction at the head of the queue.
            DdeAbandonTransaction(inst, conv, DWORD(id));
            if (LOWORD(id) == 0)
                DdeAbandonTransaction(inst, conv, HIWORD(id));
        }
        return nullptr;
    }

    // Cells per second, or a negative number on failure.
    static double run(const QStringList& commands)
    {
        if (DdeInitializeA(&inst, &callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
            return -1;
        const HSZ service = DdeCreateStringHandleA(inst, "Excel", CP_WINANSI);
        const HSZ topic = DdeCreateStringHandleA(inst, "System", CP_WINANSI);
        const HCONV conv = DdeConnect(inst, service, topic, nullptr);
        double rate = -1;
        if (conv) {
            completed = 0;
            QElapsedTimer clock;
            clock.start();
            int sent = 0;
            for (const QString& c : commands) {
                QByteArray text = c.toLocal8Bit();
                text.append('\0');
                DWORD id = 0;
                if (DdeClientTransaction(reinterpret_cast<LPBYTE>(text.data()), DWORD(text.size()), conv,
                                         nullptr, CF_TEXT, XTYP_EXECUTE, TIMEOUT_ASYNC, &id))
                    ++sent;
            }
            const QDeadlineTimer deadline(120000);
            MSG msg;
            while (completed < sent && !deadline.hasExpired()) {
                if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&msg);
                else
                    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            }
            if (sent == commands.size() && completed == sent)
                rate = commands.size() * 1000.0 / qMax<qint64>(1, clock.elapsed());
            DdeDisconnect(conv);
        }
        DdeFreeStringHandle(inst, service);
        DdeFreeStringHandle(inst, topic);
        DdeUninitialize(inst);
        inst = 0;
        return rate;
    }
};

// The client: the same texts through TAdvExcel, then the wait for "Ready"
// that says the last one was carried out.
double clientRate(int cells, int round)
{
    TAdvExcel excel;
    excel.Connect();
    if (!excel.Connected())
        return -1;
    excel.WaitForReady();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < cells; ++i)
        excel.PutStrAt(quint16(i / 5 + 1), quint16(i % 5 + 1), QString::number(round * cells + i));
    excel.WaitForReady();
    return cells * 1000.0 / qMax<qint64>(1, clock.elapsed());
}

bool serverUp(int ms)
{
    const QDeadlineTimer deadline(ms);
    DWORD inst = 0;
    if (DdeInitializeA(&inst, &Plain::callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        return false;
    const HSZ service = DdeCreateStringHandleA(inst, "Excel", CP_WINANSI);
    const HSZ topic = DdeCreateStringHandleA(inst, "System", CP_WINANSI);
    bool up = false;
    while (!up && !deadline.hasExpired()) {
        if (const HCONV conv = DdeConnect(inst, service, topic, nullptr)) {
            DdeDisconnect(conv);
            up = true;
        } else {
            QThread::msleep(50);
        }
    }
    DdeFreeStringHandle(inst, service);
    DdeFreeStringHandle(inst, topic);
    DdeUninitialize(inst);
    return up;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cells = argc > 1 ? qMax(1, atoi(argv[1])) : 3000;
    const int rounds = argc > 2 ? qMax(1, atoi(argv[2])) : 3;

    QProcess excel;
    excel.setProgram(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Excel.exe")));
    excel.setArguments({QStringLiteral("--headless"), QStringLiteral("--grid")});
    excel.setProcessChannelMode(QProcess::ForwardedChannels);
    excel.start();
    if (!excel.waitForStarted(5000) || !serverUp(15000)) {
        std::fprintf(stderr, "bench_ddeml: the stand-in spreadsheet did not come up\n");
        excel.kill();
        excel.waitForFinished(5000);
        return 1;
    }

    double bestPlain = 0;
    double bestClient = 0;
    for (int r = 0; r < rounds; ++r) {
        const double plain = Plain::run(cellCommands(cells, 2 * r));
        const double client = clientRate(cells, 2 * r + 1);
        std::printf("round %d: plain loop %.0f cells/s, client %.0f cells/s\n", r + 1, plain, client);
        bestPlain = std::max(bestPlain, plain);
        bestClient = std::max(bestClient, client);
    }
    const double ratio = bestClient > 0 ? bestPlain / bestClient : 0;
    std::printf("cells %d, best of %d: plain loop %.0f cells/s, client %.0f cells/s, ratio %.2f (goal <= 1.5)\n",
                cells, rounds, bestPlain, bestClient, ratio);
    std::fflush(stdout);

    excel.terminate();
    if (!excel.waitForFinished(10000)) {
        excel.kill();
        excel.waitForFinished(5000);
    }
    return bestPlain > 0 && bestClient > 0 ? 0 : 1;
}
