#include "DdeServer.h"

#include "DdeFrames.h"
#include "MacroCommand.h"
#include "SheetSink.h"

#include <QFileInfo>
#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Clients that may wait to be accepted at once (a burst of connects while
// the server is busy must not be turned away by the kernel).
constexpr int ListenBacklog = 1024;
} // namespace

struct DdeServer::Transport {
    struct Reply {
        quint64 serial = 0;
        quint32 id = 0;
        bool ready = false;
        std::optional<QByteArray> data;
    };
    struct Client {
        dde::FrameReader reader;
        bool open = false;
        // Requests are answered in order; an item of the sheet may take a
        // while to come back from where the sheet lives.
        std::deque<Reply> replies;
        quint64 nextSerial = 1;
    };
    struct Pending {
        QPointer<QLocalSocket> socket;
        quint32 id = 0;
        bool wait = false;
        QString command;
    };

    explicit Transport(DdeServer* q);
    ~Transport();

    bool idle() const { return queue.empty() && q->sink_.idle(); }
    bool listen(QString* error);
    void closeAll();
    void newConnection();
    void readClient(QLocalSocket* socket);
    void handleFrame(QLocalSocket* socket, Client& client, const dde::Frame& frame);
    void request(QLocalSocket* socket, Client& client, quint32 id, const QString& item);
    void answered(QLocalSocket* socket, quint64 serial, std::optional<QByteArray> data);
    void answerHeldStatus();
    void carryOut(const Pending& p);
    void runNext();
    void send(QLocalSocket* socket, dde::FrameType type, quint32 id, const QByteArray& text = {});

    DdeServer* q;
    SheetSink& sink;
    QLocalServer* server = nullptr;
    QHash<QLocalSocket*, Client> clients;
    std::deque<Pending> queue;
    QTimer timer;
    std::deque<std::pair<QPointer<QLocalSocket>, quint64>> heldStatus;
    QTimer statusHold;
    QByteArray out;
};

DdeServer::DdeServer(SheetSink& sink, Options options, QObject* parent)
    : QObject(parent), sink_(sink), options_(std::move(options))
{
    openLog();
    t_ = std::make_unique<Transport>(this);
}

DdeServer::~DdeServer()
{
    t_.reset();
    sink_.onFailed = nullptr;
    sink_.onIdle = nullptr;
}

bool DdeServer::idle() const
{
    return t_->idle();
}

void DdeServer::closeAll()
{
    t_->closeAll();
}

bool DdeServer::listen(QString* error)
{
    return t_->listen(error);
}

QString DdeServer::lockFilePath(const QString& service)
{
    return dde::serverName(service) + QStringLiteral(".lock");
}

bool DdeServer::alreadyServed(const QString& service)
{
    QLocalSocket probe;
    probe.connectToServer(dde::serverName(service));
    const bool up = probe.waitForConnected(500);
    probe.abort();
    return up;
}

bool DdeServer::mayServe(const QString& service, QString* why)
{
    // The folder that holds the server's socket may be written by no one
    // but the current user: in a shared folder another user could put a
    // socket of their own in its place.
    const QString dir = QFileInfo(dde::serverName(service)).absolutePath();
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0) {
        *why = QStringLiteral("%1 cannot be read").arg(dir);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = QStringLiteral("%1 is not a folder").arg(dir);
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *why = QStringLiteral("%1 belongs to another user").arg(dir);
        return false;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        *why = QStringLiteral("%1 can be written by others (mode %2)")
                   .arg(dir)
                   .arg(st.st_mode & 07777, 4, 8, QChar(u'0'));
        return false;
    }
    return true;
}

DdeServer::Transport::Transport(DdeServer* q) : q(q), sink(q->sink_)
{
    sink.onIdle = [this] {
        if (queue.empty())
            emit this->q->stateChanged();
    };
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, q, [this] { runNext(); });
    statusHold.setSingleShot(true);
    QObject::connect(&statusHold, &QTimer::timeout, q, [this] { answerHeldStatus(); });
    QObject::connect(q, &DdeServer::stateChanged, q, [this] {
        if (idle())
            answerHeldStatus();
    });
}

DdeServer::Transport::~Transport()
{
    for (auto it = clients.keyBegin(); it != clients.keyEnd(); ++it)
        (*it)->disconnect(q);
}

void DdeServer::Transport::closeAll()
{
    queue.clear();
    timer.stop();
    statusHold.stop();
    heldStatus.clear();
    const QList<QLocalSocket*> sockets = clients.keys();
    for (QLocalSocket* s : sockets)
        s->abort(); // the client sees the conversation end
    clients.clear();
    if (server)
        server->close();
}

bool DdeServer::Transport::listen(QString* error)
{
    const QString name = dde::serverName(q->options_.service);
    server = new QLocalServer(q);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->setListenBacklogSize(ListenBacklog);
    server->setMaxPendingConnections(ListenBacklog);
    QLocalServer::removeServer(name); // a socket left by a killed instance
    if (!server->listen(name)) {
        if (error)
            *error = server->errorString();
        return false;
    }
    QObject::connect(server, &QLocalServer::newConnection, q, [this] { newConnection(); });
    return true;
}

void DdeServer::Transport::newConnection()
{
    while (QLocalSocket* s = server->nextPendingConnection()) {
        clients.insert(s, Client{});
        QObject::connect(s, &QLocalSocket::readyRead, q, [this, s] { readClient(s); });
        QObject::connect(s, &QLocalSocket::disconnected, q, [this, s] {
            clients.remove(s);
            s->deleteLater();
        });
        if (s->bytesAvailable() > 0)
            readClient(s);
    }
}

void DdeServer::Transport::readClient(QLocalSocket* socket)
{
    auto it = clients.find(socket);
    if (it == clients.end())
        return;
    it->reader.append(socket->readAll());
    while (auto f = it->reader.next()) {
        handleFrame(socket, *it, *f);
        it = clients.find(socket); // handling may have dropped the client
        if (it == clients.end())
            return;
    }
    if (it->reader.malformed()) {
        q->log(QStringLiteral("malformed"));
        socket->abort();
    }
}

void DdeServer::Transport::handleFrame(QLocalSocket* socket, Client& client, const dde::Frame& f)
{
    switch (f.type) {
    case dde::FrameType::Connect: {
        const QString topic = QString::fromUtf8(f.text);
        q->log(QStringLiteral("connect ") + topic);
        emit q->conversationAsked();
        if (!client.open && !q->options_.refuse
            && topic.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0) {
            client.open = true;
            sink.conversationOpened();
            send(socket, dde::FrameType::Accept, 0);
        } else {
            send(socket, dde::FrameType::Refuse, 0);
            socket->disconnectFromServer();
        }
        return;
    }
    case dde::FrameType::Execute: {
        const QString command = QString::fromUtf8(f.text);
        q->log(QStringLiteral("execute ") + (f.wait ? u'1' : u'0') + u' ' + command);
        if (!client.open)
            return;
        Pending p{socket, f.id, f.wait, command};
        if (q->options_.delayMs <= 0 && queue.empty()) {
            carryOut(p);
            return;
        }
        const bool wasIdle = idle();
        queue.push_back(std::move(p));
        if (!timer.isActive())
            timer.start(q->options_.delayMs);
        if (wasIdle)
            emit q->stateChanged();
        return;
    }
    case dde::FrameType::Request: {
        const QString name = QString::fromUtf8(f.text);
        q->log(QStringLiteral("request ") + name);
        request(socket, client, f.id, name);
        return;
    }
    default:
        q->log(QStringLiteral("unexpected %1").arg(QChar(char(f.type))));
        return;
    }
}

void DdeServer::Transport::request(QLocalSocket* socket, Client& client, quint32 id, const QString& item)
{
    const quint64 serial = client.nextSerial++;
    client.replies.push_back(Reply{serial, id, false, std::nullopt});
    // Text items end with a zero byte, as clipboard text does.
    const auto asData = [](const QString& text) {
        QByteArray data = text.toUtf8();
        data.append('\0');
        return data;
    };
    if (!client.open) {
        answered(socket, serial, std::nullopt);
        return;
    }
    if (q->options_.mute)
        return;
    if (item.compare(QLatin1String("Status"), Qt::CaseInsensitive) == 0) {
        if (!idle() && q->options_.statusHoldMs > 0) {
            heldStatus.emplace_back(socket, serial);
            if (!statusHold.isActive())
                statusHold.start(q->options_.statusHoldMs);
            return;
        }
        answered(socket, serial, asData(idle() ? QStringLiteral("Ready") : QStringLiteral("Busy")));
        return;
    }
    QPointer<QLocalSocket> guard(socket);
    sink.query(item, [this, guard, serial, asData](std::optional<QString> text) {
        if (!guard)
            return;
        answered(guard, serial, text ? std::optional<QByteArray>(asData(*text)) : std::nullopt);
    });
}

void DdeServer::Transport::answerHeldStatus()
{
    statusHold.stop();
    QByteArray data = idle() ? QByteArray("Ready") : QByteArray("Busy");
    data.append('\0');
    auto held = std::move(heldStatus);
    heldStatus.clear();
    for (const auto& [socket, serial] : held) {
        if (socket)
            answered(socket, serial, data);
    }
}

void DdeServer::Transport::answered(QLocalSocket* socket, quint64 serial, std::optional<QByteArray> data)
{
    auto it = clients.find(socket);
    if (it == clients.end())
        return;
    for (Reply& r : it->replies) {
        if (r.serial == serial) {
            r.ready = true;
            r.data = std::move(data);
            break;
        }
    }
    while (!it->replies.empty() && it->replies.front().ready) {
        const Reply r = std::move(it->replies.front());
        it->replies.pop_front();
        if (r.data)
            send(socket, dde::FrameType::Data, r.id, *r.data);
        else
            send(socket, dde::FrameType::NoData, r.id);
    }
}

void DdeServer::Transport::carryOut(const Pending& p)
{
    q->carryOut(p.command);
    if (p.wait && p.socket) {
        const QPointer<QLocalSocket> socket = p.socket;
        const quint32 id = p.id;
        sink.afterAll([this, socket, id] {
            if (socket && clients.contains(socket))
                send(socket, dde::FrameType::Done, id);
        });
    }
}

void DdeServer::Transport::runNext()
{
    if (queue.empty())
        return;
    const Pending p = std::move(queue.front());
    queue.pop_front();
    carryOut(p);
    if (!queue.empty())
        timer.start(q->options_.delayMs);
    else if (idle())
        emit q->stateChanged();
}

void DdeServer::Transport::send(QLocalSocket* socket, dde::FrameType type, quint32 id, const QByteArray& text)
{
    out.clear();
    dde::appendFrame(out, type, id, false, text);
    socket->write(out);
    socket->flush();
}

