#include "ExportTestSupport.h"

#include "DdeFrames.h"
#include "Fpross.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QThread>
#include <QUuid>

SpreadsheetPeer::SpreadsheetPeer()
    : logFile(testScratchDir() + QStringLiteral("/peer-")
              + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".log"))
{
}

SpreadsheetPeer::~SpreadsheetPeer()
{
    kill();
}

bool SpreadsheetPeer::start(const QStringList& extra)
{
    process.setProgram(qEnvironmentVariable("DSG_BIN_DIR") + QStringLiteral("/Excel"));
    process.setArguments(QStringList{QStringLiteral("--headless"), QStringLiteral("--log"), logFile}
                         + extra);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted(5000))
        return false;
    return spreadsheetAnswers(10000);
}

void SpreadsheetPeer::kill()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QStringList SpreadsheetPeer::log() const
{
    QFile f(logFile);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QStringList SpreadsheetPeer::executes() const
{
    QStringList out;
    for (const QString& line : log()) {
        if (line.startsWith(QLatin1String("execute ")))
            out << line.mid(10);
    }
    return out;
}

bool spreadsheetAnswers(int ms)
{
    const QDeadlineTimer deadline(ms);
    do {
        QLocalSocket probe;
        probe.connectToServer(dde::serverName(QStringLiteral("Excel")));
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        if (ms > 0)
            QThread::msleep(20);
    } while (!deadline.hasExpired());
    return false;
}

int liveProgressWindows()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<Tprocess*>(w) != nullptr;
    return n;
}

bool RecordingConv::SetLink(const QString& service, const QString& topic)
{
    service_ = service;
    topic_ = topic;
    return true;
}

bool RecordingConv::OpenLink()
{
    ++openCount;
    open = true;
    notifyOpen();
    return true;
}

void RecordingConv::CloseLink()
{
    if (open) {
        open = false;
        notifyClose();
    }
}

bool RecordingConv::ExecuteMacro(const QString& command, bool)
{
    if (!open)
        return false;
    if (keepCommands)
        commands << command;
    if (onExecute)
        onExecute(command);
    return true;
}

std::optional<QByteArray> RecordingConv::RequestData(const QString& item)
{
    if (!open)
        return std::nullopt;
    if (item == QLatin1String("Status"))
        return QByteArray("Ready\0", 6);
    if (item == QLatin1String("Selection"))
        return QByteArray("[Book1]Sheet1!R1C1\0", 19);
    return std::nullopt;
}

QByteArray GeneratedRows::cell(int row, int column) const
{
    ++cellReads;
    if (onCell)
        onCell(row, column);
    if (row < 0 || row >= count || column < 0 || column >= ColumnCount) {
        ++outOfRange;
        return QByteArray("<out of range>");
    }
    return QByteArray("r") + QByteArray::number(row) + 'c' + QByteArray::number(column);
}

QByteArray WatchedRows::cell(int row, int column) const
{
    if (onCell)
        onCell(row, column);
    return rows_.cell(row, column);
}

RefusingStarter::RefusingStarter()
{
    ProgramStarter::setInstance(this);
}

RefusingStarter::~RefusingStarter()
{
    ProgramStarter::setInstance(nullptr);
}

bool RefusingStarter::start(const QString& program, const QStringList&, Show)
{
    started << program;
    if (onStart)
        onStart();
    return false;
}

QStringList formulaCommands(int r, const QList<QByteArray>& texts)
{
    QStringList out;
    for (int c = 0; c < texts.size(); ++c)
        out << QStringLiteral("[FORMULA(\"%1\", \"R%2C%3\")]")
                   .arg(QString::fromLocal8Bit(texts.at(c)))
                   .arg(r)
                   .arg(c + 1);
    return out;
}

QStringList titleAndHeaderCommands()
{
    return formulaCommands(1, {"These data are import from Pemdat.exe (5926)"})
           + formulaCommands(2, {"Time", "ppt", "Compensated Conductivity",
                                 "UnCompensated Conductivity", "Temp"});
}

QStringList formulasOf(const QStringList& commands)
{
    QStringList out;
    for (const QString& c : commands) {
        if (c.startsWith(QLatin1String("[FORMULA(")))
            out << c;
    }
    return out;
}
