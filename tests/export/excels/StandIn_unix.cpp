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

bool isStandInProgram(const QString& program)
{
    return program == standInProgram();
}

QString executeLine(bool waitFlag, const QString& command)
{
    return QStringLiteral("execute ") + (waitFlag ? u'1' : u'0') + u' ' + command;
}

bool statusAnsweredWhileBusy()
{
    return true;
}
