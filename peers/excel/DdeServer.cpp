#include "DdeServer.h"

#include "MacroCommand.h"
#include "SheetSink.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
// Clients that may wait to be accepted at once (a burst of connects while
// the server is busy must not be turned away by the kernel).
constexpr int ListenBacklog = 1024;
} // namespace

DdeServer::DdeServer(SheetSink& sink, Options options, QObject* parent)
    : QObject(parent), sink_(sink), options_(std::move(options))
{
    sink_.onFailed = [this](const QString& source) { log(QStringLiteral("failed ") + source); };
    sink_.onIdle = [this] {
        if (queue_.empty())
            emit stateChanged();
    };
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &DdeServer::runNext);
    statusHold_.setSingleShot(true);
    connect(&statusHold_, &QTimer::timeout, this, &DdeServer::answerHeldStatus);
    connect(this, &DdeServer::stateChanged, this, [this] {
        if (idle())
            answerHeldStatus();
    });
    if (!options_.logFile.isEmpty()) {
        log_.setFileName(options_.logFile);
        if (!log_.open(QIODevice::Append | QIODevice::Text))
            qWarning("Excel: cannot open log %s", qPrintable(options_.logFile));
    }
}

DdeServer::~DdeServer()
{
    sink_.onFailed = nullptr;
    sink_.onIdle = nullptr;
    for (auto it = clients_.keyBegin(); it != clients_.keyEnd(); ++it)
        (*it)->disconnect(this);
}

bool DdeServer::idle() const
{
    return queue_.empty() && sink_.idle();
}

void DdeServer::closeAll()
{
    queue_.clear();
    timer_.stop();
    statusHold_.stop();
    heldStatus_.clear();
    const QList<QLocalSocket*> sockets = clients_.keys();
    for (QLocalSocket* s : sockets)
        s->abort(); // the client sees the conversation end
    clients_.clear();
    if (server_)
        server_->close();
}

bool DdeServer::listen(QString* error)
{
    const QString name = dde::serverName(options_.service);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setListenBacklogSize(ListenBacklog);
    server_->setMaxPendingConnections(ListenBacklog);
    QLocalServer::removeServer(name); // a socket left by a killed instance
    if (!server_->listen(name)) {
        if (error)
            *error = server_->errorString();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &DdeServer::newConnection);
    return true;
}

bool DdeServer::folderIsPrivate(const QString& socketPath, QString* why)
{
#ifdef Q_OS_UNIX
    const QString dir = QFileInfo(socketPath).absolutePath();
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
#else
    Q_UNUSED(socketPath);
    Q_UNUSED(why);
#endif
    return true;
}

void DdeServer::newConnection()
{
    while (QLocalSocket* s = server_->nextPendingConnection()) {
        clients_.insert(s, Client{});
        connect(s, &QLocalSocket::readyRead, this, [this, s] { readClient(s); });
        connect(s, &QLocalSocket::disconnected, this, [this, s] {
            clients_.remove(s);
            s->deleteLater();
        });
        if (s->bytesAvailable() > 0)
            readClient(s);
    }
}

void DdeServer::readClient(QLocalSocket* socket)
{
    auto it = clients_.find(socket);
    if (it == clients_.end())
        return;
    it->reader.append(socket->readAll());
    while (auto f = it->reader.next()) {
        handleFrame(socket, *it, *f);
        it = clients_.find(socket); // handling may have dropped the client
        if (it == clients_.end())
            return;
    }
    if (it->reader.malformed()) {
        log(QStringLiteral("malformed"));
        socket->abort();
    }
}

void DdeServer::handleFrame(QLocalSocket* socket, Client& client, const dde::Frame& f)
{
    switch (f.type) {
    case dde::FrameType::Connect: {
        const QString topic = QString::fromUtf8(f.text);
        log(QStringLiteral("connect ") + topic);
        emit conversationAsked();
        if (!client.open && !options_.refuse
            && topic.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0) {
            client.open = true;
            sink_.conversationOpened();
            send(socket, dde::FrameType::Accept, 0);
        } else {
            send(socket, dde::FrameType::Refuse, 0);
            socket->disconnectFromServer();
        }
        return;
    }
    case dde::FrameType::Execute: {
        const QString command = QString::fromUtf8(f.text);
        log(QStringLiteral("execute ") + (f.wait ? u'1' : u'0') + u' ' + command);
        if (!client.open)
            return;
        Pending p{socket, f.id, f.wait, command};
        if (options_.delayMs <= 0 && queue_.empty()) {
            carryOut(p);
            return;
        }
        const bool wasIdle = idle();
        queue_.push_back(std::move(p));
        if (!timer_.isActive())
            timer_.start(options_.delayMs);
        if (wasIdle)
            emit stateChanged();
        return;
    }
    case dde::FrameType::Request: {
        const QString name = QString::fromUtf8(f.text);
        log(QStringLiteral("request ") + name);
        request(socket, client, f.id, name);
        return;
    }
    default:
        log(QStringLiteral("unexpected %1").arg(QChar(char(f.type))));
        return;
    }
}

void DdeServer::request(QLocalSocket* socket, Client& client, quint32 id, const QString& item)
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
    if (item.compare(QLatin1String("Status"), Qt::CaseInsensitive) == 0) {
        if (!idle() && options_.statusHoldMs > 0) {
            heldStatus_.emplace_back(socket, serial);
            if (!statusHold_.isActive())
                statusHold_.start(options_.statusHoldMs);
            return;
        }
        answered(socket, serial, asData(idle() ? QStringLiteral("Ready") : QStringLiteral("Busy")));
        return;
    }
    QPointer<QLocalSocket> guard(socket);
    sink_.query(item, [this, guard, serial, asData](std::optional<QString> text) {
        if (!guard)
            return;
        answered(guard, serial, text ? std::optional<QByteArray>(asData(*text)) : std::nullopt);
    });
}

void DdeServer::answerHeldStatus()
{
    statusHold_.stop();
    QByteArray data = idle() ? QByteArray("Ready") : QByteArray("Busy");
    data.append('\0');
    auto held = std::move(heldStatus_);
    heldStatus_.clear();
    for (const auto& [socket, serial] : held) {
        if (socket)
            answered(socket, serial, data);
    }
}

void DdeServer::answered(QLocalSocket* socket, quint64 serial, std::optional<QByteArray> data)
{
    auto it = clients_.find(socket);
    if (it == clients_.end())
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

void DdeServer::carryOut(const Pending& p)
{
    if (const auto c = macro::parse(p.command))
        sink_.submit(*c, p.command);
    else
        log(QStringLiteral("failed ") + p.command);
    if (p.wait && p.socket) {
        const QPointer<QLocalSocket> socket = p.socket;
        const quint32 id = p.id;
        sink_.afterAll([this, socket, id] {
            if (socket && clients_.contains(socket))
                send(socket, dde::FrameType::Done, id);
        });
    }
}

void DdeServer::runNext()
{
    if (queue_.empty())
        return;
    const Pending p = std::move(queue_.front());
    queue_.pop_front();
    carryOut(p);
    if (!queue_.empty())
        timer_.start(options_.delayMs);
    else if (idle())
        emit stateChanged();
}

void DdeServer::send(QLocalSocket* socket, dde::FrameType type, quint32 id, const QByteArray& text)
{
    out_.clear();
    dde::appendFrame(out_, type, id, false, text);
    socket->write(out_);
    socket->flush();
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
