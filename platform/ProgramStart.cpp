#include "ProgramStart.h"

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
