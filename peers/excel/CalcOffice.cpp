#include "CalcOffice.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

CalcOffice::CalcOffice(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options))
{
}

CalcOffice::~CalcOffice()
{
    if (options_.headless) {
        stop();
    } else if (process_) {
        // The user's LibreOffice outlives the peer: let go of the process
        // without ending it (destroying a running QProcess would kill it).
        process_->setParent(nullptr);
        process_ = nullptr;
    }
}

QString CalcOffice::findProgram()
{
    const QString given = qEnvironmentVariable("DSG_SOFFICE");
    if (!given.isEmpty()) {
        if (QDir::isAbsolutePath(given))
            return QFileInfo(given).isExecutable() ? given : QString();
        return QStandardPaths::findExecutable(given);
    }
    QString found = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("libreoffice"));
    return found;
}

QString CalcOffice::pipeName(const QString& profileDir)
{
#ifdef Q_OS_UNIX
    const QString user = QString::number(::getuid());
#else
    const QString user = qEnvironmentVariable("USERNAME");
#endif
    const QByteArray profile = profileDir.isEmpty()
                                   ? QByteArray("default")
                                   : QDir(profileDir).absolutePath().toUtf8();
    const QByteArray hash = QCryptographicHash::hash(profile, QCryptographicHash::Sha256).toHex().left(12);
    return QStringLiteral("dsg5926-excel-%1-%2").arg(user, QString::fromLatin1(hash));
}

QStringList CalcOffice::arguments() const
{
    QStringList args;
    if (options_.headless)
        args << QStringLiteral("--headless") << QStringLiteral("--invisible")
             << QStringLiteral("--norestore");
    args << QStringLiteral("--nologo");
    if (!options_.profileDir.isEmpty())
        args << QStringLiteral("-env:UserInstallation=")
                    + QUrl::fromLocalFile(QDir(options_.profileDir).absolutePath()).toString(QUrl::FullyEncoded);
    args << QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipeName());
    return args;
}

bool CalcOffice::start(QString* why)
{
    process_ = new QProcess(this);
    process_->setProgram(options_.program);
    process_->setArguments(arguments());
    // Its chatter (Java, fonts) is no concern of the spreadsheet's user.
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(QProcess::nullDevice());
    process_->setStandardInputFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
    // A group of its own: LibreOffice is a launcher with a child, and both
    // must be reached when it is ended.
    process_->setChildProcessModifier([] { ::setsid(); });
#endif
    process_->start();
    if (!process_->waitForStarted(10000)) {
        startError_ = QStringLiteral("cannot run %1: %2").arg(options_.program, process_->errorString());
        *why = startError_;
        return false;
    }
    return true;
}

std::optional<QString> CalcOffice::failure() const
{
    if (!startError_.isEmpty())
        return startError_;
    if (!process_ || process_->state() != QProcess::NotRunning)
        return std::nullopt;
    if (process_->exitStatus() == QProcess::CrashExit)
        return QStringLiteral("%1 crashed").arg(options_.program);
    if (process_->exitCode() != 0)
        return QStringLiteral("%1 exited with code %2").arg(options_.program).arg(process_->exitCode());
    // Exit code 0: it handed the pipe to a LibreOffice already running on
    // the same profile.
    return std::nullopt;
}

void CalcOffice::attach(std::function<void(Outcome)> tryOnce, int timeoutMs, Outcome done)
{
    struct State {
        QDeadlineTimer deadline;
        std::function<void()> next;
    };
    auto state = std::make_shared<State>();
    state->deadline = QDeadlineTimer(timeoutMs);
    state->next = [this, tryOnce, done, state, timeoutMs] {
        tryOnce([this, done, state, timeoutMs](bool ok, const QString& text) {
            if (ok) {
                done(true, text);
                state->next = nullptr; // ends the cycle of references
                return;
            }
            QString why;
            if (!process_ && !start(&why)) {
                done(false, why);
                state->next = nullptr;
                return;
            }
            if (const auto f = failure()) {
                done(false, *f);
                state->next = nullptr;
                return;
            }
            if (state->deadline.hasExpired()) {
                done(false, QStringLiteral("LibreOffice did not accept within %1 s (%2)")
                                .arg(timeoutMs / 1000)
                                .arg(text));
                state->next = nullptr;
                return;
            }
            QTimer::singleShot(250, this, [state] {
                if (state->next)
                    state->next();
            });
        });
    };
    state->next();
}

QList<qint64> CalcOffice::childrenOf(qint64 pid)
{
    QList<qint64> children;
#ifdef Q_OS_LINUX
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 child = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile f(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold anything, so read
        // from its closing parenthesis on.
        const QByteArray stat = f.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 1).simplified().split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
            children << child;
    }
#else
    Q_UNUSED(pid);
#endif
    return children;
}

void CalcOffice::stop()
{
    if (!process_ || process_->state() == QProcess::NotRunning)
        return;
#ifdef Q_OS_UNIX
    const pid_t group = pid_t(process_->processId());
    const QList<qint64> offices = childrenOf(group);
    for (qint64 pid : offices)
        ::kill(pid_t(pid), SIGTERM);
    if (offices.isEmpty() || !process_->waitForFinished(10000)) {
        ::kill(-group, SIGTERM);
        if (!process_->waitForFinished(5000))
            ::kill(-group, SIGKILL);
        process_->waitForFinished(5000);
    }
    ::kill(-group, SIGKILL); // anything of it that outlived the launcher
#else
    process_->kill();
    process_->waitForFinished(5000);
#endif
}
