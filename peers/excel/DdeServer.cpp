#include "DdeServer.h"

#include "MacroCommand.h"
#include "SheetSink.h"

void DdeServer::openLog()
{
    if (!options_.logFile.isEmpty()) {
        log_.setFileName(options_.logFile);
        if (!log_.open(QIODevice::Append | QIODevice::Text))
            qWarning("Excel: cannot open log %s", qPrintable(options_.logFile));
    }
    sink_.onFailed = [this](const QString& source) { log(QStringLiteral("failed ") + source); };
}

void DdeServer::carryOut(const QString& command)
{
    if (const auto c = macro::parse(command))
        sink_.submit(*c, command);
    else
        log(QStringLiteral("failed ") + command);
}

void DdeServer::log(const QString& line)
{
    if (!log_.isOpen())
        return;
    QString l = line;
    l.replace(u'\n', QStringLiteral("\\n"));
    log_.write(l.toUtf8() + '\n');
    log_.flush();
}
