#include "StandIn.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QUuid>

#include "TestSupport.h"

QString standInProgram()
{
    return qEnvironmentVariable("DSG_BIN_DIR") + QStringLiteral("/Excel");
}

StandIn::StandIn()
    : logFile(testScratchDir() + QStringLiteral("/excel-")
              + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".log"))
{
}

StandIn::~StandIn()
{
    kill();
}

bool StandIn::start(const QStringList& extra)
{
    process.setProgram(standInProgram());
    process.setArguments(QStringList{QStringLiteral("--headless"), QStringLiteral("--log"), logFile}
                         + extra);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted(5000))
        return false;
    // A server that refuses every conversation is found by its log where
    // finding it means opening one (Windows).
    const bool refusing = extra.contains(QStringLiteral("--refuse"));
    const QDeadlineTimer deadline(10000);
    while (!waitForServer(QStringLiteral("Excel"), 0)) {
        if (refusing && logLines(true).contains(QStringLiteral("connect System")))
            break;
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(50);
    }
    // Where finding the server meant opening a conversation, the log starts
    // with that: what the test's client sends comes after it.
    probeLines = logLines(true).size();
    return true;
}

void StandIn::kill()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool StandIn::stop()
{
    if (process.state() == QProcess::NotRunning)
        return true;
    process.terminate();
    if (process.waitForFinished(10000))
        return true;
    // Not a clean end: nothing of it may outlive the test.
    kill();
    return false;
}

QStringList StandIn::logLines(bool withProbe) const
{
    QFile f(logFile);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    return withProbe ? lines : lines.mid(probeLines);
}

QStringList StandIn::executes() const
{
    QStringList out;
    for (const QString& line : logLines()) {
        if (line.startsWith(QLatin1String("execute ")))
            out << line.mid(10);
    }
    return out;
}

RecordingStarter::RecordingStarter(QString logFile) : logFile_(std::move(logFile))
{
    ProgramStarter::setInstance(this);
}

RecordingStarter::~RecordingStarter()
{
    ProgramStarter::setInstance(nullptr);
    for (QProcess* p : processes) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(5000);
        }
        delete p;
    }
}

bool RecordingStarter::start(const QString& program, const QStringList& arguments, Show show)
{
    starts.append(Started{program, show});
    auto* p = new QProcess;
    processes.append(p);
    QStringList args{QStringLiteral("--headless")};
    if (!logFile_.isEmpty())
        args << QStringLiteral("--log") << logFile_;
    p->setProgram(program);
    p->setArguments(args + arguments);
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    p->start();
    return p->waitForStarted(5000);
}
