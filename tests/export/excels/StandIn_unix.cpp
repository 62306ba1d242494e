#include "StandIn.h"

#include "DdeFrames.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

bool waitForServer(const QString& service, int ms)
{
    const QDeadlineTimer deadline(ms);
    do {
        QLocalSocket probe;
        probe.connectToServer(dde::serverName(service));
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        if (ms > 0)
            QThread::msleep(20);
    } while (!deadline.hasExpired());
    return false;
}
