#include "LocalSocketDdeClientConv.h"

#include "DdeClientConv_p.h"
#include "DdeFrames.h"

#include <QLocalSocket>

#include <poll.h>
#include <unistd.h>

using dde_detail::EventWait;
using dde_detail::remainingMs;

std::unique_ptr<TDdeClientConv> dde_detail::createPlatformConv()
{
    return std::make_unique<LocalSocketDdeClientConv>();
}

struct LocalSocketDdeClientConv::Impl {
    QLocalSocket socket;
    dde::FrameReader reader;
    quint32 lastId = 0;
    quint32 waitId = 0;         // id of the wait-flag execute in progress
    quint32 pendingRequest = 0; // id of the request being waited for
    std::optional<std::optional<QByteArray>> reply; // set once the reply arrived
    std::optional<bool> handshake;                   // accept (true) / refuse (false)
    bool broken = false;                             // the server sent a malformed frame
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
    serverOwner = ::geteuid();
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
    d->broken = false;
    const QString name = dde::serverName(service_);
    switch (dde::checkServerSocket(name, serverOwner)) {
    case dde::ServerSocket::Missing: return Attempt::NoServer;
    case dde::ServerSocket::Foreign: return Attempt::Foreign;
    case dde::ServerSocket::Owned: break;
    }
    EventWait wait;
    wait.wakeOn(&d->socket, &QLocalSocket::stateChanged);
    wait.wakeOn(&d->socket, &QLocalSocket::readyRead);
    d->socket.connectToServer(name);
    const QDeadlineTimer connectDeadline(connectTimeoutMs);
    while (d->socket.state() == QLocalSocket::ConnectingState && !connectDeadline.hasExpired()
           && wait.run(remainingMs(connectDeadline))) {
    }
    if (d->socket.state() != QLocalSocket::ConnectedState) {
        d->socket.abort();
        return Attempt::NoServer;
    }
    if (!dde::peerIsUser(d->socket.socketDescriptor(), serverOwner)) {
        d->socket.abort();
        return Attempt::Foreign;
    }
    d->scratch.clear();
    dde::appendFrame(d->scratch, dde::FrameType::Connect, 0, false, topic_.toUtf8());
    if (!writeFrame(d->scratch)) {
        d->socket.abort();
        return Attempt::Broken;
    }
    const QDeadlineTimer deadline(handshakeTimeoutMs);
    for (;;) {
        readIncoming();
        if (d->handshake || d->broken || d->socket.state() != QLocalSocket::ConnectedState
            || deadline.hasExpired() || !wait.run(remainingMs(deadline)))
            break;
    }
    if (d->handshake && *d->handshake && !d->broken
        && d->socket.state() == QLocalSocket::ConnectedState) {
        open_ = true;
        waitStat_ = false;
        return Attempt::Accepted;
    }
    const bool refused = d->handshake.has_value() && !*d->handshake;
    d->socket.abort();
    return refused ? Attempt::Refused : Attempt::Broken;
}

bool LocalSocketDdeClientConv::startServiceApplication()
{
    const QString path = dde_detail::findServiceApplication(serviceApplication_, {QString()});
    if (path.isEmpty())
        return false;
    return ProgramStarter::instance().start(path, {}, ProgramStarter::Show::MinimizedNoActivate);
}

bool LocalSocketDdeClientConv::OpenLink()
{
    if (open_)
        return true;
    // An open already under way (this was called from an event handled
    // during its waits) must not be disturbed.
    if (opening_ || ProgramQuitting())
        return false;
    opening_ = true;
    Attempt a = tryOpen();
    if (a != Attempt::Accepted && !ProgramQuitting() && !serviceApplication_.isEmpty()
        && startServiceApplication()) {
        // The program needs a moment before its server listens.
        const QDeadlineTimer deadline(startWaitMs);
        EventWait pause;
        for (;;) {
            a = tryOpen();
            if (a != Attempt::NoServer || deadline.hasExpired() || !pause.run(25))
                break;
        }
    }
    opening_ = false;
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
    // Commands already handed over still reach the server; a program that
    // is ending gives them what goes out without waiting.
    if (ProgramQuitting())
        d->socket.flush();
    while (!ProgramQuitting() && d->socket.state() == QLocalSocket::ConnectedState
           && d->socket.bytesToWrite() > 0 && d->socket.waitForBytesWritten(2000)) {
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
    // A server that has gone shows as a hang-up or an error on the socket;
    // asking costs no write and does not wake the server.
    pollfd p{int(d->socket.socketDescriptor()), 0, 0};
    if (p.fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        d->socket.abort();
        return false;
    }
    return true;
}

bool LocalSocketDdeClientConv::ExecuteMacro(const QString& command, bool waitFlag)
{
    if (!open_ || waitStat_ || ProgramQuitting())
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
    // One request at a time: a second one from an event handled during the
    // first's wait gets nothing, as a nested synchronous DDE transaction.
    if (!open_ || waitStat_ || d->pendingRequest != 0 || ProgramQuitting())
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
    EventWait wait;
    wait.wakeOn(&d->socket, &QLocalSocket::readyRead);
    wait.wakeOn(&d->socket, &QLocalSocket::disconnected);
    const QDeadlineTimer deadline(RequestTimeoutMs);
    while (!d->reply) {
        readIncoming();
        if (d->reply || !open_ || deadline.hasExpired())
            break;
        if (d->socket.state() != QLocalSocket::ConnectedState) {
            lostConnection();
            break;
        }
        if (!wait.run(remainingMs(deadline)))
            break;
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
    if (d->reader.malformed() && !d->broken) {
        // A server that speaks garbage ends the conversation, or the open
        // it was answering.
        d->broken = true;
        d->socket.abort();
        lostConnection();
    }
}

void LocalSocketDdeClientConv::WaitForActivity(int ms)
{
    if (d->socket.bytesAvailable() > 0)
        readIncoming();
    EventWait wait;
    wait.wakeOn(&d->socket, &QLocalSocket::readyRead);
    wait.wakeOn(&d->socket, &QLocalSocket::disconnected);
    wait.run(ms);
}

void LocalSocketDdeClientConv::lostConnection()
{
    if (!open_)
        return;
    open_ = false;
    waitStat_ = false;
    notifyClose();
}
