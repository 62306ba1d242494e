#pragma once
// Finding, starting and ending the LibreOffice that the Calc sink talks to.
// LibreOffice accepts the bridge on a named pipe private to the user and to
// the LibreOffice profile in use; a LibreOffice already running on that
// profile (the operator's open document) is asked to accept on it too.
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QProcess;

class CalcOffice : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString program;    // soffice
        QString profileDir; // empty: LibreOffice's own profile of the user
        bool headless = false;
    };
    using Outcome = std::function<void(bool ok, const QString& text)>;

    explicit CalcOffice(Options options, QObject* parent = nullptr);
    // A headless LibreOffice started here ends with the peer: no one could
    // see or close it. One with windows is the user's and stays.
    ~CalcOffice() override;

    // $DSG_SOFFICE, else soffice (or libreoffice) on the search path;
    // empty when there is none.
    static QString findProgram();
    // "dsg5926-excel-<uid>-<hash of the profile>": private to the user, and
    // a test's LibreOffice with its own profile gets a pipe of its own.
    static QString pipeName(const QString& profileDir);
    QString pipeName() const { return pipeName(options_.profileDir); }
    // The command line that makes LibreOffice accept on the pipe.
    QStringList arguments() const;

    // Calls `tryOnce` until it reports success: after the first failure
    // LibreOffice is started, and tries go on every quarter second while it
    // comes up, for at most `timeoutMs`, or until it ends with a failure.
    void attach(std::function<void(Outcome)> tryOnce, int timeoutMs, Outcome done);

    // Ends a headless LibreOffice started here (its whole process group).
    void stop();

    // The processes whose parent is `pid` (Linux; empty elsewhere).
    // LibreOffice's launcher waits for the office it runs: ending the office
    // first lets the launcher reap it, instead of leaving it to init.
    static QList<qint64> childrenOf(qint64 pid);

private:
    bool start(QString* why);
    std::optional<QString> failure() const;

    Options options_;
    QProcess* process_ = nullptr;
    QString startError_;
};
