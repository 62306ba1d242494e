#include "ProgramStart.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

class DetachedStarter final : public ProgramStarter {
public:
    bool start(const QString& program, const QStringList& arguments, Show show) override
    {
        QProcess process;
        process.setProgram(program);
        QStringList args = arguments;
        if (show == Show::MinimizedNoActivate) {
            // Qt programs honour -platform options only; the stand-in
            // programs read this hint to start iconified.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DSG_START_MINIMIZED"), QStringLiteral("1"));
            process.setProcessEnvironment(env);
        }
        process.setArguments(args);
        process.setStandardInputFile(QProcess::nullDevice());
        return process.startDetached();
    }
};

ProgramStarter* installed = nullptr;
bool quitting = false;

} // namespace

ProgramStarter& ProgramStarter::instance()
{
    static DetachedStarter real;
    return installed ? *installed : static_cast<ProgramStarter&>(real);
}

void ProgramStarter::setInstance(ProgramStarter* starter)
{
    installed = starter;
}

unsigned WinExec(const QString& commandLine, int showMode)
{
    if (quitting)
        return 2;
    const ProgramStarter::Show show = showMode == 7 || showMode == 6 || showMode == 2
                                          ? ProgramStarter::Show::MinimizedNoActivate
                                          : ProgramStarter::Show::Normal;
    return ProgramStarter::instance().start(commandLine, {}, show) ? 33u : 2u;
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
