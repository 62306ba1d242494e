#include "StandIn.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <windows.h>
#include <ddeml.h>

namespace {
HDDEDATA CALLBACK ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return nullptr;
}
} // namespace

bool waitForServer(const QString& service, int ms)
{
    DWORD inst = 0;
    if (DdeInitializeA(&inst, &ignore, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        return false;
    const HSZ s = DdeCreateStringHandleA(inst, service.toLocal8Bit().constData(), CP_WINANSI);
    const HSZ topic = DdeCreateStringHandleA(inst, "System", CP_WINANSI);
    const QDeadlineTimer deadline(ms);
    bool up = false;
    do {
        if (const HCONV conv = DdeConnect(inst, s, topic, nullptr)) {
            DdeDisconnect(conv);
            up = true;
            break;
        }
        if (ms > 0)
            QThread::msleep(50);
    } while (!deadline.hasExpired());
    DdeFreeStringHandle(inst, s);
    DdeFreeStringHandle(inst, topic);
    DdeUninitialize(inst);
    return up;
}

bool isStandInProgram(const QString& program)
{
    const QString started = QFileInfo(program).canonicalFilePath();
    return !started.isEmpty()
           && started.compare(QFileInfo(standInProgram() + QStringLiteral(".exe")).canonicalFilePath(),
                              Qt::CaseInsensitive)
                  == 0;
}

QString executeLine(bool, const QString& command)
{
    return QStringLiteral("execute - ") + command;
}

bool statusAnsweredWhileBusy()
{
    return false;
}
