#include "ProgramStart_p.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

class DetachedStarter final : public ProgramStarter {
public:
    bool start(const QString& program, const QStringList& arguments, Show show) override
    {
        if (ProgramQuitting())
            return false;
        QProcess process;
        process.setProgram(program);
        if (show == Show::MinimizedNoActivate) {
            // Qt programs honour -platform options only; the stand-in
            // programs read this hint to start iconified.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DSG_START_MINIMIZED"), QStringLiteral("1"));
            process.setProcessEnvironment(env);
        }
        process.setArguments(arguments);
        process.setStandardInputFile(QProcess::nullDevice());
        return process.startDetached();
    }
};

} // namespace

ProgramStarter& systemStarter()
{
    static DetachedStarter real;
    return real;
}

unsigned systemWinExec(const QString& commandLine, int showMode)
{
    // No command-line parsing here: the line is the program's path.
    const ProgramStarter::Show show = showMode == 7 || showMode == 6 || showMode == 2
                                          ? ProgramStarter::Show::MinimizedNoActivate
                                          : ProgramStarter::Show::Normal;
    return systemStarter().start(commandLine, {}, show) ? 33u : 2u;
}

QString extensionlessProgram(const QString& name)
{
    // Programs here carry no extension: the stand-in spreadsheet is plain
    // "Excel".
    if (name.isEmpty())
        return QString();
    const QFileInfo bare(name);
    return bare.isFile() && bare.isExecutable() ? name : QString();
}
