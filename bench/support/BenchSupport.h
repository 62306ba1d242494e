#pragma once
// Pieces the benchmarks that run the stand-in spreadsheet share.
#include "DdeFrames.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

#include <ctime>

namespace bench {

// The stand-in's server of service "Excel" answers within `ms`.
inline bool waitForExcelServer(int ms)
{
    const QDeadlineTimer deadline(ms);
    do {
        QLocalSocket probe;
        probe.connectToServer(dde::serverName(QStringLiteral("Excel")));
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    } while (!deadline.hasExpired());
    return false;
}

// CPU time of this process, user and system, in seconds.
inline double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace bench
