#include "ProgramStart_p.h"

#include <windows.h>

namespace {

// One argument of a command line as the C runtime's parser splits it:
// quoted when it holds a blank or a quote, backslashes before a quote
// doubled.
QString quoted(const QString& argument)
{
    if (!argument.isEmpty() && !argument.contains(u' ') && !argument.contains(u'\t')
        && !argument.contains(u'"'))
        return argument;
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"')
            backslashes = backslashes * 2 + 1;
        out += QString(backslashes, u'\\') + c;
        backslashes = 0;
    }
    out += QString(backslashes * 2, u'\\') + u'"';
    return out;
}

unsigned winExec(const QString& commandLine, int showMode)
{
    // WinExec takes the ANSI code page; a line that does not survive the
    // trip would start some other file.
    const QByteArray line = commandLine.toLocal8Bit();
    if (QString::fromLocal8Bit(line) != commandLine)
        return ERROR_FILE_NOT_FOUND;
    return ::WinExec(line.constData(), UINT(showMode));
}

class WinExecStarter final : public ProgramStarter {
public:
    bool start(const QString& program, const QStringList& arguments, Show show) override
    {
        if (ProgramQuitting())
            return false;
        QString line = quoted(program);
        for (const QString& argument : arguments)
            line += u' ' + quoted(argument);
        return winExec(line, show == Show::MinimizedNoActivate ? SW_SHOWMINNOACTIVE
                                                               : SW_SHOWNORMAL)
               > 31;
    }
};

} // namespace

ProgramStarter& systemStarter()
{
    static WinExecStarter real;
    return real;
}

unsigned systemWinExec(const QString& commandLine, int showMode)
{
    return winExec(commandLine, showMode);
}

QString extensionlessProgram(const QString&)
{
    return QString();
}
