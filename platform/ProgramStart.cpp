#include "ProgramStart.h"

#include "ProgramStart_p.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace {

ProgramStarter* installed = nullptr;
bool quitting = false;

} // namespace

ProgramStarter& ProgramStarter::instance()
{
    return installed ? *installed : systemStarter();
}

void ProgramStarter::setInstance(ProgramStarter* starter)
{
    installed = starter;
}

unsigned WinExec(const QString& commandLine, int showMode)
{
    if (quitting)
        return 2;
    // A starter put in place of the system's sees every start.
    if (installed) {
        const ProgramStarter::Show show = showMode == 7 || showMode == 6 || showMode == 2
                                              ? ProgramStarter::Show::MinimizedNoActivate
                                              : ProgramStarter::Show::Normal;
        return installed->start(commandLine, {}, show) ? 33u : 2u;
    }
    return systemWinExec(commandLine, showMode);
}

bool ProgramQuitting()
{
    return quitting;
}

void SetProgramQuitting(bool on)
{
    const bool begins = on && !quitting;
    quitting = on;
    if (begins)
        emit ProgramQuit::instance().begun();
}

ProgramQuit& ProgramQuit::instance()
{
    static ProgramQuit announcer;
    return announcer;
}

bool ProgramQuit::applicationExiting()
{
    if (!QCoreApplication::instance())
        return true;
    // Qt keeps the fact to itself; a loop asked to end on its first turn
    // returns its own code, one started after QCoreApplication::exit
    // returns -1 at once, and QCoreApplication::exit during the turn ends it
    // with that call's code.
    constexpr int OwnEnd = 0x5926;
    QEventLoop probe;
    QMetaObject::invokeMethod(
        &probe, [&probe] { probe.exit(OwnEnd); }, Qt::QueuedConnection);
    return probe.exec(QEventLoop::ExcludeUserInputEvents) != OwnEnd;
}
