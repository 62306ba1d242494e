#include "DdeClientConv.h"

#include "DdeFrames.h"
#include "ProgramStart.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace {
std::function<std::unique_ptr<TDdeClientConv>()>& factory()
{
    static std::function<std::unique_ptr<TDdeClientConv>()> f;
    return f;
}
} // namespace

std::unique_ptr<TDdeClientConv> TDdeClientConv::create()
{
    if (factory())
        return factory()();
    return std::make_unique<LocalSocketDdeClientConv>();
}

void TDdeClientConv::setFactory(std::function<std::unique_ptr<TDdeClientConv>()> f)
{
    factory() = std::move(f);
}

QByteArray TDdeClientConv::filterData(QByteArray data) const
{
    if (formatChars_)
        return data;
    data.removeIf([](char c) { return c == '\b' || c == '\t' || c == '\n' || c == '\r'; });
    return data;
}

// ---------------------------------------------------------------------------

struct LocalSocketDdeClientConv::Impl {
    QLocalSocket socket;
    dde::FrameReader reader;
    quint32 lastId = 0;
    quint32 waitId = 0;         // id of the wait-flag execute in progress
    quint32 pendingRequest = 0; // id of the request being waited for
    std::optional<std::optional<QByteArray>> reply; // set once the reply arrived
    std::optional<bool> handshake;                   // accept (true) / refuse (false)
    QByteArray scratch;

    quint32 nextId()
    {
        if (++lastId == 0)
            lastId = 1;
        return lastId;
    }
};

LocalSocketDdeClientConv::LocalSocketDdeClientConv() : d(std::make_unique<Impl>())
{
    QObject::connect(&d->socket, &QLocalSocket::readyRead, &d->socket, [this] { readIncoming(); });
    QObject::connect(&d->socket, &QLocalSocket::disconnected, &d->socket,
                     [this] { lostConnection(); });
}

LocalSocketDdeClientConv::~LocalSocketDdeClientConv()
{
    if (open_)
        CloseLink();
    d->socket.disconnect();
    d->socket.abort();
}

bool LocalSocketDdeClientConv::SetLink(const QString& service, const QString& topic)
{
    service_ = service;
    topic_ = topic;
    if (connectMode_ == ConnectMode::Automatic)
        return OpenLink();
    return true;
}

LocalSocketDdeClientConv::Attempt LocalSocketDdeClientConv::tryOpen()
{
    d->socket.abort();
    d->reader.clear();
    d->handshake.reset();
    d->socket.connectToServer(dde::serverName(service_));
    if (!d->socket.waitForConnected(1000)) {
        d->socket.abort();
        return Attempt::NoServer;
    }
    d->scratch.clear();
    dde::appendFrame(d->scratch, dde::FrameType::Connect, 0, false, topic_.toUtf8());
    if (!writeFrame(d->scratch)) {
        d->socket.abort();
        return Attempt::NoServer;
    }
    const QDeadlineTimer deadline(handshakeTimeoutMs);
    while (!d->handshake) {
        readIncoming();
        if (d->handshake || d->socket.state() != QLocalSocket::ConnectedState
            || deadline.hasExpired())
            break;
        d->socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    if (d->handshake && *d->handshake) {
        open_ = true;
        waitStat_ = false;
        return Attempt::Accepted;
    }
    const bool refused = d->handshake.has_value();
    d->socket.abort();
    return refused ? Attempt::Refused : Attempt::NoServer;
}

bool LocalSocketDdeClientConv::startServiceApplication()
{
    QString path;
    if (QCoreApplication::instance()) {
        const QDir appDir(QCoreApplication::applicationDirPath());
        QStringList candidates{appDir.filePath(serviceApplication_)};
#ifdef Q_OS_WIN
        candidates << appDir.filePath(serviceApplication_ + QStringLiteral(".exe"));
#endif
        for (const QString& c : candidates) {
            const QFileInfo fi(c);
            if (fi.isFile() && fi.isExecutable()) {
                path = fi.absoluteFilePath();
                break;
            }
        }
    }
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(serviceApplication_);
    if (path.isEmpty())
        return false;
    return ProgramStarter::instance().start(path, {}, ProgramStarter::Show::MinimizedNoActivate);
}

bool LocalSocketDdeClientConv::OpenLink()
{
    if (open_)
        return true;
    Attempt a = tryOpen();
    if (a != Attempt::Accepted && !serviceApplication_.isEmpty() && startServiceApplication()) {
        // The program needs a moment before its server listens.
        const QDeadlineTimer deadline(startWaitMs);
        for (;;) {
            a = tryOpen();
            if (a != Attempt::NoServer || deadline.hasExpired())
                break;
            QThread::msleep(25);
        }
    }
    if (a != Attempt::Accepted)
        return false;
    notifyOpen();
    return open_;
}

void LocalSocketDdeClientConv::CloseLink()
{
    if (!open_)
        return;
    open_ = false;
    waitStat_ = false;
    // Commands already handed over still reach the server.
    while (d->socket.state() == QLocalSocket::ConnectedState && d->socket.bytesToWrite() > 0
           && d->socket.waitForBytesWritten(2000)) {
    }
    d->socket.abort();
    d->reader.clear();
    notifyClose();
}

bool LocalSocketDdeClientConv::writeFrame(const QByteArray& frame)
{
    if (d->socket.state() != QLocalSocket::ConnectedState)
        return false;
    if (d->socket.write(frame) != frame.size())
        return false;
    d->socket.flush();
    return d->socket.state() == QLocalSocket::ConnectedState;
}

bool LocalSocketDdeClientConv::queueFrame(const QByteArray& frame)
{
    if (d->socket.state() != QLocalSocket::ConnectedState)
        return false;
    if (d->socket.write(frame) != frame.size())
        return false;
    if (d->socket.bytesToWrite() >= FlushThreshold)
        d->socket.flush();
    return d->socket.state() == QLocalSocket::ConnectedState;
}

bool LocalSocketDdeClientConv::peerAlive()
{
    if (d->socket.state() != QLocalSocket::ConnectedState)
        return false;
#ifdef Q_OS_UNIX
    // A server that has gone shows as a hang-up or an error on the socket;
    // asking costs no write and does not wake the server.
    pollfd p{int(d->socket.socketDescriptor()), 0, 0};
    if (p.fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        d->socket.abort();
        return false;
    }
#endif
    return true;
}

bool LocalSocketDdeClientConv::ExecuteMacro(const QString& command, bool waitFlag)
{
    if (!open_ || waitStat_)
        return false;
    if (!peerAlive()) {
        lostConnection();
        return false;
    }
    const quint32 id = d->nextId();
    d->scratch.clear();
    dde::appendFrame(d->scratch, dde::FrameType::Execute, id, waitFlag, command.toUtf8());
    // Executes without the wait flag are gathered into larger writes: one
    // write per command would wake the server for every few bytes. They go
    // out when enough has gathered, with the next request or close, or when
    // the application next handles its events.
    const bool ok = (waitFlag || !CoalesceExecutes) ? writeFrame(d->scratch) : queueFrame(d->scratch);
    if (!ok) {
        lostConnection();
        return false;
    }
    if (waitFlag) {
        waitStat_ = true;
        d->waitId = id;
    }
    return true;
}

std::optional<QByteArray> LocalSocketDdeClientConv::RequestData(const QString& item)
{
    if (!open_ || waitStat_)
        return std::nullopt;
    const quint32 id = d->nextId();
    d->pendingRequest = id;
    d->reply.reset();
    d->scratch.clear();
    dde::appendFrame(d->scratch, dde::FrameType::Request, id, false, item.toUtf8());
    if (!writeFrame(d->scratch)) {
        d->pendingRequest = 0;
        lostConnection();
        return std::nullopt;
    }
    const QDeadlineTimer deadline(RequestTimeoutMs);
    while (!d->reply) {
        readIncoming();
        if (d->reply || !open_ || deadline.hasExpired())
            break;
        if (!d->socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))
            && d->socket.state() != QLocalSocket::ConnectedState) {
            lostConnection();
            break;
        }
    }
    d->pendingRequest = 0;
    if (!d->reply || !*d->reply)
        return std::nullopt;
    return filterData(**d->reply);
}

void LocalSocketDdeClientConv::readIncoming()
{
    const qint64 available = d->socket.bytesAvailable();
    if (available > 0)
        d->reader.append(d->socket.read(available));
    while (auto f = d->reader.next()) {
        switch (f->type) {
        case dde::FrameType::Accept:
            d->handshake = true;
            break;
        case dde::FrameType::Refuse:
            d->handshake = false;
            break;
        case dde::FrameType::Done:
            if (waitStat_ && f->id == d->waitId)
                waitStat_ = false;
            break;
        case dde::FrameType::Data:
            if (d->pendingRequest != 0 && f->id == d->pendingRequest)
                d->reply = std::optional<QByteArray>(f->text);
            break;
        case dde::FrameType::NoData:
            if (d->pendingRequest != 0 && f->id == d->pendingRequest)
                d->reply = std::optional<QByteArray>();
            break;
        default:
            break; // client-side frames never come back; ignore strays
        }
    }
    if (d->reader.malformed() && open_) {
        d->socket.abort(); // a server that speaks garbage ends the conversation
        lostConnection();
    }
}

void LocalSocketDdeClientConv::lostConnection()
{
    if (!open_)
        return;
    open_ = false;
    waitStat_ = false;
    notifyClose();
}
