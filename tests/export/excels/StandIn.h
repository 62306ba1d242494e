#pragma once
// Starting, watching and stopping the stand-in spreadsheet in tests.
#include "ProgramStart.h"

#include <QList>
#include <QProcess>
#include <QStringList>
#include <memory>

// $DSG_BIN_DIR/Excel
QString standInProgram();
// Whether `program` (as started) is the stand-in.
bool isStandInProgram(const QString& program);
// How the stand-in logs an execute: with the client's wait flag where the
// transport carries it, without on Windows, whose library does not.
QString executeLine(bool waitFlag, const QString& command);
// Whether the stand-in answers "Status" while commands wait ("Busy"), as
// over the local socket, or only once the commands before it are done, as
// through the DDE management library, where answers keep their order.
bool statusAnsweredWhileBusy();
// A server of the service answers within `ms`.
bool waitForServer(const QString& service, int ms);

class StandIn {
public:
    StandIn();
    ~StandIn();
    // Starts it headless with a log (and `extra` options); waits for its
    // server. False when it did not come up.
    bool start(const QStringList& extra = {});
    // Ends it at once, as a crash would.
    void kill();
    // Ends it cleanly (its dump on exit is written); false on a timeout.
    bool stop();
    // The lines of its log, without those of start()'s own look for its
    // server unless asked for.
    QStringList logLines(bool withProbe = false) const;
    // The commands of the log's "execute W COMMAND" lines, in order.
    QStringList executes() const;
    QString logFile;
    QProcess process;
    qsizetype probeLines = 0;
};

// Records each start and really starts the stand-in, headless, with its
// frames logged to `logFile`.
class RecordingStarter : public ProgramStarter {
public:
    struct Started {
        QString program;
        Show show;
    };
    explicit RecordingStarter(QString logFile = {});
    ~RecordingStarter() override;
    bool start(const QString& program, const QStringList& arguments, Show show) override;

    QList<Started> starts;
    QList<QProcess*> processes;

private:
    QString logFile_;
};
